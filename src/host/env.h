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

// A folder is known by its bit alone: Windows sets read-only, hidden, system or archive bits on
// folders too.
inline bool isFolder(const FoundEntry& entry) { return (entry.attributes & ATTR_DIRECTORY) != 0; }

// What a caller may tell apart when a host call fails, whatever the system.
enum class HostErrorKind : std::uint8_t {
    None,
    NotFound,    // no such file or folder, or a folder on the way is missing
    Exists,      // the name is taken
    NotAFile,    // a folder, device or pipe where a regular file is needed
    NotAFolder,  // a file where a folder is needed
    Denied,      // no permission, or write-protected
    InUse,       // held by another user of the file
    NoSpace,     // the medium or the quota is full
    Io,          // the device failed
    Other,
};

// When a file's content last changed, as its file system keeps it.
struct FileTime {
    std::int64_t seconds = 0;  // since 1970-01-01 00:00 UTC
    std::uint32_t nanoseconds = 0;
};

// Why a host call failed. `code` is the system's own number (errno, or GetLastError on Windows),
// 0 where the refusal is a rule of this layer's rather than the system's.
struct HostError {
    HostErrorKind kind = HostErrorKind::None;
    int code = 0;
};

// The words for a failure: the system's own text for its code, else the kind's.
std::string errorText(const HostError& error);
// The system's text for one of its error numbers, without a line end.
std::string systemErrorText(int code);

// Every call that fails keeps its cause for lastError(), as errno does: what lastError() returns
// describes the latest call that failed, and means nothing after one that succeeded. Keeping it
// costs a store, so transfers stay free of allocations.
class Env {
public:
    virtual ~Env() = default;

    // Returns a handle, or CLOSED_HANDLE on any failure.
    virtual int openFile(const std::string& path, OpenMode mode) = 0;
    // False when the system reports a failure on closing (on some file systems the last writes
    // fail only then); the handle is closed either way.
    virtual bool closeFile(int handle) = 0;
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
    // When the file behind the handle was last written to, by anyone.
    virtual bool modificationTime(int handle, FileTime* time) = 0;

    // Lists the entries of one directory that match a wildcard pattern ("dir/mask", or just "mask"
    // for the current directory). Returns false when the directory cannot be read whole or nothing
    // matches.
    virtual bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) = 0;

    // Waits for one key press on the console without echo; returns at once where there is no console.
    // `prompt` is the text the caller has just written to ask for the key. Where the process can be
    // stopped during the wait (Ctrl-Z), the shell writes over the screen meanwhile, so the host
    // writes the prompt again, from the start of its line, when the wait resumes.
    virtual void waitKey(const char* prompt) = 0;

    // Full path of the running executable, or empty when the host cannot tell.
    virtual std::string executablePath() = 0;

    // Services for a program that makes new files and folders beside the ones it reads and must
    // never replace anything.

    // Makes a new, empty directory; false when anything already has that name (kind Exists), or
    // on any failure.
    virtual bool createDirectory(const std::string& path) = 0;
    // The number of entries in a directory, "." and ".." not counted; -1 when path is no directory
    // that can be read whole.
    virtual int countDirectoryEntries(const std::string& path) = 0;
    // Whether anything at all has that name (a file, a directory, a dangling link). When the host
    // cannot tell, it answers yes, so that the caller does not take the name, and keeps the cause.
    virtual bool pathExists(const std::string& path) = 0;
    // Creates a regular file that must not exist yet, opened for reading and writing and held
    // alone; CLOSED_HANDLE when the name is taken (by anything) or on any failure.
    virtual int createNewFile(const std::string& path) = 0;
    // Gives the file `from` the name `to`, which must not exist yet: never replaces anything. True
    // only once the new name is on the storage device, so that it outlasts a power cut. After a
    // failure the file still has at least one of the two names.
    virtual bool renameNoReplace(const std::string& from, const std::string& to) = 0;
    // Removes a regular file.
    virtual bool removeFile(const std::string& path) = 0;

    // The cause of the latest call that failed.
    virtual HostError lastError() const = 0;
};

// The environment of the machine the tool runs on. Lives for the whole process.
Env* defaultEnv();

// Turns the session's path text into the host's form: both "\" and "/" separate here.
std::string hostPath(const std::string& text);

// Case-insensitive match of a file name against a mask with "*" and "?", as the directory search
// applies it (a name without a dot is tried once more with a dot appended).
bool matchesHostMask(const std::string& name, const std::string& mask);

}  // namespace z18
