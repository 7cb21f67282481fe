// The POSIX host: files through positioned reads and writes, advisory locks in place of the
// exclusive sharing mode a Windows host offers, and a raw-mode terminal for the catalogue pause.
#include "host/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace z18 {

std::string hostPath(const std::string& text) {
    std::string path = text;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

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

class PosixEnv final : public Env {
public:
    int openFile(const std::string& text, OpenMode mode) override {
        const std::string path = hostPath(text);
        const int access = modeWrites(mode) ? O_RDWR : O_RDONLY;
        // O_NONBLOCK keeps a FIFO or device from stalling the open; it is refused below anyway.
        const int base = access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        bool existed = true;
        int fd = ::open(path.c_str(), base);
        if (fd < 0 && errno == ENOENT && modeCreates(mode)) {
            existed = false;
            fd = ::open(path.c_str(), base | O_CREAT | O_EXCL, 0666);
        }
        if (fd < 0) return CLOSED_HANDLE;

        struct stat st;
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        // A file with no write bit at all is write-protected by its owner's choice; honour that
        // even where the process could override it (root).
        if (ok && modeWrites(mode) && existed && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            ok = false;
        if (ok) ok = ::flock(fd, (modeWrites(mode) ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
        // Emptying an existing file comes only after it is known to be ours to write; a file this
        // call created is empty already.
        if (ok && mode == OpenMode::HostCreate && existed) ok = ::ftruncate(fd, 0) == 0;
        // Of the flags F_SETFL changes, the open set O_NONBLOCK alone: clearing them all lets
        // transfers block again without asking for the flags first.
        if (ok) ok = ::fcntl(fd, F_SETFL, 0) == 0;
        if (!ok) {
            ::close(fd);
            return CLOSED_HANDLE;
        }
        return fd;
    }

    void closeFile(int handle) override {
        if (handle >= 0) ::close(handle);
    }

    bool readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) override {
        return transfer(handle, offset, buffer, n, done, false);
    }

    bool writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* done) override {
        return transfer(handle, offset, const_cast<void*>(buffer), n, done, true);
    }

    bool flush(int handle) override {
        // The file's data and its size are what a later run reads; its times are not worth the
        // extra journal write that fsync would add.
        int r;
        do {
            r = ::fdatasync(handle);
        } while (r != 0 && errno == EINTR);
        return r == 0;
    }

    bool fileSize(int handle, std::uint64_t* size) override {
        struct stat st;
        if (::fstat(handle, &st) != 0) return false;
        *size = static_cast<std::uint64_t>(st.st_size);
        return true;
    }

    bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) override {
        found->clear();
        const std::string path = hostPath(pattern);
        const std::size_t slash = path.rfind('/');
        std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
        const std::string mask = slash == std::string::npos ? path : path.substr(slash + 1);
        if (dir.empty()) dir = ".";

        DIR* d = ::opendir(dir.c_str());
        if (d == nullptr) return false;
        std::vector<std::string> names;
        while (struct dirent* e = ::readdir(d)) {
            if (matchesHostMask(e->d_name, mask)) names.emplace_back(e->d_name);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());  // byte order: the same listing on every run

        const std::string prefix = slash == std::string::npos ? std::string() : dir;
        for (const std::string& name : names) {
            struct stat st;
            FoundEntry entry;
            entry.name = name;
            entry.attributes = (::stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                                   ? ATTR_DIRECTORY
                                   : ATTR_NORMAL;
            found->push_back(std::move(entry));
        }
        return !found->empty();
    }

    void waitKey(const char* prompt) override {
        if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) return;
        struct termios raw;
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
        terminalSaved = 1;
        struct sigaction previous[sizeof kPauseSignals / sizeof kPauseSignals[0]], previousCont;
        const struct sigaction restore = plainAction(restoreTerminalAndReraise);
        for (std::size_t i = 0; i < sizeof kPauseSignals / sizeof kPauseSignals[0]; ++i)
            ::sigaction(kPauseSignals[i], &restore, &previous[i]);
        // SIGCONT is let through only inside pselect, so a resume at any point of the wait
        // interrupts it, and is seen, before the process sleeps again.
        const struct sigaction note = plainAction(noteResumed);
        ::sigaction(SIGCONT, &note, &previousCont);
        sigset_t holdCont, mask, waitMask;
        sigemptyset(&holdCont);
        sigaddset(&holdCont, SIGCONT);
        ::sigprocmask(SIG_BLOCK, &holdCont, &mask);
        waitMask = mask;
        sigdelset(&waitMask, SIGCONT);
        resumed = 0;

        raw = savedTerminal;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) {
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
                    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
                    writeAll(STDOUT_FILENO, "\r", 1);
                    writeAll(STDOUT_FILENO, prompt, std::strlen(prompt));
                }
            }
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        }
        terminalSaved = 0;
        for (std::size_t i = 0; i < sizeof kPauseSignals / sizeof kPauseSignals[0]; ++i)
            ::sigaction(kPauseSignals[i], &previous[i], nullptr);
        ::sigaction(SIGCONT, &previousCont, nullptr);
        ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    }

    std::string executablePath() override {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) return std::string();
        return std::string(buffer, static_cast<std::size_t>(n));
    }

    bool createDirectory(const std::string& text) override {
        return ::mkdir(hostPath(text).c_str(), 0777) == 0;
    }

    int countDirectoryEntries(const std::string& text) override {
        DIR* d = ::opendir(hostPath(text).c_str());
        if (d == nullptr) return -1;
        int n = 0;
        while (struct dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
        }
        ::closedir(d);
        return n;
    }

    bool pathExists(const std::string& text) override {
        struct stat st;
        // A link that points nowhere still takes the name.
        return ::lstat(hostPath(text).c_str(), &st) == 0 || errno != ENOENT;
    }

    int createNewFile(const std::string& text) override {
        // O_EXCL also refuses a symbolic link of that name, wherever it points.
        const int fd = ::open(hostPath(text).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) return CLOSED_HANDLE;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return CLOSED_HANDLE;
        }
        return fd;
    }

    bool renameNoReplace(const std::string& from, const std::string& to) override {
        // A second link fails where the new name is taken; rename() would replace it.
        const std::string a = hostPath(from), b = hostPath(to);
        if (::link(a.c_str(), b.c_str()) == 0) {
            ::unlink(a.c_str());
            return true;
        }
        if (errno == EEXIST) return false;
        // A file system without hard links (FAT, where images often live) leaves a look before
        // the rename as the best there is.
        struct stat st;
        if (::lstat(b.c_str(), &st) == 0 || errno != ENOENT) return false;
        return ::rename(a.c_str(), b.c_str()) == 0;
    }

    bool removeFile(const std::string& text) override { return ::unlink(hostPath(text).c_str()) == 0; }

private:
    // A transfer may be cut shortprivate:
    // A transfer may be cut short by a signal or come in parts; it goes on until every byte has
    // moved, the file ends, or the host reports an error.
    static bool transfer(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done,
                         bool isWrite) {
        *done = 0;
        char* p = static_cast<char*>(buffer);
        while (*done < n) {
            const off_t at = static_cast<off_t>(offset + *done);
            const ssize_t r = isWrite ? ::pwrite(handle, p + *done, n - *done, at)
                                      : ::pread(handle, p + *done, n - *done, at);
            if (r < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (r == 0) break;  // end of file, or a device that takes no more
            *done += static_cast<std::size_t>(r);
        }
        return true;
    }
};

}  // namespace

Env* defaultEnv() {
    static PosixEnv env;
    return &env;
}

}  // namespace z18
