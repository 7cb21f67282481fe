// A folder served to the kernel through FUSE 3: the one place the mount program meets libfuse.
// The folder's behaviour lives above, behind FolderOps, which knows paths, handles and bytes and
// nothing of the kernel, so it can be tested on an in-memory host; this layer turns the kernel's
// requests into those calls and the answers into system error numbers. Built into z18mount only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/env.h"

namespace z18 {

// Why a folder operation failed, in the terms every file system answers in.
enum class FolderError {
    None,
    NotFound,      // no such file or folder
    Exists,        // the name is taken
    NotEmpty,      // a folder that still holds files
    IsFolder,      // a folder where a file is needed
    NotFolder,     // a file where a folder is needed
    Invalid,       // no name this folder can hold, or a value it cannot take
    Denied,        // the file is write-protected
    NotPermitted,  // an operation this folder never allows
    NoSpace,       // no room left for the file's blocks or entries
    ReadOnly,      // the folder was mounted read-only
    Io,            // the image could not be read or written
    NoAttribute,   // no extended attribute of that name
    NotSupported,  // an extended attribute this folder cannot keep
};

// Who owns everything in the folder: the user who mounted it.
struct FolderOwner {
    std::uint32_t user = 0;
    std::uint32_t group = 0;
};
// The owner of this process.
FolderOwner processOwner();
// What an owner change names when it leaves the user or the group as it is.
constexpr std::uint32_t SAME_OWNER = 0xFFFFFFFFu;

// What the folder shows of one of its files or folders.
struct FolderItem {
    bool folder = false;
    bool writable = true;  // a file without write bits is write-protected
    std::uint64_t size = 0;
    std::uint64_t stored = 0;  // the bytes of the blocks it takes on the disk
    std::uint32_t links = 1;
    FileTime modified;
    FolderOwner owner;
};

// The room in the folder: blocks and files, total and free.
struct FolderSpace {
    std::uint32_t blockSize = 0;
    std::uint64_t blocks = 0, freeBlocks = 0;
    std::uint64_t files = 0, freeFiles = 0;
    std::uint32_t nameMax = 0;
};

using FolderHandle = std::uint64_t;

// The operations a served folder answers. Paths are absolute within the folder ("/", "/NAME",
// "/u3/NAME") and never end in "/". The server calls them one at a time, never two at once.
class FolderOps {
public:
    virtual ~FolderOps() = default;

    virtual FolderError stat(const std::string& path, FolderItem* item) = 0;
    virtual FolderError statOpen(FolderHandle handle, FolderItem* item) = 0;
    // Every name in a folder, with what stat would show for it.
    virtual FolderError list(const std::string& path,
                             std::vector<std::pair<std::string, FolderItem>>* items) = 0;
    virtual FolderError makeFolder(const std::string& path) = 0;
    virtual FolderError removeFolder(const std::string& path) = 0;
    virtual FolderError remove(const std::string& path) = 0;
    // With `replace` false a taken target name fails the rename.
    virtual FolderError rename(const std::string& from, const std::string& to, bool replace) = 0;

    // A new, empty file, open for writing; `writable` false asks for it write-protected.
    virtual FolderError create(const std::string& path, bool writable, FolderHandle* handle) = 0;
    virtual FolderError open(const std::string& path, bool write, bool truncate, FolderHandle* handle) = 0;
    virtual FolderError read(FolderHandle handle, std::uint64_t offset, void* buffer, std::size_t n,
                             std::size_t* done) = 0;
    virtual FolderError write(FolderHandle handle, std::uint64_t offset, const void* data, std::size_t n) = 0;
    // A new size, through an open handle where the caller has one (handle not null).
    virtual FolderError resize(const std::string& path, const FolderHandle* handle, std::uint64_t size) = 0;
    // What was written through the handle is on the disk when this returns without a failure: on
    // every close of a descriptor and on fsync.
    virtual FolderError flush(FolderHandle handle) = 0;
    // The last close of the handle.
    virtual void release(FolderHandle handle) = 0;

    // Permission bits and owners, as chmod and chown ask for them (SAME_OWNER for either id).
    virtual FolderError setMode(const std::string& path, std::uint32_t mode) = 0;
    virtual FolderError setOwner(const std::string& path, std::uint32_t user, std::uint32_t group) = 0;
    virtual FolderError setTimes(const std::string& path) = 0;

    virtual FolderError getAttribute(const std::string& path, const std::string& name,
                                     std::string* value) = 0;
    // `mustBeNew` and `mustExist`: the create and replace flags of setxattr.
    virtual FolderError setAttribute(const std::string& path, const std::string& name,
                                     const std::string& value, bool mustBeNew, bool mustExist) = 0;
    virtual FolderError listAttributes(const std::string& path, std::vector<std::string>* names) = 0;
    virtual FolderError removeAttribute(const std::string& path, const std::string& name) = 0;

    virtual FolderError space(FolderSpace* space) = 0;
    // The folder is being unmounted: whatever is still pending goes to the disk now.
    virtual void unmounting() = 0;
};

// How the folder is to be served.
struct ServeRequest {
    std::string program;               // the name the kernel's mount table and messages show
    std::string source;                // what the mount table shows as mounted (the image)
    std::string mountPoint;            // an empty folder
    std::vector<std::string> options;  // mount options for FUSE ("ro", "allow_other"...)
    bool foreground = false;           // stay in the foreground rather than detach
    bool debug = false;                // log every request on standard error
};

// Mounts the folder and answers its requests one at a time until it is unmounted. Returns 0, or 1
// after libfuse has said on standard error why the folder could not be mounted.
int serveFolder(FolderOps& ops, const ServeRequest& request);

}  // namespace z18
