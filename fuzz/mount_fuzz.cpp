// Random sequences of folder operations on a mounted image, on the in-memory host: copies in and
// over, appends, truncates, renames, erasures, areas, attributes, readers kept open across other
// operations, and optionally one failing write or flush of the image. A model of the folder follows
// every operation that reports success (and none that fails); after each one the folder must show
// exactly the model, z18man's view of the image (its catalogue and extract) must agree with it, and
// the image alone, mounted afresh, must show it too. See README.md here for the input layout.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "fsck/fsck.h"
#include "host/ascii.h"
#include "image/placement.h"
#include "mount/mount_util.h"

using namespace mounttest;
using z18::FolderError;

namespace {

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    std::size_t u16() { return u8() | static_cast<std::size_t>(u8()) << 8; }
    bool more() const { return at_ < size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Bytes that differ from file to file and from place to place, so a misplaced block shows.
Bytes bytesOf(std::size_t n, std::uint32_t seed) {
    Bytes bytes(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    return bytes;
}

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "\ninvariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

// Names the operations use: valid ones in several spellings, one like an area folder, invalid ones.
const char* const NAMES[] = {"A.TXT", "b.com", "C", "LONGNAME.DAT", "d.X", "U3", "e.txt", ".hidden", "a.b.c"};
constexpr int VALID_NAMES = 7;

struct Model {
    std::map<std::string, int> paths;  // "NAME" or "u3/NAME", as the folder lists it -> file id
    std::map<int, Bytes> contents;     // by id; a file erased while a reader holds it keeps its id
    std::set<int> readOnly;
    std::set<int> areas;
    int next = 1;
};

std::string folderPath(int area, const std::string& name) {
    return area == 0 ? name : "u" + std::to_string(area) + "/" + name;
}
std::string upper(std::string text) {
    for (char& c : text) c = z18::asciiUpper(c);
    return text;
}

void compare(const Model& m, const Files& shown, const char* what) {
    if (shown.size() != m.paths.size()) broken(what, "a different number of files");
    for (const auto& p : m.paths) {
        auto it = shown.find(p.first);
        if (it == shown.end() || it->second != m.contents.at(p.second)) broken(what, p.first);
    }
}

// z18man's extract puts every area's files in one folder: each name it writes is a name of the
// model, with the bytes of one of the files of that name.
void compareWithZ18man(const Model& m, const Bytes& image) {
    bool loads = false;
    const Files theirs = extracted(image, &loads);
    if (!loads) broken("z18man does not load the image", "");
    std::set<std::string> names;
    for (const auto& p : m.paths) names.insert(p.first.substr(p.first.find('/') + 1));
    if (names.size() != theirs.size()) broken("z18man lists other names", "");
    for (const auto& file : theirs) {
        bool found = false;
        for (const auto& p : m.paths)
            found = found || (p.first.substr(p.first.find('/') + 1) == file.first &&
                              m.contents.at(p.second) == file.second);
        if (!found) broken("z18man extracts other bytes", file.first);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const std::uint8_t setup = in.u8();
    Bytes image;
    {
        z18::MemEnv env;
        z18man(env, {"/f"});
        for (int i = 0; i < (setup & 3); ++i) {
            const std::string name = upper(NAMES[i]);
            env.putFile("in/" + name, bytesOf(in.u16() * 4, static_cast<std::uint32_t>(i)));
            z18man(env, {"/a", "in/" + name});
        }
        image = env.bytes(IMAGE);
    }
    const bool readOnly = (setup & 4) != 0;
    Mounted mounted(image, readOnly);
    if (mounted.volume == nullptr) broken("a formatted image does not mount", "");
    z18::Volume& v = *mounted.volume;
    const int faultCall = (setup >> 3) & 7;
    if (faultCall > 0)
        mounted.faults.inject(setup & 0x40 ? z18::FaultEnv::Op::Flush : z18::FaultEnv::Op::Write, faultCall,
                              setup & 0x80 ? z18::FaultEnv::Kind::Short : z18::FaultEnv::Kind::Fail);

    Model m;
    for (const auto& file : mounted.files()) {
        m.paths[file.first] = m.next;
        m.contents[m.next++] = file.second;
    }
    std::vector<std::pair<z18::FolderHandle, int>> readers;  // open handles and the file each reads
    bool faulted = false;

    for (int ops = 0; in.more() && ops < 64; ++ops) {
        const std::uint8_t op = in.u8(), pick = in.u8();
        const int area = pick & 3, nameIndex = (pick >> 2) % 9;
        const std::string name = NAMES[nameIndex];
        const bool valid = nameIndex < VALID_NAMES;
        const std::string path = "/" + folderPath(area, name), key = folderPath(area, upper(name));
        const bool areaThere = area == 0 || m.areas.count(area) != 0;
        auto it = m.paths.find(key);
        const int id = it == m.paths.end() ? 0 : it->second;
        const Bytes before = mounted.image();
        FolderError e = FolderError::None;
        switch (op % 9) {
            case 0:    // a copy in, new or over
            case 1: {  // an append, or a write into the middle
                const bool append = op % 9 == 1 && id != 0;
                const std::size_t n = in.u16() * (1 + (op >> 4));
                const Bytes bytes = bytesOf(n, op);
                Bytes now = append ? m.contents[id] : Bytes();
                const std::size_t at = append ? in.u16() % (now.size() + 1) : 0;
                z18::FolderSpace space;
                v.space(&space);
                if (append) {
                    z18::FolderHandle h = 0;
                    e = v.open(path, true, false, &h);
                    if (e == FolderError::None) e = v.write(h, at, bytes.data(), bytes.size());
                    if (e == FolderError::None) e = v.flush(h);
                    if (h != 0) v.release(h);
                } else {
                    e = put(v, path, bytes, 1 + in.u8() * 64);
                }
                if (now.size() < at + n) now.resize(at + n);
                std::copy(bytes.begin(), bytes.end(), now.begin() + static_cast<long>(at));
                const std::uint64_t blocks = z18::blocksFor(now.size());
                if (e == FolderError::None && blocks > space.freeBlocks) broken("placed without room", path);
                if (e == FolderError::NoSpace && blocks <= space.freeBlocks &&
                    z18::entriesFor(now.size()) <= space.freeFiles)
                    broken("no room reported where there was room", path);
                if (e == FolderError::None && (!valid || !areaThere || m.readOnly.count(id) || readOnly))
                    broken("a write that must fail was done", path);
                if (e == FolderError::Invalid && valid) broken("a valid name refused", path);
                if (e != FolderError::None) break;
                now.resize(z18::recordsFor(now.size()) * z18::RECORD_SIZE);
                if (id == 0) m.paths[key] = m.next++;
                m.contents[m.paths[key]] = now;
                break;
            }
            case 2:
                e = v.remove(path);
                if (e == FolderError::None) m.paths.erase(key);
                break;
            case 3: {
                const int targetArea = in.u8() & 3;
                const std::string targetName = NAMES[in.u8() % 9];
                const std::string targetKey = folderPath(targetArea, upper(targetName));
                e = v.rename(path, "/" + folderPath(targetArea, targetName), (op & 0x10) == 0);
                if (e != FolderError::None || targetKey == key) break;
                if (m.paths.count(targetKey) && m.readOnly.count(m.paths[targetKey]))
                    broken("replaced a read-only file", targetKey);
                m.paths[targetKey] = id;
                m.paths.erase(key);
                break;
            }
            case 4:
                e = (op & 0x10) ? v.removeFolder("/u" + std::to_string(area))
                                : v.makeFolder("/u" + std::to_string(area));
                if (e == FolderError::None && (op & 0x10)) m.areas.erase(area);
                if (e == FolderError::None && !(op & 0x10)) m.areas.insert(area);
                break;
            case 5: {
                const std::string value = std::string(op & 0x10 ? "R" : "") + (op & 0x20 ? "S" : "");
                e = v.setAttribute(path, z18::ATTRIBUTES_NAME, value, false, false);
                if (e == FolderError::None && (op & 0x10)) m.readOnly.insert(id);
                if (e == FolderError::None && !(op & 0x10)) m.readOnly.erase(id);
                break;
            }
            case 6: {
                const std::size_t n = in.u16();
                e = v.resize(path, nullptr, n);
                if (e != FolderError::None || id == 0) break;
                Bytes& now = m.contents[id];
                now.resize(n);
                now.resize(z18::recordsFor(n) * z18::RECORD_SIZE);
                break;
            }
            case 7: {  // a reader kept open across what follows
                z18::FolderHandle h = 0;
                if (readers.size() < 4 && v.open(path, false, false, &h) == FolderError::None)
                    readers.push_back({h, id});
                break;
            }
            case 8: {  // a kept reader reads everything, then goes
                if (readers.empty()) break;
                const auto reader = readers[pick % readers.size()];
                Bytes got(z18::IMAGE_SIZE);
                std::size_t done = 0;
                if (v.read(reader.first, 0, got.data(), got.size(), &done) != FolderError::None ||
                    Bytes(got.begin(), got.begin() + static_cast<long>(done)) != m.contents[reader.second])
                    broken("a kept reader reads other bytes", "");
                v.release(reader.first);
                readers.erase(std::find(readers.begin(), readers.end(), reader));
                break;
            }
        }
        if (std::getenv("Z18FUZZ_VERBOSE") != nullptr)
            std::fprintf(stderr, "op %d on %s: %d\n", op % 9, path.c_str(), static_cast<int>(e));
        if (e == FolderError::None && id == 0 && op % 9 >= 2 && op % 9 <= 6 && op % 9 != 4)
            broken("an operation on a file that is not there succeeded", path);
        if (e == FolderError::None && m.readOnly.count(id) && (op % 9 == 2 || op % 9 == 3 || op % 9 == 6))
            broken("a read-only file was changed", path);
        if (e != FolderError::None && mounted.image() != before && !faulted && e != FolderError::Io)
            broken("a failed operation changed the image", path);
        if (e == FolderError::Io) faulted = true;
        compare(m, mounted.files(), "the folder differs from the model");
        if (faulted) continue;  // what reached the image of a failed write or flush is unknown
        compareWithZ18man(m, mounted.image());
        Mounted again(mounted.image(), true);
        compare(m, again.files(), "the image, mounted again, differs from the model");
    }
    for (const auto& reader : readers) v.release(reader.first);
    v.unmounting();
    if (!faulted) {
        z18::MemEnv env;
        env.putFile(IMAGE, mounted.image());
        std::ostringstream out;
        z18::Session s(env, out);
        const char* argv[] = {"z18fsck", "disk.z18"};
        if (z18::fsck::runFsck(s, 2, argv) != z18::fsck::EXIT_CLEAN)
            broken("z18fsck finds problems", out.str());
    }
    return 0;
}
