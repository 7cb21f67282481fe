// The kernel's side of a served folder: libfuse's high-level interface, one request at a time.
#define FUSE_USE_VERSION 31
#include "host/fuse_serve.h"

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace z18 {

namespace {

constexpr mode_t FOLDER_MODE = 0755, FILE_MODE = 0644, WRITE_BITS = 0222;
// Names stay a second, as libfuse's default has it: every change of a name goes through this
// folder. Attributes are asked for each time: a size the kernel took in while another process
// was still writing the file (a listing that crossed the writes) would otherwise stand after the
// close for as long as it is kept, and a reader would see the file empty or cut short.
constexpr double ATTRIBUTE_SECONDS = 0, NAME_SECONDS = 1;

int errnoOf(FolderError e) {
    switch (e) {
        case FolderError::None: return 0;
        case FolderError::NotFound: return ENOENT;
        case FolderError::Exists: return EEXIST;
        case FolderError::NotEmpty: return ENOTEMPTY;
        case FolderError::IsFolder: return EISDIR;
        case FolderError::NotFolder: return ENOTDIR;
        case FolderError::Invalid: return EINVAL;
        case FolderError::Denied: return EACCES;
        case FolderError::NotPermitted: return EPERM;
        case FolderError::NoSpace: return ENOSPC;
        case FolderError::ReadOnly: return EROFS;
        case FolderError::Io: return EIO;
        case FolderError::NoAttribute: return ENODATA;
        case FolderError::NotSupported: return ENOTSUP;
    }
    return EIO;
}
int answer(FolderError e) { return -errnoOf(e); }

FolderOps& ops() { return *static_cast<FolderOps*>(fuse_get_context()->private_data); }

// An open file whose name is gone comes without a path; the operations take "" for it.
std::string pathOf(const char* path) { return path != nullptr ? path : std::string(); }

void fill(const FolderItem& item, struct stat* st) {
    std::memset(st, 0, sizeof *st);
    st->st_mode =
        item.folder ? S_IFDIR | FOLDER_MODE : S_IFREG | (item.writable ? FILE_MODE : FILE_MODE & ~WRITE_BITS);
    st->st_nlink = item.links;
    st->st_uid = item.owner.user;
    st->st_gid = item.owner.group;
    st->st_size = static_cast<off_t>(item.size);
    st->st_blocks = static_cast<blkcnt_t>(item.stored / 512);
    st->st_mtim.tv_sec = st->st_ctim.tv_sec = st->st_atim.tv_sec = static_cast<time_t>(item.modified.seconds);
    st->st_mtim.tv_nsec = st->st_ctim.tv_nsec = st->st_atim.tv_nsec = item.modified.nanoseconds;
}

void* init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
    cfg->use_ino = 0;
    // A file erased while open is erased at once; its handles keep it (the operations see to that).
    cfg->hard_remove = 1;
    cfg->nullpath_ok = 1;
    cfg->attr_timeout = ATTRIBUTE_SECONDS;
    cfg->entry_timeout = NAME_SECONDS;
    cfg->negative_timeout = 0;
    cfg->kernel_cache = 0;
    // A close of a descriptor that could not write has nothing to put on the disk.
    cfg->no_rofd_flush = 1;
    // An open that empties a file arrives as one request, so the old bytes can stay until the new
    // ones are placed.
    if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    conn->want &= ~static_cast<unsigned>(FUSE_CAP_WRITEBACK_CACHE);
    return fuse_get_context()->private_data;
}

void destroy(void*) { ops().unmounting(); }

int getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    FolderItem item;
    const FolderError e = fi != nullptr ? ops().statOpen(fi->fh, &item) : ops().stat(pathOf(path), &item);
    if (e == FolderError::None) fill(item, st);
    return answer(e);
}

// A listing may come without its folder's path (libfuse leaves it out where a handle could stand
// for it), so the open folder keeps its path as its handle.
int opendir(const char* path, struct fuse_file_info* fi) {
    FolderItem item;
    const FolderError e = ops().stat(pathOf(path), &item);
    if (e != FolderError::None) return answer(e);
    if (!item.folder) return -ENOTDIR;
    fi->fh = reinterpret_cast<std::uintptr_t>(new std::string(pathOf(path)));
    return 0;
}

int releasedir(const char*, struct fuse_file_info* fi) {
    delete reinterpret_cast<std::string*>(static_cast<std::uintptr_t>(fi->fh));
    return 0;
}

int readdir(const char*, void* buffer, fuse_fill_dir_t filler, off_t, struct fuse_file_info* fi,
            enum fuse_readdir_flags flags) {
    const std::string& path = *reinterpret_cast<const std::string*>(static_cast<std::uintptr_t>(fi->fh));
    std::vector<std::pair<std::string, FolderItem>> items;
    FolderItem self;
    FolderError e = ops().stat(path, &self);
    if (e == FolderError::None) e = ops().list(path, &items);
    if (e != FolderError::None) return answer(e);
    // Each name comes with what stat shows for it, so a listing with sizes asks nothing more.
    const auto plus = static_cast<fuse_fill_dir_flags>(flags & FUSE_READDIR_PLUS ? FUSE_FILL_DIR_PLUS : 0);
    struct stat st;
    fill(self, &st);
    filler(buffer, ".", &st, 0, static_cast<fuse_fill_dir_flags>(0));
    filler(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const auto& item : items) {
        fill(item.second, &st);
        if (filler(buffer, item.first.c_str(), &st, 0, plus) != 0) break;
    }
    return 0;
}

int mkdir(const char* path, mode_t) { return answer(ops().makeFolder(pathOf(path))); }
int rmdir(const char* path) { return answer(ops().removeFolder(pathOf(path))); }
int unlink(const char* path) { return answer(ops().remove(pathOf(path))); }

int rename(const char* from, const char* to, unsigned int flags) {
    if (flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) return -EINVAL;  // no exchange
    return answer(ops().rename(pathOf(from), pathOf(to), (flags & RENAME_NOREPLACE) == 0));
}

// Only regular files: the image holds nothing else.
int mknod(const char*, mode_t, dev_t) { return -EPERM; }

int create(const char* path, mode_t mode, struct fuse_file_info* fi) {
    if (!S_ISREG(mode)) return -EPERM;
    return answer(ops().create(pathOf(path), (mode & WRITE_BITS) != 0, &fi->fh));
}

int open(const char* path, struct fuse_file_info* fi) {
    const bool write = (fi->flags & O_ACCMODE) != O_RDONLY;
    return answer(ops().open(pathOf(path), write, (fi->flags & O_TRUNC) != 0, &fi->fh));
}

int read(const char*, char* buffer, size_t n, off_t offset, struct fuse_file_info* fi) {
    std::size_t done = 0;
    const FolderError e = ops().read(fi->fh, static_cast<std::uint64_t>(offset), buffer, n, &done);
    return e == FolderError::None ? static_cast<int>(done) : answer(e);
}

int write(const char*, const char* data, size_t n, off_t offset, struct fuse_file_info* fi) {
    const FolderError e = ops().write(fi->fh, static_cast<std::uint64_t>(offset), data, n);
    return e == FolderError::None ? static_cast<int>(n) : answer(e);
}

int truncate(const char* path, off_t size, struct fuse_file_info* fi) {
    return answer(
        ops().resize(pathOf(path), fi != nullptr ? &fi->fh : nullptr, static_cast<std::uint64_t>(size)));
}

int flush(const char*, struct fuse_file_info* fi) { return answer(ops().flush(fi->fh)); }
int fsync(const char*, int, struct fuse_file_info* fi) { return answer(ops().flush(fi->fh)); }
int release(const char*, struct fuse_file_info* fi) {
    ops().release(fi->fh);
    return 0;
}

// A file erased while open has no name left to change; what a change would do goes with it.
int chmod(const char* path, mode_t mode, struct fuse_file_info*) {
    return path == nullptr ? 0 : answer(ops().setMode(path, mode & 07777));
}
int chown(const char* path, uid_t user, gid_t group, struct fuse_file_info*) {
    return path == nullptr ? 0 : answer(ops().setOwner(path, user, group));
}
int utimens(const char* path, const struct timespec*, struct fuse_file_info*) {
    return path == nullptr ? 0 : answer(ops().setTimes(path));
}

int statfs(const char*, struct statvfs* st) {
    FolderSpace space;
    const FolderError e = ops().space(&space);
    if (e != FolderError::None) return answer(e);
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = space.blockSize;
    st->f_blocks = space.blocks;
    st->f_bfree = st->f_bavail = space.freeBlocks;
    st->f_files = space.files;
    st->f_ffree = st->f_favail = space.freeFiles;
    st->f_namemax = space.nameMax;
    return 0;
}

// The extended attribute calls' own rule: a size of 0 asks how much room the value needs.
int giveBytes(const std::string& bytes, char* buffer, size_t size) {
    if (size == 0) return static_cast<int>(bytes.size());
    if (size < bytes.size()) return -ERANGE;
    std::memcpy(buffer, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}

int getxattr(const char* path, const char* name, char* value, size_t size) {
    std::string bytes;
    const FolderError e = ops().getAttribute(pathOf(path), name, &bytes);
    return e == FolderError::None ? giveBytes(bytes, value, size) : answer(e);
}

int setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
    return answer(ops().setAttribute(pathOf(path), name, std::string(value, size),
                                     (flags & XATTR_CREATE) != 0, (flags & XATTR_REPLACE) != 0));
}

int listxattr(const char* path, char* list, size_t size) {
    std::vector<std::string> names;
    const FolderError e = ops().listAttributes(pathOf(path), &names);
    std::string bytes;
    for (const std::string& name : names) bytes += name + '\0';
    return e == FolderError::None ? giveBytes(bytes, list, size) : answer(e);
}

int removexattr(const char* path, const char* name) {
    return answer(ops().removeAttribute(pathOf(path), name));
}

struct fuse_operations operations() {
    struct fuse_operations o;
    std::memset(&o, 0, sizeof o);
    o.init = init;
    o.destroy = destroy;
    o.getattr = getattr;
    o.opendir = opendir;
    o.readdir = readdir;
    o.releasedir = releasedir;
    o.mkdir = mkdir;
    o.rmdir = rmdir;
    o.unlink = unlink;
    o.rename = rename;
    o.mknod = mknod;
    o.create = create;
    o.open = open;
    o.read = read;
    o.write = write;
    o.truncate = truncate;
    o.flush = flush;
    o.fsync = fsync;
    o.release = release;
    o.chmod = chmod;
    o.chown = chown;
    o.utimens = utimens;
    o.statfs = statfs;
    o.getxattr = getxattr;
    o.setxattr = setxattr;
    o.listxattr = listxattr;
    o.removexattr = removexattr;
    return o;
}

// A value inside a -o list: its commas and backslashes escaped, as libfuse's option parser reads them.
std::string optionValue(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == ',' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace

FolderOwner processOwner() {
    return {static_cast<std::uint32_t>(::getuid()), static_cast<std::uint32_t>(::getgid())};
}

int serveFolder(FolderOps& folder, const ServeRequest& request) {
    // The image goes into the mount table by its full path, which means something from anywhere.
    char* full = ::realpath(request.source.c_str(), nullptr);
    std::string options =
        "fsname=" + optionValue(full != nullptr ? full : request.source) + ",subtype=" + request.program;
    std::free(full);
    for (const std::string& option : request.options) {
        options += "," + option;
        // Where other users are let in, the kernel checks each of them against the modes shown.
        // Only then: the checks want fresh attributes of every folder on a path, which cost a
        // request to this process at every step (the folder refuses what CP/M refuses itself).
        if (option == "allow_other" || option == "allow_root") options += ",default_permissions";
    }
    std::vector<std::string> words = {request.program, "-o", options};
    if (request.debug) words.push_back("-d");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    struct fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());

    const struct fuse_operations o = operations();
    struct fuse* fuse = fuse_new(&args, &o, sizeof o, &folder);
    if (fuse == nullptr) return 1;
    int status = 1;
    if (fuse_mount(fuse, request.mountPoint.c_str()) == 0) {
        struct fuse_session* session = fuse_get_session(fuse);
        if (fuse_daemonize(request.foreground ? 1 : 0) == 0 && fuse_set_signal_handlers(session) == 0) {
            // One request at a time: the operations are never run side by side.
            status = fuse_loop(fuse) == 0 ? 0 : 1;
            fuse_remove_signal_handlers(session);
        }
        fuse_unmount(fuse);
    }
    fuse_destroy(fuse);
    fuse_opt_free_args(&args);
    return status;
}

}  // namespace z18
