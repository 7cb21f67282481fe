// Helpers for the tests that run the built executable as separate processes: many started at
// once, cpmtools as an independent judge of the images they leave.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hardening.h"

namespace hardening {

// Child processes of the built executable, created stopped at a gate and released together.
class Crowd {
public:
    struct Run {
        std::vector<std::string> args;
        std::string outFile;
        pid_t pid = -1;
        int status = -1;
    };

    // Forks a child in cwd that waits at the gate (and then delayUs microseconds more), then runs
    // z18man with args, its standard output going to outFile.
    void add(const std::vector<std::string>& args, const std::string& cwd, const std::string& outFile,
             unsigned delayUs = 0) {
        if (gate_[0] < 0 && ::pipe(gate_) != 0) return;
        Run run;
        run.args = args;
        run.outFile = outFile;
        run.pid = ::fork();
        if (run.pid == 0) {
            ::close(gate_[1]);
            char c;
            while (::read(gate_[0], &c, 1) > 0) {
            }
            if (delayUs > 0) ::usleep(delayUs);
            const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = ::open("/dev/null", O_RDONLY);
            if (out < 0 || in < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(in, STDIN_FILENO);
            std::string exe = z18test::exePath();
            std::vector<std::string> copy(args);
            std::vector<char*> argv{exe.data()};
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        runs_.push_back(run);
    }

    // Opens the gate and waits for every child; returns the runs with their exit statuses
    // (128 + signal number for a child that was killed).
    std::vector<Run>& releaseAndWait() {
        if (gate_[1] >= 0) ::close(gate_[1]);
        if (gate_[0] >= 0) ::close(gate_[0]);
        gate_[0] = gate_[1] = -1;
        for (Run& run : runs_) {
            int w = 0;
            ::waitpid(run.pid, &w, 0);
            run.status = WIFEXITED(w) ? WEXITSTATUS(w) : 128 + WTERMSIG(w);
        }
        return runs_;
    }

private:
    int gate_[2] = {-1, -1};
    std::vector<Run> runs_;
};

// Runs a command through the shell in dir and returns its exit status and combined output.
struct ShellResult {
    int status = -1;
    std::string out;
};
inline ShellResult shell(const std::string& command, const std::string& dir) {
    ShellResult r;
    const std::string full = "cd '" + dir + "' && " + command + " 2>&1";
    FILE* p = ::popen(full.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int w = ::pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

// The cpmtools description of a .z18 image, for fsck.cpm and cpmcp run in that directory.
inline void writeDiskdefs(const std::string& dir) {
    z18test::writeFile(dir + "/diskdefs", std::string("diskdef z18\n  seclen 512\n  tracks 80\n  sectrk 9\n"
                                                      "  blocksize 2048\n  maxdir 64\n  skew 0\n"
                                                      "  boottrk 2\n  os 2.2\nend\n"));
}

inline bool haveCpmtools() { return ::access("/usr/bin/fsck.cpm", X_OK) == 0; }

// Starts z18man with args in cwd at once, standard output to outFile; returns its process id.
inline pid_t startExe(const std::vector<std::string>& args, const std::string& cwd, const std::string& outFile) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(in, STDIN_FILENO);
        std::string exe = z18test::exePath();
        std::vector<std::string> copy(args);
        std::vector<char*> argv{exe.data()};
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for a child; its exit status, or 128 + the signal that ended it.
inline int waitExe(pid_t pid) {
    int w = 0;
    ::waitpid(pid, &w, 0);
    return WIFEXITED(w) ? WEXITSTATUS(w) : 128 + WTERMSIG(w);
}

}  // namespace hardening
