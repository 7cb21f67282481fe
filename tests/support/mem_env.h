// A host kept entirely in memory: named byte buffers and directories, with the same open rules as
// the POSIX host (regular files only, write-protected files refused for writing, a writer excludes
// every other handle on the same file). Fuzzers and fast tests run whole sessions on it, and can
// compare everything the session left behind.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/env.h"

namespace z18 {

class MemEnv : public Env {
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Node {
        bool directory = false;
        bool readOnly = false;  // no write permission: opening it for writing fails
        Bytes bytes;
        FileTime modified;  // a tick of the host's clock, which every change of a file advances
        bool operator==(const Node& o) const {
            return directory == o.directory && readOnly == o.readOnly && bytes == o.bytes;
        }
        bool operator!=(const Node& o) const { return !(*this == o); }
    };
    // Every file and directory, keyed by normalised path ("" is the current directory).
    using Tree = std::map<std::string, Node>;

    MemEnv();

    // Empties the host, as if it were new, but keeps the memory that held the file contents for
    // the files made next. A fuzz target builds a host for every input, and allocating hundreds of
    // kilobytes anew each time (fresh pages, under the sanitizers) would cost it most of its speed.
    void reset();

    // Creates or replaces a file; missing parent directories are made too.
    void putFile(const std::string& path, Bytes bytes, bool readOnly = false);
    void putFile(const std::string& path, const std::string& text, bool readOnly = false);
    // The same, with a copy of n bytes, held in memory that reset() kept where there is some.
    void putFile(const std::string& path, const std::uint8_t* data, std::size_t n, bool readOnly = false);
    void makeDirectory(const std::string& path);

    bool exists(const std::string& path) const;
    bool isFile(const std::string& path) const;
    // The bytes of a file; empty when there is no such file.
    const Bytes& bytes(const std::string& path) const;
    const Tree& tree() const { return tree_; }
    // Number of handles not yet closed.
    int openHandles() const { return static_cast<int>(handles_.size()); }
    int keyWaits() const { return keyWaits_; }
    // Flushes asked for on the file at path.
    int flushes(const std::string& path) const;

    // The form every path takes as a key: cut at a zero byte, separators unified, "." and empty
    // parts dropped, ".." applied where it can be.
    static std::string normalise(const std::string& path);

    // Causes carry no system number here: their words are the host layer's own.
    HostResult<int> openFile(const std::string& path, OpenMode mode) override;
    HostStatus closeFile(int handle) override;
    HostStatus readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                      std::size_t* done) override;
    HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                       std::size_t* done) override;
    // Everything here is as durable as it will ever be; a flush is only counted, per file.
    HostStatus flush(int handle) override;
    HostResult<std::uint64_t> fileSize(int handle) override;
    HostResult<FileTime> modificationTime(int handle) override;
    HostResult<std::vector<FoundEntry>> findFiles(const std::string& pattern) override;
    void waitKey(const char*) override { ++keyWaits_; }
    std::string executablePath() override { return "/usr/bin/z18man"; }
    HostStatus createDirectory(const std::string& path) override;
    HostResult<int> countDirectoryEntries(const std::string& path) override;
    HostResult<bool> pathExists(const std::string& path) override { return exists(path); }
    HostResult<int> createNewFile(const std::string& path) override;
    HostStatus renameNoReplace(const std::string& from, const std::string& to) override;
    HostStatus removeFile(const std::string& path) override;

private:
    struct Handle {
        std::string path;
        bool writable = false;
        Node* node = nullptr;  // the file's node: nodes stay where they are until reset()
    };
    static HostStatus fail(HostErrorKind kind) { return HostStatus(HostError{kind, 0}); }
    // Why nothing is at key: a file where a folder on the way should be, or nothing at all.
    HostErrorKind whyMissing(const std::string& key) const;
    bool isDirectory(const std::string& key) const;
    static std::string parentOf(const std::string& key);
    // A kept buffer for a new file, with room for at least n bytes where there is one; it still
    // holds what it held before.
    Bytes takeSpare(std::size_t n);
    void keepSpare(Bytes& bytes);

    Tree tree_;
    std::map<int, Handle> handles_;
    FileTime tick() { return {++clock_, 0}; }

    int nextHandle_ = 3;
    std::int64_t clock_ = 1700000000;  // seconds; one a change
    int keyWaits_ = 0;
    std::map<std::string, int> flushes_;
    std::vector<Bytes> spares_;  // emptied buffers that reset() and replaced files left
};

}  // namespace z18
