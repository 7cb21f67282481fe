// The file half of a host built on the POSIX calls: opens that hand out only regular files the
// mode may use, positioned transfers, sizes and the directory search. The native POSIX host and the
// web host (Emscripten's C library over Node's file system or its in-memory one) both stand on it;
// each adds how it holds a file against other users, how it flushes, waits and names itself.
#pragma once

#include <sys/stat.h>

#include "host/env.h"

namespace z18 {

class PosixFiles : public Env {
public:
    int openFile(const std::string& path, OpenMode mode) override;
    void closeFile(int handle) override;
    bool readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) override;
    bool writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* done) override;
    bool fileSize(int handle, std::uint64_t* size) override;
    bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) override;

protected:
    // The host's hold on a file just opened: st describes it, a regular file the mode may use. It
    // comes before a file to extract into is emptied, so a refusal here leaves the file as it was.
    virtual bool claim(int fd, const struct stat& st, OpenMode mode) = 0;
    // Called just before the handle is closed.
    virtual void release(int fd) { (void)fd; }
};

}  // namespace z18
