// Extracting files: lengths driven by the record count, the order of a file's entries, the three
// closing forms, host files that cannot be created, failed transfers, and an image left untouched.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commands/command_util.h"

using namespace cmdtest;
using namespace z18test;

namespace {

std::string heading(const std::string& path, const std::string& mask) {
    return "Extracting file(s) from 'disk.z18'\n  path: '" + path + "', mask: '" + mask + "'\n\n";
}

// An image whose blocks 1 to 174 hold distinct random bytes, so any misplaced copy shows.
Bytes noisyImage() {
    Bytes image = blankImage();
    const Bytes noise = randomBytes(174 * z18::BLOCK_SIZE, 99);
    std::copy(noise.begin(), noise.end(), image.begin() + static_cast<long>(z18::blockOffset(1)));
    return image;
}

// Runs "/x argument" on the image in dir; the image must come out byte for byte as it went in.
Result extract(const TempDir& dir, const Bytes& image, const std::string& argument,
               const std::function<void(z18::FaultEnv&)>& faults = {}) {
    writeFile(dir / "disk.z18", image);
    const Result r = run({dir / "disk", "/x", argument}, faults);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(readFile(dir / "disk.z18") == image) << "extract changed the image";
    return r;
}

Bytes prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

}  // namespace

TEST(Extract, Example) {
    TempDir dir;
    Bytes image = noisyImage();
    putEntry(image, 0, 0, "A       TXT", 0, 1, {1});
    putEntry(image, 1, 0, "MINUTE~1TXT", 0, 2, {2});
    writeFile(dir / "work.z18", image);
    ASSERT_EQ(::mkdir((dir / "OUT").c_str(), 0777), 0);

    const ExeResult all = runExe({"work", "/x", "OUT\\*.TXT"}, dir.path());
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(afterBanner(all.out),
              "Extracting file(s) from 'work.z18'\n"
              "  path: 'OUT\\', mask: '*.TXT'\n"
              "\n"
              "File 'A.TXT' extracted\n"
              "File 'MINUTE~1.TXT' extracted\n"
              "\n"
              "Done. 2 file(s) extracted.\n"
              "\n"
              "\n");
    EXPECT_EQ(readFile(dir / "OUT/A.TXT"), prefix(blockBytes(image, 1), 128));
    EXPECT_EQ(readFile(dir / "OUT/MINUTE~1.TXT"), prefix(blockBytes(image, 2), 256));

    ASSERT_EQ(::unlink((dir / "OUT/MINUTE~1.TXT").c_str()), 0);
    const ExeResult one = runExe({"work", "/x", "OUT\\a.txt"}, dir.path());
    EXPECT_EQ(afterBanner(one.out),
              "Extracting file(s) from 'work.z18'\n"
              "  path: 'OUT\\', mask: 'a.txt'\n"
              "\n"
              "File 'A.TXT' extracted\n"
              "File 'a.txt' was extracted\n"
              "\n"
              "\n");
    EXPECT_FALSE(fileExists(dir / "OUT/MINUTE~1.TXT"));
    EXPECT_EQ(readFile(dir / "work.z18"), image);
}

// Files written by the add command come back whole, the last record filled up with zero bytes.
TEST(Extract, LengthsOfAddedFiles) {
    for (const auto& [size, out] :
         {std::pair<std::size_t, std::size_t>{0, 0}, {100, 128}, {32768, 32768}, {32769, 32896}}) {
        SCOPED_TRACE(size);
        TempDir dir;
        const Bytes data = randomBytes(size, static_cast<std::uint32_t>(size) + 1);
        writeFile(dir / "F.BIN", data);
        ASSERT_EQ(run({dir / "disk", "/a", dir / "F.BIN"}).status, 0);
        ASSERT_EQ(::mkdir((dir / "out").c_str(), 0777), 0);
        const Result r = extract(dir, readFile(dir / "disk.z18"), dir / "out/f.bin");
        EXPECT_EQ(r.body, heading(dir / "out/", "f.bin") +
                              "File 'F.BIN' extracted\nFile 'f.bin' was extracted\n\n\n");
        const Bytes back = readFile(dir / "out/F.BIN");
        EXPECT_EQ(back.size(), out);
        EXPECT_EQ(back, padded(data, 128));
        // A new host file gets the ordinary permissions: read-write for all, less the umask.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat st;
        ASSERT_EQ(::stat((dir / "out/F.BIN").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
    }
}

// Crafted directories: the record count, not the block list, decides the length, and each extent
// comes from the entry CP/M takes for it, wherever that entry stands.
TEST(Extract, RecordCountAndEntryOrderDecide) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> entries;
        std::function<Bytes(const Bytes&)> expected;
    };
    const Case cases[] = {
        {"more blocks than records need",
         [](Bytes& im) {
             putEntry(im, 0, 0, "F       BIN", 0, 3, {5, 6, 7});
         },
         [](const Bytes& im) { return prefix(blockBytes(im, 5), 384); }},
        {"entries taken by their extent bytes, not by their order",
         [](Bytes& im) {
             putEntry(im, 0, 0, "F       BIN", 1, 128,
                      {9, 8, 7, 6, 5, 4, 3, 2, 1, 10, 11, 12, 13, 14, 15, 16});
             putEntry(im, 1, 0, "OTHER   BIN", 0, 1, {20});
             putEntry(im, 2, 0, "F       BIN", 4, 2, {30});  // even extent: adds no 128
             putEntry(im, 3, 0, "F       BIN", 2, 3, {31});
         },
         [](const Bytes& im) {
             // 256 records from entry 0, then extent 2 from entry 3: its 3 records end the
             // file, so extent 4 is never reached.
             Bytes out;
             for (int b : {9, 8, 7, 6, 5, 4, 3, 2, 1, 10, 11, 12, 13, 14, 15, 16})
                 out = concat(out, blockBytes(im, b));
             return concat(out, prefix(blockBytes(im, 31), 3 * 128));
         }},
        {"an entry of the file before its first entry is read in its place",
         [](Bytes& im) {
             putEntry(im, 0, 0, "F       BIN", 2, 5, {20});
             putEntry(im, 1, 0, "F       BIN", 1, 128,
                      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
         },
         [](const Bytes& im) { return concat(blocksData(im, 1, 16), prefix(blockBytes(im, 20), 5 * 128)); }},
        {"same name in another user area is another file; an extent after the last record is not read",
         [](Bytes& im) {
             putEntry(im, 0, 0, "F       BIN", 0, 40, {1, 2, 3});
             putEntry(im, 1, 4, "F       BIN", 2, 128, {4});
             putEntry(im, 2, 0, withBits("F       BIN", {8}), 2, 128, {5});
         },
         [](const Bytes& im) { return concat(blocksData(im, 1, 2), prefix(blockBytes(im, 3), 8 * 128)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Bytes image = noisyImage();
        c.entries(image);
        const Result r = extract(dir, image, dir / "F.BIN");
        EXPECT_EQ(r.body, heading(dir.path() + "/", "F.BIN") +
                              "File 'F.BIN' extracted\nFile 'F.BIN' was extracted\n\n\n");
        EXPECT_EQ(readFile(dir / "F.BIN"), c.expected(image));
    }
}

TEST(Extract, ClosingForms) {
    Bytes image = noisyImage();
    putEntry(image, 0, 0, "README  TXT", 0, 2, {1});
    putEntry(image, 1, 3, "A       TXT", 0, 2, {2});
    putEntry(image, 2, 0, "A       TXT", 0, 1, {3});
    struct Case {
        const char* mask;
        std::string closing;
    };
    for (const Case& c :
         {Case{"readme.txt", "File 'README.TXT' extracted\nFile 'readme.txt' was extracted\n\n"},
          Case{"nothere.txt", "File 'nothere.txt' not found !!!\n"},
          Case{"*.com", "\nDone. 0 file(s) extracted.\n\n"},
          // Two user areas, one host file: the second replaces the first.
          Case{"a.txt",
               "File 'A.TXT' extracted\nFile 'A.TXT' extracted\n\nDone. 2 file(s) extracted.\n\n"}}) {
        SCOPED_TRACE(c.mask);
        TempDir dir;
        const Result r = extract(dir, image, dir / c.mask);
        EXPECT_EQ(r.body, heading(dir.path() + "/", c.mask) + c.closing + "\n");
    }
    TempDir dir;
    extract(dir, image, dir / "a.txt");
    EXPECT_EQ(readFile(dir / "A.TXT"), prefix(blockBytes(image, 3), 128));
}

// The command ends at the first host file it cannot create, leaving that file as it was and the
// files extracted before it complete.
TEST(Extract, HostFileCannotBeCreated) {
    Bytes image = noisyImage();
    putEntry(image, 0, 0, "A       TXT", 0, 1, {1});
    putEntry(image, 1, 0, "B       TXT", 0, 1, {2});
    putEntry(image, 2, 0, "C       TXT", 0, 1, {3});
    putEntry(image, 3, 0, "DISK    Z18", 0, 1, {4});
    const Bytes keep = randomBytes(5000, 5);
    struct Case {
        const char* what;
        std::function<int(const TempDir&)> prepare;  // returns a descriptor to close afterwards, or -1
        const char* mask;
        const char* failing;
    };
    const Case cases[] = {
        {"write-protected host file",
         [&](const TempDir& d) {
             writeFile(d / "B.TXT", keep);
             return ::chmod((d / "B.TXT").c_str(), 0444) == 0 ? -1 : -2;
         },
         "*.TXT", "B.TXT"},
        {"host file locked by another process",
         [&](const TempDir& d) {
             writeFile(d / "B.TXT", keep);
             const int fd = ::open((d / "B.TXT").c_str(), O_RDONLY);
             return ::flock(fd, LOCK_SH | LOCK_NB) == 0 ? fd : -2;
         },
         "*.TXT", "B.TXT"},
        {"a FIFO of that name",
         [](const TempDir& d) { return ::mkfifo((d / "B.TXT").c_str(), 0666) == 0 ? -1 : -2; }, "*.TXT",
         "B.TXT"},
        {"a directory of that name",
         [](const TempDir& d) { return ::mkdir((d / "B.TXT").c_str(), 0777) == 0 ? -1 : -2; }, "*.TXT",
         "B.TXT"},
        {"the image itself, through a link of that name",
         [](const TempDir& d) { return ::symlink("disk.z18", (d / "DISK.Z18").c_str()) == 0 ? -1 : -2; },
         "*.*", "DISK.Z18"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const int fd = c.prepare(dir);
        ASSERT_NE(fd, -2);
        ::alarm(20);  // a stalled open ends the test binary instead of hanging it
        const Result r = extract(dir, image, dir / c.mask);  // also checks the image is untouched
        ::alarm(0);
        if (fd >= 0) ::close(fd);
        const std::string failing = c.failing;
        const std::string before = failing == "B.TXT" ? "File 'A.TXT' extracted\n"
                                                      : "File 'A.TXT' extracted\nFile 'B.TXT' extracted\n"
                                                        "File 'C.TXT' extracted\n";
        EXPECT_EQ(r.body, heading(dir.path() + "/", c.mask) + before + "File '" + failing +
                              "' already exist !!!\n\n");
        EXPECT_EQ(readFile(dir / "A.TXT"), prefix(blockBytes(image, 1), 128));
        if (failing == "B.TXT") {
            EXPECT_FALSE(fileExists(dir / "C.TXT"));
            struct stat st;
            ASSERT_EQ(::stat((dir / "B.TXT").c_str(), &st), 0);
            if (S_ISREG(st.st_mode)) {
                EXPECT_EQ(readFile(dir / "B.TXT"), keep) << "a file that may not be written was emptied";
            }
        }
    }
    TempDir dir;
    const Result missing = extract(dir, image, dir / "nodir/*.TXT");
    EXPECT_EQ(missing.body, heading(dir / "nodir/", "*.TXT") + "File 'A.TXT' already exist !!!\n\n");
    EXPECT_FALSE(fileExists(dir / "nodir"));
}

// A failed transfer breaks off: the host file keeps what was written before the failure.
TEST(Extract, FailedTransferKeepsWhatWasWritten) {
    Bytes image = noisyImage();
    putEntry(image, 0, 0, "A       TXT", 0, 40, {1, 2, 3});
    putEntry(image, 1, 0, "B       TXT", 0, 1, {4});
    using F = z18::FaultEnv;
    struct Case {
        const char* what;
        F::Op op;
        int nth;  // image reads: the directory load is the first
        const char* suffix;
        const char* message;
    };
    for (const Case& c :
         {Case{"image read", F::Op::Read, 3, "disk.z18", "Error on read from the image 'disk.z18' !!!\n"},
          Case{"host write", F::Op::Write, 2, "A.TXT", "Error on write to the file 'A.TXT' !!!\n"}}) {
        for (const F::Kind kind : {F::Kind::Fail, F::Kind::Short}) {
            SCOPED_TRACE(std::string(c.what) + (kind == F::Kind::Fail ? " fails" : " falls short"));
            TempDir dir;
            const Result r =
                extract(dir, image, dir / "*.TXT", [&](F& env) { env.inject(c.op, c.nth, kind, c.suffix); });
            EXPECT_EQ(r.body, heading(dir.path() + "/", "*.TXT") + c.message + "\n");
            const Bytes out = readFile(dir / "A.TXT");
            // A short host write leaves its 2047 bytes; nothing else reaches the file.
            const bool shortWrite = c.op == F::Op::Write && kind == F::Kind::Short;
            EXPECT_EQ(out, prefix(blocksData(image, 1, 2), shortWrite ? 4095 : 2048));
            EXPECT_FALSE(fileExists(dir / "B.TXT"));
        }
    }
}
