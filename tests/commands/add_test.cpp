// Adding host files: entry and block layout by size, capacity checks, names, duplicates, host files
// that cannot be read, failures in the middle of a copy, and formats run before the add.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commands/command_util.h"
#include "image/image_file.h"

using namespace cmdtest;
using namespace z18test;

namespace {

std::string addHeading(const std::string& hostDir, const std::string& mask) {
    return "Adding file(s) to 'disk.z18'\n  path: '" + hostDir + "/', mask: '" + mask + "'\n\n";
}
std::string addHeading(const TempDir& dir, const std::string& mask) { return addHeading(dir.path(), mask); }
const std::string NEW_IMAGE = "Image 'disk.z18' was created.\nImage 'disk.z18' was formated.\n";

// A blank image in dir; returns its bytes.
Bytes blankDisk(const TempDir& dir) {
    const Bytes image = blankImage();
    writeFile(dir / "disk.z18", image);
    return image;
}

Result add(const TempDir& dir, const std::string& mask,
           const std::function<void(z18::FaultEnv&)>& faults = {}) {
    return run({dir / "disk", "/a", dir / mask}, faults);
}

// Every entry slot of a file as this tool lays it out: full entries of 16 blocks, then the rest.
void expectLayout(const Bytes& image, const std::string& name11, int firstEntry, int firstBlock,
                  std::uint64_t size) {
    const int blocks = static_cast<int>((size + 2047) / 2048);
    const int records = static_cast<int>((size + 127) / 128);
    const int entries = blocks == 0 ? 1 : (blocks + 15) / 16;
    for (int k = 0; k < entries; ++k) {
        const bool last = k == entries - 1;
        const int inEntry = last ? blocks - 16 * k : 16;
        std::vector<int> list;
        for (int i = 0; i < inEntry; ++i) list.push_back(firstBlock + 16 * k + i);
        const int extent = last ? (blocks == 0 ? 0 : (blocks - 1) / 8) : 2 * k + 1;
        const int rc = last ? (records % 128 == 0 && records > 0 ? 128 : records % 128) : 128;
        EXPECT_EQ(entryBytes(image, firstEntry + k), makeEntry(0, name11, extent, rc, list)) << "entry " << k;
    }
}

}  // namespace

// Sizes around every boundary of blocks, logical extents and entries, up to a full fresh image.
struct SizeCase {
    std::uint64_t size;
    int lastExtent;  // extent byte of the file's last entry
    int lastRecordCount;
    int entries;
};

class AddSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(AddSizes, EntriesAndBlocks) {
    const SizeCase& c = GetParam();
    z18::MemEnv host;
    const Bytes data = randomBytes(c.size, static_cast<std::uint32_t>(c.size));
    host.putFile("in/F.BIN", data);
    const Result r = run(host, {"disk", "/a", "in/F.BIN"});
    ASSERT_EQ(r.status, 0);
    const Bytes image = host.bytes("disk.z18");
    const int blocks = static_cast<int>((c.size + 2047) / 2048);

    if (c.entries == 0) {  // does not fit: refused before anything is taken
        EXPECT_EQ(r.body,
                  NEW_IMAGE + addHeading("in", "F.BIN") + "Disk full !!!\n\nDone. 0 file(s) added.\n\n\n");
        for (int i = 0; i < 64; ++i) EXPECT_EQ(entryBytes(image, i)[0], z18::FILLER_BYTE);
        EXPECT_EQ(blockBytes(image, 1), Bytes(2048, z18::FILLER_BYTE));
        return;
    }
    EXPECT_EQ(r.body,
              NEW_IMAGE + addHeading("in", "F.BIN") + "File 'F.BIN' added\n\nDone. 1 file(s) added.\n\n\n");
    expectLayout(image, "F       BIN", 0, 1, c.size);
    // The layout helper agrees with the hand-written figures of this case.
    const Bytes last = entryBytes(image, c.entries - 1);
    EXPECT_EQ(last[12], c.lastExtent);
    EXPECT_EQ(last[15], c.lastRecordCount);
    EXPECT_EQ(entryBytes(image, c.entries)[0], z18::FILLER_BYTE) << "no empty entry after the file";
    // The data, its last block filled up with zero bytes, and nothing written past it.
    EXPECT_EQ(blocksData(image, 1, blocks), padded(data, 2048));
    if (blocks < 174) {
        EXPECT_EQ(blockBytes(image, blocks + 1), Bytes(2048, z18::FILLER_BYTE));
    }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, AddSizes,
                         ::testing::Values(SizeCase{0, 0, 0, 1}, SizeCase{100, 0, 1, 1},
                                           SizeCase{2048, 0, 16, 1}, SizeCase{16384, 0, 128, 1},
                                           SizeCase{16385, 1, 1, 1}, SizeCase{32768, 1, 128, 1},
                                           SizeCase{32769, 2, 1, 2}, SizeCase{356352, 21, 96, 11},
                                           SizeCase{356353, 0, 0, 0}),
                         [](const auto& info) { return "bytes" + std::to_string(info.param.size); });

// Capacity failures end the loop: the file that does not fit leaves no trace and the next host
// file is not looked at.
TEST(Add, SecondOfThreeDoesNotFit) {
    struct Case {
        const char* what;
        int usedEntries;  // crafted entries without blocks at the start of the directory
        std::uint64_t secondSize;
        const char* status;
    };
    for (const Case& c : {Case{"disk full", 0, 174 * 2048, "Disk full"},
                          Case{"directory full, empty files", 63, 0, "Directory full"},
                          Case{"far beyond 4 GiB", 0, (std::uint64_t{1} << 32) + 100, "Directory full"}}) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Bytes image = blankImage();
        for (int i = 0; i < c.usedEntries; ++i) putEntry(image, i, 0, "X" + std::to_string(i), 0, 0, {});
        writeFile(dir / "disk.z18", image);
        writeFile(dir / "A.BIN", c.usedEntries ? Bytes() : randomBytes(100, 1));
        writeFile(dir / "B.BIN", std::string());
        ASSERT_EQ(::truncate((dir / "B.BIN").c_str(), static_cast<off_t>(c.secondSize)), 0);
        writeFile(dir / "C.BIN", Bytes());

        const Result r = add(dir, "*.BIN");
        EXPECT_EQ(r.body, addHeading(dir, "*.BIN") + "File 'A.BIN' added\n" + c.status +
                              " !!!\n\nDone. 1 file(s) added.\n\n\n");
        const Bytes after = readFile(dir / "disk.z18");
        const int a = c.usedEntries;
        EXPECT_EQ(entryBytes(after, a), makeEntry(0, "A       BIN", 0, c.usedEntries ? 0 : 1,
                                                  c.usedEntries ? std::vector<int>{} : std::vector<int>{1}));
        if (a + 1 < 64) {
            EXPECT_EQ(entryBytes(after, a + 1)[0], z18::FILLER_BYTE);
        }
        EXPECT_EQ(blockBytes(after, 2), Bytes(2048, z18::FILLER_BYTE));
    }
}

// Names: the host search delivers them as they are; they are upper-cased, checked as 8.3 names and
// the file is opened under the delivered name.
TEST(Add, HostNames) {
    TempDir dir;
    blankDisk(dir);
    for (const char* name : {"Minutes of May.txt", "toolongname.txt", "a?b.txt", "star*.txt", "x.y.txt",
                             "semi;1.txt", "caf\xC3\xA9.txt", "ok_1.txt", ".hidden.txt"})
        writeFile(dir / name, std::string(name));
    writeFile(dir / "lower.txt", std::string("lower-case host name"));
    ASSERT_EQ(::mkdir((dir / "sub.txt").c_str(), 0777), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "link.txt").c_str()), 0);

    const Result r = add(dir, "*.txt");
    auto bad = [](const std::string& n) {
        return "Name of tihs file '" + n + "' has incorrect format !!!\n";
    };
    EXPECT_EQ(r.body, addHeading(dir, "*.txt") + bad("MINUTES OF MAY.TXT") + bad("A?B.TXT") +
                          bad("CAF\xC3\xA9.TXT") + "File 'LOWER.TXT' added\n" + "File 'OK_1.TXT' added\n" +
                          bad("SEMI;1.TXT") + bad("STAR*.TXT") + bad("TOOLONGNAME.TXT") + bad("X.Y.TXT") +
                          "\nDone. 2 file(s) added.\n\n\n");
    const Bytes image = readFile(dir / "disk.z18");
    EXPECT_EQ(entryBytes(image, 0), makeEntry(0, "LOWER   TXT", 0, 1, {1}));
    EXPECT_EQ(blocksData(image, 1, 1), padded(readFile(dir / "lower.txt"), 2048));
    // Nothing with a wildcard got into the directory: the image still loads.
    const Result cat = run({dir / "disk", "/c"});
    EXPECT_NE(cat.body.find("LOWER.TXT        1    2K  --\tOK_1.TXT         1    2K  --\n"),
              std::string::npos)
        << cat.body;

    EXPECT_EQ(add(dir, "sub.*").body, addHeading(dir, "sub.*") + "\nDone. 0 file(s) added.\n\n\n");
    for (const std::string& missing : {dir / "*.non", dir / "nodir/*.txt"}) {
        EXPECT_EQ(run({dir / "disk", "/a", missing}).body,
                  "\nPath or file/mask '" + missing + " is invalid!!!\n\n\n");
    }
}

// The duplicate test spans user areas and attribute bits, and files added earlier in the same run.
TEST(Add, Duplicates) {
    TempDir dir;
    Bytes image = blankImage();
    putEntry(image, 0, 5, "DUP     TXT", 0, 0, {});
    putEntry(image, 1, 0, withBits("RO      COM", {8, 9}), 0, 0, {});
    writeFile(dir / "disk.z18", image);
    ASSERT_EQ(::mkdir((dir / "in").c_str(), 0777), 0);
    writeFile(dir / "in/GAME.COM", std::string("upper"));
    writeFile(dir / "in/Game.com", std::string("mixed"));
    writeFile(dir / "in/dup.txt", std::string("d"));
    writeFile(dir / "in/ro.com", std::string("r"));

    const Result r = add(dir, "in/*.*");
    EXPECT_EQ(r.body, addHeading(dir / "in", "*.*") + "File 'GAME.COM' added\n" +
                          "File 'GAME.COM' already exist !!!\n" + "File 'DUP.TXT' already exist !!!\n" +
                          "File 'RO.COM' already exist !!!\n" + "\nDone. 1 file(s) added.\n\n\n");
    const Bytes after = readFile(dir / "disk.z18");
    EXPECT_EQ(entryBytes(after, 2), makeEntry(0, "GAME    COM", 0, 1, {1}));
    EXPECT_EQ(blocksData(after, 1, 1), padded(readFile(dir / "in/GAME.COM"), 2048));
    EXPECT_EQ(entryBytes(after, 3)[0], z18::FILLER_BYTE);
}

// Host files are opened read-only and only when they are regular files nobody holds exclusively;
// a FIFO must not stall the run. The image itself, held by this run, is refused as well.
TEST(Add, HostFilesThatCannotBeOpened) {
    TempDir dir;
    blankDisk(dir);
    ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0666), 0);
    writeFile(dir / "locked.txt", std::string("locked"));
    const int holder = ::open((dir / "locked.txt").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const Bytes roData = randomBytes(3000, 7);
    writeFile(dir / "ro.txt", roData);
    ASSERT_EQ(::chmod((dir / "ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling.txt").c_str()), 0);

    ::alarm(20);  // a stalled open ends the test binary instead of hanging it
    const Result r = add(dir, "*.*");
    ::alarm(0);
    ::close(holder);
    EXPECT_EQ(r.body, addHeading(dir, "*.*") + "Can't open file 'DANGLING.TXT' !!!\n" +
                          "Can't open file 'DISK.Z18' !!!\n" + "Can't open file 'FIFO.TXT' !!!\n" +
                          "Can't open file 'LOCKED.TXT' !!!\n" + "File 'RO.TXT' added\n" +
                          "\nDone. 1 file(s) added.\n\n\n");
    const Bytes image = readFile(dir / "disk.z18");
    EXPECT_EQ(entryBytes(image, 0), makeEntry(0, "RO      TXT", 0, 24, {1, 2}));
    EXPECT_EQ(blocksData(image, 1, 2), padded(roData, 2048));
    struct stat st;
    ASSERT_EQ(::stat((dir / "ro.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(readFile(dir / "ro.txt"), roData);
}

// Root may open a file without write bits for writing, so only an ordinary user shows that the
// add command opens host files for reading alone.
TEST(Add, WriteProtectedHostFileAsOrdinaryUser) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    blankDisk(dir);
    ASSERT_EQ(::chmod((dir / "disk.z18").c_str(), 0666), 0);
    const Bytes data = randomBytes(300, 11);
    writeFile(dir / "ro.txt", data);
    ASSERT_EQ(::chmod((dir / "ro.txt").c_str(), 0444), 0);

    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::setegid(65534), 0);
        ASSERT_EQ(::seteuid(65534), 0);
    }
    const Result r = add(dir, "ro.txt");
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
        ASSERT_EQ(::setegid(0), 0);
    }
    EXPECT_EQ(r.body, addHeading(dir, "ro.txt") + "File 'RO.TXT' added\n\nDone. 1 file(s) added.\n\n\n");
    EXPECT_EQ(blocksData(readFile(dir / "disk.z18"), 1, 1), padded(data, 2048));
}

// A failed transfer in the middle of a copy leaves the half-made file: full entries finished, the
// entry in hand with extent 0 and record count 0 and its slots up to the failed block, all written
// back by the driver. The file added before it stays whole.
TEST(Add, FailureMidCopyLeavesTheHalfMadeFile) {
    struct Case {
        const char* what;
        z18::FaultEnv::Op op;
        z18::FaultEnv::Kind kind;
        int nth;
        const char* suffix;
        const char* message;
    };
    using F = z18::FaultEnv;
    // X.BIN (40000 bytes) takes blocks 2 to 17 in entry 1, then 18 and 19 in entry 2; the
    // fault hits the transfer for block 19. A.BIN's block 1 is the image's first write.
    for (const Case& c : {Case{"host read fails", F::Op::Read, F::Kind::Fail, 18, "X.BIN",
                               "Error on read from the file 'X.BIN' !!!\n"},
                          Case{"host read falls short", F::Op::Read, F::Kind::Short, 18, "X.BIN",
                               "Error on read from the file 'X.BIN' !!!\n"},
                          Case{"image write fails", F::Op::Write, F::Kind::Fail, 19, "disk.z18",
                               "Error on write to the image 'disk.z18' !!!\n"}}) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        blankDisk(dir);
        const Bytes a = randomBytes(100, 1), x = randomBytes(40000, 2);
        writeFile(dir / "A.BIN", a);
        writeFile(dir / "X.BIN", x);
        writeFile(dir / "Z.BIN", Bytes(10, 1));  // after the break-off: never looked at

        const Result r = add(dir, "*.BIN", [&](F& env) { env.inject(c.op, c.nth, c.kind, c.suffix); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.body, addHeading(dir, "*.BIN") + "File 'A.BIN' added\n" + c.message + "\n");
        const Bytes image = readFile(dir / "disk.z18");
        EXPECT_EQ(entryBytes(image, 0), makeEntry(0, "A       BIN", 0, 1, {1}));
        EXPECT_EQ(entryBytes(image, 1), makeEntry(0, "X       BIN", 1, 128,
                                                  {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
        EXPECT_EQ(entryBytes(image, 2), makeEntry(0, "X       BIN", 0, 0, {18, 19}));
        EXPECT_EQ(entryBytes(image, 3)[0], z18::FILLER_BYTE);
        EXPECT_EQ(blocksData(image, 1, 1), padded(a, 2048));
        EXPECT_EQ(blocksData(image, 2, 17), Bytes(x.begin(), x.begin() + 17 * 2048));
        // The failed block still holds what the image held there.
        EXPECT_EQ(blockBytes(image, 19), Bytes(2048, z18::FILLER_BYTE));
        // The next run loads the half-made file and counts its blocks as used. Its unfinished
        // entry, extent byte 0, reads as a first entry: a second row of the same key.
        const Result cat = run({dir / "disk", "/c"});
        EXPECT_NE(cat.body.find("A.BIN            1    2K  --\tX.BIN          256   32K  --\n"
                                "X.BIN          256   32K  --\t\n\n66K in 3 file(s), 310K free"),
                  std::string::npos)
            << cat.body;
    }
}

// "/f" or "/q" with "/a" format first, on a new image and on one holding files already.
TEST(Add, FormatsBeforeAdding) {
    struct Case {
        const char* format;
        bool existing;
        const char* messages;  // before the add heading
        bool bootWritten;
    };
    for (const Case& c :
         {Case{"/f", false, "Image 'disk.z18' was created.\nImage 'disk.z18' was formated.\n", true},
          Case{"/q", false,
               "Image 'disk.z18' was created.\nImage 'disk.z18' was formated.\n"
               "Directory of image 'disk.z18' was cleaned.\n",
               true},
          Case{"/f", true, "Image 'disk.z18' was formated.\n", true},
          Case{"/q", true, "Directory of image 'disk.z18' was cleaned.\n", false}}) {
        SCOPED_TRACE(std::string(c.format) + (c.existing ? " existing" : " new"));
        TempDir dir;
        Bytes old = blankImage();
        if (c.existing) {
            for (std::size_t i = 0; i < z18::BOOT_AREA_SIZE; ++i) old[i] = 0x5A;  // not a boot area of ours
            putEntry(old, 0, 0, "OLD     TXT", 0, 16, {1});
            putEntry(old, 1, 3, "N       TXT", 0, 1, {2});
            writeFile(dir / "disk.z18", old);
        }
        writeFile(dir / "N.TXT", std::string("new"));

        const Result r = run({dir / "disk", c.format, "/a", dir / "N.TXT"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.body, c.messages + addHeading(dir, "N.TXT") +
                              "File 'N.TXT' added\n\nDone. 1 file(s) added.\n\n\n");
        const Bytes image = readFile(dir / "disk.z18");
        ASSERT_EQ(image.size(), z18::IMAGE_SIZE);
        EXPECT_EQ(entryBytes(image, 0), makeEntry(0, "N       TXT", 0, 1, {1}));
        for (int i = 1; i < 64; ++i) EXPECT_EQ(entryBytes(image, i)[0], z18::FILLER_BYTE) << i;
        const Bytes boot(image.begin(), image.begin() + z18::BOOT_AREA_SIZE);
        EXPECT_EQ(boot, c.bootWritten
                            ? Bytes(z18::bootAreaBytes(), z18::bootAreaBytes() + z18::BOOT_AREA_SIZE)
                            : Bytes(old.begin(), old.begin() + z18::BOOT_AREA_SIZE));
    }
}

// The add example, through the built executable with a Windows-style path.
TEST(Add, Example) {
    TempDir dir;
    ASSERT_EQ(runExe({"work", "/f"}, dir.path()).status, 0);
    ASSERT_EQ(::mkdir((dir / "IN").c_str(), 0777), 0);
    const Bytes a = randomBytes(100, 3), minutes = randomBytes(5000, 4);
    writeFile(dir / "IN/A.TXT", a);
    writeFile(dir / "IN/MINUTE~1.TXT", minutes);

    const ExeResult r = runExe({"work", "/a", "IN\\*.TXT"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(afterBanner(r.out),
              "Adding file(s) to 'work.z18'\n"
              "  path: 'IN\\', mask: '*.TXT'\n"
              "\n"
              "File 'A.TXT' added\n"
              "File 'MINUTE~1.TXT' added\n"
              "\n"
              "Done. 2 file(s) added.\n"
              "\n"
              "\n");
    const Bytes image = readFile(dir / "work.z18");
    EXPECT_EQ(entryBytes(image, 0), makeEntry(0, "A       TXT", 0, 1, {1}));
    EXPECT_EQ(entryBytes(image, 1), makeEntry(0, "MINUTE~1TXT", 0, 40, {2, 3, 4}));
    EXPECT_EQ(blocksData(image, 2, 3), padded(minutes, 2048));
}
