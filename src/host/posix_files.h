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
    int openFile(const std::string& path, OpenMode mode) override;
    bool closeFile(int handle) override;
    bool readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) override;
    bool writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* done) override;
    bool fileSize(int handle, std::uint64_t* size) override;
    bool modificationTime(int handle, FileTime* time) override;
    bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) override;
    bool createDirectory(const std::string& path) override;
    int countDirectoryEntries(const std::string& path) override;
    bool pathExists(const std::string& path) override;
    int createNewFile(const std::string& path) override;
    bool renameNoReplace(const std::string& from, const std::string& to) override;
    bool removeFile(const std::string& path) override;
    HostError lastError() const override { return error_; }

protected:
    // The host's hold on a file just opened: st describes it, a regular file the mode may use. It
    // comes before a file to extract into is emptied, so a refusal here leaves the file as it was.
    // A refusal keeps its cause through failed() or refused().
    virtual bool claim(int fd, const struct stat& st, OpenMode mode) = 0;
    // Called just before the handle is closed.
    virtual void release(int fd) { (void)fd; }
    // Puts a folder's entries, open as fd, on the storage device; false with the cause when the
    // system cannot tell that it did.
    virtual bool flushFolder(int fd);

    // Keep the cause of a failure and return false: an errno value, or one of this layer's rules.
    bool failed(int code);
    bool refused(HostErrorKind kind);
    // The same for a path that st describes as no regular file: a folder, a device or a pipe.
    bool notAFile(const struct stat& st);

private:
    // Makes a change to the entries of a folder (a new name) last through a power cut.
    bool syncFolderOf(const std::string& path);

    HostError error_;
};

}  // namespace z18
