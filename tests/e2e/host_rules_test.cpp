// The rules the host sets, through the built executable: what the directory search yields and in
// which order, which host files may be opened, read or replaced, and when the catalogue waits.
// The same tests drive the Windows build under Wine (scripts/windows-test.sh); where the two hosts
// differ, each expectation is spelled out for both.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "support/terminal.h"
#include "support/test_support.h"

using namespace z18test;

namespace {

// The text from the first occurrence of `start` on.
std::string from(const std::string& text, const std::string& start) {
    const std::size_t at = text.find(start);
    return at == std::string::npos ? text : text.substr(at);
}

// Whether the line reports a file added under an 8.3 alternate name of the system's making (with
// a "~") that ends in `type`.
bool isAlternateNameAdded(const std::string& line, const std::string& type) {
    const std::string head = "File '", tail = "' added";
    if (line.size() < head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string name = line.substr(head.size(), line.size() - head.size() - tail.size());
    const std::size_t dot = name.find('.');
    const std::string nameType = dot == std::string::npos ? "" : name.substr(dot);
    return name.find('~') != std::string::npos && nameType == type;
}

// Whether a process other than this one has the file open, as /proc shows.
bool openElsewhere(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    if (ec) return false;
    const std::string self = std::to_string(::getpid());
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        if (proc->path().filename() == self) continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(proc->path() / "fd", fdError); !fdError && fd != end;
             fd.increment(fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd->path(), linkError) == target) return true;
        }
    }
    return false;
}

void makeDir(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0777), 0) << path; }

// An image whose directory holds one-record files of the given 11-character names, each holding
// "HI\n" and zero bytes.
void writeImage(const std::string& path, const std::vector<std::string>& names) {
    writeFile(path, imageOfFiles(names));
}

Bytes record(const std::string& text) {
    Bytes r(text.begin(), text.end());
    r.resize(128, 0);
    return r;
}

}  // namespace

// The add command takes the host search as it comes. A POSIX host yields names in byte order,
// leaves out names that begin with a dot, and has no 8.3 alternate names, so a long name is
// refused. Windows yields them in the order of their upper-case forms, dot names included, and
// every name that is no 8.3 name has an alternate name of the system's making (NTFS "MINUTE~1",
// Wine a hashed "MINU~VY0"), under which the file goes in.
TEST(HostRules, AddTakesTheHostSearchAsItComes) {
    TempDir dir;
    makeDir(dir / "in");
    writeFile(dir / "in/a.txt", std::string("a"));
    writeFile(dir / "in/B.TXT", std::string("b"));
    writeFile(dir / "in/Minutes of May.txt", std::string("minutes"));
    writeFile(dir / "in/.hidden", std::string("dot"));
    const ExeResult r = runExe({"disk", "/a", "in/*"}, dir.path());
    EXPECT_EQ(r.status, 0);
    const std::string files = from(afterBanner(r.out), "File '");
    if (windowsExe()) {
        // .hidden, a.txt, B.TXT, Minutes of May.txt; the system names the first and the last.
        std::istringstream in(files);
        std::string line[4], rest;
        for (std::string& l : line) std::getline(in, l);
        std::getline(in, rest, '\0');
        EXPECT_TRUE(isAlternateNameAdded(line[0], "")) << files;
        EXPECT_EQ(line[1], "File 'A.TXT' added");
        EXPECT_EQ(line[2], "File 'B.TXT' added");
        EXPECT_TRUE(isAlternateNameAdded(line[3], ".TXT")) << files;
        EXPECT_EQ(rest, "\nDone. 4 file(s) added.\n\n\n");
    } else {
        EXPECT_EQ(files,
                  "File 'B.TXT' added\n"
                  "Name of tihs file 'MINUTES OF MAY.TXT' has incorrect format !!!\n"
                  "File 'A.TXT' added\n"
                  "\nDone. 2 file(s) added.\n\n\n");
    }
}

// A folder is passed over by its folder bit, whatever other attributes it has: Wine reports a
// folder without write permission as read-only, and one whose extended attributes say so (as
// Samba keeps them) as hidden. The POSIX host knows no such bits: both are plain folders there.
TEST(HostRules, FoldersArePassedOverWhateverTheirAttributes) {
    TempDir dir;
    makeDir(dir / "in");
    makeDir(dir / "in/RODIR");
    makeDir(dir / "in/HIDDIR");
    writeFile(dir / "in/A.TXT", std::string("a"));
    ASSERT_EQ(::chmod((dir / "in/RODIR").c_str(), 0555), 0);
    const char hiddenFolder[] = "0x12";
    if (::setxattr((dir / "in/HIDDIR").c_str(), "user.DOSATTRIB", hiddenFolder, sizeof hiddenFolder - 1, 0) !=
        0)
        GTEST_SKIP() << "the temporary file system keeps no extended attributes";
    const ExeResult r = runExe({"disk", "/a", "in/*"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(afterBanner(r.out),
              "Image 'disk.z18' was created.\nImage 'disk.z18' was formated.\n"
              "Adding file(s) to 'disk.z18'\n  path: 'in/', mask: '*'\n\n"
              "File 'A.TXT' added\n\nDone. 1 file(s) added.\n\n\n");
}

// Names the host reserves for devices (CON, NUL, AUX...) are never opened as files on Windows,
// neither to add nor to extract into: nothing blocks on a console and no data vanishes into NUL
// while the run reports it extracted. On POSIX they are ordinary names.
TEST(HostRules, DeviceNamesAreNoFilesOnWindows) {
    TempDir dir;
    makeDir(dir / "in");
    makeDir(dir / "out");
    writeFile(dir / "in/con", std::string("c"));
    writeImage(dir / "disk.z18", {"A       TXT", "NUL     TXT", "Z       TXT"});

    const ExeResult add = runExe({"disk", "/a", "in/con"}, dir.path());
    const ExeResult x = runExe({"disk", "/x", "out/*.TXT"}, dir.path());
    EXPECT_EQ(add.status, 0);
    EXPECT_EQ(x.status, 0);
    if (windowsExe()) {
        EXPECT_NE(add.out.find("Can't open file 'CON' !!!\n\nDone. 0 file(s) added."), std::string::npos)
            << add.out;
        EXPECT_NE(x.out.find("File 'A.TXT' extracted\nFile 'NUL.TXT' already exist !!!\n"), std::string::npos)
            << x.out;
        EXPECT_FALSE(fileExists(dir / "out/Z.TXT"));
    } else {
        EXPECT_NE(add.out.find("File 'CON' added"), std::string::npos) << add.out;
        EXPECT_NE(x.out.find("Done. 3 file(s) extracted."), std::string::npos) << x.out;
        EXPECT_EQ(readFile(dir / "out/NUL.TXT"), record("HI\n"));
    }
    EXPECT_EQ(readFile(dir / "out/A.TXT"), record("HI\n"));
}

// Windows looks names up without regard to case: extracting A.TXT where a.txt exists replaces
// a.txt. A POSIX host makes A.TXT beside it. Either way "\" and "/" both separate.
TEST(HostRules, ExtractionMeetsTheHostsCaseRule) {
    TempDir dir;
    makeDir(dir / "out");
    makeDir(dir / "out/sub");
    writeFile(dir / "out/sub/a.txt", std::string("old"));
    writeImage(dir / "disk.z18", {"A       TXT"});
    const ExeResult x = runExe({"disk", "/x", "out\\sub/a.txt"}, dir.path());
    EXPECT_EQ(x.status, 0);
    EXPECT_NE(x.out.find("File 'A.TXT' extracted\nFile 'a.txt' was extracted\n"), std::string::npos) << x.out;
    if (windowsExe()) {
        EXPECT_EQ(readFile(dir / "out/sub/a.txt"), record("HI\n"));
        EXPECT_FALSE(fileExists(dir / "out/sub/A.TXT"));
    } else {
        EXPECT_EQ(readFile(dir / "out/sub/a.txt"), Bytes({'o', 'l', 'd'}));
        EXPECT_EQ(readFile(dir / "out/sub/A.TXT"), record("HI\n"));
    }
}

// Write protection, the same on both hosts: a read-only image can be listed and extracted but
// not changed; a read-only host file can be added (it is only read) but is never replaced.
TEST(HostRules, WriteProtectedFilesAreOnlyRead) {
    TempDir dir;
    makeDir(dir / "out");
    writeImage(dir / "disk.z18", {"A       TXT", "B       TXT"});
    writeFile(dir / "N.TXT", std::string("new"));
    writeFile(dir / "out/B.TXT", std::string("keep"));
    ASSERT_EQ(::chmod((dir / "N.TXT").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((dir / "out/B.TXT").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((dir / "disk.z18").c_str(), 0444), 0);
    const Bytes before = readFile(dir / "disk.z18");

    struct Case {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"disk", "/c"}, "4K in 2 file(s), 344K free"},
        {{"disk", "/x", "out/*.txt"}, "File 'A.TXT' extracted\nFile 'B.TXT' already exist !!!\n"},
        {{"disk", "/e", "a.txt"}, "Can't open image 'disk.z18' !!!\n"},
        {{"disk", "/a", "N.TXT"}, "Image 'disk.z18' already exist !!!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const ExeResult r = runExe(c.args, dir.path());
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << r.out;
    }
    EXPECT_EQ(readFile(dir / "disk.z18"), before);
    EXPECT_EQ(readFile(dir / "out/A.TXT"), record("HI\n"));
    EXPECT_EQ(readFile(dir / "out/B.TXT"), Bytes({'k', 'e', 'e', 'p'}));

    ASSERT_EQ(::chmod((dir / "disk.z18").c_str(), 0644), 0);
    const ExeResult add = runExe({"disk", "/a", "N.TXT"}, dir.path());
    EXPECT_NE(add.out.find("File 'N.TXT' added"), std::string::npos) << add.out;
}

// The size of a host file is read in full 64 bits: a file 100 bytes past 4 GiB must not pass for
// a 100-byte one. It is refused by the capacity check, and nothing of it reaches the image.
TEST(HostRules, HostFileBeyondFourGigabytesIsRefusedWhole) {
    TempDir dir;
    const int fd = ::open((dir / "HUGE.BIN").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const bool sized = ::ftruncate(fd, (std::int64_t{1} << 32) + 100) == 0;
    ::close(fd);
    if (!sized) GTEST_SKIP() << "the temporary file system cannot hold a sparse 4 GiB file";
    ASSERT_EQ(runExe({"disk", "/f"}, dir.path()).status, 0);
    const Bytes before = readFile(dir / "disk.z18");
    const ExeResult r = runExe({"disk", "/a", "HUGE.BIN"}, dir.path());
    EXPECT_NE(r.out.find("Directory full !!!\n\nDone. 0 file(s) added."), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir / "disk.z18"), before);
}

// Whatever the host holds files with (locks, or the Node build's record of its open files), a run
// never opens its own image as a host file, under any name, and a FIFO stalls nothing.
TEST(HostRules, TheOpenImageAndFifosAreNoHostFiles) {
    Z18_SKIP_FOR_WINDOWS_EXE("FIFOs and hard links are POSIX's");
    TempDir dir;
    writeImage(dir / "disk.z18", {"LINK    Z18"});
    ASSERT_EQ(::link((dir / "disk.z18").c_str(), (dir / "LINK.Z18").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.z18").c_str(), 0666), 0);
    const Bytes before = readFile(dir / "disk.z18");
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"disk", "/a", "*.z18"},
         "'LINK.Z18' already exist !!!\nCan't open file 'DISK.Z18' !!!\nCan't open file 'PIPE"},
        {{"disk", "/x", "LINK.Z18"}, "\nFile 'LINK.Z18' already exist !!!\n"},
        {{"pipe", "/c"}, "Can't open image 'pipe.z18' !!!\n"},
    };
    for (const auto& run : runs) {
        const ExeResult r = runExe(run.first, dir.path());
        EXPECT_NE(r.out.find(run.second), std::string::npos) << run.first[1] << "\n" << r.out;
    }
    EXPECT_EQ(readFile(dir / "disk.z18"), before);
}

// While another program holds the image for writing, no run may use it, not even one that only
// reads, and nothing of the image changes. The holder is the host's own: an exclusive lock on
// POSIX; on Windows a command shell that has the image open for appending.
TEST(HostRules, AnImageHeldForWritingElsewhereKeepsEveryRunOut) {
    Z18_SKIP_FOR_NODE_EXE("it takes no locks and honours none");
    TempDir dir;
    makeDir(dir / "out");
    writeImage(dir / "disk.z18", {"A       TXT"});
    writeFile(dir / "N.TXT", std::string("new"));
    const Bytes before = readFile(dir / "disk.z18");

    int holderFd = -1;
    std::unique_ptr<Child> holder;
    const std::string holderLog = dir / "holder.log";
    if (windowsExe()) {
        const char* wrapper = std::getenv("Z18MAN_WRAPPER");
        if (wrapper == nullptr || *wrapper == '\0')
            GTEST_SKIP() << "needs Z18MAN_WRAPPER to start a Windows shell";
        // "more" waits for input that never comes, so the shell keeps its redirection open.
        Launch how;
        how.cwd = dir.path();
        how.in = Stream{Stream::Pipe};
        how.out = Stream{Stream::Null};
        how.err = Stream::file(holderLog);
        holder =
            std::make_unique<Child>(std::vector<std::string>{wrapper, "cmd", "/c", "more >> disk.z18"}, how);
    } else {
        holderFd = ::open((dir / "disk.z18").c_str(), O_RDWR);
        ASSERT_GE(holderFd, 0);
        ASSERT_EQ(::flock(holderFd, LOCK_EX), 0);
    }

    // The shell takes a moment to start; /proc tells when some process has the image open.
    bool held = holder == nullptr;
    for (int waited = 0; !held && waited < 60000; waited += 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        held = openElsewhere(dir / "disk.z18");
    }
    auto release = [&] {
        if (holder != nullptr) {
            holder->closeInput();  // end of input: "more" ends, the shell closes the image
            holder->wait();
        } else {
            ::close(holderFd);
        }
    };
    if (!held) {
        release();
        const Bytes log = readFile(holderLog);
        GTEST_SKIP() << "Wine did not start the shell that holds the image: "
                     << std::string(log.begin(), log.end());
    }

    const struct {
        std::vector<std::string> args;
        std::string refusal;
    } runs[] = {
        {{"disk", "/c"}, "Can't open image 'disk.z18' !!!"},
        {{"disk", "/x", "out/*.*"}, "Can't open image 'disk.z18' !!!"},
        {{"disk", "/e", "*.*"}, "Can't open image 'disk.z18' !!!"},
        {{"disk", "/a", "N.TXT"}, "Image 'disk.z18' already exist !!!"},
    };
    for (const auto& run : runs) {
        const ExeResult r = runExe(run.args, dir.path());
        EXPECT_NE(r.out.find(run.refusal), std::string::npos) << run.args[1] << "\n" << r.out;
    }
    EXPECT_FALSE(fileExists(dir / "out/A.TXT"));

    release();
    EXPECT_EQ(readFile(dir / "disk.z18"), before);
    EXPECT_NE(runExe({"disk", "/c"}, dir.path()).out.find("2K in 1 file(s)"), std::string::npos);
}

namespace {

// The executable on a pseudo-terminal of its own, as on a console: Wine gives a Windows program
// started there a console of its own, so the same test serves both hosts. Standard input and output
// on the terminal, or where asked, from /dev/null and into outFile.
Child startOnTerminal(const Terminal& term, const std::vector<std::string>& args, const std::string& cwd,
                      bool ttyIn = true, bool ttyOut = true, const std::string& outFile = std::string()) {
    Launch how = term.launch(cwd);
    if (!ttyIn) how.in = Stream{Stream::Null};
    if (!ttyOut) how.out = Stream::file(outFile);
    return startExe(args, how);
}

}  // namespace

// On a console the catalogue waits at each pause for one key, read without echo. While it waits
// it holds the image for reading: other readers may list it, nobody may change it. On Windows a
// cursor key (two codes from _getch) is one key press and answers one pause only.
TEST(HostRules, CataloguePauseOnAConsoleHoldsTheImageForReading) {
    Z18_SKIP_FOR_NODE_EXE("it never waits for a key and takes no locks");
    TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 64; ++i) names.push_back("F" + std::to_string(100 + i));
    writeImage(dir / "disk.z18", names);
    const Bytes before = readFile(dir / "disk.z18");
    const std::string prompt = "Press any key to continue...";

    Terminal term;
    ASSERT_TRUE(term.ok());
    Child run = startOnTerminal(term, {"disk", "/c"}, dir.path());
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(term.waitFor(prompt, 1, 30000)) << term.output;
    term.drain(300);
    EXPECT_EQ(term.count("F132"), 0) << "the catalogue did not wait for a key";
    EXPECT_EQ(run.waitFor(0), -1);

    EXPECT_NE(runExe({"disk", "/c", "F100"}, dir.path()).out.find("2K in 1 file(s)"), std::string::npos);
    EXPECT_NE(runExe({"disk", "/e", "F100"}, dir.path()).out.find("Can't open image 'disk.z18' !!!"),
              std::string::npos);

    // The first pause takes a cursor key on Windows and a letter on POSIX, where a key that sends
    // several bytes is not one read.
    ASSERT_TRUE(term.waitForKeyMode(10000));
    term.send(windowsExe() ? "\x1b[A" : "q");
    ASSERT_TRUE(term.waitFor(prompt, 2, 30000)) << term.output;
    term.drain(300);
    EXPECT_EQ(term.count("in 64 file(s)"), 0) << "one key answered two pauses";
    ASSERT_TRUE(term.waitForKeyMode(10000));
    term.send("x");
    EXPECT_EQ(term.finish(run, 30000), 0) << term.output;
    EXPECT_NE(term.output.find("128K in 64 file(s), 220K free"), std::string::npos) << term.output;
    EXPECT_EQ(term.output.find('x'), std::string::npos) << "a key was echoed";
    EXPECT_EQ(term.output.find('q'), std::string::npos) << "a key was echoed";
    EXPECT_EQ(readFile(dir / "disk.z18"), before);
}

// When standard input or output is no console, the catalogue writes its pauses and goes straight
// on: nobody could see the prompt, or answer it. (A Windows program would read the key from the
// console itself, whatever the redirection, and wait unseen.)
TEST(HostRules, CataloguePausesWaitOnlyWhenInputAndOutputAreTheConsole) {
    TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 64; ++i) names.push_back("F" + std::to_string(100 + i));
    writeImage(dir / "disk.z18", names);
    const std::string prompt = "Press any key to continue...";

    const ExeResult plain = runExe({"disk", "/c"}, dir.path());
    EXPECT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("--\n" + prompt + "\rF132  "), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("--\n" + prompt + "\r\n128K in 64 file(s), 220K free\n"), std::string::npos)
        << plain.out;

    for (const bool ttyIn : {true, false}) {
        SCOPED_TRACE(ttyIn ? "input on the terminal, output to a file"
                           : "input from /dev/null, output on the terminal");
        Terminal term;
        ASSERT_TRUE(term.ok());
        Child run = startOnTerminal(term, {"disk", "/c"}, dir.path(), ttyIn, !ttyIn, dir / "listing.txt");
        ASSERT_TRUE(run.started());
        EXPECT_EQ(term.finish(run, 30000), 0) << term.output;
        const Bytes file = ttyIn ? readFile(dir / "listing.txt") : Bytes();
        const std::string out = ttyIn ? std::string(file.begin(), file.end()) : term.output;
        int prompts = 0;
        for (std::size_t at = out.find(prompt); at != std::string::npos; at = out.find(prompt, at + 1))
            ++prompts;
        EXPECT_EQ(prompts, 2) << out;
        EXPECT_NE(out.find("128K in 64 file(s), 220K free"), std::string::npos) << out;
    }
}
