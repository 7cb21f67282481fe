// The in-memory host must behave like the POSIX host wherever the tool can tell: the same script of
// opens, transfers and searches runs on both and must leave the same trace and the same files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "hardening.h"
#include "support/mem_env.h"

using namespace z18;
using namespace hardening;
using namespace z18test;

namespace {

struct Side {
    Env& env;
    std::string root;  // prefix of every path; empty for the in-memory host
    std::string at(const std::string& rel) const { return root.empty() ? rel : root + "/" + rel; }
};

std::vector<std::string> script(const Side& s) {
    std::vector<std::string> trace;
    // A refusal is traced with the kind of its cause, which must be the same on both hosts.
    auto outcome = [&](const HostStatus& status) {
        return status.ok() ? std::string(" ok")
                           : " refused " + std::to_string(static_cast<int>(status.error().kind));
    };
    auto open = [&](const std::string& rel, OpenMode mode) {
        const HostResult<int> h = s.env.openFile(s.at(rel), mode);
        trace.push_back("open " + rel + " " + std::to_string(static_cast<int>(mode)) + outcome(h.status()));
        return h.valueOr(CLOSED_HANDLE);
    };
    auto readAll = [&](int h, std::uint64_t from, std::size_t n) {
        std::vector<char> buf(n + 1, '#');
        std::size_t done = 99;
        const bool ok = s.env.readAt(h, from, buf.data(), n, &done).ok();
        trace.push_back("read " + std::to_string(ok) + " " + std::to_string(done) + " " +
                        std::string(buf.data(), done));
    };
    auto write = [&](int h, std::uint64_t at, const std::string& text) {
        std::size_t done = 99;
        const bool ok = s.env.writeAt(h, at, text.data(), text.size(), &done).ok();
        trace.push_back("write " + std::to_string(ok) + " " + std::to_string(done));
    };
    auto size = [&](int h) { trace.push_back("size " + std::to_string(s.env.fileSize(h).valueOr(0))); };

    // Only regular files, only existing ones unless the mode creates, never through a missing folder.
    open("sub", OpenMode::ImageRead);
    open("sub", OpenMode::ImageCreate);
    open("missing.z18", OpenMode::ImageRead);
    open("missing.bin", OpenMode::HostRead);
    open("nodir/x.txt", OpenMode::HostCreate);
    // A write-protected file can be read, never opened for writing.
    open("ro.bin", OpenMode::ImageWrite);
    open("ro.bin", OpenMode::HostCreate);
    int h = open("ro.bin", OpenMode::HostRead);
    readAll(h, 0, 100);
    (void)s.env.closeFile(h);

    // Creation, writing past the end (the gap reads as zeros), short reads at the end.
    h = open("new.z18", OpenMode::ImageCreate);
    size(h);
    write(h, 3, "abc");
    size(h);
    readAll(h, 0, 6);
    readAll(h, 4, 10);
    readAll(h, 50, 10);
    (void)s.env.closeFile(h);

    // A writer holds the file alone; a refused create must not empty it.
    h = open("a.txt", OpenMode::ImageWrite);
    open("a.txt", OpenMode::HostRead);
    open("a.txt", OpenMode::HostCreate);
    open("a.txt", OpenMode::ImageCreate);
    (void)s.env.closeFile(h);
    // Readers share; a writer is refused while any reader holds it; a read-only handle cannot write.
    h = open("a.txt", OpenMode::HostRead);
    const int h2 = open("a.txt", OpenMode::ImageRead);
    open("a.txt", OpenMode::ImageWrite);
    write(h, 0, "zz");
    readAll(h2, 0, 100);
    (void)s.env.closeFile(h);
    (void)s.env.closeFile(h2);

    // A path ends at a zero byte, as a C string does (the session fuzzer once fed one in).
    h = open(std::string("a.txt\0.bin", 10), OpenMode::HostRead);
    readAll(h, 0, 100);
    (void)s.env.closeFile(h);

    // Create-or-replace empties an existing file.
    h = open("b.TXT", OpenMode::HostCreate);
    size(h);
    write(h, 0, "new");
    (void)s.env.closeFile(h);
    h = open("sub/made.txt", OpenMode::HostCreate);
    (void)s.env.closeFile(h);

    const std::vector<std::string> patterns = {
        "*",     "*.*",      "*.txt", "*.TXT",    "?.txt",
        "sub/*", "sub\\*.*", ".*",    "*.",       "nodir/*",
        "a.txt", "zz*",      "sub/",  "ro.bin/*", std::string("sub/c.com\0/*", 12)};
    for (const std::string& pattern : patterns) {
        const HostResult<std::vector<FoundEntry>> found = s.env.findFiles(s.at(pattern));
        std::string line = "find " + pattern + outcome(found.status());
        for (const auto& f : found.value())
            line += " " + f.name + (f.attributes == ATTR_DIRECTORY ? "/" : "");
        trace.push_back(line);
    }

    // The services that make new names, refusing any that is taken; a new file is held alone.
    for (const char* dir : {"sub", "nodir/x", "a.txt/x", "new"})
        trace.push_back(std::string("mkdir ") + dir + outcome(s.env.createDirectory(s.at(dir))));
    for (const char* dir : {"sub", "a.txt", "nodir", "new"}) {
        const HostResult<int> n = s.env.countDirectoryEntries(s.at(dir));
        trace.push_back(std::string("count ") + dir + " " + std::to_string(n.valueOr(-1)) +
                        outcome(n.status()));
    }
    for (const char* name : {"a.txt", "sub", "nodir/x", "a.txt/x"})
        trace.push_back(std::string("exists ") + name + " " +
                        std::to_string(s.env.pathExists(s.at(name)).valueOr(true)));
    for (const char* name : {"a.txt", "nodir/f", "new/f"}) {
        const HostResult<int> made = s.env.createNewFile(s.at(name));
        trace.push_back(std::string("create ") + name + outcome(made.status()));
        h = made.valueOr(CLOSED_HANDLE);
    }
    open("new/f", OpenMode::HostRead);
    write(h, 0, "made");
    (void)s.env.closeFile(h);
    const std::pair<const char*, const char*> renames[] = {
        {"b.TXT", "a.txt"}, {"missing", "m2"}, {"b.TXT", "nodir/b"}, {"new/f", "new/g"}};
    for (const auto& r : renames)
        trace.push_back(std::string("rename ") + r.first +
                        outcome(s.env.renameNoReplace(s.at(r.first), s.at(r.second))));
    for (const char* name : {"sub", "missing", "new/f", "b.TXT"})
        trace.push_back(std::string("remove ") + name + outcome(s.env.removeFile(s.at(name))));
    return trace;
}

}  // namespace

TEST(MemEnv, BehavesLikeThePosixHost) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("alpha"));
    writeFile(dir / "b.TXT", std::string("bravo"));
    writeFile(dir / "ro.bin", std::string("protected"));
    writeFile(dir / ".hidden", std::string("h"));
    fs::create_directory(dir / "sub");
    writeFile(dir / "sub/c.com", std::string("charlie"));
    ::chmod((dir / "ro.bin").c_str(), 0444);

    // The same files on a new host and on one that reset() emptied after use: it reuses the
    // buffers of the files it held, and must still behave as a new one.
    auto putStartingFiles = [](MemEnv& mem) {
        mem.putFile("a.txt", std::string("alpha"));
        mem.putFile("b.TXT", std::string("bravo"));
        mem.putFile("ro.bin", std::string("protected"), true);
        const std::uint8_t hidden[] = {'h'};
        mem.putFile(".hidden", hidden, sizeof hidden);
        mem.putFile("sub/c.com", std::string("charlie"));
    };
    MemEnv fresh;
    putStartingFiles(fresh);
    MemEnv reused;
    reused.putFile("sub/c.com", MemEnv::Bytes(100000, 7));
    reused.putFile("a.txt", std::string("stale bytes, longer than alpha"), true);
    reused.makeDirectory("ro.bin/inner");
    const int held = reused.openFile("sub/c.com", OpenMode::ImageWrite).value();
    EXPECT_TRUE(reused.flush(held).ok());
    reused.waitKey("");
    reused.reset();
    EXPECT_TRUE(reused.tree().empty());
    EXPECT_EQ(reused.openHandles(), 0);
    EXPECT_EQ(reused.flushes("sub/c.com"), 0);
    EXPECT_EQ(reused.keyWaits(), 0);
    putStartingFiles(reused);

    const std::vector<std::string> posixTrace = script(Side{*defaultEnv(), dir.path()});
    const Snapshot posixFiles = snapshot(dir.path());
    for (MemEnv* mem : {&fresh, &reused}) {
        SCOPED_TRACE(mem == &fresh ? "new host" : "host after reset()");
        const std::vector<std::string> memTrace = script(Side{*mem, ""});
        ASSERT_EQ(memTrace.size(), posixTrace.size());
        for (std::size_t i = 0; i < memTrace.size(); ++i)
            EXPECT_EQ(memTrace[i], posixTrace[i]) << "step " << i;
        EXPECT_EQ(mem->openHandles(), 0);

        // The same files, with the same bytes, are left behind.
        Snapshot fromMem;
        for (const auto& node : mem->tree())
            fromMem[node.first + (node.second.directory ? "/" : "")] = node.second.bytes;
        EXPECT_EQ(fromMem, posixFiles);
    }
}
