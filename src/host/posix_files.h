// The file half of a host built on the POSIX calls: opens that hand out only regular files the
// mode may use, positioned transfers, sizes, the directory search and the services that make new
// files and folders. The native POSIX host and the web host (Emscripten's C library over Node's
// file system or its in-memory one) both stand on it; each adds how it holds a file against other
// users, how it flushes, waits and names itself.
#pragma once

#include <sys/stat.h>

#include "host/env.h"

namespace z18 {

class PosixFiles : public Env {
public:
    HostResult<int> openFile(const std::string& path, OpenMode mode) override;
    HostStatus closeFile(int handle) override;
    HostStatus readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                      std::size_t* done) override;
    HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                       std::size_t* done) override;
    HostResult<std::uint64_t> fileSize(int handle) override;
    HostResult<FileTime> modificationTime(int handle) override;
    HostResult<std::vector<FoundEntry>> findFiles(const std::string& pattern) override;
    HostStatus createDirectory(const std::string& path) override;
    HostResult<int> countDirectoryEntries(const std::string& path) override;
    HostResult<bool> pathExists(const std::string& path) override;
    HostResult<int> createNewFile(const std::string& path) override;
    HostStatus renameNoReplace(const std::string& from, const std::string& to) override;
    HostStatus removeFile(const std::string& path) override;

protected:
    // The host's hold on a file just opened: st describes it, a regular file the mode may use. It
    // comes before a file to extract into is emptied, so a refusal here leaves the file as it was.
    virtual HostStatus claim(int fd, const struct stat& st, OpenMode mode) = 0;
    // Called just before the handle is closed.
    virtual void release(int fd) { (void)fd; }
    // Puts a folder's entries, open as fd, on the storage device; fails when the system cannot
    // tell that it did.
    virtual HostStatus flushFolder(int fd);

    // The cause of a failure: an errno value, or one of this layer's rules.
    static HostStatus failed(int code);
    static HostStatus refused(HostErrorKind kind);
    // The outcome of a system call that reports failure through errno.
    static HostStatus succeeded(bool done);
    // The same for a path that st describes as no regular file: a folder, a device or a pipe.
    static HostStatus notAFile(const struct stat& st);

private:
    // Makes a change to the entries of a folder (a new name) last through a power cut.
    HostStatus syncFolderOf(const std::string& path);
};

}  // namespace z18
