// Child processes for the tests: the built executable (or the Windows one under its wrapper) and
// other programs such as cpmtools, each started the one way below: working directory, standard
// streams, environment, and on request a pseudo-terminal, a start under ptrace or a shared gate.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace z18test {

// Where one standard stream of a child goes.
struct Stream {
    enum Kind {
        Null,      // /dev/null
        Pipe,      // a pipe to this process: standard output it reads (Child::readOutput), standard
                   // input it holds open until Child::closeInput
        File,      // the file at path: read for input, created or emptied for output
        Terminal,  // the pseudo-terminal of Launch::terminal
        Output,    // standard error only: wherever standard output goes
        Inherit,   // this process's own
    };
    Stream(Kind k = Null, std::string p = std::string()) : kind(k), path(std::move(p)) {}
    static Stream file(const std::string& p) { return Stream(File, p); }
    Kind kind;
    std::string path;
};

// Children held at a gate start together: each waits until the gate is released.
class Gate {
public:
    Gate();
    ~Gate();
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    void release();
    // In the child, before it runs: waits for the release.
    void pass() const;

private:
    int fds_[2] = {-1, -1};
};

struct Launch {
    std::string cwd;  // empty: this process's
    Stream in{Stream::Null};
    Stream out{Stream::Pipe};
    Stream err{Stream::Inherit};
    // A pseudo-terminal device (Terminal::device()): the child gets a session of its own with it as
    // controlling terminal, as a program started from a shell there has.
    std::string terminal;
    // NAME=value entries that add to or replace this process's environment.
    std::vector<std::string> environment;
    // Stops at its first instruction, traced by this process (PTRACE_TRACEME).
    bool traced = false;
    const Gate* gate = nullptr;
    unsigned delayUs = 0;  // after the gate
};

// One started child; the destructor kills one that still runs, so no test leaves one behind.
class Child {
public:
    // Starts command (command[0] looked up on PATH unless it holds a "/"). started() tells whether
    // it could be.
    Child(const std::vector<std::string>& command, const Launch& how);
    ~Child();
    Child(Child&& other) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    Child& operator=(Child&&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Everything written to the pipe of Stream::Pipe, up to its end.
    std::string readOutput();
    // Ends the standard input of Stream::Pipe.
    void closeInput();
    // Waits for the end: the exit status, or 128 + the number of the signal that ended it.
    int wait();
    // The same, once the child has ended within ms; -1 while it still runs.
    int waitFor(int ms);
    // The next change of state as waitpid reports it (for a traced child: its stops too). An end
    // is kept, so wait() still answers afterwards.
    int nextState();
    void kill(int signal);

private:
    void ended(int rawStatus);
    pid_t pid_ = -1;
    int outFd_ = -1;
    int inFd_ = -1;
    int status_ = -1;
};

struct ExeResult {
    int status = -1;
    std::string out;
};

// Starts command as asked, reads its standard output and waits for its end.
ExeResult runProgram(const std::vector<std::string>& command, Launch how);
// A program found on PATH, run in cwd, standard error with standard output.
ExeResult runProgram(const std::vector<std::string>& command, const std::string& cwd);

// The executable under test. Two environment variables point the same tests at another build:
// Z18MAN_EXE names the executable to run instead of the one built beside the tests, and
// Z18MAN_WRAPPER a program that runs it (scripts/windows-test.sh sets them to the Windows build and
// "wine").
std::string exePath();
// The command that runs the executable under test with args: the wrapper first, when there is one.
std::vector<std::string> exeCommand(const std::vector<std::string>& args);
// True when the executable under test is a Windows one (its name ends in ".exe"). Tests that
// expect a host rule that differs on Windows branch on it, or skip with the reason.
bool windowsExe();
// True when the executable under test is the Node build (z18man.js, under the wrapper "node").
bool nodeExe();
// Starts the executable under test with args.
Child startExe(const std::vector<std::string>& args, const Launch& how);
// Runs it in cwd, standard input from /dev/null, and captures its standard output. The output of
// a Windows executable comes in text mode; its CR LF line ends are turned back into LF, so the
// same expectations hold on both hosts.
ExeResult runExe(const std::vector<std::string>& args, const std::string& cwd);
// Runs z18fsck of the build under test as runExe runs z18man: the one built beside it, with the
// same ending ("z18fsck.exe" beside "z18man.exe"), under the same wrapper; its standard error in
// the same pipe as its output, as on one terminal.
ExeResult runFsckExe(const std::vector<std::string>& args, const std::string& cwd);

}  // namespace z18test
