// Helpers shared by the command tests: one in-process run on an image in a temporary directory,
// and readers for the directory entries and blocks of an image held in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/geometry.h"
#include "support/test_support.h"

namespace cmdtest {

using z18test::Bytes;

// Everything the session printed after the banner: an in-process session's, or the executable's.
inline std::string body(const std::string& out) {
    for (const std::string& banner : {z18test::bannerText(), z18test::exeBannerText()}) {
        if (out.compare(0, banner.size(), banner) == 0) return out.substr(banner.size());
    }
    return out;
}

struct Result {
    int status = -1;
    std::string body;
    int keyWaits = 0;
};

// One in-process session; `faults` may arm the FaultEnv before the run.
inline Result run(const std::vector<std::string>& args,
                  const std::function<void(z18::FaultEnv&)>& faults = {}) {
    z18test::InProcess p;
    if (faults) faults(p.env);
    Result r;
    r.status = p.run(args);
    r.body = body(p.output());
    r.keyWaits = p.env.keyWaits();
    return r;
}

inline const std::uint8_t* entryAt(const Bytes& image, int index) {
    return image.data() + z18::DIRECTORY_OFFSET + static_cast<std::size_t>(index) * z18::ENTRY_SIZE;
}
inline Bytes entryBytes(const Bytes& image, int index) {
    const std::uint8_t* e = entryAt(image, index);
    return Bytes(e, e + z18::ENTRY_SIZE);
}
inline Bytes blockBytes(const Bytes& image, int block) {
    const std::size_t at = z18::blockOffset(static_cast<unsigned>(block));
    return Bytes(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at + z18::BLOCK_SIZE));
}
inline Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes r(a);
    r.insert(r.end(), b.begin(), b.end());
    return r;
}
// The 11 name bytes of an entry with bit 7 set at the given positions (0 to 10).
inline std::string withBits(std::string name11, std::initializer_list<int> positions) {
    name11.resize(11, ' ');
    for (int p : positions) name11[static_cast<std::size_t>(p)] = static_cast<char>(name11[static_cast<std::size_t>(p)] | 0x80);
    return name11;
}
// A directory entry as this tool writes it for user 0: name, extent, record count, blocks.
inline Bytes madeEntry(const std::string& name11, int extent, int recordCount, const std::vector<int>& blocks) {
    Bytes e(z18::ENTRY_SIZE, 0);
    for (std::size_t i = 0; i < 11; ++i) e[1 + i] = static_cast<std::uint8_t>(i < name11.size() ? name11[i] : ' ');
    e[12] = static_cast<std::uint8_t>(extent);
    e[15] = static_cast<std::uint8_t>(recordCount);
    for (std::size_t i = 0; i < blocks.size(); ++i) e[16 + i] = static_cast<std::uint8_t>(blocks[i]);
    return e;
}
// The whole data a file's blocks hold, in the order given.
inline Bytes blocksData(const Bytes& image, int first, int count) {
    Bytes r;
    for (int b = first; b < first + count; ++b) r = concat(r, blockBytes(image, b));
    return r;
}
// Data followed by zero bytes up to a multiple of `unit`.
inline Bytes padded(Bytes data, std::size_t unit) {
    data.resize((data.size() + unit - 1) / unit * unit, 0);
    return data;
}

}  // namespace cmdtest
