// Every status code, -1 to -15, driven through real files (and the fault wrapper where the host
// would have to misbehave), each case checking everything the run leaves behind: the exit status,
// every line printed, and the bytes of every file in the working directory, image included.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <cstring>

#include <functional>
#include <set>

#include "hardening.h"
#include "image/image_file.h"
#include "run/driver.h"
#include "support/mem_env.h"

using namespace z18;
using namespace z18test;
using namespace hardening;

namespace {

const Bytes kBlock[6] = {{},
                         randomBytes(2048, 101),
                         randomBytes(2048, 102),
                         randomBytes(2048, 103),
                         randomBytes(2048, 104),
                         randomBytes(2048, 105)};

// A.COM (12 records, block 1), README.TXT (3 records, block 2), BIG.DAT (40 records, blocks 3-5).
Bytes baseImage() {
    Bytes img = blankImage();
    putEntry(img, 0, 0, "A       COM", 0, 12, {1});
    putEntry(img, 1, 0, "README  TXT", 0, 3, {2});
    putEntry(img, 2, 0, "BIG     DAT", 0, 40, {3, 4, 5});
    for (int b = 1; b <= 5; ++b) putBlock(img, b, kBlock[b]);
    return img;
}

Bytes hostFile(std::size_t size, std::uint32_t seed) { return randomBytes(size, seed); }
Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + from, b.begin() + from + n);
}
Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kSmall = hostFile(100, 1);  // in/a.bin
const Bytes kBig = hostFile(81920, 2);  // in/big.bin: 40 blocks, three entries
const Bytes kTen = hostFile(10, 4);     // in/ok.bin

// The image after a.bin was added as entry 3 (block 6) and big.bin stopped while block 42, the
// 36th of the file, was in hand: two full entries, the third with extent 0, record count 0 and
// slots up to that block, which keeps what the image held there.
void halfMadeBigFile(Snapshot& s) {
    Bytes& img = s["disk.z18"];
    putEntry(img, 3, 0, "A       BIN", 0, 1, {6});
    putBlock(img, 6, kSmall);
    std::vector<int> e4, e5;
    for (int i = 0; i < 16; ++i) e4.push_back(7 + i), e5.push_back(23 + i);
    putEntry(img, 4, 0, "BIG     BIN", 1, 128, e4);
    putEntry(img, 5, 0, "BIG     BIN", 3, 128, e5);
    putEntry(img, 6, 0, "BIG     BIN", 0, 0, {39, 40, 41, 42});
    for (int i = 0; i < 35; ++i) putBlock(img, 7 + i, kBig, static_cast<std::size_t>(i) * 2048);
}

void oneSmallFileAdded(Snapshot& s, const std::string& name11, const Bytes& data) {
    Bytes& img = s["disk.z18"];
    putEntry(img, 3, 0, name11, 0, static_cast<std::uint8_t>((data.size() + 127) / 128), {6});
    putBlock(img, 6, data);
}

struct Fault {
    bool on = false;
    FaultEnv::Op op = FaultEnv::Op::Read;
    int nth = 0;
    FaultEnv::Kind kind = FaultEnv::Kind::Fail;
    const char* suffix = "";
};
Fault fault(FaultEnv::Op op, int nth, FaultEnv::Kind kind, const char* suffix) {
    return Fault{true, op, nth, kind, suffix};
}
const FaultEnv::Op READ = FaultEnv::Op::Read, WRITE = FaultEnv::Op::Write, FLUSH = FaultEnv::Op::Flush;
const FaultEnv::Kind FAIL = FaultEnv::Kind::Fail, SHORT = FaultEnv::Kind::Short;

struct Case {
    const char* name;
    int code;
    std::function<void(const TempDir&)> setup;
    std::vector<std::string> args;
    Fault fault;
    std::vector<std::pair<std::string, int>> locks;  // held by "another program" during the run
    int status;
    std::string output;                         // everything after the banner
    std::function<void(Snapshot&)> leftBehind;  // turns the files before into the files expected
};

void nothing(Snapshot&) {}
void withImage(const TempDir& d) { writeFile(d / "disk.z18", baseImage()); }
void withImageAnd(const TempDir& d, std::initializer_list<std::pair<const char*, Bytes>> files) {
    withImage(d);
    fs::create_directories(d / "in");
    fs::create_directories(d / "out");
    for (const auto& f : files) writeFile(d / f.first, f.second);
}

const std::string ADD_HEAD = "Adding file(s) to 'disk.z18'\n  path: 'in\\', mask: '*.bin'\n\n";
const std::string IMAGE_WRITE = "Error on write to the image 'disk.z18' !!!\n";
const std::string ADDED_A_BIN = ADD_HEAD + "File 'A.BIN' added\n\nDone. 1 file(s) added.\n\n";

void withImageAndSmallFile(const TempDir& d) { withImageAnd(d, {{"in/a.bin", kSmall}}); }
void directoryCleared(Snapshot& s) {
    std::fill_n(s["disk.z18"].begin() + DIRECTORY_OFFSET, DIRECTORY_SIZE, FILLER_BYTE);
}
void fullyFormatted(Snapshot& s) {
    Bytes& img = s["disk.z18"];
    std::copy(bootAreaBytes(), bootAreaBytes() + BOOT_AREA_SIZE, img.begin());
    std::fill_n(img.begin() + SIGNATURE_OFFSET, SIGNATURE_SIZE, 0);
    std::copy(SIGNATURE_TEXT, SIGNATURE_TEXT + std::strlen(SIGNATURE_TEXT), img.begin() + SIGNATURE_OFFSET);
    directoryCleared(s);
}

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"ImagePathIsADirectory",
         -1,
         [](const TempDir& d) { fs::create_directory(d / "disk.z18"); },
         {"disk", "/a", "in\\*.bin"},
         {},
         {},
         1,
         "Image 'disk.z18' already exist !!!\n\n",
         nothing},
        {"MissingImage",
         -2,
         [](const TempDir&) {},
         {"disk", "/c"},
         {},
         {},
         1,
         "Can't open image 'disk.z18' !!!\n\n",
         nothing},
        {"ImageHeldByAReader",
         -2,
         withImage,
         {"disk", "/e", "*.com"},
         {},
         {{"disk.z18", LOCK_SH}},
         1,
         "Can't open image 'disk.z18' !!!\n\n",
         nothing},
        {"ImageOneByteTooLong",
         -3,
         [](const TempDir& d) {
             Bytes img = baseImage();
             img.push_back(0);
             writeFile(d / "disk.z18", img);
             fs::create_directories(d / "in");
             writeFile(d / "in/a.bin", kSmall);
         },
         {"disk", "/a", "in\\*.bin"},
         {},
         {},
         1,
         "Image 'disk.z18' has bad size !!!\n\n",
         nothing},
        {"EmptyImageNotFilledWithoutCreation",
         -3,
         [](const TempDir& d) { writeFile(d / "disk.z18", Bytes()); },
         {"disk", "/c"},
         {},
         {},
         1,
         "Image 'disk.z18' has bad size !!!\n\n",
         nothing},
        {"ShortReadOfTheDirectory",
         -4,
         withImage,
         {"disk", "/c"},
         fault(READ, 1, SHORT, ".z18"),
         {},
         1,
         "Error on read from the image 'disk.z18' !!!\n\n",
         nothing},
        {"ExtractImageReadFailsInTheThirdBlock",
         -4,
         [](const TempDir& d) { withImageAnd(d, {}); },
         {"disk", "/x", "out\\big.dat"},
         fault(READ, 4, FAIL, ".z18"),
         {},
         0,
         "Extracting file(s) from 'disk.z18'\n  path: 'out\\', mask: 'big.dat'\n\n"
         "Error on read from the image 'disk.z18' !!!\n\n",
         [](Snapshot& s) { s["out/BIG.DAT"] = concat(kBlock[3], kBlock[4]); }},
        {"FillOfANewImageFails",
         -5,
         [](const TempDir&) {},
         {"disk", "/f"},
         fault(WRITE, 100, FAIL, ".z18"),
         {},
         1,
         IMAGE_WRITE + "\n",
         [](Snapshot& s) { s["disk.z18"] = Bytes(99 * 512, FILLER_BYTE); }},
        {"SignatureWriteFails",
         -5,
         withImage,
         {"disk", "/f"},
         fault(WRITE, 2, FAIL, ".z18"),
         {},
         1,
         IMAGE_WRITE + "\n",
         [](Snapshot& s) {
             std::copy(bootAreaBytes(), bootAreaBytes() + BOOT_AREA_SIZE, s["disk.z18"].begin());
         }},
        {"QuickFormatWriteFails",
         -5,
         withImage,
         {"disk", "/q"},
         fault(WRITE, 1, FAIL, ".z18"),
         {},
         1,
         IMAGE_WRITE + "\n",
         nothing},
        // A failed flush is a failed write of what it guards. After one, nothing more reaches the
        // image: a quick format's add stops before its first block goes over the old files...
        {"QuickAddFlushOfTheClearedDirectoryFails",
         -5,
         withImageAndSmallFile,
         {"disk", "/q", "/a", "in\\*.bin"},
         fault(FLUSH, 1, FAIL, ".z18"),
         {},
         0,
         "Directory of image 'disk.z18' was cleaned.\n" + ADD_HEAD + IMAGE_WRITE + "\n",
         directoryCleared},
        // ...an add whose blocks may not be on the disk keeps the old directory...
        {"AddFlushOfTheDataFails",
         -5,
         withImageAndSmallFile,
         {"disk", "/a", "in\\*.bin"},
         fault(FLUSH, 1, FAIL, ".z18"),
         {},
         0,
         ADDED_A_BIN + IMAGE_WRITE + "\n",
         [](Snapshot& s) { putBlock(s["disk.z18"], 6, kSmall); }},
        // ...and the write-back itself was written, only its flush failed.
        {"AddFlushOfTheWriteBackFails",
         -5,
         withImageAndSmallFile,
         {"disk", "/a", "in\\*.bin"},
         fault(FLUSH, 2, FAIL, ".z18"),
         {},
         0,
         ADDED_A_BIN + IMAGE_WRITE + "\n",
         [](Snapshot& s) { oneSmallFileAdded(s, "A       BIN", kSmall); }},
        {"EraseFlushOfTheWriteBackFails",
         -5,
         withImage,
         {"disk", "/e", "*.com"},
         fault(FLUSH, 1, FAIL, ".z18"),
         {},
         0,
         "Erasing file(s) from 'disk.z18', mask: '*.com'\n\nFile 'A       COM' eresed\n\nDone. 1 file(s) "
         "erased.\n\n" +
             IMAGE_WRITE + "\n",
         [](Snapshot& s) { s["disk.z18"][DIRECTORY_OFFSET] = FILLER_BYTE; }},
        // A format alone is its own request: unflushed, it did not happen.
        {"FullFormatFlushFails",
         -5,
         withImage,
         {"disk", "/f"},
         fault(FLUSH, 1, FAIL, ".z18"),
         {},
         1,
         "Image 'disk.z18' was formated.\n" + IMAGE_WRITE + "\n",
         fullyFormatted},
        {"QuickFormatFlushFails",
         -5,
         withImage,
         {"disk", "/q"},
         fault(FLUSH, 1, FAIL, ".z18"),
         {},
         1,
         IMAGE_WRITE + "\n",
         directoryCleared},
        {"AddImageWriteFailsInTheThirdEntry",
         -5,
         [](const TempDir& d) {
             withImageAnd(d, {{"in/a.bin", kSmall}, {"in/big.bin", kBig}});
         },
         {"disk", "/a", "in\\*.bin"},
         fault(WRITE, 37, FAIL, ".z18"),
         {},
         0,
         ADD_HEAD + "File 'A.BIN' added\n" + IMAGE_WRITE + "\n",
         halfMadeBigFile},
        {"EraseWriteBackFails",
         -5,
         withImage,
         {"disk", "/e", "*.com"},
         fault(WRITE, 1, FAIL, ".z18"),
         {},
         0,
         "Erasing file(s) from 'disk.z18', mask: '*.com'\n\nFile 'A       COM' eresed\n\nDone. 1 file(s) "
         "erased.\n\n" +
             IMAGE_WRITE + "\n",
         nothing},
        {"ExtractOverAWriteProtectedFile",
         -6,
         [](const TempDir& d) {
             withImageAnd(d, {{"out/README.TXT", Bytes{'o', 'l', 'd'}}});
             ::chmod((d / "out/README.TXT").c_str(), 0444);
         },
         {"disk", "/x", "out\\*.*"},
         {},
         {},
         0,
         "Extracting file(s) from 'disk.z18'\n  path: 'out\\', mask: '*.*'\n\nFile 'A.COM' extracted\n"
         "File 'README.TXT' already exist !!!\n\n",
         [](Snapshot& s) { s["out/A.COM"] = slice(kBlock[1], 0, 12 * 128); }},
        {"AddHostFileHeldByAnotherProgram",
         -7,
         [](const TempDir& d) {
             withImageAnd(d, {{"in/locked.bin", hostFile(10, 3)}, {"in/ok.bin", kTen}});
         },
         {"disk", "/a", "in\\*.bin"},
         {},
         {{"in/locked.bin", LOCK_EX}},
         0,
         ADD_HEAD + "Can't open file 'LOCKED.BIN' !!!\nFile 'OK.BIN' added\n\nDone. 1 file(s) added.\n\n\n",
         [](Snapshot& s) { oneSmallFileAdded(s, "OK      BIN", kTen); }},
        {"AddHostReadFailsInTheThirdEntry",
         -8,
         [](const TempDir& d) {
             withImageAnd(d, {{"in/a.bin", kSmall}, {"in/big.bin", kBig}});
         },
         {"disk", "/a", "in\\*.bin"},
         fault(READ, 36, FAIL, "big.bin"),
         {},
         0,
         ADD_HEAD + "File 'A.BIN' added\nError on read from the file 'BIG.BIN' !!!\n\n",
         halfMadeBigFile},
        {"ExtractHostWriteFallsShort",
         -9,
         [](const TempDir& d) { withImageAnd(d, {}); },
         {"disk", "/x", "out\\big.dat"},
         fault(WRITE, 2, SHORT, "BIG.DAT"),
         {},
         0,
         "Extracting file(s) from 'disk.z18'\n  path: 'out\\', mask: 'big.dat'\n\n"
         "Error on write to the file 'BIG.DAT' !!!\n\n",
         [](Snapshot& s) { s["out/BIG.DAT"] = concat(kBlock[3], slice(kBlock[4], 0, 2047)); }},
        {"AddDiskFullStopsTheLoop",
         -10,
         [](const TempDir& d) {
             withImageAnd(
                 d, {{"in/a.bin", kSmall}, {"in/huge.bin", hostFile(170 * 2048, 5)}, {"in/z.bin", kTen}});
         },
         {"disk", "/a", "in\\*.bin"},
         {},
         {},
         0,
         ADD_HEAD + "File 'A.BIN' added\nDisk full !!!\n\nDone. 1 file(s) added.\n\n\n",
         [](Snapshot& s) { oneSmallFileAdded(s, "A       BIN", kSmall); }},
        {"AddDirectoryFull",
         -11,
         [](const TempDir& d) {
             Bytes img = baseImage();
             for (int i = 3; i < 63; ++i) {
                 std::string name = "F" + std::to_string(i);
                 name.resize(8, ' ');
                 putEntry(img, i, 0, name + "DAT", 0, 0, {});
             }
             withImageAnd(d, {{"in/two.bin", hostFile(40000, 7)}});
             writeFile(d / "disk.z18", img);
         },
         {"disk", "/a", "in\\*.bin"},
         {},
         {},
         0,
         ADD_HEAD + "Directory full !!!\n\nDone. 0 file(s) added.\n\n\n",
         nothing},
        {"AddNameAlreadyInTheImage",
         -12,
         [](const TempDir& d) {
             withImageAnd(d, {{"in/readme.txt", kTen}});
         },
         {"disk", "/a", "in\\readme.txt"},
         {},
         {},
         0,
         "Adding file(s) to 'disk.z18'\n  path: 'in\\', mask: 'readme.txt'\n\n"
         "File 'README.TXT' already exist !!!\n\nDone. 0 file(s) added.\n\n\n",
         nothing},
        {"ExtractNameNotInTheImage",
         -13,
         [](const TempDir& d) { withImageAnd(d, {}); },
         {"disk", "/x", "out\\nothere.txt"},
         {},
         {},
         0,
         "Extracting file(s) from 'disk.z18'\n  path: 'out\\', mask: 'nothere.txt'\n\n"
         "File 'nothere.txt' not found !!!\n\n",
         nothing},
        {"BadMask",
         -14,
         withImage,
         {"disk", "/e", "a;b"},
         {},
         {},
         1,
         "Name of tihs file 'a;b' has incorrect format !!!\n\n",
         nothing},
        {"AddHostNameNotAn83Name",
         -14,
         [](const TempDir& d) {
             withImageAnd(d, {{"in/ok.bin", kTen}, {"in/toolongname.bin", kTen}});
         },
         {"disk", "/a", "in\\*.bin"},
         {},
         {},
         0,
         ADD_HEAD + "File 'OK.BIN' added\nName of tihs file 'TOOLONGNAME.BIN' has incorrect format !!!\n\n"
                    "Done. 1 file(s) added.\n\n\n",
         [](Snapshot& s) { oneSmallFileAdded(s, "OK      BIN", kTen); }},
        {"EntryNamingBlock175",
         -15,
         [](const TempDir& d) {
             Bytes img = baseImage();
             putEntry(img, 3, 0, "BAD     TXT", 0, 1, {175});
             writeFile(d / "disk.z18", img);
         },
         {"disk", "/c"},
         {},
         {},
         1,
         "Corrupted directory entry 'BAD.TXT' !!!\n\n",
         nothing},
    };
    return table;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class StatusMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(StatusMatrix, LeavesWhatItShould) {
    const Case& c = GetParam();
    TempDir dir;
    c.setup(dir);
    Snapshot expected = snapshot(dir.path());
    c.leftBehind(expected);

    int status;
    std::string output;
    {
        std::vector<std::unique_ptr<HeldLock>> held;
        for (const auto& lock : c.locks)
            held.push_back(std::make_unique<HeldLock>(dir / lock.first, lock.second));
        InDirectory cd(dir.path());
        InProcess run;
        if (c.fault.on) run.env.inject(c.fault.op, c.fault.nth, c.fault.kind, c.fault.suffix);
        status = run.run(c.args);
        output = run.output();
    }
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(output, bannerText() + c.output);
    const Snapshot after = snapshot(dir.path());
    EXPECT_EQ(after.size(), expected.size());
    for (const auto& file : expected) {
        auto it = after.find(file.first);
        ASSERT_NE(it, after.end()) << file.first << " is missing";
        EXPECT_TRUE(it->second == file.second) << file.first << " holds other bytes than expected";
    }

    // Whatever a run that reached its command left in the image, the next run can load.
    if (status == 0) {
        InDirectory cd(dir.path());
        InProcess again;
        EXPECT_EQ(again.run({"disk", "/c"}), 0) << again.output();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCode, StatusMatrix, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return "St" + std::to_string(-info.param.code) + "_" + info.param.name;
                         });

TEST(StatusMatrix, CoversEveryCode) {
    std::set<int> codes;
    for (const Case& c : cases()) codes.insert(c.code);
    EXPECT_EQ(codes.size(), 15u);
    EXPECT_EQ(*codes.begin(), -15);
    EXPECT_EQ(*codes.rbegin(), -1);
}

// The flushes each request asks of the host: one wherever the order of two writes matters or a
// request ends with writes pending, none where nothing is written to the image, and never one on
// a host file. A flush added or lost shows here.
TEST(StatusMatrix, FlushesPerRequest) {
    struct Row {
        const char* what;
        bool imageBefore;
        std::vector<std::string> args;
        int flushes;
    };
    const std::vector<Row> rows = {
        {"full format", true, {"/f"}, 1},
        {"full format, new image", false, {"/f"}, 1},
        {"quick format", true, {"/q"}, 1},
        {"erase", true, {"/e", "*.com"}, 1},
        {"erase, nothing matched", true, {"/e", "*.xyz"}, 1},
        {"add", true, {"/a", "in\\*.bin"}, 2},
        {"add, nothing added", true, {"/a", "in\\readme.txt"}, 1},
        {"add, new image", false, {"/a", "in\\*.bin"}, 2},
        {"full format and add", true, {"/f", "/a", "in\\*.bin"}, 3},
        {"quick format and add", true, {"/a", "in\\*.bin", "/q"}, 3},
        {"full format and add, new image", false, {"/f", "/a", "in\\*.bin"}, 2},
        {"full format, then a bad mask", true, {"/f", "/a", "in\\a;b"}, 1},
        {"catalogue", true, {"/c"}, 0},
        {"extract", true, {"/x", "out\\*.*"}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MemEnv env;
        if (row.imageBefore) env.putFile("disk.z18", baseImage());
        env.putFile("in/a.bin", kSmall);
        env.putFile("in/big.bin", kBig);
        env.putFile("in/readme.txt", kTen);
        env.makeDirectory("out");
        std::vector<std::string> args{"disk"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        InProcess run(&env);
        ASSERT_NE(run.run(args), -1);
        EXPECT_EQ(env.flushes("disk.z18"), row.flushes) << run.output();
        for (const auto& node : env.tree()) {
            if (node.first != "disk.z18") {
                EXPECT_EQ(env.flushes(node.first), 0) << node.first;
            }
        }
    }
}

}  // namespace
