// The session driver: the order of its steps, what each stop prints, the exit status, the closing
// newline-and-flush, and the status line of every failure code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "run/driver.h"
#include "session/geometry.h"
#include "support/test_support.h"

using namespace z18;
using namespace z18test;

namespace {

// An output buffer that remembers how much had been written at every flush.
class FlushLog : public std::stringbuf {
public:
    std::vector<std::size_t> flushes;

protected:
    int sync() override {
        flushes.push_back(str().size());
        return 0;
    }
};

struct Traced {
    Traced() : env(defaultEnv()), out(&log), session(env, out) {
        // Counts every write without ever failing one.
        env.inject(FaultEnv::Op::Write, INT_MAX, FaultEnv::Kind::Fail);
    }
    int run(const std::vector<std::string>& args) {
        std::vector<const char*> argv{"z18man"};
        for (const auto& a : args) argv.push_back(a.c_str());
        return runSession(session, static_cast<int>(argv.size()), argv.data());
    }
    std::string output() const { return log.str(); }
    bool endsWithFlush() const { return !log.flushes.empty() && log.flushes.back() == log.str().size(); }

    FaultEnv env;
    FlushLog log;
    std::ostream out;
    Session session;
};

bool lockedByNobody(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return true;  // no file, nothing held
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// A formatted image holding HELLO.TXT (one record in block 1).
Bytes imageWithFile() {
    Bytes image = blankImage();
    putEntry(image, 0, 0, "HELLO   TXT", 0, 1, {1});
    const char text[] = "hello\n";
    std::memcpy(&image[blockOffset(1)], text, sizeof text - 1);
    return image;
}

}  // namespace

TEST(ReportStatus, EveryCodePrintsItsLineAndFlushes) {
    struct Case {
        StatusCode code;
        const char* line;
    };
    const Case cases[] = {
        {ST_IMAGE_EXISTS, "Image 'disk.z18' already exist !!!\n"},
        {ST_IMAGE_OPEN, "Can't open image 'disk.z18' !!!\n"},
        {ST_IMAGE_BAD_SIZE, "Image 'disk.z18' has bad size !!!\n"},
        {ST_IMAGE_READ, "Error on read from the image 'disk.z18' !!!\n"},
        {ST_IMAGE_WRITE, "Error on write to the image 'disk.z18' !!!\n"},
        {ST_FILE_EXISTS, "File 'a.com' already exist !!!\n"},
        {ST_FILE_OPEN, "Can't open file 'a.com' !!!\n"},
        {ST_FILE_READ, "Error on read from the file 'a.com' !!!\n"},
        {ST_FILE_WRITE, "Error on write to the file 'a.com' !!!\n"},
        {ST_DISK_FULL, "Disk full !!!\n"},
        {ST_DIRECTORY_FULL, "Directory full !!!\n"},
        {ST_DUPLICATE_NAME, "File 'a.com' already exist !!!\n"},
        {ST_NOT_FOUND, "File 'a.com' not found !!!\n"},
        {ST_BAD_NAME, "Name of tihs file 'a.com' has incorrect format !!!\n"},
        {ST_CORRUPT_ENTRY, "Corrupted directory entry 'BAD.COM' !!!\n"},
    };
    static_assert(sizeof cases / sizeof cases[0] == 15, "one row per code");
    for (const Case& c : cases) {
        Traced r;
        r.session.imageName = "disk.z18";
        r.session.currentName = "a.com";
        std::strcpy(r.session.entryInfo.displayName, "BAD.COM");
        reportStatus(r.session, c.code);
        EXPECT_EQ(r.output(), c.line) << c.code;
        EXPECT_TRUE(r.endsWithFlush()) << c.code;
    }
}

// Whole runs: what follows the banner, the exit status, and what reached the image.
TEST(Driver, StepsRunInOrderAndStopWhereTheyShould) {
    enum Setup { NONE, FRESH, WITH_FILE };
    struct Case {
        const char* what;
        Setup setup;
        std::vector<std::string> args;  // "IMG" is replaced by the image path
        std::string expected;           // after the banner; a leading "..." compares the tail only
        int status;
        bool writes;
        bool failRead = false;
        bool failWrite = false;
    };
    const std::string created = "Image 'disk.z18' was created.\n";
    const std::string formatted = "Image 'disk.z18' was formated.\n";
    const std::string cleaned = "Directory of image 'disk.z18' was cleaned.\n";
    const Case cases[] = {
        {"no arguments", NONE, {}, usageText() + "\n", 1, false},
        {"image alone", NONE, {"IMG"}, usageText() + "\n", 1, false},
        {"bad switch", FRESH, {"IMG", "/C"}, usageText() + "\n", 1, false},
        {"full format creates", NONE, {"IMG", "/f"}, created + formatted + "\n", 0, true},
        {"full format only formats", WITH_FILE, {"IMG", "/f"}, formatted + "\n", 0, true},
        {"quick format", WITH_FILE, {"IMG", "/q"}, cleaned + "\n", 0, true},
        {"quick format needs the image",
         NONE,
         {"IMG", "/q"},
         "Can't open image 'disk.z18' !!!\n\n",
         1,
         false},
        {"bad mask after full format and creation",
         NONE,
         {"IMG", "/f", "/a", "toolongname.txt"},
         created + formatted + "Name of tihs file 'toolongname.txt' has incorrect format !!!\n\n",
         1,
         true},
        {"bad mask after quick format",
         WITH_FILE,
         {"IMG", "/a", "in\\ab;c.txt", "/q"},
         cleaned + "Name of tihs file 'ab;c.txt' has incorrect format !!!\n\n",
         1,
         true},
        {"bad mask, catalogue",
         WITH_FILE,
         {"IMG", "/c", "toolongname.txt"},
         "Name of tihs file 'toolongname.txt' has incorrect format !!!\n\n",
         1,
         false},
        {"bad mask, erase",
         WITH_FILE,
         {"IMG", "/e", "Ab;c.txt"},
         "Name of tihs file 'Ab;c.txt' has incorrect format !!!\n\n",
         1,
         false},
        {"bad mask, extract",
         WITH_FILE,
         {"IMG", "/x", "out\\Bad.Name.x"},
         "Name of tihs file 'Bad.Name.x' has incorrect format !!!\n\n",
         1,
         false},
        {"directory unreadable",
         WITH_FILE,
         {"IMG", "/c"},
         "Error on read from the image 'disk.z18' !!!\n\n",
         1,
         false,
         true},
        {"failed command still exits 0",
         WITH_FILE,
         {"IMG", "/x", "nothere.txt"},
         "...File 'nothere.txt' not found !!!\n\n",
         0,
         false},
        {"failed write-back still exits 0",
         WITH_FILE,
         {"IMG", "/e", "hello.txt"},
         "...Error on write to the image 'disk.z18' !!!\n\n",
         0,
         true,
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string image = dir / "disk.z18";
        if (c.setup == FRESH) writeFile(image, blankImage());
        if (c.setup == WITH_FILE) writeFile(image, imageWithFile());
        const Bytes before = readFile(image);

        Traced r;
        if (c.failRead) r.env.inject(FaultEnv::Op::Read, 1, FaultEnv::Kind::Fail);
        if (c.failWrite) r.env.inject(FaultEnv::Op::Write, 1, FaultEnv::Kind::Fail);
        std::vector<std::string> args = c.args;
        for (auto& a : args)
            if (a == "IMG") a = dir / "disk";
        EXPECT_EQ(r.run(args), c.status);

        const std::string out = afterBanner(r.output());
        ASSERT_NE(out, r.output()) << "no banner";
        if (c.expected.rfind("...", 0) == 0) {
            const std::string tail = c.expected.substr(3);
            ASSERT_GE(out.size(), tail.size());
            EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
        } else {
            EXPECT_EQ(out, c.expected);
        }
        EXPECT_TRUE(r.endsWithFlush());
        EXPECT_EQ(r.session.imageHandle, CLOSED_HANDLE);
        EXPECT_EQ(r.session.hostHandle, CLOSED_HANDLE);
        EXPECT_TRUE(lockedByNobody(image));

        if (!c.writes) {
            EXPECT_EQ(r.env.calls(FaultEnv::Op::Write), 0);
            EXPECT_EQ(readFile(image), before);
            EXPECT_EQ(fileExists(image), c.setup != NONE);
        }
    }
}

TEST(Driver, BadMaskIsRejectedOnlyAfterTheFormatReachedTheImage) {
    TempDir dir;
    Bytes image = imageWithFile();
    writeFile(dir / "disk.z18", image);
    Traced r;
    EXPECT_EQ(r.run({dir / "disk", "/a", "toolongname.txt", "/f"}), 1);

    const Bytes after = readFile(dir / "disk.z18");
    ASSERT_EQ(after.size(), IMAGE_SIZE);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + BOOT_AREA_SIZE, bootAreaBytes()));
    EXPECT_EQ(directoryOf(after), Bytes(DIRECTORY_SIZE, FILLER_BYTE));
    EXPECT_EQ(std::string(after.begin() + SIGNATURE_OFFSET, after.begin() + SIGNATURE_OFFSET + 49),
              "This disk was formated with \"Z18-MANAGER utility\"");
}
