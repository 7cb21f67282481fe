// Helpers shared by the hardening tests: whole-directory snapshots, a scoped working directory, a
// lock held as another program would hold it.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

}  // namespace hardening
