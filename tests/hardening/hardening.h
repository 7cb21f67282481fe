// Helpers shared by the hardening tests: whole-directory snapshots, crafted directory entries, a
// scoped working directory, and child processes started all at once.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image/geometry.h"
#include "support/test_support.h"

namespace hardening {

using z18test::Bytes;
namespace fs = std::filesystem;

// Every file under a directory, by path relative to it; directories appear with a trailing "/".
using Snapshot = std::map<std::string, Bytes>;

inline Snapshot snapshot(const std::string& root) {
    Snapshot tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_directory())
            tree[rel + "/"] = Bytes();
        else
            tree[rel] = z18test::readFile(it->path().string());
    }
    return tree;
}

// Writes a directory entry with any number of block slots (up to 16).
inline void setEntry(Bytes& image, int index, std::uint8_t user, const std::string& name11, std::uint8_t extent,
                     std::uint8_t recordCount, const std::vector<int>& blocks) {
    std::uint8_t* e = image.data() + z18::DIRECTORY_OFFSET + static_cast<std::size_t>(index) * z18::ENTRY_SIZE;
    std::memset(e, 0, z18::ENTRY_SIZE);
    e[0] = user;
    for (std::size_t i = 0; i < 11; ++i) e[1 + i] = i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    e[12] = extent;
    e[15] = recordCount;
    for (std::size_t i = 0; i < blocks.size(); ++i) e[16 + i] = static_cast<std::uint8_t>(blocks[i]);
}

// Copies data into block b of an image, zero-filling the rest of the block.
inline void setBlock(Bytes& image, int b, const Bytes& data, std::size_t from = 0) {
    std::uint8_t* at = image.data() + z18::blockOffset(static_cast<unsigned>(b));
    const std::size_t n = from >= data.size() ? 0 : std::min<std::size_t>(z18::BLOCK_SIZE, data.size() - from);
    std::memset(at, 0, z18::BLOCK_SIZE);
    std::memcpy(at, data.data() + from, n);
}

// Host bytes as they come back from an image: whole records, the last one zero-filled.
inline Bytes padToRecords(Bytes b) {
    b.resize((b.size() + z18::RECORD_SIZE - 1) / z18::RECORD_SIZE * z18::RECORD_SIZE, 0);
    return b;
}

// Changes the working directory for the lifetime of the object.
class InDirectory {
public:
    explicit InDirectory(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(old_); }

private:
    fs::path old_;
};

// Holds a flock on a file, as another program would, until destroyed.
class HeldLock {
public:
    HeldLock(const std::string& path, int how) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ >= 0) ::flock(fd_, how);
    }
    ~HeldLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int fd_;
};

// Child processes of the built executable, created stopped at a gate and released together.
class Crowd {
public:
    struct Run {
        std::vector<std::string> args;
        std::string outFile;
        pid_t pid = -1;
        int status = -1;
    };

    // Forks a child in cwd that waits at the gate, then runs z18man with args, its standard output
    // going to outFile.
    void add(const std::vector<std::string>& args, const std::string& cwd, const std::string& outFile) {
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

}  // namespace hardening
