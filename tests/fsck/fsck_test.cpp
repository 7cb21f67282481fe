// z18fsck on images damaged from a known-good one, one kind of damage per row: the check's
// verdict, salvage against the files put in, and the repaired image judged by z18man and
// fsck.cpm; the image itself never changes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "fsck/fsck.h"
#include "support/cpmtools.h"
#include "support/test_support.h"

using namespace z18test;

namespace {

int fsck(const std::vector<std::string>& args, std::string* out) {
    std::vector<const char*> argv{"z18fsck"};
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream text;
    z18::Session s(*z18::defaultEnv(), text);
    const int status = z18::fsck::runFsck(s, static_cast<int>(argv.size()), argv.data());
    *out = text.str();
    return status;
}

void setEntry(Bytes& image, int index, std::size_t at, std::initializer_list<int> bytes) {
    for (int b : bytes) entryIn(image, index)[at++] = static_cast<std::uint8_t>(b);
}

struct Case {
    const char* name;
    std::function<void(Bytes&, const TempDir&)> damage;
    const char* finding;              // a problem's code and subject; null for a clean image
    std::vector<std::string> intact;  // host files salvage must give back byte for byte
    // A file salvage gives back with zeros in [from, to): a hole, or what damage took.
    struct Zeroed {
        const char* name;
        std::size_t from, to;
    };
    std::vector<Zeroed> zeroed = {};
    int salvaged = -1;  // files salvage writes, where the row counts them
};

}  // namespace

TEST(Fsck, EachDamageCheckedSalvagedAndRepaired) {
    ASSERT_TRUE(haveCpmtools()) << "cpmtools is not installed";
    // A.TXT in block 1, B.BIN in blocks 2-4, C.DAT in two entries (blocks 5-20 and 21-24).
    const std::map<std::string, Bytes> files = {
        {"A.TXT", randomBytes(100, 1)}, {"B.BIN", randomBytes(5000, 2)}, {"C.DAT", randomBytes(40000, 3)}};
    TempDir base;
    for (const auto& f : files) writeFile(base / f.first, f.second);
    InProcess add;
    ASSERT_EQ(add.run({base / "base", "/a", base / "*.*"}), 0) << add.output();
    const Bytes good = readFile(base / "base.z18");
    const auto cpmcp = [](const TempDir& d, const std::string& from, const std::string& to) {
        writeFile(d / from, std::string("made by cpmtools\n"));
        writeDiskdefs(d.path());
        ASSERT_EQ(cpmtool("cpmcp", {"disk.z18", from, to}, d.path()).status, 0);
    };

    const Case cases[] = {
        {"clean", [](Bytes&, const TempDir&) {}, nullptr, {"A.TXT", "B.BIN", "C.DAT"}},
        {"cpmtools names",
         [&](Bytes& img, const TempDir& d) {
             writeFile(d / "disk.z18", img);
             cpmcp(d, "od(1).bin", "0:od(1).bin");
             cpmcp(d, "50%.com", "3:50%.com");
             img = readFile(d / "disk.z18");
         },
         "P304 entry 4 user 0 'OD(1).BIN'",
         {"A.TXT", "B.BIN", "C.DAT", "OD(1).BIN", "u3-50%.COM"}},
        {"block past the end",
         [](Bytes& img, const TempDir&) { setEntry(img, 1, z18::entry::BLOCKS + 1, {200}); },
         "P402 entry 1 user 0 'B.BIN'",
         {"A.TXT", "C.DAT"},
         {{"B.BIN", 2048, 4096}}},
        {"shared block",
         [](Bytes& img, const TempDir&) { setEntry(img, 0, z18::entry::BLOCKS, {2}); },
         "P403 entry 0 user 0 'A.TXT'",
         {"B.BIN", "C.DAT"}},
        {"user byte",
         [](Bytes& img, const TempDir&) { setEntry(img, 0, 0, {20}); },
         "P301 entry 0 user 20 'A.TXT'",
         {"u4-A.TXT", "B.BIN", "C.DAT"}},
        {"no file",
         [](Bytes& img, const TempDir&) {
             setEntry(img, 0, 0, {0x40, 0x01});
         },
         "P303 entry 0 user 64 '\\x01.TXT'",
         {"B.BIN", "C.DAT"}},
        {"record count",
         [](Bytes& img, const TempDir&) { setEntry(img, 1, z18::entry::RECORD_COUNT, {100}); },
         "P504 entry 1 user 0 'B.BIN'",
         {"A.TXT", "C.DAT"}},
        // Files as CP/M leaves them: an extent that was never written, entries in any order, an
        // empty block slot. They are sound; salvage gives every record at its place.
        {"missing extent",
         [](Bytes& img, const TempDir&) { setEntry(img, 2, 0, {0xE5}); },
         nullptr,
         {"A.TXT", "B.BIN"},
         {{"C.DAT", 0, 32768}}},
        {"entries out of order",
         [](Bytes& img, const TempDir&) {
             const Bytes second = entryBytes(img, 3);
             std::memcpy(entryIn(img, 3), entryIn(img, 2), 32);
             std::memcpy(entryIn(img, 2), second.data(), 32);
         },
         nullptr,
         {"A.TXT", "B.BIN", "C.DAT"}},
        {"empty block slot",
         [](Bytes& img, const TempDir&) { setEntry(img, 2, z18::entry::BLOCKS + 3, {0}); },
         nullptr,
         {"A.TXT", "B.BIN"},
         {{"C.DAT", 6144, 8192}}},
        {"duplicate extent",
         [](Bytes& img, const TempDir&) { std::memcpy(entryIn(img, 9), entryIn(img, 1), 32); },
         "P506 entry 9 user 0 'B.BIN'",
         {"A.TXT", "C.DAT"}},
        {"garbled sector",
         [](Bytes& img, const TempDir&) {
             const Bytes noise = randomBytes(384, 7);
             std::copy(noise.begin(), noise.end(), img.begin() + z18::DIRECTORY_OFFSET + 128);
         },
         "entry 4 user",
         {"A.TXT", "B.BIN", "C.DAT"}},
        // A lost directory sector is one problem, and no file is made of its bytes.
        {"fill pattern",
         [](Bytes& img, const TempDir&) {
             for (std::size_t k = 0; k < 512; ++k)
                 img[z18::DIRECTORY_OFFSET + 512 + k] = static_cast<std::uint8_t>("BADSECTOR!"[k % 10]);
         },
         "P202 entries 16-31: ",
         {"A.TXT", "B.BIN", "C.DAT"},
         {},
         3},
        {"zeroed sector",
         [](Bytes& img, const TempDir&) { std::fill_n(img.begin() + z18::DIRECTORY_OFFSET + 1024, 512, 0); },
         "P202 entries 32-47: ",
         {"A.TXT", "B.BIN", "C.DAT"},
         {},
         3},
        // A block number of another file past this entry's record count is the stray one.
        {"stray block",
         [](Bytes& img, const TempDir&) { setEntry(img, 1, z18::entry::BLOCKS + 3, {5}); },
         "P405 entry 1 user 0 'B.BIN'",
         {"A.TXT", "B.BIN", "C.DAT"}},
        {"attribute bit in the name",
         [](Bytes& img, const TempDir&) { entryIn(img, 0)[z18::entry::NAME] |= 0x80; },
         "P305 entry 0 user 0 '\\xC1.TXT'",
         {"A.TXT", "B.BIN", "C.DAT"}},
        {"space in a name",
         [&](Bytes& img, const TempDir& d) {
             writeFile(d / "disk.z18", img);
             cpmcp(d, "sp ace.txt", "0:sp ace.txt");
             img = readFile(d / "disk.z18");
         },
         "P304 entry 4 user 0 'SP ACE.TXT'",
         {"SP_ACE.TXT"}},
        {"truncated",
         [](Bytes& img, const TempDir&) { img.resize(z18::blockOffset(8)); },
         "P101 image",
         {"A.TXT", "B.BIN"}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir d;
        Bytes image = good;
        c.damage(image, d);
        const std::string disk = d / "disk.z18";
        writeFile(disk, image);
        std::string out;
        const int verdict = fsck({disk}, &out);
        EXPECT_EQ(verdict, c.finding ? 1 : 0) << out;
        if (c.finding) {
            EXPECT_NE(out.find(c.finding), std::string::npos) << out;
        }

        EXPECT_EQ(fsck({"-x", d / "out", disk}, &out), verdict) << out;
        EXPECT_TRUE(fileExists(d / "out/z18fsck-report.txt"));
        for (const std::string& name : c.intact) {
            const auto known = files.find(name.substr(name.find('-') + 1));
            const std::string made = "made by cpmtools\n";
            const Bytes want = padded(known != files.end() ? known->second : Bytes(made.begin(), made.end()));
            EXPECT_EQ(readFile(d / ("out/" + name)), want) << name;
            EXPECT_NE(out.find("-> " + name + ", " + std::to_string(readFile(d / ("out/" + name)).size())),
                      std::string::npos)
                << out;
        }
        if (c.salvaged >= 0) {
            const auto entries = std::filesystem::directory_iterator(d / "out");
            EXPECT_EQ(std::distance(entries, std::filesystem::directory_iterator()), c.salvaged + 1) << out;
        }
        for (const Case::Zeroed& z : c.zeroed) {
            Bytes want = padded(files.at(z.name));
            std::fill(want.begin() + static_cast<std::ptrdiff_t>(z.from),
                      want.begin() + static_cast<std::ptrdiff_t>(z.to), 0);
            EXPECT_EQ(readFile(d / (std::string("out/") + z.name)), want) << z.name;
        }

        EXPECT_EQ(fsck({"-o", d / "new.z18", disk}, &out), verdict) << out;
        if (!c.finding) {
            EXPECT_EQ(readFile(d / "new.z18"), image);
        }
        InProcess list;
        EXPECT_EQ(list.run({d / "new", "/c"}), 0);
        EXPECT_EQ(list.output().find("!!!"), std::string::npos) << list.output();
        EXPECT_EQ(cpmtool("fsck.cpm", {"-n", "new.z18"}, (writeDiskdefs(d.path()), d.path())).status, 0);
        EXPECT_EQ(fsck({d / "new.z18"}, &out), 0) << out;
        EXPECT_EQ(readFile(disk), image);
    }
}

TEST(Fsck, RefusesToReplaceOrFillAnything) {
    TempDir d;
    writeFile(d / "disk.z18", blankImage());
    writeFile(d / "taken.z18", std::string("mine"));
    std::filesystem::create_directory(d / "full");
    writeFile(d / "full/keep", std::string("mine"));
    const std::vector<std::vector<std::string>> refused = {{},
                                                           {"-q", d / "disk.z18"},
                                                           {d / "none.z18"},
                                                           {"-o", d / "taken.z18", d / "disk.z18"},
                                                           {"-x", d / "full", d / "disk.z18"},
                                                           {"-x", d / "taken.z18", d / "disk.z18"}};
    std::string out;
    for (const auto& args : refused) EXPECT_EQ(fsck(args, &out), 2) << out;
    EXPECT_EQ(readFile(d / "taken.z18"), Bytes({'m', 'i', 'n', 'e'}));
    EXPECT_FALSE(fileExists(d / "full/z18fsck-report.txt"));
}
