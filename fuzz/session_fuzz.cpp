// Whole runs of the tool on an in-memory host built from the fuzz input: an image (its directory
// from the input), a command line and a few host files, optionally with one failing or short
// transfer. Beyond "no crash, no leak, no undefined behaviour" every run is held to what the tool
// promises about what it leaves behind (see README.md in this folder for the input layout).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/fault_env.h"
#include "support/mem_env.h"
#include "image/geometry.h"
#include "session/command_line.h"
#include "session/driver.h"

using namespace z18;
using Bytes = MemEnv::Bytes;

namespace {

constexpr std::size_t kMaxHostFile = 400000;  // larger than any image can take
constexpr std::size_t kBlockArea = DIRECTORY_OFFSET + static_cast<std::size_t>(BLOCK_COUNT) * BLOCK_SIZE;

// Takes bytes from the input front to back; past the end everything reads as zero.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    std::size_t le(int bytes) {
        std::size_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::size_t>(u8()) << (8 * i);
        return v;
    }
    std::string text(std::size_t n) {
        n = std::min(n, size_ - at_);
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }
    Bytes bytes(std::size_t n) {
        const std::string s = text(n);
        return Bytes(s.begin(), s.end());
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::string currentOutput;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "\ninvariant broken: %s\n--- output of the run ---\n%s\n", what, currentOutput.c_str());
    std::abort();
}
#define EXPECT(cond, what) \
    do {                   \
        if (!(cond)) broken(what); \
    } while (0)

bool sameRange(const Bytes& a, const Bytes& b, std::size_t from, std::size_t to) {
    return a.size() >= to && b.size() >= to && std::memcmp(a.data() + from, b.data() + from, to - from) == 0;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The 11 name characters a valid, wildcard-free 8.3 name is stored under.
std::string storedName(const std::string& name) {
    const std::string u = upper(name);
    const std::size_t dot = u.rfind('.');
    std::string base = dot == std::string::npos ? u : u.substr(0, dot);
    std::string type = dot == std::string::npos ? std::string() : u.substr(dot + 1);
    base.resize(8, ' ');
    type.resize(3, ' ');
    return base + type;
}

// Block numbers named by used entries, read the way a CP/M system reads them.
std::set<int> usedBlocks(const std::uint8_t* dir) {
    std::set<int> used;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = dir + i * ENTRY_SIZE;
        if (e[0] == FILLER_BYTE) continue;
        for (int k = 0; k < BLOCKS_PER_ENTRY && e[16 + k] != 0; ++k) used.insert(e[16 + k]);
    }
    return used;
}

// Lines of the output that read "File '<name>'<tail>".
std::vector<std::string> namesOnLines(const std::string& out, const std::string& tail) {
    std::vector<std::string> names;
    std::istringstream in(out);
    std::string line;
    const std::string head = "File '";
    while (std::getline(in, line)) {
        if (line.size() > head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
            line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
            names.push_back(line.substr(head.size(), line.size() - head.size() - tail.size()));
    }
    return names;
}

struct Parsed {
    bool valid = false;
    OptionFlags options = 0;
    std::string image, hostDir, mask;
};

Parsed parse(int argc, const char* const* argv) {
    MemEnv scratch;
    std::ostringstream sink;
    Session s(scratch, sink);
    Parsed p;
    p.valid = parseCommandLine(s, argc, argv) == 1;
    p.options = s.options;
    p.image = MemEnv::normalise(s.imageDir + s.imageName);
    p.hostDir = s.hostDir;
    p.mask = s.mask;
    return p;
}

std::string invalidCommandLineOutput() {
    MemEnv scratch;
    std::ostringstream out;
    Session s(scratch, out);
    s.programName = "z18man";
    printBanner(s);
    printUsage(s);
    out << '\n';
    return out.str();
}

int runOn(Env& env, const std::vector<std::string>& args, std::string* output) {
    std::vector<const char*> argv{"z18man"};
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out;
    Session s(env, out);
    const int status = runSession(s, static_cast<int>(argv.size()), argv.data());
    *output = out.str();
    return status;
}

// Checks that every file the add command reported is stored whole, in blocks nobody else had.
void checkAddedFiles(MemEnv& before, const Bytes& oldImage, bool imageWasBlank, const Bytes& newImage,
                     const Parsed& p) {
    Bytes blankDir(DIRECTORY_SIZE, FILLER_BYTE);
    const bool blank = imageWasBlank || (p.options & (OPT_FULL_FORMAT | OPT_QUICK_FORMAT));
    const std::uint8_t* oldDir = blank ? blankDir.data() : oldImage.data() + DIRECTORY_OFFSET;
    const std::set<int> oldUsed = usedBlocks(oldDir);
    const std::uint8_t* dir = newImage.data() + DIRECTORY_OFFSET;

    std::vector<FoundEntry> found;
    before.findFiles(p.hostDir + p.mask, &found);
    std::set<int> taken;
    for (const std::string& name : namesOnLines(currentOutput, "' added")) {
        const std::string stored = storedName(name);
        std::uint8_t key[KEY_SIZE] = {0};
        std::memcpy(key + 1, stored.data(), 11);
        bool keyWasThere = false;
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
            keyWasThere = keyWasThere || std::memcmp(oldDir + i * ENTRY_SIZE, key, KEY_SIZE) == 0;
        if (keyWasThere) continue;  // entries of an older file would mix in; nothing to compare

        const Bytes* host = nullptr;
        for (const FoundEntry& f : found) {
            if (f.attributes != ATTR_DIRECTORY && upper(f.name) == name) {
                host = &before.bytes(p.hostDir + f.name);
                break;
            }
        }
        EXPECT(host != nullptr, "an added file that the host search never delivered");

        Bytes content;
        std::size_t records = 0, entries = 0;
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
            const std::uint8_t* e = dir + i * ENTRY_SIZE;
            if (std::memcmp(e, key, KEY_SIZE) != 0) continue;
            ++entries;
            records += e[15] + 128u * (e[12] & 1u);
            for (int k = 0; k < BLOCKS_PER_ENTRY && e[16 + k] != 0; ++k) {
                const int b = e[16 + k];
                EXPECT(b < BLOCK_COUNT, "an added file names a block past the end");
                EXPECT(oldUsed.count(b) == 0, "an added file took a block that was in use");
                EXPECT(taken.insert(b).second, "two added files share a block");
                const std::uint8_t* data = newImage.data() + blockOffset(static_cast<unsigned>(b));
                content.insert(content.end(), data, data + BLOCK_SIZE);
            }
        }
        Bytes expected = *host;
        expected.resize((expected.size() + RECORD_SIZE - 1) / RECORD_SIZE * RECORD_SIZE, 0);
        EXPECT(entries == std::max<std::size_t>(1, (host->size() + 32767) / 32768), "wrong entry count");
        EXPECT(records * RECORD_SIZE == expected.size(), "record count does not match the file");
        EXPECT(content.size() >= expected.size(), "fewer blocks than records");
        content.resize(expected.size());
        EXPECT(content == expected, "added file differs from the host file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const std::uint8_t imageByte = in.u8();
    const std::int8_t sizeDelta = static_cast<std::int8_t>(in.u8());
    const std::uint8_t faultByte = in.u8();
    const int faultNth = in.u8();

    std::vector<std::string> args(in.u8() % 8);
    for (auto& a : args) a = in.text(in.u8());

    // Built once: filler around the blocks, and in each block a pattern that tells blocks apart.
    static const Bytes kBaseImage = [] {
        Bytes b(IMAGE_SIZE, FILLER_BYTE);
        for (std::size_t at = DIRECTORY_OFFSET + DIRECTORY_SIZE; at < kBlockArea; ++at)
            b[at] = static_cast<std::uint8_t>((at >> 11) * 7 + at);
        return b;
    }();
    static const Bytes kNoise = [] {
        Bytes b(2 * kMaxHostFile);
        std::uint32_t x = 0x9E3779B9u;
        for (auto& v : b) {
            x = x * 1664525u + 1013904223u;
            v = static_cast<std::uint8_t>(x >> 24);
        }
        return b;
    }();

    MemEnv env;
    const std::string imagePath = "disk.z18";
    Bytes image(IMAGE_SIZE);
    std::memcpy(image.data(), kBaseImage.data(), IMAGE_SIZE);
    const Bytes dirBytes = in.bytes(std::min<std::size_t>(in.le(2), DIRECTORY_SIZE));
    std::copy(dirBytes.begin(), dirBytes.end(), image.begin() + DIRECTORY_OFFSET);
    const bool readOnly = (imageByte & 4) != 0;
    switch (imageByte & 3) {
        case 1: env.putFile(imagePath, std::move(image), readOnly); break;
        case 2:
            image.resize(static_cast<std::size_t>(IMAGE_SIZE + sizeDelta), 0x5A);
            env.putFile(imagePath, std::move(image), readOnly);
            break;
        case 3: env.putFile(imagePath, Bytes(), readOnly); break;
        default: break;
    }

    const int fileCount = in.u8() % 8;
    for (int f = 0; f < fileCount; ++f) {
        const std::string path = in.text(in.u8());
        const std::uint8_t flags = in.u8();
        // Flag bits 2-3 pick the size range, so that most files stay small and quick to copy.
        static const std::size_t kRanges[4] = {4096, 40000, kMaxHostFile, 40000};
        const std::size_t length = in.le(3) % (kRanges[(flags >> 2) & 3] + 1);
        if (MemEnv::normalise(path).empty() || MemEnv::normalise(path) == "/") continue;
        if (flags & 1) {
            env.makeDirectory(path);
            continue;
        }
        const std::size_t from = (static_cast<std::size_t>(f) * 40961 + length) % kMaxHostFile;
        Bytes content(length);
        if (length > 0) std::memcpy(content.data(), kNoise.data() + from, length);
        env.putFile(path, std::move(content), (flags & 2) != 0);
    }

    std::vector<const char*> argv{"z18man"};
    for (const auto& a : args) argv.push_back(a.c_str());
    const Parsed p = parse(static_cast<int>(argv.size()), argv.data());

    MemEnv beforeEnv = env;
    const MemEnv::Tree& before = beforeEnv.tree();
    const bool imageExisted = env.isFile(p.image);
    const Bytes& oldImage = beforeEnv.bytes(p.image);

    FaultEnv faulty(&env);
    const int faultOp = faultByte & 7;
    const bool faulted = faultOp >= 1 && faultOp <= 5 && faultNth > 0;
    if (faulted) {
        const FaultEnv::Op op = faultOp == 1 ? FaultEnv::Op::Open
                                : faultOp <= 3 ? FaultEnv::Op::Read
                                               : FaultEnv::Op::Write;
        const FaultEnv::Kind kind = (faultOp == 3 || faultOp == 5) ? FaultEnv::Kind::Short : FaultEnv::Kind::Fail;
        faulty.inject(op, faultNth, kind, (faultByte & 8) ? ".z18" : "");
    }
    const int status = runOn(faulty, args, &currentOutput);
    static const bool verbose = std::getenv("Z18FUZZ_VERBOSE") != nullptr;
    if (verbose) std::fprintf(stderr, "%s[exit status %d]\n", currentOutput.c_str(), status);

    EXPECT(status == 0 || status == 1, "exit status other than 0 or 1");
    EXPECT(env.openHandles() == 0, "a file was left open");
    if (!p.valid) {
        EXPECT(currentOutput == invalidCommandLineOutput(), "invalid command line without the syntax help");
        EXPECT(env.tree() == before, "a file was touched although the command line was invalid");
        return 0;
    }

    // Which places this request may write: the image for formats, add and erase; host files in the
    // target directory for extract; nothing else, ever.
    const OptionFlags writers = OPT_NEW_IMAGE | OPT_FULL_FORMAT | OPT_QUICK_FORMAT | OPT_ADD | OPT_ERASE;
    const std::string extractDir = MemEnv::normalise(p.hostDir);
    for (const auto& node : env.tree()) {
        auto old = before.find(node.first);
        if (old != before.end() && old->second == node.second) continue;
        if (node.first == p.image && (p.options & writers)) continue;
        if ((p.options & OPT_EXTRACT) && node.first != p.image) {
            const std::size_t slash = node.first.rfind('/');
            const std::string parent = slash == std::string::npos ? std::string() : node.first.substr(0, slash == 0 ? 1 : slash);
            if (parent == extractDir && !node.second.directory) continue;
        }
        broken("a file outside the request's reach changed or appeared");
    }
    EXPECT(env.tree().size() >= before.size(), "a file disappeared");

    if (!env.isFile(p.image)) return 0;
    const Bytes& now = env.bytes(p.image);
    EXPECT(now.size() <= std::max<std::size_t>(oldImage.size(), IMAGE_SIZE), "the image grew");
    if (status == 0) EXPECT(now.size() == IMAGE_SIZE, "a run went on with an image of the wrong size");
    if (oldImage.size() != IMAGE_SIZE) {
        EXPECT(now.size() == oldImage.size() || oldImage.empty(), "an image of the wrong size was changed");
        if (now.size() != IMAGE_SIZE) return 0;
        EXPECT(std::count(now.begin() + BOOT_AREA_SIZE, now.begin() + DIRECTORY_OFFSET, FILLER_BYTE) ==
                   static_cast<long>(DIRECTORY_OFFSET - BOOT_AREA_SIZE),
               "a new image holds something other than the filler before its directory");
    } else {
        EXPECT(sameRange(now, oldImage, BOOT_AREA_SIZE, DIRECTORY_OFFSET), "bytes 256-9215 changed");
        EXPECT(sameRange(now, oldImage, kBlockArea, SIGNATURE_OFFSET), "bytes past the last block changed");
        if (!(p.options & (OPT_FULL_FORMAT | OPT_NEW_IMAGE))) {
            EXPECT(sameRange(now, oldImage, 0, BOOT_AREA_SIZE), "boot area changed without a full format");
            EXPECT(sameRange(now, oldImage, SIGNATURE_OFFSET, IMAGE_SIZE), "signature changed without a full format");
        }
        if (!(p.options & OPT_ADD))
            EXPECT(sameRange(now, oldImage, DIRECTORY_OFFSET + DIRECTORY_SIZE, kBlockArea), "blocks changed without an add");
    }

    // What the tool wrote, it must be able to read again. A short write may leave a directory that
    // is half old, half new, so that case is left out.
    const bool shortWrite = faulted && faultOp == 5;
    if (status == 0 && (p.options & writers) && !shortWrite) {
        std::string catalogueOut;
        const std::string saved = currentOutput;
        const int reload = runOn(env, {p.image, "/c"}, &catalogueOut);  // reads only
        currentOutput = saved + "\n--- catalogue afterwards ---\n" + catalogueOut;
        EXPECT(reload == 0, "the image the run left behind does not load");
        currentOutput = saved;
    }
    if (status == 0 && !faulted && (p.options & OPT_ADD))
        checkAddedFiles(beforeEnv, oldImage, !imageExisted || oldImage.size() != IMAGE_SIZE, now, p);
    return 0;
}
