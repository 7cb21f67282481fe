// The catalogue pause on a real terminal: the built executable runs on a pseudo-terminal, must
// stop at the prompt until a key arrives, must not echo it, and must hand the terminal back in its
// original mode, also when Ctrl-C ends the run during the wait.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "commands/command_util.h"

using namespace cmdtest;
using namespace z18test;

namespace {

const std::string PROMPT = "Press any key to continue...";

// An image of 33 one-record files, so one pause comes and one row follows it.
void writePagedImage(const TempDir& dir) {
    Bytes image = blankImage();
    for (int i = 0; i < 33; ++i) putEntry(image, i, 0, "F" + std::to_string(100 + i), 0, 1, {});
    writeFile(dir / "disk.z18", image);
}

class Terminal {
public:
    Terminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        const char* name = ::ptsname(master_);
        if (name == nullptr) return;
        slaveName_ = name;
        // Held open here to read the terminal's mode, and so the master never sees a hang-up.
        slave_ = ::open(name, O_RDWR | O_NOCTTY);
    }
    ~Terminal() {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    bool ok() const { return slave_ >= 0; }
    const std::string& slaveName() const { return slaveName_; }

    tcflag_t localModes() const {
        struct termios t {};
        ::tcgetattr(slave_, &t);
        return t.c_lflag;
    }
    void send(const std::string& keys) const {
        EXPECT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Collects output until `want` has appeared or the time is up.
    bool readUntil(const std::string& want, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (output.find(want) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            drain(static_cast<int>(left.count()));
        }
        return true;
    }
    // Reads what is there, waiting at most ms for the first byte.
    void drain(int ms) {
        struct pollfd p {master_, POLLIN, 0};
        while (::poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            output.append(buf, static_cast<std::size_t>(n));
            ms = 0;
        }
    }
    std::string output;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

// Starts the executable in its own session with the terminal as controlling terminal. Standard
// input and output go to the terminal, or to /dev/null and a pipe where asked.
pid_t startCatalogue(const Terminal& term, const TempDir& dir, bool ttyIn, bool ttyOut, int* pipeOut) {
    int fds[2] = {-1, -1};
    if (!ttyOut && ::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int tty = ::open(term.slaveName().c_str(), O_RDWR);
        if (tty < 0 || ::chdir(dir.path().c_str()) != 0) ::_exit(127);
        ::dup2(ttyIn ? tty : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
        ::dup2(ttyOut ? tty : fds[1], STDOUT_FILENO);
        std::string exe = exePath();
        char disk[] = "disk";
        char sw[] = "/c";
        char* argv[] = {exe.data(), disk, sw, nullptr};
        ::execv(exe.c_str(), argv);
        ::_exit(127);
    }
    if (!ttyOut) {
        ::close(fds[1]);
        *pipeOut = fds[0];
    }
    return pid;
}

// waitpid with a deadline; returns the status, or -1 while the child still runs.
int waitFor(pid_t pid, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
    return -1;
}

bool waitForRawMode(const Terminal& term, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if ((term.localModes() & ICANON) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

// How the wait ends: a key, or Ctrl-C typed on the terminal.
class CataloguePauseOnTerminal : public ::testing::TestWithParam<bool> {};

TEST_P(CataloguePauseOnTerminal, WaitsForOneKeyAndRestoresTheMode) {
    Z18_SKIP_FOR_WINDOWS_EXE("checks POSIX terminal modes and SIGINT; e2e HostRules tests the Windows console");
    const bool interrupt = GetParam();
    TempDir dir;
    writePagedImage(dir);
    Terminal term;
    ASSERT_TRUE(term.ok());
    const tcflag_t before = term.localModes();
    ASSERT_EQ(before & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));

    const pid_t pid = startCatalogue(term, dir, true, true, nullptr);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(term.readUntil(PROMPT, 10000)) << term.output;
    ASSERT_TRUE(waitForRawMode(term, 5000));
    EXPECT_EQ(term.localModes() & ECHO, 0u) << "the key must not be echoed";

    // Nothing moves until a key comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    term.drain(0);
    EXPECT_EQ(term.output.substr(term.output.find(PROMPT) + PROMPT.size()), "");
    ASSERT_EQ(waitFor(pid, 0), -1) << "the catalogue did not wait for a key";

    term.send(interrupt ? "\x03" : "x");
    const int status = waitFor(pid, 10000);
    if (status == -1) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    term.drain(100);
    if (interrupt) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        // The row after the pause overwrites the prompt; the key itself never shows.
        EXPECT_NE(term.output.find(PROMPT + "\rF132"), std::string::npos) << term.output;
        EXPECT_NE(term.output.find("66K in 33 file(s), 348K free"), std::string::npos);
    }
    EXPECT_EQ(term.localModes(), before) << "terminal mode not restored";
}

INSTANTIATE_TEST_SUITE_P(Ends, CataloguePauseOnTerminal, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CtrlC" : "Key"; });

// With only one side on the terminal there is nobody to press a key: the prompt is written and the
// listing goes straight on, leaving the terminal alone.
TEST(CataloguePause, NoWaitUnlessInputAndOutputAreTerminals) {
    Z18_SKIP_FOR_WINDOWS_EXE("checks POSIX terminal modes and SIGINT; e2e HostRules tests the Windows console");
    for (const bool ttyIn : {true, false}) {
        SCOPED_TRACE(ttyIn ? "input on the terminal, output to a pipe" : "input from /dev/null, output on the terminal");
        TempDir dir;
        writePagedImage(dir);
        Terminal term;
        ASSERT_TRUE(term.ok());
        const tcflag_t before = term.localModes();
        int pipeOut = -1;
        const pid_t pid = startCatalogue(term, dir, ttyIn, !ttyIn, &pipeOut);
        ASSERT_GT(pid, 0);
        const int status = waitFor(pid, 10000);
        if (status == -1) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

        std::string out;
        if (ttyIn) {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(pipeOut, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
            ::close(pipeOut);
        } else {
            term.drain(100);
            out = term.output;
        }
        EXPECT_NE(out.find(PROMPT + "\rF132"), std::string::npos) << out;
        EXPECT_EQ(term.localModes(), before);
    }
}
