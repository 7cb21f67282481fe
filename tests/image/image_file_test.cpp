// The image file as a whole: creation, the size check, the bytes a format writes and the ones it
// must leave alone, exclusive use, write failures, and files that are no usable image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "session/geometry.h"
#include "support/test_support.h"

using namespace z18;
using namespace z18test;

namespace {

const std::string kCreated = "Image 'disk.z18' was created.\n";
const std::string kFormatted = "Image 'disk.z18' was formated.\n";
const std::string kCleaned = "Directory of image 'disk.z18' was cleaned.\n";
const std::string kExists = "Image 'disk.z18' already exist !!!\n\n";
const std::string kCantOpen = "Can't open image 'disk.z18' !!!\n\n";
const std::string kBadSize = "Image 'disk.z18' has bad size !!!\n\n";
const std::string kWriteError = "Error on write to the image 'disk.z18' !!!\n\n";
const std::string kSignatureText = "This disk was formated with \"Z18-MANAGER utility\"";

// The boot area every format writes, byte for byte.
Bytes expectedBootArea() {
    Bytes boot(BOOT_AREA_SIZE, 0x00);
    const std::uint8_t head[] = {0x21, 0x90, 0x00, 0x4E, 0xE5, 0xCD, 0x52, 0xFF, 0xE1, 0x23, 0x7E, 0xA7,
                                 0xC2, 0x83, 0x00, 0x76, 0x1F, 0x1B, 0x2C, 0x22, 0x54, 0x68, 0x69, 0x73,
                                 0x20, 0x64, 0x69, 0x73, 0x6B, 0x20, 0x64, 0x6F, 0x6E, 0x60, 0x74, 0x20,
                                 0x63, 0x6F, 0x6E, 0x74, 0x61, 0x69, 0x6E, 0x20, 0x62, 0x6F, 0x6F, 0x74,
                                 0x61, 0x62, 0x6C, 0x65, 0x20, 0x73, 0x79, 0x73, 0x74, 0x65, 0x6D, 0x00};
    const std::uint8_t loader[] = {0x31, 0x00, 0xBF, 0xCD, 0x1F, 0xF9, 0xC3, 0x40, 0xEC};
    std::copy(std::begin(head), std::end(head), boot.begin());
    std::copy(std::begin(loader), std::end(loader), boot.begin() + 128);
    return boot;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

void patch(Bytes& b, std::size_t at, const Bytes& with) {
    std::copy(with.begin(), with.end(), b.begin() + static_cast<long>(at));
}

// The signature record: the fixed text, a printable 38-character credit, zeros to the end.
void expectSignature(const Bytes& image) {
    ASSERT_EQ(image.size(), IMAGE_SIZE);
    const Bytes sig = slice(image, SIGNATURE_OFFSET, SIGNATURE_SIZE);
    EXPECT_EQ(std::string(sig.begin(), sig.begin() + 49), kSignatureText);
    for (std::size_t i = 49; i < 87; ++i) EXPECT_TRUE(sig[i] >= 0x20 && sig[i] < 0x7F) << "credit byte " << i;
    EXPECT_EQ(slice(sig, 87, 41), Bytes(41, 0x00));
}

// A freshly made image: all filler but the boot area and the signature record.
void expectNewImage(const Bytes& image) {
    ASSERT_EQ(image.size(), IMAGE_SIZE);
    EXPECT_EQ(slice(image, 0, BOOT_AREA_SIZE), expectedBootArea());
    EXPECT_EQ(slice(image, BOOT_AREA_SIZE, SIGNATURE_OFFSET - BOOT_AREA_SIZE),
              Bytes(SIGNATURE_OFFSET - BOOT_AREA_SIZE, FILLER_BYTE));
    expectSignature(image);
}

// An image of the right size holding HELLO.TXT, with random bytes everywhere the tool never looks.
Bytes imageWithFile() {
    Bytes image = randomBytes(IMAGE_SIZE, 7);
    patch(image, DIRECTORY_OFFSET, Bytes(DIRECTORY_SIZE, FILLER_BYTE));
    putEntry(image, 0, 0, "HELLO   TXT", 0, 1, {1});
    return image;
}

// One in-process run against "disk" in dir; "IMG" in args stands for that image, "HOST" for dir.
struct ImageRun {
    explicit ImageRun(const TempDir& d) : dir(d), image(d / "disk.z18") {}
    int run(std::vector<std::string> args) {
        for (auto& a : args) {
            if (a == "IMG") a = dir / "disk";
            if (a.rfind("HOST", 0) == 0) a = dir.path() + a.substr(4);
        }
        status = session.run(args);
        tail = afterBanner(session.output());
        EXPECT_NE(tail, session.output()) << "no banner";
        return status;
    }
    const TempDir& dir;
    std::string image;
    InProcess session;
    int status = -1;
    std::string tail;  // the output after the banner
};

const std::vector<std::vector<std::string>> kAllRequests = {{"IMG", "/c"},
                                                            {"IMG", "/f"},
                                                            {"IMG", "/q"},
                                                            {"IMG", "/a", "HOST/hello.txt"},
                                                            {"IMG", "/e", "hello.txt"},
                                                            {"IMG", "/x", "HOST/hello.txt"}};

bool createsImage(const std::vector<std::string>& args) { return args[1] == "/f" || args[1] == "/a"; }

std::string argsText(const std::vector<std::string>& args) {
    std::string t;
    for (const auto& a : args) t += a + " ";
    return t;
}

}  // namespace

TEST(ImageFile, NewOrEmptyImageIsFilledThenFormatted) {
    for (const bool emptyFileExists : {false, true}) {
        for (const char* option : {"/f", "/a"}) {
            SCOPED_TRACE(std::string(emptyFileExists ? "empty file, " : "missing file, ") + option);
            TempDir dir;
            if (emptyFileExists) {
                writeFile(dir / "disk.z18", Bytes{});
                ::chmod((dir / "disk.z18").c_str(), 0600);
            }
            writeFile(dir / "hello.txt", std::string("hello\n"));
            std::vector<std::string> args = {"IMG", option};
            if (std::string(option) == "/a") args.push_back("HOST/hello.txt");
            const mode_t umaskBefore = ::umask(027);
            ImageRun r(dir);
            EXPECT_EQ(r.run(args), 0);
            ::umask(umaskBefore);

            const Bytes image = readFile(r.image);
            if (std::string(option) == "/f") {
                EXPECT_EQ(r.tail, kCreated + kFormatted + "\n");
                expectNewImage(image);
            } else {  // the add runs after the image is made, so only the format areas are known
                EXPECT_EQ(r.tail.substr(0, kCreated.size() + kFormatted.size()), kCreated + kFormatted);
                EXPECT_EQ(slice(image, 0, BOOT_AREA_SIZE), expectedBootArea());
                expectSignature(image);
            }
            struct stat st;
            ASSERT_EQ(::stat(r.image.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, emptyFileExists ? 0600u : 0640u);  // new: 0666 less the umask
        }
    }
}

TEST(ImageFile, MissingImageIsCreatedOnlyWhereAllowed) {
    for (const auto& args : kAllRequests) {
        if (createsImage(args)) continue;  // shown above
        TempDir dir;
        ImageRun r(dir);
        EXPECT_EQ(r.run(args), 1) << argsText(args);
        EXPECT_EQ(r.tail, kCantOpen) << argsText(args);
        EXPECT_FALSE(fileExists(r.image)) << argsText(args);
    }
}

TEST(ImageFile, BackslashesInTheImagePathSeparateOnThisHost) {
    TempDir dir;
    std::string path = dir / "disk";
    std::replace(path.begin(), path.end(), '/', '\\');
    ImageRun r(dir);
    EXPECT_EQ(r.run({path, "/f"}), 0);
    EXPECT_EQ(r.tail, kCreated + kFormatted + "\n");  // messages name the image alone
    expectNewImage(readFile(r.image));
}

TEST(ImageFile, WrongSizeIsRefusedAndLeftUntouched) {
    // An empty file counts as a wrong size where the request may not create the image.
    const std::vector<std::size_t> sizes = {0, 1, IMAGE_SIZE - 1, IMAGE_SIZE + 1};
    for (const std::size_t size : sizes) {
        for (const auto& args : kAllRequests) {
            if (size == 0 && createsImage(args)) continue;
            SCOPED_TRACE(std::to_string(size) + " bytes, " + argsText(args));
            TempDir dir;
            writeFile(dir / "hello.txt", std::string("hello\n"));
            const Bytes before = randomBytes(size, static_cast<std::uint32_t>(size));
            writeFile(dir / "disk.z18", before);
            ImageRun r(dir);
            EXPECT_EQ(r.run(args), 1);
            EXPECT_EQ(r.tail, kBadSize);
            EXPECT_EQ(readFile(r.image), before);
        }
    }
}

TEST(ImageFile, FormatsRewriteOnlyTheirAreas) {
    for (const char* option : {"/f", "/q"}) {
        SCOPED_TRACE(option);
        TempDir dir;
        const Bytes before = imageWithFile();
        writeFile(dir / "disk.z18", before);
        ImageRun r(dir);
        EXPECT_EQ(r.run({"IMG", option}), 0);

        Bytes expected = before;
        patch(expected, DIRECTORY_OFFSET, Bytes(DIRECTORY_SIZE, FILLER_BYTE));
        if (std::string(option) == "/f") {
            EXPECT_EQ(r.tail, kFormatted + "\n");
            patch(expected, 0, expectedBootArea());
            const Bytes after = readFile(r.image);
            expectSignature(after);
            patch(expected, SIGNATURE_OFFSET, slice(after, SIGNATURE_OFFSET, SIGNATURE_SIZE));
        } else {
            EXPECT_EQ(r.tail, kCleaned + "\n");
        }
        EXPECT_EQ(readFile(r.image), expected);
    }
}

TEST(ImageFile, ImageInUseElsewhereIsAnOpenFailure) {
    // Readers share the image with other readers; anything that writes needs it alone.
    for (const int lock : {LOCK_EX, LOCK_SH}) {
        for (const auto& args : kAllRequests) {
            const bool reader = args[1] == "/c" || args[1] == "/x";
            SCOPED_TRACE(std::string(lock == LOCK_EX ? "exclusive lock, " : "shared lock, ") +
                         argsText(args));
            TempDir dir;
            writeFile(dir / "hello.txt", std::string("hi\n"));
            const Bytes before = imageWithFile();
            writeFile(dir / "disk.z18", before);
            const int holder = ::open((dir / "disk.z18").c_str(), O_RDONLY);
            ASSERT_GE(holder, 0);
            ASSERT_EQ(::flock(holder, lock | LOCK_NB), 0);

            ImageRun r(dir);
            if (lock == LOCK_SH && reader) {
                EXPECT_EQ(r.run(args), 0) << r.tail;
            } else {
                EXPECT_EQ(r.run(args), 1);
                EXPECT_EQ(r.tail, createsImage(args) ? kExists : kCantOpen);
                EXPECT_EQ(readFile(r.image), before);
            }
            ::close(holder);
        }
    }
}

TEST(ImageFile, FailedWritesStopTheRunAndKeepWhatWasWritten) {
    using Kind = FaultEnv::Kind;
    // What the file must hold afterwards, from its bytes before (empty when it was missing) and
    // the signature record as written (its credit is free text).
    using Expect = Bytes (*)(Bytes image, const Bytes& signature);
    struct Case {
        const char* what;
        bool exists;
        const char* option;
        int nth;
        Kind kind;
        std::string output;
        Expect expect;
    };
    const Case cases[] = {
        {"first fill write", false, "/f", 1, Kind::Fail, kWriteError,
         [](Bytes, const Bytes&) { return Bytes{}; }},
        {"second fill write short", false, "/f", 2, Kind::Short, kWriteError,
         [](Bytes, const Bytes&) { return Bytes(SECTOR_SIZE + SECTOR_SIZE - 1, FILLER_BYTE); }},
        {"last fill write", false, "/f", SECTOR_COUNT, Kind::Fail, kWriteError,
         [](Bytes, const Bytes&) { return Bytes(IMAGE_SIZE - SECTOR_SIZE, FILLER_BYTE); }},
        {"fill of an image for adding", false, "/a", 100, Kind::Fail, kWriteError,
         [](Bytes, const Bytes&) { return Bytes(99 * SECTOR_SIZE, FILLER_BYTE); }},
        {"boot area of a new image", false, "/f", SECTOR_COUNT + 1, Kind::Fail, kCreated + kWriteError,
         [](Bytes, const Bytes&) { return blankImage(); }},
        {"boot area", true, "/f", 1, Kind::Fail, kWriteError,
         [](Bytes image, const Bytes&) { return image; }},
        {"signature", true, "/f", 2, Kind::Fail, kWriteError,
         [](Bytes image, const Bytes&) {
             patch(image, 0, expectedBootArea());
             return image;
         }},
        {"directory of a full format", true, "/f", 3, Kind::Fail, kFormatted + kWriteError,
         [](Bytes image, const Bytes& signature) {
             patch(image, 0, expectedBootArea());
             patch(image, SIGNATURE_OFFSET, signature);
             return image;
         }},
        {"directory of a quick format, short", true, "/q", 1, Kind::Short, kWriteError,
         [](Bytes image, const Bytes&) {
             patch(image, DIRECTORY_OFFSET, Bytes(DIRECTORY_SIZE - 1, FILLER_BYTE));
             return image;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dir / "hello.txt", std::string("hello\n"));
        const Bytes before = c.exists ? imageWithFile() : Bytes{};
        if (c.exists) writeFile(dir / "disk.z18", before);
        ImageRun r(dir);
        r.session.env.inject(FaultEnv::Op::Write, c.nth, c.kind, "disk.z18");
        std::vector<std::string> args = {"IMG", c.option};
        if (std::string(c.option) == "/a") args.push_back("HOST/hello.txt");
        EXPECT_EQ(r.run(args), 1);
        EXPECT_EQ(r.tail, c.output);

        const Bytes after = readFile(r.image);
        const Bytes signature =
            after.size() == IMAGE_SIZE ? slice(after, SIGNATURE_OFFSET, SIGNATURE_SIZE) : Bytes{};
        const Bytes expected = c.expect(before, signature);
        EXPECT_EQ(after.size(), expected.size());
        EXPECT_TRUE(after == expected);
    }
}

TEST(ImageFile, WriteProtectedImageCanBeReadButNotChanged) {
    TempDir dir;
    writeFile(dir / "hello.txt", std::string("hello\n"));
    Bytes before = imageWithFile();
    patch(before, blockOffset(1), Bytes(RECORD_SIZE, 'h'));
    writeFile(dir / "disk.z18", before);
    ASSERT_EQ(::chmod((dir / "disk.z18").c_str(), 0444), 0);
    ::mkdir((dir / "out").c_str(), 0777);

    for (auto args : kAllRequests) {
        SCOPED_TRACE(argsText(args));
        if (args[1] == "/x") args[2] = "HOST/out/hello.txt";
        ImageRun r(dir);
        const bool reader = args[1] == "/c" || args[1] == "/x";
        EXPECT_EQ(r.run(args), reader ? 0 : 1);
        if (!reader) {
            EXPECT_EQ(r.tail, createsImage(args) ? kExists : kCantOpen);
        }
        EXPECT_EQ(readFile(r.image), before);
        struct stat st;
        ASSERT_EQ(::stat(r.image.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0444u);
    }
    EXPECT_EQ(readFile(dir / "out/HELLO.TXT"), Bytes(RECORD_SIZE, 'h'));
}

TEST(ImageFile, DirectoryFifoOrDeviceIsAnOpenFailure) {
    // A blocking open of a FIFO would hang the run; the alarm turns that into a failed test.
    ::alarm(60);
    for (const char* kind : {"directory", "fifo", "device"}) {
        for (const auto& args : kAllRequests) {
            SCOPED_TRACE(std::string(kind) + ", " + argsText(args));
            TempDir dir;
            writeFile(dir / "hello.txt", std::string("hello\n"));
            const std::string image = dir / "disk.z18";
            if (std::string(kind) == "directory") {
                ASSERT_EQ(::mkdir(image.c_str(), 0777), 0);
            }
            if (std::string(kind) == "fifo") {
                ASSERT_EQ(::mkfifo(image.c_str(), 0666), 0);
            }
            if (std::string(kind) == "device") {
                ASSERT_EQ(::symlink("/dev/null", image.c_str()), 0);
            }
            ImageRun r(dir);
            EXPECT_EQ(r.run(args), 1);
            EXPECT_EQ(r.tail, createsImage(args) ? kExists : kCantOpen);
        }
    }
    ::alarm(0);
}

// The flushes put an order on what reaches the disk: a block before the directory that names it, a
// cleared directory before the blocks a following add reuses, a format alone before its message.
// A flush that fails is reported once and ends the writing: nothing that depends on it is written,
// and it is never tried again (a second try could pass without the writes having reached the disk).
TEST(ImageFile, FlushesOrderTheWritesAndAFailedOneEndsThem) {
    const Bytes data = randomBytes(3000, 11);  // two blocks: 2 and 3 beside HELLO.TXT, 1 and 2 after a clear
    auto cleared = [](Bytes image) {
        patch(image, DIRECTORY_OFFSET, Bytes(DIRECTORY_SIZE, FILLER_BYTE));
        return image;
    };
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int failedFlush;  // 0: none fails
        int status;
        int writes, flushes;
        std::string shown, notShown;
        std::function<Bytes(const Bytes&)> expect;  // the image afterwards; none: not checked here
    };
    const Case cases[] = {
        {"erase", {"IMG", "/e", "hello.txt"}, 0, 0, 1, 1, "eresed", "!!!", nullptr},
        {"add: the blocks, then the directory",
         {"IMG", "/a", "HOST/new.txt"},
         0,
         0,
         3,
         2,
         "added",
         "!!!",
         nullptr},
        {"add, the flush of its blocks fails: the directory stays as it was",
         {"IMG", "/a", "HOST/new.txt"},
         1,
         0,
         2,
         1,
         kWriteError,
         "",
         [&](Bytes image) {
             putBlock(image, 2, data);
             putBlock(image, 3, data, BLOCK_SIZE);
             return image;
         }},
        {"quick format and add, the flush of the cleared directory fails: no block is written",
         {"IMG", "/q", "/a", "HOST/new.txt"},
         1,
         0,
         1,
         1,
         kCleaned,
         "added",
         cleared},
        {"quick format alone, its flush fails", {"IMG", "/q"}, 1, 1, 1, 1, kWriteError, kCleaned, cleared},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dir / "new.txt", data);
        const Bytes before = imageWithFile();
        writeFile(dir / "disk.z18", before);
        ImageRun r(dir);
        r.session.env.inject(FaultEnv::Op::Flush, c.failedFlush > 0 ? c.failedFlush : 1 << 30,
                             FaultEnv::Kind::Fail, "disk.z18");
        r.session.env.inject(FaultEnv::Op::Write, 1 << 30, FaultEnv::Kind::Fail, "disk.z18");  // only counted
        EXPECT_EQ(r.run(c.args), c.status);
        EXPECT_NE(r.tail.find(c.shown), std::string::npos) << r.tail;
        if (!c.notShown.empty()) {
            EXPECT_EQ(r.tail.find(c.notShown), std::string::npos) << r.tail;
        }
        EXPECT_EQ(r.session.env.calls(FaultEnv::Op::Write), c.writes);
        EXPECT_EQ(r.session.env.calls(FaultEnv::Op::Flush), c.flushes);
        if (c.failedFlush > 0) {
            EXPECT_EQ(r.tail.find(kWriteError), r.tail.rfind(kWriteError)) << "reported twice";
        }
        if (c.expect) {
            EXPECT_TRUE(readFile(dir / "disk.z18") == c.expect(before));
        }
    }
}
