// Whole runs of the tool on an in-memory host built from the fuzz input: an image (its directory
// from the input), a command line and a few host files, optionally with one failing or short
// transfer or flush. Beyond "no crash, no leak, no undefined behaviour" every run is held to what
// the tool promises about what it leaves behind, and about the order in which its image writes may
// reach the disk (see README.md in this folder for the input layout).
//
// libFuzzer runs the inputs one after another in one process, so what every input needs (the host,
// the copy of the state before the run, the images) is kept between inputs and refilled: fresh
// allocations of hundreds of kilobytes for each input cost the sanitizers more than the run itself.
#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/ascii.h"
#include "reader.h"
#include "run/command_line.h"
#include "run/driver.h"
#include "session/geometry.h"
#include "session/status.h"
#include "support/env_wrapper.h"
#include "support/fault_env.h"
#include "support/mem_env.h"

using namespace z18;
using Bytes = MemEnv::Bytes;

namespace {

constexpr std::size_t kMaxHostFile = 400000;  // larger than any image can take
constexpr std::size_t kBlockArea = DIRECTORY_OFFSET + static_cast<std::size_t>(BLOCK_COUNT) * BLOCK_SIZE;

std::string currentOutput;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "\ninvariant broken: %s\n--- output of the run ---\n%s\n", what,
                 currentOutput.c_str());
    std::abort();
}
#define EXPECT(cond, what)         \
    do {                           \
        if (!(cond)) broken(what); \
    } while (0)

bool sameRange(const Bytes& a, const Bytes& b, std::size_t from, std::size_t to) {
    return a.size() >= to && b.size() >= to && std::memcmp(a.data() + from, b.data() + from, to - from) == 0;
}

std::string upper(std::string s) {
    for (char& c : s) c = z18::asciiUpper(c);
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

// A copy through memcpy: ASan's memmove, which vector::assign comes to, is far slower.
void copyBytes(const Bytes& from, Bytes* to) {
    to->resize(from.size());
    if (!from.empty()) std::memcpy(to->data(), from.data(), from.size());
}

using BlockSet = std::bitset<BLOCK_COUNT>;

// Block numbers named by used entries, read the way a CP/M system reads them. Numbers past the
// last block name nothing on the disk. With holdingRecords, only the blocks that hold records of
// their entry count: the blocks of a half-made file (an add that failed while reading it) are
// taken, but hold none of its bytes.
BlockSet usedBlocks(const std::uint8_t* dir, bool holdingRecords = false) {
    BlockSet used;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = dir + i * ENTRY_SIZE;
        if (e[0] == FILLER_BYTE) continue;
        const std::size_t records = e[15] + 128u * (e[12] & 1u);
        const std::size_t limit =
            holdingRecords ? (records + RECORDS_PER_BLOCK - 1) / RECORDS_PER_BLOCK : BLOCKS_PER_ENTRY;
        for (std::size_t k = 0; k < BLOCKS_PER_ENTRY && k < limit && e[16 + k] != 0; ++k)
            if (e[16 + k] < BLOCK_COUNT) used.set(e[16 + k]);
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
    std::string image, imageName, hostDir, mask;
};

Parsed parse(int argc, const char* const* argv) {
    static MemEnv scratch;  // reading the command line asks nothing of the host
    std::ostringstream sink;
    Session s(scratch, sink);
    Parsed p;
    p.valid = parseCommandLine(s, argc, argv) == 1;
    p.options = s.options;
    p.image = MemEnv::normalise(s.imageDir + s.imageName);
    p.imageName = s.imageName;
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

// The line a run prints for a status about the image.
std::string statusLine(const std::string& imageName, StatusCode code) {
    static MemEnv scratch;
    std::ostringstream out;
    Session s(scratch, out);
    s.imageName = imageName;
    reportStatus(s, code);
    return out.str();
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
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

// The files and folders of the host as they were before the run, in storage kept between inputs.
// Only a file opened for writing can change, so the bytes of a file are copied only when the run
// first opens it so (see ImageWatch); of the others only the size is kept.
class TreeCopy {
public:
    struct Entry {
        std::string key;
        bool directory = false;
        bool readOnly = false;
        std::size_t size = 0;
        bool kept = false;  // bytes holds a copy of the file
        Bytes bytes;
    };

    void take(const MemEnv::Tree& tree) {
        count_ = 0;
        for (const auto& item : tree) {
            if (count_ == entries_.size()) entries_.emplace_back();
            Entry& e = entries_[count_++];
            e.key.assign(item.first);
            e.directory = item.second.directory;
            e.readOnly = item.second.readOnly;
            e.size = item.second.bytes.size();
            e.kept = false;
        }
    }
    // Copies the bytes of the file at key as they are now, unless that was done already.
    void keep(const std::string& key, const MemEnv& env) {
        const std::size_t i = indexOf(key);
        if (i == count_ || entries_[i].kept || entries_[i].directory) return;
        copyBytes(env.bytes(key), &entries_[i].bytes);
        entries_[i].kept = true;
    }
    std::size_t size() const { return count_; }
    // The entry of key before the run; null where there was none.
    const Entry* find(const std::string& key) const {
        const std::size_t i = indexOf(key);
        return i == count_ ? nullptr : &entries_[i];
    }
    static bool same(const Entry& e, const MemEnv::Node& node) {
        return e.directory == node.directory && e.readOnly == node.readOnly &&
               (e.kept ? e.bytes == node.bytes : e.size == node.bytes.size());
    }
    bool sameAs(const MemEnv::Tree& tree) const {
        if (tree.size() != count_) return false;
        std::size_t i = 0;
        for (const auto& item : tree) {
            if (item.first != entries_[i].key || !same(entries_[i], item.second)) return false;
            ++i;
        }
        return true;
    }

private:
    // The index of key among the first count_ entries; count_ where it is not there.
    std::size_t indexOf(const std::string& key) const {
        const auto end = entries_.begin() + static_cast<std::ptrdiff_t>(count_);
        const auto it = std::lower_bound(entries_.begin(), end, key,
                                         [](const Entry& e, const std::string& k) { return e.key < k; });
        return it != end && it->key == key ? static_cast<std::size_t>(it - entries_.begin()) : count_;
    }

    std::vector<Entry> entries_;  // the first count_ are the copy, sorted by key as the tree is
    std::size_t count_ = 0;
};

// Follows the image writes and flushes between the session and the fault host. A power cut may
// leave on the disk any directory written since the last completed flush, next to any of the blocks
// written since then, in old or new form. So a directory may not be written while a block it names
// was written after the last flush, a block may not be written while a directory that may be on
// the disk names it, nothing is left unflushed when the image is closed, and after a failed flush
// (which leaves unknown what reached the disk) nothing more is written or flushed.
class ImageWatch : public EnvWrapper {
public:
    ImageWatch(Env* base, const MemEnv& mem, TreeCopy* before, const std::string& imageKey)
        : EnvWrapper(base), mem_(mem), before_(before), key_(imageKey) {
        const Bytes& image = mem.bytes(imageKey);
        if (image.size() == IMAGE_SIZE) named_ = usedBlocks(image.data() + DIRECTORY_OFFSET);
    }
    // Every file the run opened for writing.
    const std::vector<std::string>& openedForWriting() const { return writers_; }

    int flushes() const { return flushes_; }
    bool flushFailed() const { return failed_; }
    // Whether blocks written since the flush before were waiting when the flush failed.
    bool dataWaitedOnFailedFlush() const { return dataAtFailure_; }
    const std::uint8_t* directoryAtFailure() const { return directoryAtFailure_; }

    HostResult<int> openFile(const std::string& path, OpenMode mode) override {
        const std::string key = MemEnv::normalise(path);
        if (modeWrites(mode)) before_->keep(key, mem_);  // before the open, which may empty it
        const HostResult<int> handle = EnvWrapper::openFile(path, mode);
        if (handle.ok() && modeWrites(mode)) writers_.push_back(key);
        if (handle.ok() && key == key_) images_.push_back(handle.value());
        return handle;
    }
    HostStatus closeFile(int handle) override {
        if (isImage(handle)) {
            EXPECT(!unflushed_ || failed_, "the image was closed with writes not flushed");
            images_.erase(std::find(images_.begin(), images_.end(), handle));
        }
        return EnvWrapper::closeFile(handle);
    }
    HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                       std::size_t* done) override {
        if (!isImage(handle)) return EnvWrapper::writeAt(handle, offset, buffer, n, done);
        EXPECT(!failed_, "the image was written after a failed flush");
        unflushed_ = true;
        const std::uint64_t end = offset + n;
        const std::uint64_t from = std::max<std::uint64_t>(offset, kDataStart);
        const std::uint64_t to = std::min<std::uint64_t>(end, kBlockArea);
        // Blocks are counted from the directory, which is block 0.
        for (std::uint64_t block = (from - DIRECTORY_OFFSET) / BLOCK_SIZE;
             from < to && block <= (to - 1 - DIRECTORY_OFFSET) / BLOCK_SIZE; ++block) {
            EXPECT(!named_[block],
                   "a block was overwritten while a directory that may be on the disk names it");
            dirty_.set(block);
        }
        const HostStatus written = EnvWrapper::writeAt(handle, offset, buffer, n, done);
        if (offset < kDataStart && end > DIRECTORY_OFFSET) {
            EXPECT((namedNow(true) & dirty_).none(),
                   "a directory was written that names a block written since the last flush");
            named_ |= namedNow();
        }
        return written;
    }
    HostStatus flush(int handle) override {
        if (!isImage(handle)) return EnvWrapper::flush(handle);
        EXPECT(!failed_, "the image was flushed again after a failed flush");
        ++flushes_;
        const HostStatus flushed = EnvWrapper::flush(handle);
        if (flushed.ok()) {
            unflushed_ = false;
            dirty_.reset();
            named_ = namedNow();
            return flushed;
        }
        failed_ = true;
        dataAtFailure_ = dirty_.any();
        const Bytes& image = mem_.bytes(key_);
        if (image.size() >= kDataStart)
            std::memcpy(directoryAtFailure_, image.data() + DIRECTORY_OFFSET, DIRECTORY_SIZE);
        return flushed;
    }

private:
    static constexpr std::uint64_t kDataStart = DIRECTORY_OFFSET + DIRECTORY_SIZE;

    bool isImage(int handle) const {
        return std::find(images_.begin(), images_.end(), handle) != images_.end();
    }
    // The blocks the directory now in the image names.
    BlockSet namedNow(bool holdingRecords = false) const {
        const Bytes& image = mem_.bytes(key_);
        return image.size() >= kDataStart ? usedBlocks(image.data() + DIRECTORY_OFFSET, holdingRecords)
                                          : BlockSet();
    }

    const MemEnv& mem_;
    TreeCopy* before_;
    const std::string key_;
    std::vector<std::string> writers_;
    std::vector<int> images_;  // open handles on the image
    BlockSet named_;           // named by a directory that may be on the disk
    BlockSet dirty_;           // written since the last completed flush
    bool unflushed_ = false;
    int flushes_ = 0;
    bool failed_ = false;
    bool dataAtFailure_ = false;
    std::uint8_t directoryAtFailure_[DIRECTORY_SIZE] = {};
};

// Checks that every file the add command reported is stored whole, in blocks nobody else had. The
// host files are read from env after the run, which the caller has found unchanged.
void checkAddedFiles(MemEnv& env, const Bytes& oldImage, bool imageWasBlank, const Bytes& newImage,
                     const Parsed& p) {
    static const Bytes kBlankDir(DIRECTORY_SIZE, FILLER_BYTE);
    const bool blank = imageWasBlank || (p.options & (OPT_FULL_FORMAT | OPT_QUICK_FORMAT));
    const std::uint8_t* oldDir = blank ? kBlankDir.data() : oldImage.data() + DIRECTORY_OFFSET;
    const BlockSet oldUsed = usedBlocks(oldDir);
    const std::uint8_t* dir = newImage.data() + DIRECTORY_OFFSET;

    const std::vector<FoundEntry> found =
        env.findFiles(p.hostDir + p.mask).valueOr(std::vector<FoundEntry>());
    BlockSet taken;
    for (const std::string& name : namesOnLines(currentOutput, "' added")) {
        const std::string stored = storedName(name);
        std::uint8_t key[KEY_SIZE] = {0};
        std::memcpy(key + 1, stored.data(), 11);
        bool keyWasThere = false;
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
            keyWasThere = keyWasThere || std::memcmp(oldDir + i * ENTRY_SIZE, key, KEY_SIZE) == 0;
        if (keyWasThere) continue;  // entries of an older file would mix in; nothing to compare

        // The open image is never added, though its name may match: a file whose name differs
        // from the image's in case only is the one the line is about.
        const Bytes* image = &env.bytes(p.image);
        const Bytes* host = nullptr;
        for (const FoundEntry& f : found) {
            if (!isFolder(f) && upper(f.name) == name && &env.bytes(p.hostDir + f.name) != image) {
                host = &env.bytes(p.hostDir + f.name);
                break;
            }
        }
        EXPECT(host != nullptr, "an added file that the host search never delivered");

        // The blocks in entry order hold the file, then zeros up to the end of its last record.
        static const std::uint8_t kZeros[RECORD_SIZE] = {};
        const std::size_t padded = (host->size() + RECORD_SIZE - 1) / RECORD_SIZE * RECORD_SIZE;
        std::size_t records = 0, entries = 0, at = 0;
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
            const std::uint8_t* e = dir + i * ENTRY_SIZE;
            if (std::memcmp(e, key, KEY_SIZE) != 0) continue;
            ++entries;
            records += e[15] + 128u * (e[12] & 1u);
            for (int k = 0; k < BLOCKS_PER_ENTRY && e[16 + k] != 0; ++k, at += BLOCK_SIZE) {
                const int b = e[16 + k];
                EXPECT(b < BLOCK_COUNT, "an added file names a block past the end");
                EXPECT(!oldUsed[b], "an added file took a block that was in use");
                EXPECT(!taken[b], "two added files share a block");
                taken.set(b);
                const std::uint8_t* data = newImage.data() + blockOffset(static_cast<unsigned>(b));
                const std::size_t part = at < padded ? std::min(BLOCK_SIZE, padded - at) : 0;
                const std::size_t fromHost = at < host->size() ? std::min(part, host->size() - at) : 0;
                EXPECT((fromHost == 0 || std::memcmp(data, host->data() + at, fromHost) == 0) &&
                           std::memcmp(data + fromHost, kZeros, part - fromHost) == 0,
                       "added file differs from the host file");
            }
        }
        EXPECT(entries == std::max<std::size_t>(1, (host->size() + 32767) / 32768), "wrong entry count");
        EXPECT(records * RECORD_SIZE == padded, "record count does not match the file");
        EXPECT(at >= padded, "fewer blocks than records");
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
    static const std::string kInvalidCommandLineOutput = invalidCommandLineOutput();

    // Everything an input allocates is freed before it returns: where allocations outnumber the
    // frees, libFuzzer suspects a leak and runs the input once more under the leak checker.
    static MemEnv env;
    struct ResetAtEnd {
        MemEnv& env;
        ~ResetAtEnd() { env.reset(); }
    } resetAtEnd{env};
    const std::string imagePath = "disk.z18";
    // The base image with the directory from the input. From one input to the next only the
    // directory differs, and the end, which a wrong size moves by at most 128 bytes.
    static Bytes image = kBaseImage;
    constexpr std::size_t kTail = 128;
    image.resize(IMAGE_SIZE);
    std::memcpy(image.data() + IMAGE_SIZE - kTail, kBaseImage.data() + IMAGE_SIZE - kTail, kTail);
    std::memcpy(image.data() + DIRECTORY_OFFSET, kBaseImage.data() + DIRECTORY_OFFSET, DIRECTORY_SIZE);
    in.copy(std::min<std::size_t>(in.le(2), DIRECTORY_SIZE), image.data() + DIRECTORY_OFFSET);
    const bool readOnly = (imageByte & 4) != 0;
    switch (imageByte & 3) {
        case 1: env.putFile(imagePath, image.data(), image.size(), readOnly); break;
        case 2:
            image.resize(static_cast<std::size_t>(IMAGE_SIZE + sizeDelta), 0x5A);
            env.putFile(imagePath, image.data(), image.size(), readOnly);
            break;
        case 3: env.putFile(imagePath, nullptr, 0, readOnly); break;
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
        env.putFile(path, kNoise.data() + from, length, (flags & 2) != 0);
    }

    std::vector<const char*> argv{"z18man"};
    for (const auto& a : args) argv.push_back(a.c_str());
    const Parsed p = parse(static_cast<int>(argv.size()), argv.data());

    static TreeCopy before;
    before.take(env.tree());
    const TreeCopy::Entry* oldNode = before.find(p.image);
    const bool imageExisted = oldNode != nullptr && !oldNode->directory;

    FaultEnv faulty(&env);
    const int faultOp = faultByte & 7;
    const bool faulted = faultOp >= 1 && faultOp <= 6 && faultNth > 0;
    if (faulted) {
        const FaultEnv::Op op = faultOp == 1   ? FaultEnv::Op::Open
                                : faultOp <= 3 ? FaultEnv::Op::Read
                                : faultOp <= 5 ? FaultEnv::Op::Write
                                               : FaultEnv::Op::Flush;
        const FaultEnv::Kind kind =
            (faultOp == 3 || faultOp == 5) ? FaultEnv::Kind::Short : FaultEnv::Kind::Fail;
        faulty.inject(op, faultNth, kind, (faultByte & 8) ? ".z18" : "");
    }
    ImageWatch watch(&faulty, env, &before, p.image);
    const int status = runOn(watch, args, &currentOutput);
    static const bool verbose = std::getenv("Z18FUZZ_VERBOSE") != nullptr;
    if (verbose) std::fprintf(stderr, "%s[exit status %d]\n", currentOutput.c_str(), status);

    EXPECT(status == 0 || status == 1, "exit status other than 0 or 1");
    EXPECT(env.openHandles() == 0, "a file was left open");
    if (!p.valid) {
        EXPECT(currentOutput == kInvalidCommandLineOutput, "invalid command line without the syntax help");
        EXPECT(watch.openedForWriting().empty() && before.sameAs(env.tree()),
               "a file was touched although the command line was invalid");
        return 0;
    }

    // Which places this request may write: the image where its row says it writes; host files in
    // the target directory for extract; nothing else, ever.
    const OptionFlags writers = optionsWith(trait::WRITES_IMAGE);
    const std::string extractDir = MemEnv::normalise(p.hostDir);
    auto mayWrite = [&](const std::string& key) {
        if (key == p.image) return (p.options & writers) != 0;
        if (!(p.options & OPT_EXTRACT)) return false;
        const std::size_t slash = key.rfind('/');
        const std::string parent =
            slash == std::string::npos ? std::string() : key.substr(0, slash == 0 ? 1 : slash);
        return parent == extractDir;
    };
    for (const std::string& key : watch.openedForWriting())
        EXPECT(mayWrite(key), "a file outside the request's reach was opened for writing");
    for (const auto& node : env.tree()) {
        const TreeCopy::Entry* old = before.find(node.first);
        if (old != nullptr && TreeCopy::same(*old, node.second)) continue;
        if (mayWrite(node.first) && !node.second.directory) continue;
        broken("a file outside the request's reach changed or appeared");
    }
    EXPECT(env.tree().size() >= before.size(), "a file disappeared");
    // The image as it was before the run: copied where the run opened it for writing, else unchanged.
    static const Bytes kNoBytes;
    const Bytes& oldImage = !imageExisted ? kNoBytes : oldNode->kept ? oldNode->bytes : env.bytes(p.image);

    // The flushes: none for a request that only reads, at most three for any other, and a failed
    // one reported once, with the directory of the image left as it was when the flush failed.
    // Where the flush guarded blocks the directory was about to name, that is the directory the
    // image held before the add.
    if (!(p.options & writers)) EXPECT(watch.flushes() == 0, "a request that only reads flushed the image");
    EXPECT(watch.flushes() <= 3, "more than three flushes in one run");
    if (watch.flushFailed()) {
        EXPECT(occurrences(currentOutput, statusLine(p.imageName, ST_IMAGE_WRITE)) == 1,
               "a failed flush was not reported once as a failed image write");
        const Bytes& left = env.bytes(p.image);
        EXPECT(left.size() == IMAGE_SIZE && std::memcmp(left.data() + DIRECTORY_OFFSET,
                                                        watch.directoryAtFailure(), DIRECTORY_SIZE) == 0,
               "the directory changed after a failed flush");
        if (watch.dataWaitedOnFailedFlush() && imageExisted && oldImage.size() == IMAGE_SIZE &&
            !(p.options & (OPT_FULL_FORMAT | OPT_QUICK_FORMAT | OPT_NEW_IMAGE)))
            EXPECT(sameRange(left, oldImage, DIRECTORY_OFFSET, DIRECTORY_OFFSET + DIRECTORY_SIZE),
                   "the directory was written back although the flush of the data failed");
    }

    if (!env.isFile(p.image)) return 0;
    const Bytes& now = env.bytes(p.image);
    EXPECT(now.size() <= std::max<std::size_t>(oldImage.size(), IMAGE_SIZE), "the image grew");
    if (status == 0) EXPECT(now.size() == IMAGE_SIZE, "a run went on with an image of the wrong size");
    if (oldImage.size() != IMAGE_SIZE) {
        EXPECT(now.size() == oldImage.size() || oldImage.empty(), "an image of the wrong size was changed");
        if (now.size() != IMAGE_SIZE) return 0;
        EXPECT(sameRange(now, kBaseImage, BOOT_AREA_SIZE, DIRECTORY_OFFSET),
               "a new image holds something other than the filler before its directory");
    } else {
        EXPECT(sameRange(now, oldImage, BOOT_AREA_SIZE, DIRECTORY_OFFSET), "bytes 256-9215 changed");
        EXPECT(sameRange(now, oldImage, kBlockArea, SIGNATURE_OFFSET), "bytes past the last block changed");
        if (!(p.options & (OPT_FULL_FORMAT | OPT_NEW_IMAGE))) {
            EXPECT(sameRange(now, oldImage, 0, BOOT_AREA_SIZE), "boot area changed without a full format");
            EXPECT(sameRange(now, oldImage, SIGNATURE_OFFSET, IMAGE_SIZE),
                   "signature changed without a full format");
        }
        if (!(p.options & OPT_ADD))
            EXPECT(sameRange(now, oldImage, DIRECTORY_OFFSET + DIRECTORY_SIZE, kBlockArea),
                   "blocks changed without an add");
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
        checkAddedFiles(env, oldImage, !imageExisted || oldImage.size() != IMAGE_SIZE, now, p);
    return 0;
}
