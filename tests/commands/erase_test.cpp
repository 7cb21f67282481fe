// Erasing files: which entries are freed, that only their user byte changes, the raw name in the
// per-file line, and that freed blocks serve the next add.
#include "commands/command_util.h"

using namespace cmdtest;
using namespace z18test;

namespace {

const std::string HEAD = "Erasing file(s) from 'disk.z18', mask: '";

// Runs "/e mask" and checks that the image changed only in byte 0 of the entries `freed`, which
// are now 0xE5.
Result erase(const Bytes& image, const std::string& mask, const std::vector<int>& freed) {
    z18::MemEnv host;
    host.putFile("disk.z18", image);
    const Result r = run(host, {"disk", "/e", mask});
    EXPECT_EQ(r.status, 0);
    Bytes expected = image;
    for (int i : freed) entryIn(expected, i)[z18::entry::USER] = z18::FILLER_BYTE;
    const Bytes after = host.bytes("disk.z18");
    for (int i = 0; i < 64; ++i) EXPECT_EQ(entryBytes(after, i), entryBytes(expected, i)) << "entry " << i;
    EXPECT_TRUE(after == expected) << "bytes outside the directory changed";
    return r;
}

}  // namespace

TEST(Erase, Example) {
    Bytes image = blankImage();
    putEntry(image, 0, 0, "TEST    COM", 1, 128, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    putEntry(image, 1, 0, "TEST    COM", 2, 7, {17});
    putEntry(image, 2, 0, "README  TXT", 0, 3, {18});
    const Result r = erase(image, "*.COM", {0, 1});
    EXPECT_EQ(r.body, HEAD +
                          "*.COM'\n\n"
                          "File 'TEST    COM' eresed\n"
                          "\n"
                          "Done. 1 file(s) erased.\n"
                          "\n"
                          "\n");
}

TEST(Erase, WhichEntriesGo) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> entries;
        const char* mask;
        std::vector<int> freed;
        std::string lines;  // per-file lines and the count
    };
    const std::string test = "File 'TEST    COM' eresed\n";
    const Case cases[] = {
        {"several entries, scattered, with another file between",
         [](Bytes& im) {
             putEntry(im, 0, 0, "TEST    COM", 1, 128, {1});
             putEntry(im, 1, 0, "OTHER   COM", 0, 1, {2});
             putEntry(im, 2, 0, "TEST    COM", 3, 128, {3});
             putEntry(im, 5, 0, "TEST    COM", 4, 1, {4});
         },
         "test.com",
         {0, 2, 5},
         test + "\nDone. 1 file(s) erased.\n\n"},
        {"an entry before the first entry goes too",
         [](Bytes& im) {
             putEntry(im, 0, 0, "TEST    COM", 2, 4, {1});
             putEntry(im, 1, 0, "TEST    COM", 1, 128, {2});
         },
         "TEST.COM",
         {0, 1},
         test + "\nDone. 1 file(s) erased.\n\n"},
        {"two first entries with the same key: one file, both freed",
         [](Bytes& im) {
             putEntry(im, 3, 0, "TEST    COM", 0, 1, {1});
             putEntry(im, 4, 0, "TEST    COM", 0, 2, {2});
         },
         "*.*",
         {3, 4},
         test + "\nDone. 1 file(s) erased.\n\n"},
        {"two user areas: two files",
         [](Bytes& im) {
             putEntry(im, 0, 9, "TEST    COM", 0, 1, {1});
             putEntry(im, 1, 0, "TEST    COM", 0, 1, {2});
             putEntry(im, 2, 9, "TEST    COM", 2, 1, {3});
         },
         "TEST.*",
         {0, 1, 2},
         test + test + "\nDone. 2 file(s) erased.\n\n"},
        {"read-only and hidden: the line shows the stored bytes, escaped where they are no UTF-8",
         [](Bytes& im) {
             putEntry(im, 0, 0, withBits("RO      COM", {8}), 0, 1, {1});
             putEntry(im, 1, 0, withBits("HID     COM", {9, 10}), 0, 1, {2});
             putEntry(im, 2, 0, withBits("HID     COM", {9, 10}), 2, 1, {3});
             putEntry(im, 3, 0, "HID     COM", 2, 1, {4});  // other attribute bits: still the file's
         },
         "*.COM",
         {0, 1, 2, 3},
         "File 'RO      \\xC3OM' eresed\nFile 'HID     C\\xCF\\xCD' eresed\n\nDone. 2 file(s) erased.\n\n"},
        {"no match",
         [](Bytes& im) { putEntry(im, 0, 0, "TEST    COM", 0, 1, {1}); },
         "*.TXT",
         {},
         "\nDone. 0 file(s) erased.\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = blankImage();
        c.entries(image);
        const Result r = erase(image, c.mask, c.freed);
        EXPECT_EQ(r.body, HEAD + c.mask + "'\n\n" + c.lines + "\n");
    }
}

// The map is rebuilt by the next load, so an add after an erase takes the freed blocks and entries.
TEST(Erase, FreedBlocksServeTheNextAdd) {
    z18::MemEnv host;
    const Bytes first = randomBytes(3 * 2048, 1), second = randomBytes(2048, 2), third = randomBytes(5000, 3);
    host.putFile("A.BIN", first);
    host.putFile("B.BIN", second);
    ASSERT_EQ(run(host, {"disk", "/a", "*.BIN"}).status, 0);  // A: blocks 1-3, B: block 4
    EXPECT_EQ(run(host, {"disk", "/e", "a.bin"}).status, 0);
    host.putFile("C.BIN", third);
    const Result add = run(host, {"disk", "/a", "C.BIN"});
    EXPECT_NE(add.body.find("File 'C.BIN' added"), std::string::npos) << add.body;
    const Bytes image = host.bytes("disk.z18");
    EXPECT_EQ(entryBytes(image, 0), makeEntry(0, "C       BIN", 0, 40, {1, 2, 3}));
    EXPECT_EQ(entryBytes(image, 1), makeEntry(0, "B       BIN", 0, 16, {4}));
    EXPECT_EQ(blocksData(image, 1, 3), padded(third, 2048));
    EXPECT_EQ(blocksData(image, 4, 1), second);
}
