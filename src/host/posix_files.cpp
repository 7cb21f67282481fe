#include "host/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace z18 {

std::string hostPath(const std::string& text) {
    std::string path = text;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string systemErrorText(int code) { return std::strerror(code); }

namespace {

HostErrorKind kindOf(int code) {
    if (code == ENOENT) return HostErrorKind::NotFound;
    if (code == EEXIST) return HostErrorKind::Exists;
    if (code == EISDIR) return HostErrorKind::NotAFile;
    if (code == ENOTDIR) return HostErrorKind::NotAFolder;
    if (code == EACCES || code == EPERM || code == EROFS) return HostErrorKind::Denied;
    if (code == EAGAIN || code == EWOULDBLOCK || code == EBUSY || code == ETXTBSY)
        return HostErrorKind::InUse;
    if (code == ENOSPC || code == EDQUOT) return HostErrorKind::NoSpace;
    if (code == EIO) return HostErrorKind::Io;
    return HostErrorKind::Other;
}

// A transfer may be cut short by a signal or come in parts; it goes on until every byte has
// moved, the file ends, or the host reports an error. Returns 0, or the errno of the error.
int transfer(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done, bool isWrite) {
    *done = 0;
    char* p = static_cast<char*>(buffer);
    while (*done < n) {
        const off_t at = static_cast<off_t>(offset + *done);
        const ssize_t r =
            isWrite ? ::pwrite(handle, p + *done, n - *done, at) : ::pread(handle, p + *done, n - *done, at);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (r == 0) break;  // end of file, or a device that takes no more
        *done += static_cast<std::size_t>(r);
    }
    return 0;
}

// Every name in a folder, "." and ".." included. Returns 0, or the errno of the first failure:
// a listing cut short by an error must not pass for the whole folder.
int readNames(const std::string& dir, std::vector<std::string>* names) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return errno;
    int error = 0;
    for (;;) {
        errno = 0;
        const struct dirent* e = ::readdir(d);
        if (e == nullptr) {
            error = errno;
            break;
        }
        names->emplace_back(e->d_name);
    }
    if (::closedir(d) != 0 && error == 0) error = errno;
    return error;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

HostStatus PosixFiles::failed(int code) { return HostStatus(HostError{kindOf(code), code}); }

HostStatus PosixFiles::succeeded(bool done) { return done ? HostStatus() : failed(errno); }

HostStatus PosixFiles::refused(HostErrorKind kind) { return HostStatus(HostError{kind, 0}); }

HostStatus PosixFiles::notAFile(const struct stat& st) {
    return S_ISDIR(st.st_mode) ? failed(EISDIR) : refused(HostErrorKind::NotAFile);
}

HostResult<int> PosixFiles::openFile(const std::string& text, OpenMode mode) {
    const std::string path = hostPath(text);
    const int access = modeWrites(mode) ? O_RDWR : O_RDONLY;
    // O_NONBLOCK keeps a FIFO or device from stalling the open; it is refused below anyway.
    const int base = access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // A mode that creates tries that first, which takes one call where the file is new; where the
    // name is taken, the plain open follows.
    int fd = modeCreates(mode) ? ::open(path.c_str(), base | O_CREAT | O_EXCL, 0666) : -1;
    const bool existed = fd < 0;
    if (fd < 0 && modeCreates(mode) && errno != EEXIST) return failed(errno);
    if (fd < 0) fd = ::open(path.c_str(), base);
    // Taken, yet nothing to open: a link that points nowhere, which the create does not follow.
    if (fd < 0) return failed(modeCreates(mode) && errno == ENOENT ? EEXIST : errno);

    struct stat st;
    HostStatus status = succeeded(::fstat(fd, &st) == 0);
    if (status.ok() && !S_ISREG(st.st_mode)) status = notAFile(st);
    // A file with no write bit at all is write-protected by its owner's choice; honour that
    // even where the process could override it (root).
    if (status.ok() && modeWrites(mode) && existed && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        status = refused(HostErrorKind::Denied);
    bool claimed = false;
    if (status.ok()) claimed = (status = claim(fd, st, mode)).ok();
    // Emptying an existing file comes only after it is known to be ours to write; a file this
    // call created is empty already.
    if (status.ok() && mode == OpenMode::HostCreate && existed) status = succeeded(::ftruncate(fd, 0) == 0);
    // Of the flags F_SETFL changes, the open set O_NONBLOCK alone: clearing them all lets
    // transfers block again without asking for the flags first.
    if (status.ok()) status = succeeded(::fcntl(fd, F_SETFL, 0) == 0);
    if (!status.ok()) {
        // The cause stays the one above: closing a file nothing was written to cannot lose data.
        if (claimed) release(fd);
        ::close(fd);
        return status;
    }
    return fd;
}

HostStatus PosixFiles::closeFile(int handle) {
    if (handle < 0) return HostStatus();
    release(handle);
    return succeeded(::close(handle) == 0);
}

HostStatus PosixFiles::readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                              std::size_t* done) {
    const int error = transfer(handle, offset, buffer, n, done, false);
    return error == 0 ? HostStatus() : failed(error);
}

HostStatus PosixFiles::writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                               std::size_t* done) {
    const int error = transfer(handle, offset, const_cast<void*>(buffer), n, done, true);
    return error == 0 ? HostStatus() : failed(error);
}

HostResult<std::uint64_t> PosixFiles::fileSize(int handle) {
    struct stat st;
    if (::fstat(handle, &st) != 0) return failed(errno);
    return static_cast<std::uint64_t>(st.st_size);
}

HostResult<FileTime> PosixFiles::modificationTime(int handle) {
    struct stat st;
    if (::fstat(handle, &st) != 0) return failed(errno);
    return FileTime{static_cast<std::int64_t>(st.st_mtim.tv_sec),
                    static_cast<std::uint32_t>(st.st_mtim.tv_nsec)};
}

HostResult<std::vector<FoundEntry>> PosixFiles::findFiles(const std::string& pattern) {
    const std::string path = hostPath(pattern);
    const std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const std::string mask = slash == std::string::npos ? path : path.substr(slash + 1);
    if (dir.empty()) dir = ".";

    std::vector<std::string> names;
    if (const int error = readNames(dir, &names)) return failed(error);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&mask](const std::string& name) { return !matchesHostMask(name, mask); }),
                names.end());
    std::sort(names.begin(), names.end());  // byte order: the same listing on every run

    const std::string prefix = slash == std::string::npos ? std::string() : dir;
    std::vector<FoundEntry> found;
    for (const std::string& name : names) {
        // An entry that cannot be looked at (a dangling link) is offered as a file; opening it
        // then refuses it by name.
        struct stat st;
        FoundEntry entry;
        entry.name = name;
        entry.attributes =
            (::stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ATTR_DIRECTORY : ATTR_NORMAL;
        found.push_back(std::move(entry));
    }
    if (found.empty()) return refused(HostErrorKind::NotFound);
    return found;
}

HostStatus PosixFiles::createDirectory(const std::string& text) {
    return succeeded(::mkdir(hostPath(text).c_str(), 0777) == 0);
}

HostResult<int> PosixFiles::countDirectoryEntries(const std::string& text) {
    std::vector<std::string> names;
    if (const int error = readNames(hostPath(text), &names)) return failed(error);
    return static_cast<int>(std::count_if(
        names.begin(), names.end(), [](const std::string& name) { return name != "." && name != ".."; }));
}

HostResult<bool> PosixFiles::pathExists(const std::string& text) {
    struct stat st;
    // A link that points nowhere still takes the name.
    if (::lstat(hostPath(text).c_str(), &st) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;  // nothing there, or a file on the way
    return failed(errno);
}

HostResult<int> PosixFiles::createNewFile(const std::string& text) {
    // O_EXCL also refuses a symbolic link of that name, wherever it points.
    const int fd = ::open(hostPath(text).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return failed(errno);
    struct stat st;
    HostStatus status = succeeded(::fstat(fd, &st) == 0);
    if (status.ok()) status = claim(fd, st, OpenMode::HostCreate);
    if (status.ok()) return fd;
    ::close(fd);  // empty and ours: nothing to lose, and the cause above is the one to keep
    return status;
}

HostStatus PosixFiles::renameNoReplace(const std::string& from, const std::string& to) {
    const std::string a = hostPath(from), b = hostPath(to);
    // A second link fails where the new name is taken; rename() would replace it.
    if (::link(a.c_str(), b.c_str()) == 0) {
        if (::unlink(a.c_str()) != 0) {
            const int error = errno;
            // Back to the one old name; should that fail too, the file only has both.
            ::unlink(b.c_str());
            return failed(error);
        }
    } else if (errno == EEXIST) {
        return failed(EEXIST);
    } else {
        // A file system without hard links (FAT, where images often live) leaves a look before
        // the rename as the best there is.
        struct stat st;
        if (::lstat(b.c_str(), &st) == 0) return failed(EEXIST);
        if (errno != ENOENT) return failed(errno);
        if (::rename(a.c_str(), b.c_str()) != 0) return failed(errno);
    }
    return syncFolderOf(b);
}

HostStatus PosixFiles::syncFolderOf(const std::string& path) {
    // A name lives in its folder: until the folder itself is flushed, a power cut may take the
    // new name back.
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    HostStatus status = flushFolder(fd);
    // Some file systems cannot flush a folder at all (EINVAL): there is nothing more to ask of them.
    if (status.error().code == EINVAL) status = HostStatus();
    const HostStatus closed = succeeded(::close(fd) == 0);
    return status.ok() ? closed : status;
}

HostStatus PosixFiles::flushFolder(int fd) {
    // fsync, not fdatasync: a folder's entries are the metadata to keep.
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    return succeeded(r == 0);
}

HostStatus PosixFiles::removeFile(const std::string& text) {
    return succeeded(::unlink(hostPath(text).c_str()) == 0);
}

}  // namespace z18
