// The host layer: the only code that talks to the operating system. Everything above it works
// through this interface, so tests can substitute a host of their own (in memory, or one that
// makes a chosen transfer fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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

// What a host call did: nothing went wrong, or why it failed. A failure always carries a kind
// other than None, so that no refusal can ever be put into words as a success.
class [[nodiscard]] HostStatus {
public:
    HostStatus() = default;  // success
    explicit HostStatus(HostError cause) : error_(cause) {
        if (error_.kind == HostErrorKind::None) error_.kind = HostErrorKind::Other;
    }
    bool ok() const { return error_.kind == HostErrorKind::None; }
    const HostError& error() const { return error_; }

private:
    HostError error_;
};

// What a host call that hands back a value did: the value, or the failure (never a success) that
// left none.
template <typename T>
class [[nodiscard]] HostResult {
public:
    HostResult(T value) : value_(std::move(value)) {}
    // A status that says success gives no value, so it stands as a failure here too.
    HostResult(HostStatus failure)
        : status_(failure.ok() ? HostStatus(HostError{HostErrorKind::Other, 0}) : failure) {}
    bool ok() const { return status_.ok(); }
    const HostStatus& status() const { return status_; }
    // Only where ok().
    T& value() { return value_; }
    const T& value() const { return value_; }
    T valueOr(T fallback) const { return ok() ? value_ : fallback; }

private:
    T value_{};
    HostStatus status_;
};

// Each call hands back its own cause with its result; nothing of a call outlasts it but what it
// did to files. A status is two words, so transfers stay free of allocations.
class Env {
public:
    virtual ~Env() = default;

    // A handle to close with closeFile (HostFile does it for its owner).
    virtual HostResult<int> openFile(const std::string& path, OpenMode mode) = 0;
    // A failure says the system reported one on closing (on some file systems the last writes
    // fail only then); the handle is closed either way.
    virtual HostStatus closeFile(int handle) = 0;
    // Transfers up to n bytes at offset, counted from the start of the file, in one call; *done
    // receives the number of bytes moved, after a failure too. No position is kept between calls,
    // so every transfer says where it goes.
    virtual HostStatus readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                              std::size_t* done) = 0;
    virtual HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                               std::size_t* done) = 0;
    // Succeeds once everything written through the handle is on the storage device, so that a
    // power cut cannot undo it or let later writes overtake it; fails when the host cannot tell.
    virtual HostStatus flush(int handle) = 0;
    virtual HostResult<std::uint64_t> fileSize(int handle) = 0;
    // When the file behind the handle was last written to, by anyone.
    virtual HostResult<FileTime> modificationTime(int handle) = 0;

    // The entries of one directory that match a wildcard pattern ("dir/mask", or just "mask" for
    // the current directory). The directory's own "." and ".." answer only a mask that begins
    // with a dot, so that "*" lists what the directory holds and nothing else. Fails when the
    // directory cannot be read whole or nothing matches.
    virtual HostResult<std::vector<FoundEntry>> findFiles(const std::string& pattern) = 0;

    // Waits for one key press on the console without echo; returns at once where there is no console.
    // `prompt` is the text the caller has just written to ask for the key. Where the process can be
    // stopped during the wait (Ctrl-Z), the shell writes over the screen meanwhile, so the host
    // writes the prompt again, from the start of its line, when the wait resumes.
    virtual void waitKey(const char* prompt) = 0;

    // Full path of the running executable, or empty when the host cannot tell.
    virtual std::string executablePath() = 0;

    // Services for a program that makes new files and folders beside the ones it reads and must
    // never replace anything.

    // Makes a new, empty directory; fails with kind Exists when anything already has that name.
    virtual HostStatus createDirectory(const std::string& path) = 0;
    // The number of entries in a directory, "." and ".." not counted; fails when path is no
    // directory that can be read whole.
    virtual HostResult<int> countDirectoryEntries(const std::string& path) = 0;
    // Whether anything at all has that name (a file, a directory, a dangling link). Fails when
    // the host cannot tell; a caller that must not take a name then takes it as taken.
    virtual HostResult<bool> pathExists(const std::string& path) = 0;
    // Creates a regular file that must not exist yet, opened for reading and writing and held
    // alone; fails when the name is taken (by anything).
    virtual HostResult<int> createNewFile(const std::string& path) = 0;
    // Gives the file `from` the name `to`, which must not exist yet: never replaces anything.
    // Succeeds only once the new name is on the storage device, so that it outlasts a power cut.
    // After a failure the file still has at least one of the two names.
    virtual HostStatus renameNoReplace(const std::string& from, const std::string& to) = 0;
    // Removes a regular file.
    virtual HostStatus removeFile(const std::string& path) = 0;
};

// Move exactly n bytes at offset in one host call; *done receives the bytes moved. A transfer
// that moves fewer without an error fails as well: a write with the cause of a full medium, the
// reason a file takes fewer bytes than it is given; a read as a failed device, since the caller
// knew the bytes to be there.
HostStatus readExactly(Env& env, int handle, std::uint64_t offset, void* buffer, std::size_t n,
                       std::size_t* done);
HostStatus writeExactly(Env& env, int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                        std::size_t* done);

// A file the host holds open for its owner, closed when the owner lets it go. Whoever wrote to
// the file closes it with close() instead, which says whether the close went well: some file
// systems report a failed write only then.
class HostFile {
public:
    HostFile() = default;
    HostFile(Env& env, int handle) : env_(&env), handle_(handle) {}
    ~HostFile() { (void)close(); }
    HostFile(HostFile&& other) noexcept : env_(other.env_), handle_(other.release()) {}
    HostFile& operator=(HostFile&& other) noexcept;
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;

    static HostResult<HostFile> open(Env& env, const std::string& path, OpenMode mode);
    // A new file that nothing had the name of (Env::createNewFile).
    static HostResult<HostFile> createNew(Env& env, const std::string& path);

    bool isOpen() const { return handle_ != CLOSED_HANDLE; }
    // Gives up the handle without closing it: for a holder that keeps handles as integers.
    int release();
    // Closes the file now; closing one that is closed already succeeds.
    HostStatus close();

    HostStatus readAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) {
        return env_->readAt(handle_, offset, buffer, n, done);
    }
    HostStatus readExactly(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done) {
        return z18::readExactly(*env_, handle_, offset, buffer, n, done);
    }
    HostStatus writeExactly(std::uint64_t offset, const void* buffer, std::size_t n, std::size_t* done) {
        return z18::writeExactly(*env_, handle_, offset, buffer, n, done);
    }
    HostStatus flush() { return env_->flush(handle_); }
    HostResult<std::uint64_t> size() { return env_->fileSize(handle_); }

private:
    Env* env_ = nullptr;
    int handle_ = CLOSED_HANDLE;
};

// The environment of the machine the tool runs on. Lives for the whole process.
Env* defaultEnv();

// Turns the session's path text into the host's form: both "\" and "/" separate here.
std::string hostPath(const std::string& text);

// Case-insensitive match of a file name against a mask with "*" and "?", as the directory search
// applies it (a name without a dot is tried once more with a dot appended).
bool matchesHostMask(const std::string& name, const std::string& mask);

}  // namespace z18
