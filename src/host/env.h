// The host layer: the only code that talks to the operating system. Everything above it works
// through this interface, so tests can substitute a host of their own (in memory, or one that
// makes a chosen transfer fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace z18 {

// Handles are small non-negative integers; -1 means "no file open".
constexpr int CLOSED_HANDLE = -1;

// Attribute words delivered by the host directory search.
constexpr std::uint32_t ATTR_DIRECTORY = 16;
constexpr std::uint32_t ATTR_NORMAL = 0x80;

// How a file is opened. Every mode requires a regular file and never blocks; the ones that write
// take an exclusive lock, the others a shared one, and any lock that cannot be had at once fails.
enum class OpenMode {
    ImageRead,    // existing image, read only (catalogue, extract)
    ImageWrite,   // existing image, read-write (formats, add, erase)
    ImageCreate,  // image, read-write, created empty when missing
    HostRead,     // existing host file to copy in, read only
    HostCreate,   // host file to extract into: created when missing, then emptied
};

// What a mode asks of the host: every host applies the same rules from these two answers.
inline bool modeWrites(OpenMode mode) {
    return mode == OpenMode::ImageWrite || mode == OpenMode::ImageCreate || mode == OpenMode::HostCreate;
}
inline bool modeCreates(OpenMode mode) {
    return mode == OpenMode::ImageCreate || mode == OpenMode::HostCreate;
}

struct FoundEntry {
    std::uint32_t attributes = ATTR_NORMAL;
    std::string name;           // the long name
    std::string alternateName;  // the 8.3 alternate name; empty where the host has none
};

class Env {
public:
    virtual ~Env() = default;

    // Returns a handle, or CLOSED_HANDLE on any failure.
    virtual int openFile(const std::string& path, OpenMode mode) = 0;
    virtual void closeFile(int handle) = 0;
    // Transfers up to n bytes at offset, counted from the start of the file, in one call; *done
    // receives the number of bytes moved. Returns false when the host reports an error. No
    // position is kept between calls, so every transfer says where it goes.
    virtual bool readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) = 0;
    virtual bool writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                         std::size_t* done) = 0;
    // Returns once everything written through the handle is on the storage device, so that a
    // power cut cannot undo it or let later writes overtake it. False when the host cannot tell.
    virtual bool flush(int handle) = 0;
    virtual bool fileSize(int handle, std::uint64_t* size) = 0;

    // Lists the entries of one directory that match a wildcard pattern ("dir/mask", or just "mask"
    // for the current directory). Returns false when the directory cannot be read or nothing matches.
    virtual bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) = 0;

    // Waits for one key press on the console without echo; returns at once where there is no console.
    // `prompt` is the text the caller has just written to ask for the key. Where the process can be
    // stopped during the wait (Ctrl-Z), the shell writes over the screen meanwhile, so the host
    // writes the prompt again, from the start of its line, when the wait resumes.
    virtual void waitKey(const char* prompt) = 0;

    // Full path of the running executable, or empty when the host cannot tell.
    virtual std::string executablePath() = 0;

    // Services for a program that makes new files and folders beside the ones it reads and must
    // never replace anything. Each has a default that refuses, so a host that does not offer it
    // still builds and is only kept from doing that work.

    // Makes a new, empty directory; false when anything already has that name, or on any failure.
    virtual bool createDirectory(const std::string& path) {
        (void)path;
        return false;
    }
    // The number of entries in a directory, "." and ".." not counted; -1 when path is no directory
    // that can be read.
    virtual int countDirectoryEntries(const std::string& path) {
        (void)path;
        return -1;
    }
    // Whether anything at all has that name (a file, a directory, a dangling link). When the host
    // cannot tell, it answers yes, so that the caller does not take the name.
    virtual bool pathExists(const std::string& path) {
        (void)path;
        return true;
    }
    // Creates a regular file that must not exist yet, opened for reading and writing and held
    // alone; CLOSED_HANDLE when the name is taken (by anything) or on any failure.
    virtual int createNewFile(const std::string& path) {
        (void)path;
        return CLOSED_HANDLE;
    }
    // Gives the file `from` the name `to`, which must not exist yet: never replaces anything.
    virtual bool renameNoReplace(const std::string& from, const std::string& to) {
        (void)from;
        (void)to;
        return false;
    }
    // Removes a regular file.
    virtual bool removeFile(const std::string& path) {
        (void)path;
        return false;
    }
};

// The environment of the machine the tool runs on. Lives for the whole process.
Env* defaultEnv();

// Turns the session's path text into the host's form: both "\" and "/" separate here.
std::string hostPath(const std::string& text);

// Case-insensitive match of a file name against a mask with "*" and "?", as the directory search
// applies it (a name without a dot is tried once more with a dot appended).
bool matchesHostMask(const std::string& name, const std::string& mask);

}  // namespace z18
