// Helpers shared by the hardening tests: whole-directory snapshots, crafted directory entries, a
// scoped working directory, a lock held as another program would hold it.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image/geometry.h"
#include "support/test_support.h"

namespace hardening {

using z18test::Bytes;
namespace fs = std::filesystem;

// Every file under a directory, by path relative to it; directories appear with a trailing "/".
using Snapshot = std::map<std::string, Bytes>;

inline Snapshot snapshot(const std::string& root) {
    Snapshot tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_directory())
            tree[rel + "/"] = Bytes();
        else
            tree[rel] = z18test::readFile(it->path().string());
    }
    return tree;
}

// Writes a directory entry with any number of block slots (up to 16).
inline void setEntry(Bytes& image, int index, std::uint8_t user, const std::string& name11, std::uint8_t extent,
                     std::uint8_t recordCount, const std::vector<int>& blocks) {
    std::uint8_t* e = image.data() + z18::DIRECTORY_OFFSET + static_cast<std::size_t>(index) * z18::ENTRY_SIZE;
    std::memset(e, 0, z18::ENTRY_SIZE);
    e[0] = user;
    for (std::size_t i = 0; i < 11; ++i) e[1 + i] = i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    e[12] = extent;
    e[15] = recordCount;
    for (std::size_t i = 0; i < blocks.size(); ++i) e[16 + i] = static_cast<std::uint8_t>(blocks[i]);
}

// Copies data into block b of an image, zero-filling the rest of the block.
inline void setBlock(Bytes& image, int b, const Bytes& data, std::size_t from = 0) {
    std::uint8_t* at = image.data() + z18::blockOffset(static_cast<unsigned>(b));
    const std::size_t n = from >= data.size() ? 0 : std::min<std::size_t>(z18::BLOCK_SIZE, data.size() - from);
    std::memset(at, 0, z18::BLOCK_SIZE);
    std::memcpy(at, data.data() + from, n);
}

// Host bytes as they come back from an image: whole records, the last one zero-filled.
inline Bytes padToRecords(Bytes b) {
    b.resize((b.size() + z18::RECORD_SIZE - 1) / z18::RECORD_SIZE * z18::RECORD_SIZE, 0);
    return b;
}

// Changes the working directory for the lifetime of the object.
class InDirectory {
public:
    explicit InDirectory(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(old_); }

private:
    fs::path old_;
};

// Holds a flock on a file, as another program would, until destroyed.
class HeldLock {
public:
    HeldLock(const std::string& path, int how) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ >= 0) ::flock(fd_, how);
    }
    ~HeldLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int fd_;
};

}  // namespace hardening
