// The POSIX host: the shared POSIX file layer (posix_files.h) with advisory locks in place of the
// exclusive sharing mode a Windows host offers, and a raw-mode terminal for the catalogue pause.
#include <signal.h>
#include <sys/file.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "host/posix_files.h"

namespace z18 {

namespace {

// Terminal state saved while the catalogue waits for a key, restored by the signal handler too.
struct termios savedTerminal;
volatile sig_atomic_t terminalSaved = 0;
const int kPauseSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// Set when the process is continued during the wait, after Ctrl-Z or any other stop.
volatile sig_atomic_t resumed = 0;

// A handler's action as the wait installs it: nothing blocked but the signal itself, and no
// SA_RESTART, so that each of these signals interrupts the wait.
struct sigaction plainAction(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    return action;
}

extern "C" void restoreTerminalAndReraise(int sig) {
    if (terminalSaved) tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    signal(sig, SIG_DFL);
    // The signal is blocked while its handler runs; let it act now, not after the handler returns.
    sigset_t self;
    sigemptyset(&self);
    sigaddset(&self, sig);
    sigprocmask(SIG_UNBLOCK, &self, nullptr);
    raise(sig);
    // Only a stop (Ctrl-Z) comes back here, after "fg"; the wait then sets its mode again. The
    // handler goes back in as the wait installed it, so that the next stop is handled alike.
    if (sig == SIGTSTP && terminalSaved) {
        const struct sigaction again = plainAction(restoreTerminalAndReraise);
        sigaction(sig, &again, nullptr);
    }
}

extern "C" void noteResumed(int) { resumed = 1; }

// Writes all of text to a descriptor; gives up on an error other than an interruption.
void writeAll(int fd, const char* text, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, text, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        text += w;
        n -= static_cast<std::size_t>(w);
    }
}

class PosixEnv final : public PosixFiles {
public:
    HostStatus flush(int handle) override {
        // The file's data and its size are what a later run reads; its times are not worth the
        // extra journal write that fsync would add.
        int r;
        do {
            r = ::fdatasync(handle);
        } while (r != 0 && errno == EINTR);
        return succeeded(r == 0);
    }

    void waitKey(const char* prompt) override {
        if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) return;
        struct termios raw;
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
        terminalSaved = 1;
        // Raw mode comes only with every handler that restores the terminal in place; the end of the
        // wait undoes just what it did.
        constexpr std::size_t kSignals = sizeof kPauseSignals / sizeof kPauseSignals[0];
        struct sigaction previous[kSignals], previousCont;
        const struct sigaction restore = plainAction(restoreTerminalAndReraise);
        std::size_t installed = 0;
        while (installed < kSignals &&
               ::sigaction(kPauseSignals[installed], &restore, &previous[installed]) == 0)
            ++installed;
        // SIGCONT is let through only inside pselect, so a resume at any point of the wait
        // interrupts it, and is seen, before the process sleeps again.
        const struct sigaction note = plainAction(noteResumed);
        const bool noting = installed == kSignals && ::sigaction(SIGCONT, &note, &previousCont) == 0;
        sigset_t holdCont, mask, waitMask;
        sigemptyset(&holdCont);
        sigaddset(&holdCont, SIGCONT);
        const bool holding = noting && ::sigprocmask(SIG_BLOCK, &holdCont, &mask) == 0;
        if (holding) {
            waitMask = mask;
            sigdelset(&waitMask, SIGCONT);
        }
        resumed = 0;

        raw = savedTerminal;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (holding && ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) {
            for (;;) {
                fd_set input;
                FD_ZERO(&input);
                FD_SET(STDIN_FILENO, &input);
                const int ready = ::pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr, &waitMask);
                if (ready < 0 && errno != EINTR) break;
                char key;
                if (ready > 0 && (::read(STDIN_FILENO, &key, 1) >= 0 || errno != EINTR)) break;
                if (resumed) {
                    // Back from a stop: the shell has had the terminal, in its own mode, and its
                    // job lines now stand where the prompt was.
                    resumed = 0;
                    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) break;
                    writeAll(STDOUT_FILENO, "\r", 1);
                    writeAll(STDOUT_FILENO, prompt, std::strlen(prompt));
                }
            }
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        }
        terminalSaved = 0;
        // Putting back what was there cannot fail with the values it had.
        while (installed > 0) {
            --installed;
            ::sigaction(kPauseSignals[installed], &previous[installed], nullptr);
        }
        if (noting) ::sigaction(SIGCONT, &previousCont, nullptr);
        if (holding) ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    }

    std::string executablePath() override {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) return std::string();
        return std::string(buffer, static_cast<std::size_t>(n));
    }

protected:
    // The lock stands in for the exclusive sharing mode of a Windows open: any lock that cannot be
    // had at once refuses the open, so nothing ever waits on another user of the file.
    HostStatus claim(int fd, const struct stat&, OpenMode mode) override {
        if (::flock(fd, (modeWrites(mode) ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return HostStatus();
        return errno == EWOULDBLOCK ? refused(HostErrorKind::InUse) : failed(errno);
    }
};

}  // namespace

Env* defaultEnv() {
    static PosixEnv env;
    return &env;
}

}  // namespace z18
