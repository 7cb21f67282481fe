// Shared helpers for the tests: temporary directories, file bytes, runs of a session in this
// process (through a FaultEnv over the real host), the texts every run prints. Crafted images and
// child processes have helpers of their own, included here.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "session/session.h"
#include "support/disk_image.h"
#include "support/fault_env.h"
#include "support/process.h"

namespace z18test {

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

// One in-process run of the tool, with faults injectable through env: over the real host, or over
// another one such as a z18::MemEnv where a real file system adds nothing.
struct InProcess {
    explicit InProcess(z18::Env* host = z18::defaultEnv());
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
// A run's output after the banner; the whole output when it does not begin with the banner, so
// that a comparison shows what came instead.
std::string afterBanner(const std::string& out);

// A JSON document as python3's json module reads it, every value on a line "path=value" (paths such
// as files.0.name, strings decoded): status 0, or the parser's complaint. That module is strict:
// a raw control byte or an escape JSON does not know (\x) fails the document, as it would fail
// the rescuer's script that reads it.
ExeResult jsonFields(const std::string& document);

// Whether the host's directory search, as the executable under test meets it, yields name a before
// name b: byte order on POSIX (the POSIX host sorts the names); on Windows the order of the
// upper-case forms, which NTFS and Wine keep.
bool hostOrderBefore(const std::string& a, const std::string& b);
// Skips the current test, with the reason, when it drives the Windows executable.
#define Z18_SKIP_FOR_WINDOWS_EXE(reason)                                               \
    do {                                                                               \
        if (::z18test::windowsExe()) GTEST_SKIP() << "Windows executable: " << reason; \
    } while (0)
// The same for the Node build.
#define Z18_SKIP_FOR_NODE_EXE(reason)                                            \
    do {                                                                         \
        if (::z18test::nodeExe()) GTEST_SKIP() << "Node executable: " << reason; \
    } while (0)

}  // namespace z18test
