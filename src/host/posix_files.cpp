#include "host/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace z18 {

std::string hostPath(const std::string& text) {
    std::string path = text;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

namespace {

// A transfer may be cut short by a signal or come in parts; it goes on until every byte has
// moved, the file ends, or the host reports an error.
bool transfer(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done,
              bool isWrite) {
    *done = 0;
    char* p = static_cast<char*>(buffer);
    while (*done < n) {
        const off_t at = static_cast<off_t>(offset + *done);
        const ssize_t r =
            isWrite ? ::pwrite(handle, p + *done, n - *done, at) : ::pread(handle, p + *done, n - *done, at);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;  // end of file, or a device that takes no more
        *done += static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

int PosixFiles::openFile(const std::string& text, OpenMode mode) {
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
    if (ok && modeWrites(mode) && existed && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) ok = false;
    bool claimed = false;
    if (ok) ok = claimed = claim(fd, st, mode);
    // Emptying an existing file comes only after it is known to be ours to write; a file this
    // call created is empty already.
    if (ok && mode == OpenMode::HostCreate && existed) ok = ::ftruncate(fd, 0) == 0;
    // Of the flags F_SETFL changes, the open set O_NONBLOCK alone: clearing them all lets
    // transfers block again without asking for the flags first.
    if (ok) ok = ::fcntl(fd, F_SETFL, 0) == 0;
    if (!ok) {
        if (claimed) release(fd);
        ::close(fd);
        return CLOSED_HANDLE;
    }
    return fd;
}

void PosixFiles::closeFile(int handle) {
    if (handle < 0) return;
    release(handle);
    ::close(handle);
}

bool PosixFiles::readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) {
    return transfer(handle, offset, buffer, n, done, false);
}

bool PosixFiles::writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                         std::size_t* done) {
    return transfer(handle, offset, const_cast<void*>(buffer), n, done, true);
}

bool PosixFiles::fileSize(int handle, std::uint64_t* size) {
    struct stat st;
    if (::fstat(handle, &st) != 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool PosixFiles::findFiles(const std::string& pattern, std::vector<FoundEntry>* found) {
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
        entry.attributes =
            (::stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ATTR_DIRECTORY : ATTR_NORMAL;
        found->push_back(std::move(entry));
    }
    return !found->empty();
}

}  // namespace z18
