#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace z18test {

namespace {

// One change to the child's descriptors: open path onto fd, or copy descriptor from onto fd.
struct FdStep {
    int fd;
    std::string path;
    int flags = 0;
    int from = -1;
};

constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_TRUNC;

// What the child's descriptors become, in order. The terminal is opened first: the first terminal
// a session leader opens becomes its controlling one.
std::vector<FdStep> fdSteps(const Launch& how, int inputRead, int outputWrite) {
    std::vector<FdStep> steps;
    if (!how.terminal.empty()) steps.push_back({STDIN_FILENO, how.terminal, O_RDWR});
    auto place = [&](int fd, const Stream& s, bool output) {
        switch (s.kind) {
            case Stream::Null: steps.push_back({fd, "/dev/null", output ? O_WRONLY : O_RDONLY}); break;
            case Stream::File: steps.push_back({fd, s.path, output ? kOutputFlags : O_RDONLY}); break;
            case Stream::Terminal:
                if (fd != STDIN_FILENO) steps.push_back({fd, how.terminal, O_RDWR});
                break;
            case Stream::Pipe:
                steps.push_back({fd, std::string(), 0, fd == STDIN_FILENO ? inputRead : outputWrite});
                break;
            case Stream::Output: steps.push_back({fd, std::string(), 0, STDOUT_FILENO}); break;
            case Stream::Inherit: break;
        }
    };
    place(STDIN_FILENO, how.in, false);
    place(STDOUT_FILENO, how.out, true);
    place(STDERR_FILENO, how.err, true);
    return steps;
}

// This process's environment with the entries of how.environment put in.
std::vector<std::string> environmentFor(const Launch& how) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    for (const std::string& entry : how.environment) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (std::string& e : env)
            if (e.compare(0, name.size(), name) == 0) e = entry, replaced = true;
        if (!replaced) env.push_back(entry);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// posix_spawn where it can do all that is asked: it does not copy the page tables of a test binary
// under the address sanitizer, as fork does.
pid_t spawnChild(std::vector<char*>& argv, std::vector<char*>& envp, const Launch& how,
                 const std::vector<FdStep>& steps) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const FdStep& s : steps) {
        if (s.from >= 0)
            posix_spawn_file_actions_adddup2(&actions, s.from, s.fd);
        else
            posix_spawn_file_actions_addopen(&actions, s.fd, s.path.c_str(), s.flags, 0644);
    }
    if (!how.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, how.cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (!how.terminal.empty()) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

pid_t forkChild(std::vector<char*>& argv, std::vector<char*>& envp, const Launch& how,
                const std::vector<FdStep>& steps) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (how.traced && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(126);
    if (how.gate != nullptr) how.gate->pass();
    if (how.delayUs > 0) ::usleep(how.delayUs);
    if (!how.terminal.empty()) ::setsid();
    for (const FdStep& s : steps) {
        const int fd = s.from >= 0 ? s.from : ::open(s.path.c_str(), s.flags, 0644);
        if (fd < 0 || ::dup2(fd, s.fd) < 0) ::_exit(127);
        if (s.from < 0 && fd != s.fd) ::close(fd);
    }
    if (!how.cwd.empty() && ::chdir(how.cwd.c_str()) != 0) ::_exit(127);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

// Text mode wrote every "\n" as "\r\n"; undoing exactly that keeps a "\r" the tool wrote itself.
std::string fromTextMode(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out += raw[i];
    }
    return out;
}

}  // namespace

Gate::Gate() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
}

Gate::~Gate() { release(); }

void Gate::release() {
    for (int& fd : fds_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void Gate::pass() const {
    ::close(fds_[1]);
    char c;
    while (::read(fds_[0], &c, 1) > 0 || errno == EINTR) {
    }
}

Child::Child(const std::vector<std::string>& command, const Launch& how) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (how.in.kind == Stream::Pipe && ::pipe2(in, O_CLOEXEC) != 0) return;
    if (how.out.kind == Stream::Pipe && ::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> args(command), env = environmentFor(how);
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    const std::vector<FdStep> steps = fdSteps(how, in[0], out[1]);
    const bool plain = !how.traced && how.gate == nullptr && how.delayUs == 0;
    pid_ = plain ? spawnChild(argv, envp, how, steps) : forkChild(argv, envp, how, steps);
    // The child's ends are its own now.
    if (in[0] >= 0) ::close(in[0]);
    if (out[1] >= 0) ::close(out[1]);
    inFd_ = in[1];
    outFd_ = out[0];
}

Child::Child(Child&& other) noexcept
    : pid_(other.pid_), outFd_(other.outFd_), inFd_(other.inFd_), status_(other.status_) {
    other.pid_ = -1;
    other.outFd_ = other.inFd_ = -1;
}

Child::~Child() {
    if (pid_ > 0 && status_ < 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    if (outFd_ >= 0) ::close(outFd_);
    closeInput();
}

void Child::closeInput() {
    if (inFd_ >= 0) ::close(inFd_);
    inFd_ = -1;
}

std::string Child::readOutput() {
    std::string out;
    if (outFd_ < 0) return out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(outFd_, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(buf, static_cast<std::size_t>(n));
    ::close(outFd_);
    outFd_ = -1;
    return out;
}

void Child::ended(int rawStatus) {
    status_ = WIFEXITED(rawStatus) ? WEXITSTATUS(rawStatus) : 128 + WTERMSIG(rawStatus);
}

int Child::nextState() {
    int w = 0;
    while (::waitpid(pid_, &w, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(w) || WIFSIGNALED(w)) ended(w);
    return w;
}

int Child::wait() {
    while (pid_ > 0 && status_ < 0)
        if (nextState() == -1) break;
    return status_;
}

int Child::waitFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (pid_ > 0 && status_ < 0) {
        int w = 0;
        if (::waitpid(pid_, &w, WNOHANG) == pid_ && (WIFEXITED(w) || WIFSIGNALED(w))) {
            ended(w);
            break;
        }
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

void Child::kill(int signal) {
    if (pid_ > 0 && status_ < 0) ::kill(pid_, signal);
}

ExeResult runProgram(const std::vector<std::string>& command, Launch how) {
    how.out = Stream{Stream::Pipe};
    Child child(command, how);
    ExeResult r;
    if (!child.started()) {
        r.status = 127;
        return r;
    }
    r.out = child.readOutput();
    r.status = child.wait();
    return r;
}

ExeResult runProgram(const std::vector<std::string>& command, const std::string& cwd) {
    Launch how;
    how.cwd = cwd;
    how.err = Stream{Stream::Output};
    return runProgram(command, how);
}

std::string exePath() {
    const char* chosen = std::getenv("Z18MAN_EXE");
    return chosen != nullptr && *chosen != '\0' ? std::string(chosen) : std::string(Z18MAN_EXE);
}

bool windowsExe() {
    std::string exe = exePath();
    if (exe.size() < 4) return false;
    std::string tail = exe.substr(exe.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".exe";
}

bool nodeExe() {
    const std::string exe = exePath();
    return exe.size() > 3 && exe.compare(exe.size() - 3, 3, ".js") == 0;
}

std::vector<std::string> exeCommand(const std::vector<std::string>& args) {
    // ctest runs the tests left out of the "exe" label with Z18_EXE_LABEL=0 (tests/CMakeLists.txt).
    const char* label = std::getenv("Z18_EXE_LABEL");
    if (label != nullptr && std::string(label) == "0")
        ADD_FAILURE() << "this test runs the executable: add it to Z18_EXE_TESTS in tests/CMakeLists.txt, "
                         "so that it carries the label exe and runs against the Windows build too";
    std::vector<std::string> command;
    const char* wrapper = std::getenv("Z18MAN_WRAPPER");
    if (wrapper != nullptr && *wrapper != '\0') command.emplace_back(wrapper);
    command.push_back(exePath());
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

Child startExe(const std::vector<std::string>& args, const Launch& how) {
    return Child(exeCommand(args), how);
}

namespace {

std::string fsckExePath() {
    const std::string man = exePath();
    const std::size_t slash = man.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = man.find('.', name);
    return man.substr(0, name) + "z18fsck" + (dot == std::string::npos ? std::string() : man.substr(dot));
}

}  // namespace

ExeResult runFsckExe(const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> command = exeCommand(args);
    command[command.size() - args.size() - 1] = fsckExePath();  // the program, after any wrapper
    ExeResult r = runProgram(command, cwd);
    if (windowsExe()) r.out = fromTextMode(r.out);
    return r;
}

ExeResult runExe(const std::vector<std::string>& args, const std::string& cwd) {
    Launch how;
    how.cwd = cwd;
    ExeResult r = runProgram(exeCommand(args), how);
    if (windowsExe()) r.out = fromTextMode(r.out);
    return r;
}

}  // namespace z18test
