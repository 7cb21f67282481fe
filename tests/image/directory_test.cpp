// The in-memory directory: the load and its consistency checks, the allocation map, the queries and
// searches over the entries, the write-back, and how a whole run uses them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "run/driver.h"
#include "session/status.h"
#include "support/mem_env.h"
#include "support/test_support.h"

using namespace z18;
using namespace z18test;

namespace {

CpmName patternOf(const char* chars11) {
    CpmName n;
    std::memcpy(n.chars, chars11, 11);
    return n;
}

// The map the load must build when exactly these blocks are in use.
Bytes mapOf(const std::vector<int>& blocks) {
    Bytes map(ALLOCATION_MAP_SIZE, 0);
    for (int b : blocks) map[static_cast<std::size_t>(b / 8)] |= static_cast<std::uint8_t>(0x80 >> (b % 8));
    return map;
}

Bytes mapIn(const Session& s) { return Bytes(s.allocationMap, s.allocationMap + ALLOCATION_MAP_SIZE); }

// The message names the entry with its control bytes escaped (tests/session/visible_names_test.cpp).
std::string corrupted(const std::string& name) {
    std::ostringstream text;
    text << "Corrupted directory entry '" << visible(name) << "' !!!\n";
    return text.str();
}

// A session over an image file on disk, opened for reading and writing as an erase opens it.
struct OnDisk {
    TempDir dir;
    FaultEnv env{defaultEnv()};
    std::ostringstream out;
    Session s{env, out};
    std::string path;

    explicit OnDisk(const Bytes& image) : path(dir / "disk.z18") {
        writeFile(path, image);
        s.imageDir = dir.path() + "/";
        s.imageName = "disk.z18";
        s.imageHandle = env.openFile(path, OpenMode::ImageWrite).valueOr(CLOSED_HANDLE);
    }
    ~OnDisk() {
        if (s.imageHandle != CLOSED_HANDLE) (void)env.closeFile(s.imageHandle);
    }
    // Counts the writes to the image without ever failing one.
    void countImageWrites() { env.inject(FaultEnv::Op::Write, 1 << 30, FaultEnv::Kind::Fail, "disk.z18"); }
};

// A session whose directory is built in memory, for the queries that never touch the image.
struct InMemory {
    Bytes image = blankImage();
    std::ostringstream out;
    Session s{*defaultEnv(), out};

    InMemory() { sync(); }
    void put(int index, std::uint8_t user, const std::string& name11, std::uint8_t extent = 0,
             std::uint8_t recordCount = 0, const std::vector<int>& blocks = {}) {
        putEntry(image, index, user, name11, extent, recordCount, blocks);
        sync();
    }
    void sync() { std::memcpy(s.directory, image.data() + DIRECTORY_OFFSET, DIRECTORY_SIZE); }

    std::vector<int> search(const char* pattern11) {
        std::vector<int> found;
        for (int i = beginSearch(s, patternOf(pattern11)); i >= 0; i = nextMatch(s)) found.push_back(i);
        return found;
    }
};

// ---------------------------------------------------------------------------------------------
// Loading crafted directories.

struct LoadCase {
    const char* what;
    std::function<void(Bytes&)> craft;
    std::string message;    // empty: the load succeeds
    std::vector<int> used;  // blocks in use after a successful load
};

std::vector<LoadCase> loadCases() {
    return {
        {"fresh directory", [](Bytes&) {}, "", {0}},
        {"block list ends at its first zero",
         [](Bytes& im) {
             putEntry(im, 0, 0, "LIST    TXT", 0, 20, {5, 0, 7});
         },
         "",
         {0, 5}},
        {"block 175 stops the load and nothing after it is examined",
         [](Bytes& im) {
             putEntry(im, 0, 0, "FIRST   COM", 0, 16, {1});
             putEntry(im, 1, 0, "BIG     DAT", 0, 48, {3, 175, 4});
             putEntry(im, 2, 0, "", 0, 0, {});  // blank name: would be reported too
         },
         corrupted("BIG.DAT"),
         {}},
        {"block 255 in the last slot",
         [](Bytes& im) {
             putEntry(im, 4, 3, "LAST", 1, 128, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 255});
         },
         corrupted("LAST"),
         {}},
        {"entry of 32 zero bytes is used and has an empty name",
         [](Bytes& im) { std::memset(entryIn(im, 7), 0, ENTRY_SIZE); },
         corrupted(""),
         {}},
        {"blank name",
         [](Bytes& im) { putEntry(im, 0, 0, "        TXT", 0, 0, {}); },
         corrupted(" .TXT"),
         {}},
        {"blank name and type", [](Bytes& im) { putEntry(im, 0, 0, "", 0, 0, {}); }, corrupted(" "), {}},
        {"bit 7 in a name byte",
         [](Bytes& im) {
             putEntry(im, 0, 0, "AB      COM", 0, 1, {2});
             entryIn(im, 0)[2] |= 0x80;
         },
         corrupted("A\xC2.COM"),
         {}},
        {"bit 7 in every type byte",
         [](Bytes& im) {
             putEntry(im, 0, 0, "AB      COM", 0, 1, {2});
             for (int i = 9; i < 12; ++i) entryIn(im, 0)[i] |= 0x80;
         },
         "",
         {0, 2}},
        {"name A.B with a blank type reads as name A, type B",
         [](Bytes& im) { putEntry(im, 0, 0, "A.B", 0, 1, {6}); },
         "",
         {0, 6}},
        {"name A.B with a type",
         [](Bytes& im) { putEntry(im, 0, 0, "A.B     TXT", 0, 1, {6}); },
         corrupted("A.B.TXT"),
         {}},
        {"wildcard stored in a name",
         [](Bytes& im) { putEntry(im, 0, 0, "A?      COM", 0, 1, {6}); },
         corrupted("A?.COM"),
         {}},
        {"forbidden character in a type",
         [](Bytes& im) { putEntry(im, 0, 0, "A       C;M", 0, 1, {6}); },
         corrupted("A.C;M"),
         {}},
        {"lower-case name", [](Bytes& im) { putEntry(im, 0, 0, "hello   txt", 0, 1, {8}); }, "", {0, 8}},
        {"two entries naming one block",
         [](Bytes& im) {
             putEntry(im, 0, 0, "ONE", 0, 16, {3});
             putEntry(im, 1, 0, "TWO", 0, 32, {3, 4});
         },
         "",
         {0, 3, 4}},
        {"zero byte inside a name",
         [](Bytes& im) { putEntry(im, 0, 0, std::string("AB\0CD   TXT", 11), 0, 1, {9}); },
         "",
         {0, 9}},
        {"free entries are skipped whatever they hold",
         [](Bytes& im) {
             std::memset(entryIn(im, 0), 0, ENTRY_SIZE);
             entryIn(im, 0)[0] = FILLER_BYTE;
             entryIn(im, 0)[16] = 200;
         },
         "",
         {0}},
        {"extent, s1, s2, record count, user number and duplicate names are not checked",
         [](Bytes& im) {
             putEntry(im, 0, 0xFF, "SAME    TXT", 0xEE, 0xFF, {10});
             putEntry(im, 1, 31, "SAME    TXT", 0x80, 0, {174});
             entryIn(im, 1)[13] = 0x7F;
             entryIn(im, 1)[14] = 0xE5;
         },
         "",
         {0, 10, 174}},
    };
}

TEST(LoadDirectory, CraftedEntries) {
    for (const LoadCase& c : loadCases()) {
        SCOPED_TRACE(c.what);
        Bytes image = blankImage();
        c.craft(image);
        OnDisk d(image);
        ASSERT_NE(d.s.imageHandle, CLOSED_HANDLE);
        d.countImageWrites();

        const int loaded = loadDirectory(d.s);
        EXPECT_EQ(d.out.str(), c.message);
        EXPECT_EQ(d.env.calls(FaultEnv::Op::Write), 0);
        if (c.message.empty()) {
            EXPECT_EQ(loaded, 1);
            EXPECT_EQ(Bytes(d.s.directory, d.s.directory + DIRECTORY_SIZE), directoryOf(image));
            EXPECT_EQ(mapIn(d.s), mapOf(c.used));
        } else {
            EXPECT_EQ(loaded, 0);
        }
    }
}

TEST(LoadDirectory, FreshDirectoryQueries) {
    OnDisk d(blankImage());
    ASSERT_EQ(loadDirectory(d.s), 1);
    EXPECT_EQ(countFreeBlocks(d.s), 174);
    EXPECT_EQ(countFreeEntries(d.s), 64);
    EXPECT_EQ(firstFreeBlock(d.s), 1);
    EXPECT_EQ(firstFreeEntry(d.s), 0);
    EXPECT_EQ(beginSearch(d.s, patternOf("???????????")), -1);
}

TEST(LoadDirectory, ReadFailureOrShortRead) {
    for (FaultEnv::Kind kind : {FaultEnv::Kind::Fail, FaultEnv::Kind::Short}) {
        Bytes image = blankImage();
        putEntry(image, 0, 0, "A", 0, 1, {1});
        OnDisk d(image);
        d.env.inject(FaultEnv::Op::Read, 1, kind, "disk.z18");
        EXPECT_EQ(loadDirectory(d.s), 0);
        EXPECT_EQ(d.out.str(), "Error on read from the image 'disk.z18' !!!\n");
        EXPECT_EQ(readFile(d.path), image);
    }
}

// A rebuilt map starts from nothing: what an earlier load marked does not survive.
TEST(LoadDirectory, RebuildsTheMapEachTime) {
    Bytes image = blankImage();
    putEntry(image, 0, 0, "A", 0, 1, {1});
    OnDisk d(image);
    std::memset(d.s.allocationMap, 0xFF, sizeof d.s.allocationMap);
    ASSERT_EQ(loadDirectory(d.s), 1);
    EXPECT_EQ(mapIn(d.s), mapOf({0, 1}));
}

// ---------------------------------------------------------------------------------------------
// The allocation map and the free-space queries.

TEST(AllocationMap, BitLayoutAndRefusedBlocks) {
    InMemory m;
    for (int b : {0, 9, 174}) EXPECT_EQ(markBlock(m.s, static_cast<std::uint8_t>(b), 1), 1);
    Bytes expected(ALLOCATION_MAP_SIZE, 0);
    expected[0] = 0x80;
    expected[1] = 0x40;
    expected[21] = 0x02;
    EXPECT_EQ(mapIn(m.s), expected);

    for (int b : {175, 176, 255}) EXPECT_EQ(markBlock(m.s, static_cast<std::uint8_t>(b), 1), 0);
    EXPECT_EQ(mapIn(m.s), expected);

    // Only 1 sets; any other value clears.
    EXPECT_EQ(markBlock(m.s, 9, 0), 1);
    EXPECT_EQ(markBlock(m.s, 174, 2), 1);
    EXPECT_EQ(markBlock(m.s, 0, -1), 1);
    EXPECT_EQ(mapIn(m.s), Bytes(ALLOCATION_MAP_SIZE, 0));
}

TEST(AllocationMap, FullAndEmptyMaps) {
    InMemory m;
    std::memset(m.s.allocationMap, 0, sizeof m.s.allocationMap);
    EXPECT_EQ(firstFreeBlock(m.s), 0);
    EXPECT_EQ(countFreeBlocks(m.s), 175);

    for (int b = 0; b < BLOCK_COUNT; ++b) markBlock(m.s, static_cast<std::uint8_t>(b), 1);
    EXPECT_EQ(m.s.allocationMap[21], 0xFE);  // the 176th bit belongs to no block
    EXPECT_EQ(firstFreeBlock(m.s), 175);
    EXPECT_EQ(countFreeBlocks(m.s), 0);

    markBlock(m.s, 100, 0);
    EXPECT_EQ(firstFreeBlock(m.s), 100);
    EXPECT_EQ(countFreeBlocks(m.s), 1);

    // Even with the spare bit set by hand it is neither counted nor offered.
    std::memset(m.s.allocationMap, 0xFF, sizeof m.s.allocationMap);
    EXPECT_EQ(countFreeBlocks(m.s), 0);
    EXPECT_EQ(firstFreeBlock(m.s), 175);
}

TEST(AllocationMap, FreeEntries) {
    InMemory m;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) m.put(i, static_cast<std::uint8_t>(i % 32), "F");
    EXPECT_EQ(firstFreeEntry(m.s), -1);
    EXPECT_EQ(countFreeEntries(m.s), 0);

    m.s.entryAt(63)[0] = FILLER_BYTE;
    EXPECT_EQ(firstFreeEntry(m.s), 63);
    m.s.entryAt(40)[0] = FILLER_BYTE;
    EXPECT_EQ(firstFreeEntry(m.s), 40);
    EXPECT_EQ(countFreeEntries(m.s), 2);
}

// ---------------------------------------------------------------------------------------------
// Searching.

TEST(Search, OrderUserAreasAndExtents) {
    InMemory m;
    m.put(0, 0, "AAA     COM", 0);
    m.put(1, 5, "BBB     COM", 1);         // another user area is found too
    m.put(2, 0, "CCC     COM", 2);         // a later entry of some file: never a match
    m.put(3, FILLER_BYTE, "DDD     COM");  // free
    m.put(4, 0xFF, "EEE     TXT", 0);
    m.put(5, 0, "FFF     COM", 0xFF);  // extents are compared unsigned
    m.put(6, 0, "GGG     COM", 0x80);
    m.put(9, 0, "HHH        ", 1);
    EXPECT_EQ(m.search("???????????"), (std::vector<int>{0, 1, 4, 9}));
    EXPECT_EQ(m.search("????????COM"), (std::vector<int>{0, 1}));
    EXPECT_EQ(m.search("????????   "), (std::vector<int>{9}));  // "*" finds blank types only
    EXPECT_EQ(m.search("EEE     TXT"), (std::vector<int>{4}));
    EXPECT_EQ(m.search("CCC     COM"), (std::vector<int>{}));
    EXPECT_EQ(m.search("DDD     COM"), (std::vector<int>{}));
}

TEST(Search, AttributeBitsAreIgnoredButCaseIsNot) {
    InMemory m;
    m.put(0, 0, "AB      COM");
    m.put(1, 0, "hello   txt");
    for (int i = 1; i < 12; ++i) m.s.entryAt(0)[i] |= 0x80;  // every name and type byte
    EXPECT_EQ(m.search("AB      COM"), (std::vector<int>{0}));
    EXPECT_EQ(m.search("???????????"), (std::vector<int>{0, 1}));
    EXPECT_EQ(m.search("HELLO   TXT"), (std::vector<int>{}));
    EXPECT_EQ(m.search("hello   ???"), (std::vector<int>{1}));

    // The same through a loaded image and a converted mask: the lower-case entry loads, "*.*"
    // finds it, the name typed in any case does not.
    Bytes image = blankImage();
    putEntry(image, 0, 0, "AB      COM", 0, 1, {1});
    putEntry(image, 1, 0, "hello   txt", 0, 1, {2});
    OnDisk d(image);
    ASSERT_EQ(loadDirectory(d.s), 1);
    ASSERT_EQ(makeCpmName(d.s, &d.s.maskName, "*.*"), 1);
    EXPECT_EQ(beginSearch(d.s, d.s.maskName), 0);
    EXPECT_EQ(nextMatch(d.s), 1);
    ASSERT_EQ(makeCpmName(d.s, &d.s.maskName, "hello.txt"), 1);
    EXPECT_EQ(beginSearch(d.s, d.s.maskName), -1);
}

TEST(Search, OneSearchAtATimeWithACopiedPattern) {
    InMemory m;
    m.put(0, 0, "A       COM");
    m.put(1, 0, "B       TXT");
    m.put(2, 0, "C       COM");
    m.put(3, 0, "D       TXT");

    // The pattern is copied: changing the mask during a search does not steer it.
    ASSERT_EQ(makeCpmName(m.s, &m.s.maskName, "*.COM"), 1);
    EXPECT_EQ(beginSearch(m.s, m.s.maskName), 0);
    ASSERT_EQ(makeCpmName(m.s, &m.s.maskName, "*.TXT"), 1);
    EXPECT_EQ(nextMatch(m.s), 2);

    // A new search replaces the old one and starts over from the first entry.
    EXPECT_EQ(beginSearch(m.s, m.s.maskName), 1);
    EXPECT_EQ(nextMatch(m.s), 3);
    EXPECT_EQ(nextMatch(m.s), -1);
    EXPECT_EQ(nextMatch(m.s), -1);  // and keeps saying so
    EXPECT_EQ(m.s.searchCursor, 64);
    EXPECT_EQ(beginSearch(m.s, patternOf("???????????")), 0);

    // Entries freed ahead of the cursor are skipped; the one just returned is not revisited.
    m.s.entryAt(0)[0] = FILLER_BYTE;
    m.s.entryAt(2)[0] = FILLER_BYTE;
    EXPECT_EQ(nextMatch(m.s), 1);
    EXPECT_EQ(nextMatch(m.s), 3);
    EXPECT_EQ(nextMatch(m.s), -1);
}

// ---------------------------------------------------------------------------------------------
// Following one file through its entries.

TEST(FileEntries, FindExtentComparesTheWholeKey) {
    InMemory m;
    m.put(2, 0, "FILE    DAT", 0);
    m.put(5, 1, "FILE    DAT", 0);  // other user
    m.put(7, 0, "FILE    DAT", 2);
    m.put(9, 0, "FILE    DAT", 4);
    m.put(63, 0, "FILE    DAT", 4);
    m.s.entryAt(9)[9] |= 0x80;  // read-only copy: a different key
    const FileKey key = keyOf(m.s, 2);
    EXPECT_EQ(findExtent(m.s, key, 0), 2);
    EXPECT_EQ(findExtent(m.s, key, 3), 7);
    EXPECT_EQ(findExtent(m.s, key, 8), 63);
    EXPECT_EQ(findExtent(m.s, key, 63), 63);
    EXPECT_EQ(findExtent(m.s, key, 64), -1);
    EXPECT_EQ(findExtent(m.s, keyOf(m.s, 9), 0), 9);

    // A free entry matches only a key that begins with the filler byte.
    FileKey freeKey;
    std::memcpy(freeKey.bytes, m.s.entryAt(0), KEY_SIZE);
    EXPECT_EQ(findExtent(m.s, freeKey, 0), 0);
}

TEST(FileEntries, RecordCountOverScatteredEntries) {
    InMemory m;
    m.put(1, 0, "OTHER   TXT", 0, 7);
    m.put(3, 0, "BIG     DAT", 2, 5);    // the later entry may come first in the directory
    m.put(8, 2, "BIG     DAT", 1, 128);  // another user's file of the same name
    m.put(20, 0, "BIG     DAT", 1, 128);
    m.put(30, 0, "EMPTY   TXT", 0, 0);
    m.put(31, 0, "HALF    TXT", 0, 128);
    EXPECT_EQ(fileRecordCount(m.s, keyOf(m.s, 20)), 128 + 128 + 5);
    EXPECT_EQ(fileRecordCount(m.s, keyOf(m.s, 8)), 256);
    EXPECT_EQ(fileRecordCount(m.s, keyOf(m.s, 1)), 7);
    EXPECT_EQ(fileRecordCount(m.s, keyOf(m.s, 30)), 0);
    EXPECT_EQ(fileRecordCount(m.s, keyOf(m.s, 31)), 128);
    FileKey absent;
    std::memcpy(absent.bytes, "\0NOSUCH  TXT", KEY_SIZE);
    EXPECT_EQ(fileRecordCount(m.s, absent), 0);
}

// ---------------------------------------------------------------------------------------------
// Writing the directory back.

TEST(SaveDirectory, WritesTheDirectoryAndNothingElse) {
    Bytes image = randomBytes(IMAGE_SIZE, 18);
    std::memset(image.data() + DIRECTORY_OFFSET, FILLER_BYTE, DIRECTORY_SIZE);
    putEntry(image, 0, 0, "OLD     TXT", 0, 1, {1});
    OnDisk d(image);
    d.countImageWrites();
    ASSERT_EQ(loadDirectory(d.s), 1);

    d.s.entryAt(0)[0] = FILLER_BYTE;
    std::memcpy(d.s.entryAt(5), "\0NEW     TXT", 12);
    d.s.entryAt(5)[16] = 3;
    EXPECT_EQ(saveDirectory(d.s), 1);
    EXPECT_EQ(d.out.str(), "");
    EXPECT_EQ(d.env.calls(FaultEnv::Op::Write), 1);
    EXPECT_FALSE(d.s.imageUnflushed);  // on the disk when it returns, whoever calls it

    std::memcpy(image.data() + DIRECTORY_OFFSET, d.s.directory, DIRECTORY_SIZE);
    EXPECT_EQ(readFile(d.path), image);
}

TEST(SaveDirectory, FailedOrShortWrite) {
    for (FaultEnv::Kind kind : {FaultEnv::Kind::Fail, FaultEnv::Kind::Short}) {
        OnDisk d(blankImage());
        ASSERT_EQ(loadDirectory(d.s), 1);
        d.env.inject(FaultEnv::Op::Write, 1, kind, "disk.z18");
        EXPECT_EQ(saveDirectory(d.s), 0);
        EXPECT_EQ(d.out.str(), "Error on write to the image 'disk.z18' !!!\n");
        EXPECT_EQ(d.env.calls(FaultEnv::Op::Write), 1);  // tried once, not again
    }
}

// ---------------------------------------------------------------------------------------------
// The directory and the mask in a whole run.

Bytes imageWithHello() {
    Bytes image = blankImage();
    putEntry(image, 0, 0, "HELLO   TXT", 0, 1, {1});
    return image;
}

Bytes imageWithCorruptEntry() {
    Bytes image = imageWithHello();
    putEntry(image, 1, 0, "BAD     DAT", 0, 1, {200});
    return image;
}

TEST(SessionDirectory, BadMaskIsReportedAsTypedAfterAnyFormat) {
    struct Case {
        std::vector<std::string> args;  // after the image argument
        std::string before;             // what precedes the status line
        std::string mask;
        Bytes imageAfter;
    };
    const Case cases[] = {
        {{"/c", "a;b"}, "", "a;b", imageWithHello()},
        {{"/x", "sub/x=y.txt"}, "", "x=y.txt", imageWithHello()},
        {{"/e", "toolongname.t"}, "", "toolongname.t", imageWithHello()},
        // The quick format reaches the image before the mask is looked at.
        {{"/q", "/a", "A.B.C"}, "Directory of image 'disk.z18' was cleaned.\n", "A.B.C", blankImage()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        TempDir dir;
        writeFile(dir / "disk.z18", imageWithHello());
        InProcess run;
        std::vector<std::string> args{dir / "disk"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run.run(args), 1);
        EXPECT_EQ(run.output(), bannerText() + c.before + "Name of tihs file '" + c.mask +
                                    "' has incorrect format !!!\n\n");
        EXPECT_EQ(readFile(dir / "disk.z18"), c.imageAfter);
    }
}

TEST(SessionDirectory, CorruptDirectoryStopsEveryCommandBeforeTheMask) {
    for (const char* command : {"/c", "/e", "/x", "/a"}) {
        SCOPED_TRACE(command);
        TempDir dir;
        writeFile(dir / "disk.z18", imageWithCorruptEntry());
        InProcess run;
        EXPECT_EQ(run.run({dir / "disk", command, "bad;mask"}), 1);
        EXPECT_EQ(run.output(), bannerText() + corrupted("BAD.DAT") + "\n");
        EXPECT_EQ(readFile(dir / "disk.z18"), imageWithCorruptEntry());
    }
    // A quick format clears the directory before it is loaded, which repairs the image. Being a
    // format alone, it converts no mask.
    TempDir dir;
    writeFile(dir / "disk.z18", imageWithCorruptEntry());
    InProcess run;
    EXPECT_EQ(run.run({dir / "disk", "/q"}), 0);
    EXPECT_EQ(run.output(), bannerText() + "Directory of image 'disk.z18' was cleaned.\n\n");
}

TEST(SessionDirectory, EraseWriteBackFailureIsReportedAfterTheClosingLine) {
    TempDir dir;
    writeFile(dir / "disk.z18", imageWithHello());
    InProcess run;
    run.env.inject(FaultEnv::Op::Write, 1, FaultEnv::Kind::Fail, ".z18");
    EXPECT_EQ(run.run({dir / "disk", "/e", "*.*"}), 0);
    const std::string tail = "\nDone. 1 file(s) erased.\n\nError on write to the image 'disk.z18' !!!\n\n";
    const std::string out = run.output();
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
    EXPECT_EQ(readFile(dir / "disk.z18"), imageWithHello());
    EXPECT_EQ(run.env.calls(FaultEnv::Op::Write), 1);
}

TEST(SessionDirectory, EraseOfNothingStillWritesTheDirectory) {
    TempDir dir;
    writeFile(dir / "disk.z18", imageWithHello());
    InProcess run;
    run.env.inject(FaultEnv::Op::Write, 1 << 30, FaultEnv::Kind::Fail, ".z18");
    EXPECT_EQ(run.run({dir / "disk", "/e", "NOSUCH.TXT"}), 0);
    EXPECT_EQ(run.env.calls(FaultEnv::Op::Write), 1);
    EXPECT_EQ(readFile(dir / "disk.z18"), imageWithHello());
}

TEST(SessionDirectory, AddThatStopsHalfWayStillWritesTheDirectory) {
    // Blocks 1 to 172 are taken, so one small file fits and a three-block file does not.
    Bytes image = blankImage();
    int block = 1;
    for (int e = 0; block <= 172; ++e) {
        putEntry(image, e, 0, "FULL    DAT", static_cast<std::uint8_t>(2 * e + 1), 128, {});
        for (int slot = 0; slot < BLOCKS_PER_ENTRY && block <= 172; ++slot)
            entryIn(image, e)[16 + slot] = static_cast<std::uint8_t>(block++);
    }
    TempDir dir;
    writeFile(dir / "disk.z18", image);
    writeFile(dir / "a.txt", std::string(100, 'a'));
    writeFile(dir / "z.txt", std::string(5000, 'z'));
    InProcess run;
    EXPECT_EQ(run.run({dir / "disk", "/a", dir / "*.txt"}), 0);
    const std::string out = run.output();
    const std::size_t added = out.find("File 'A.TXT' added\n");
    const std::size_t full = out.find("Disk full !!!\n");
    EXPECT_NE(added, std::string::npos) << out;
    EXPECT_NE(full, std::string::npos) << out;
    EXPECT_LT(added, full);

    const Bytes after = readFile(dir / "disk.z18");
    ASSERT_EQ(after.size(), IMAGE_SIZE);
    const std::uint8_t* e = after.data() + DIRECTORY_OFFSET + 11 * ENTRY_SIZE;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 12), std::string("\0A       TXT", 12));
    EXPECT_EQ(e[16], 173);
}

// ---------------------------------------------------------------------------------------------
// Random directories: every one loads or is rejected as corrupted, and nothing that follows a
// load (catalogue, extraction of everything) strays outside the image's data blocks.

// The image lives in memory; any transfer that leaves its bounds is recorded, not performed. What
// a session never asks for (new folders, renames) is an empty in-memory host's.
class MemoryImageEnv : public MemEnv {
public:
    static constexpr int IMAGE = 3;
    static constexpr int HOST = 4;
    Bytes image = blankImage();
    std::vector<std::string> strays;
    int imageReads = 0;
    int imageWrites = 0;

    HostResult<int> openFile(const std::string& path, OpenMode mode) override {
        if (path.empty()) return HostStatus(HostError{HostErrorKind::NotFound, 0});
        return mode == OpenMode::HostCreate ? HOST : IMAGE;
    }
    HostStatus closeFile(int) override { return HostStatus(); }
    HostStatus readAt(int handle, std::uint64_t at, void* buffer, std::size_t n, std::size_t* done) override {
        *done = 0;
        if (handle != IMAGE) return stray("read from a host file");
        ++imageReads;
        // Reads are the directory itself or data blocks 1 to 174.
        const bool isDirectory = at == DIRECTORY_OFFSET && n == DIRECTORY_SIZE;
        const std::uint64_t dataEnd = blockOffset(BLOCK_COUNT);
        if (!isDirectory && (at < blockOffset(1) || at + n > dataEnd || n > BLOCK_SIZE))
            return stray("read of " + std::to_string(n) + " at " + std::to_string(at));
        std::memcpy(buffer, image.data() + at, n);
        *done = n;
        return HostStatus();
    }
    HostStatus writeAt(int handle, std::uint64_t, const void*, std::size_t n, std::size_t* done) override {
        *done = 0;
        if (handle == IMAGE) {
            ++imageWrites;
            return stray("image write");
        }
        if (n > BLOCK_SIZE) return stray("host write of " + std::to_string(n));
        *done = n;
        return HostStatus();
    }
    HostStatus flush(int) override { return stray("flush"); }
    HostResult<std::uint64_t> fileSize(int) override { return static_cast<std::uint64_t>(image.size()); }
    HostResult<std::vector<FoundEntry>> findFiles(const std::string&) override {
        return HostStatus(HostError{HostErrorKind::NotFound, 0});
    }
    void waitKey(const char*) override {}
    std::string executablePath() override { return std::string(); }

private:
    HostStatus stray(const std::string& what) {
        strays.push_back(what);
        return HostStatus(HostError{HostErrorKind::Other, 0});
    }
};

// Mostly plausible entries with the occasional fault, so that both outcomes are common.
// A small, fast generator: the rounds must stay quick under the sanitizers too.
struct XorShift {
    std::uint64_t state;
    std::uint32_t operator()() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::uint32_t>(state >> 32);
    }
};

void randomDirectory(XorShift& gen, std::uint8_t* dir) {
    auto pick = [&](std::uint32_t n) { return gen() % n; };
    if (pick(8) == 0) {
        for (std::size_t i = 0; i < DIRECTORY_SIZE; i += 4) {
            const std::uint32_t r = gen();
            std::memcpy(dir + i, &r, 4);
        }
        return;
    }
    static const char kNameChars[] = "ABCXYZ019-$abz";
    const std::uint32_t faultOdds = 300 + pick(6000);
    for (int e = 0; e < DIRECTORY_ENTRIES; ++e) {
        std::uint8_t* p = dir + static_cast<std::size_t>(e) * ENTRY_SIZE;
        for (std::size_t i = 0; i < ENTRY_SIZE; i += 4) {
            const std::uint32_t r = gen();
            std::memcpy(p + i, &r, 4);
        }
        if (pick(3) == 0) {
            p[0] = FILLER_BYTE;
            continue;
        }
        p[0] = static_cast<std::uint8_t>(pick(4) == 0 ? gen() % 0xE5 : pick(16));
        // A name of 1 to 8 characters and a type of 0 to 3, space-filled, then the odd fault.
        const std::uint32_t nameLength = 1 + pick(8), typeLength = pick(4);
        for (std::uint32_t i = 0; i < 11; ++i) {
            const bool filled = i < 8 ? i < nameLength : i - 8 < typeLength;
            p[1 + i] = filled ? static_cast<std::uint8_t>(kNameChars[pick(sizeof kNameChars - 1)]) : ' ';
            if (pick(faultOdds) == 0) p[1 + i] = static_cast<std::uint8_t>(gen());
        }
        for (int i = 9; i < 12; ++i)
            if (pick(4) == 0) p[i] |= 0x80;
        p[12] = static_cast<std::uint8_t>(pick(4) == 0 ? gen() : pick(4));
        const std::uint32_t blocks = pick(17);
        for (std::uint32_t i = 0; i < 16; ++i) {
            std::uint8_t b = static_cast<std::uint8_t>(1 + pick(BLOCK_COUNT - 1));
            if (i == blocks) b = 0;  // the list ends; what follows is never looked at
            if (i > blocks) b = static_cast<std::uint8_t>(gen());
            if (pick(faultOdds) == 0) b = static_cast<std::uint8_t>(BLOCK_COUNT + pick(256 - BLOCK_COUNT));
            p[16 + i] = b;
        }
    }
}

TEST(RandomDirectories, LoadOrRejectWithoutStraying) {
    const auto started = std::chrono::steady_clock::now();
    XorShift gen{0x218218218ULL};
    MemoryImageEnv env;
    for (std::size_t i = 0; i < env.image.size(); ++i) env.image[i] = static_cast<std::uint8_t>(i * 7);
    int loaded = 0, rejected = 0, filesSeen = 0;

    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::uint8_t* dir = env.image.data() + DIRECTORY_OFFSET;
        randomDirectory(gen, dir);
        env.imageReads = 0;
        std::ostringstream out;
        Session s(env, out);
        s.imageName = "fuzz.z18";
        s.imageHandle = MemoryImageEnv::IMAGE;

        if (!loadDirectory(s)) {
            ++rejected;
            const std::string text = out.str();
            const std::string head = "Corrupted directory entry '";
            ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
            ASSERT_EQ(text, corrupted(s.entryInfo.displayName));
            ASSERT_EQ(env.imageReads, 1);
            continue;
        }
        ++loaded;
        ASSERT_EQ(out.str(), "");
        ASSERT_EQ(std::memcmp(s.directory, dir, DIRECTORY_SIZE), 0);
        // Every block named by a used entry is in range and marked; the spare bit stays clear.
        int inUse = 0;
        for (int b = 0; b < BLOCK_COUNT; ++b) inUse += (s.allocationMap[b / 8] >> (7 - b % 8)) & 1;
        ASSERT_EQ(s.allocationMap[0] & 0x80, 0x80);
        ASSERT_EQ(s.allocationMap[21] & 0x01, 0);
        ASSERT_EQ(countFreeBlocks(s), BLOCK_COUNT - inUse);
        for (int e = 0; e < DIRECTORY_ENTRIES; ++e) {
            const std::uint8_t* p = s.entryAt(e);
            if (p[0] == FILLER_BYTE) continue;
            for (int k = 16; k < 32 && p[k] != 0; ++k) {
                ASSERT_LT(p[k], BLOCK_COUNT);
                ASSERT_TRUE(s.allocationMap[p[k] / 8] & (0x80 >> (p[k] % 8)));
            }
        }

        // What the commands do with a loaded directory stays inside the data blocks.
        ASSERT_EQ(makeCpmName(s, &s.maskName, "*.*"), 1);
        listCatalogue(s);
        extractFiles(s);
        for (int m = beginSearch(s, s.maskName); m >= 0; m = nextMatch(s)) {
            ASSERT_NE(s.entryAt(m)[0], FILLER_BYTE);
            ASSERT_LE(s.entryAt(m)[entry::EXTENT], 1);
            ++filesSeen;
        }
        ASSERT_EQ(env.strays, std::vector<std::string>{});
    }
    EXPECT_EQ(env.imageWrites, 0);
    // Both outcomes must be common, or the generator tests only one path.
    EXPECT_GT(loaded, 300);
    EXPECT_GT(rejected, 300);
    EXPECT_GT(filesSeen, 3000);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    std::cout << "[ info ] " << loaded << " loaded, " << rejected << " rejected, " << filesSeen
              << " files found in " << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()
              << " ms\n";
}

}  // namespace
