// Random sequences of operations in the folder of a mounted image, on the in-memory host: copies in
// and over, writes into the middle, truncates, renames, erasures, areas, attributes, readers kept
// open across the rest, and optionally one failing image write or flush. After each operation the
// folder must show what z18man's catalogue and extract show of the image, and what the image alone
// shows mounted afresh; an operation that fails must leave the image as it was; at the end z18fsck
// must find it clean. See README.md here for the input layout.
#include <cstdio>
#include <cstdlib>

#include "mount/mount_util.h"
#include "reader.h"
#include "support/fsck_records.h"

using namespace mounttest;
using z18::FolderError;

namespace {

[[noreturn]] void broken(const std::string& what) {
    std::fprintf(stderr, "\ninvariant broken: %s\n", what.c_str());
    std::abort();
}

// Bytes that differ from file to file and from place to place, so a misplaced block shows.
Bytes bytesOf(std::size_t n, std::uint32_t seed) {
    Bytes bytes(n);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}

// Valid names in several spellings, one like an area folder, and invalid ones.
const char* const NAMES[] = {"A.TXT", "b.com", "C", "LONGNAME.DAT", "d.X", "U3", "e.txt", ".hidden", "a.b.c"};
// The attribute values an operation sets, by its bits 4 and 5.
const char* const ATTRIBUTES[] = {"", "R", "S", "RS"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const std::uint8_t setup = in.u8();
    Files start;
    for (int i = 0; i < (setup & 3); ++i)
        start[NAMES[i]] = bytesOf(in.le(2) * 4, static_cast<std::uint32_t>(i));
    Mounted m(imageWith(start), (setup & 4) != 0);
    z18::Volume& v = *m.volume;
    if (const int nth = (setup >> 3) & 7)
        m.faults.inject(setup & 0x40 ? z18::FaultEnv::Op::Flush : z18::FaultEnv::Op::Write, nth,
                        setup & 0x80 ? z18::FaultEnv::Kind::Short : z18::FaultEnv::Kind::Fail);
    std::vector<z18::FolderHandle> readers;
    bool faulted = false;  // what a failed image write or flush left on the image is unknown

    for (int ops = 0; in.more() && ops < 64; ++ops) {
        auto pathOf = [](int area, int name) {
            return (area == 0 ? "/" : "/u" + std::to_string(area) + "/") + NAMES[name % 9];
        };
        const std::uint8_t op = in.u8(), pick = in.u8();
        const int area = pick & 3;
        const std::string path = pathOf(area, pick >> 2);
        const Bytes before = m.image();
        z18::FolderHandle h = 0;
        FolderError e = FolderError::None;
        switch (op % 9) {
            case 0: e = put(v, path, bytesOf(in.le(2) * (1 + (op >> 4)), op), 1 + in.u8() * 64); break;
            case 1: {  // a write into the middle, or past the end
                const Bytes bytes = bytesOf(in.le(2), op);
                e = writeInto(v, path, in.le(2) * 2, bytes);
                break;
            }
            case 2: e = v.remove(path); break;
            case 3: e = v.rename(path, pathOf(op >> 6, in.u8()), (op & 0x10) == 0); break;
            case 4:
                e = (op & 0x10) ? v.removeFolder("/u" + std::to_string(area))
                                : v.makeFolder("/u" + std::to_string(area));
                break;
            case 5:
                e = v.setAttribute(path, z18::ATTRIBUTES_NAME, ATTRIBUTES[(op >> 4) & 3], false, false);
                break;
            case 6: e = v.resize(path, nullptr, in.le(2)); break;
            case 7:
                if (readers.size() < 4 && v.open(path, false, false, &h) == FolderError::None)
                    readers.push_back(h);
                break;
            case 8: {  // a kept reader reads everything its file holds, however it was changed meanwhile
                if (readers.empty()) break;
                Bytes got(z18::IMAGE_SIZE);
                std::size_t done = 0;
                z18::FolderItem item;
                if (v.statOpen(readers.back(), &item) != FolderError::None ||
                    v.read(readers.back(), 0, got.data(), got.size(), &done) != FolderError::None ||
                    done != item.size)
                    broken("a kept reader reads other than its file holds");
                v.release(readers.back());
                readers.pop_back();
                break;
            }
        }
        if (std::getenv("Z18FUZZ_VERBOSE") != nullptr)
            std::fprintf(stderr, "op %d on %s: %d\n", op % 9, path.c_str(), static_cast<int>(e));
        faulted = faulted || e == FolderError::Io;
        if (e != FolderError::None && !faulted && m.image() != before)
            broken("a failed operation changed the image " + path);
        const Files shown = m.files();
        if (faulted) continue;
        const std::string unlike = unlikeZ18man(shown, m.image());
        if (!unlike.empty()) broken(unlike);
        if (Mounted(m.image(), true).files() != shown)
            broken("the image, mounted afresh, shows another folder");
    }
    for (const z18::FolderHandle reader : readers) v.release(reader);
    v.unmounting();
    z18::MemEnv copy;
    copy.putFile(IMAGE, m.image());
    std::string out;
    if (!faulted && z18test::fsckRun(copy, {IMAGE}, &out) != z18::fsck::EXIT_CLEAN)
        broken("z18fsck finds problems: " + out);
    return 0;
}
