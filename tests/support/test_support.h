// Shared helpers for the tests: temporary directories, file bytes, images, and running sessions
// either in this process (through a FaultEnv over the real host) or as the built executable.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/fault_env.h"
#include "session/session.h"

namespace z18test {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
// Deterministic pseudo-random bytes.
Bytes randomBytes(std::size_t n, std::uint32_t seed);

// An image in memory: fresh (all 0xE5), with helpers to craft directory entries.
Bytes blankImage();
// Writes a raw 32-byte entry: user, 11 name characters (space-filled), extent, record count, blocks.
void putEntry(Bytes& image, int index, std::uint8_t user, const std::string& name11, std::uint8_t extent,
              std::uint8_t recordCount, std::initializer_list<std::uint8_t> blocks);

// One in-process run of the tool over the real host, with faults injectable through env.
struct InProcess {
    InProcess();
    z18::FaultEnv env;
    std::ostringstream out;
    z18::Session session;
    int status = -1;
    // Runs with argv = {"z18man", args...}; returns the exit status and keeps the output.
    int run(std::initializer_list<std::string> args);
    int run(const std::vector<std::string>& args);
    std::string output() const { return out.str(); }
};

// The output the driver prints before anything else, and the syntax help for program name p.
std::string bannerText();
// The banner of the executable under test, which names its build: the Windows one under Wine.
std::string exeBannerText();
std::string usageText(const std::string& p = "z18man");

// Runs the built executable with the given arguments in a working directory, with standard input
// from /dev/null; captures standard output.
//
// Two environment variables point the same tests at another build: Z18MAN_EXE names the
// executable to run instead of the one built beside the tests, and Z18MAN_WRAPPER a program that
// runs it (scripts/windows-test.sh sets them to the Windows build and "wine"). The output of a
// Windows executable comes in text mode; runExe turns its CR LF line ends back into LF, so the
// same expectations hold on both hosts.
struct ExeResult {
    int status = -1;
    std::string out;
};
ExeResult runExe(const std::vector<std::string>& args, const std::string& cwd);
std::string exePath();
// The argument vector that runs the executable under test with args: the wrapper first, when
// Z18MAN_WRAPPER names one. For tests that start the executable themselves (execvp it).
std::vector<std::string> exeCommand(const std::vector<std::string>& args);
// True when the executable under test is a Windows one (its name ends in ".exe"). Tests that
// expect a host rule that differs on Windows branch on it, or skip with the reason.
bool windowsExe();
// Whether the host's directory search, as the executable under test meets it, yields name a before
// name b: byte order on POSIX (the POSIX host sorts the names); on Windows the order of the
// upper-case forms, which NTFS and Wine keep.
bool hostOrderBefore(const std::string& a, const std::string& b);
// Skips the current test, with the reason, when it drives the Windows executable.
#define Z18_SKIP_FOR_WINDOWS_EXE(reason)                                          \
    do {                                                                          \
        if (::z18test::windowsExe()) GTEST_SKIP() << "Windows executable: " << reason; \
    } while (0)

}  // namespace z18test
