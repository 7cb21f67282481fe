// The host of the Emscripten builds: the shared POSIX file layer over the file system the runtime
// provides, Node's real one (z18man.js, NODERAWFS) or an in-memory one (the page, which runs the
// tool many times in one module). Neither has a terminal to wait at or another process to lock
// against; what this host keeps of a file lasts only while the file is open, so nothing of one
// run reaches the next.
#include <emscripten.h>
#include <sys/stat.h>

#include <algorithm>

#include "host/posix_files.h"

namespace z18 {

namespace {

// What the syntax help names the program: there is no executable file to take the name from.
constexpr const char* kProgramName = "z18man";

// Under Node a file stands on the real file system, and its data (or, for a folder, all of it) is
// asked onto the disk as the POSIX host asks. A file of the in-memory file system has nowhere
// further to go: memory is its storage, and the page's download is what saves it, so there is
// nothing to flush and that succeeds. (The runtime's own fdatasync and fsync do nothing in either
// case.)
EM_JS(int, syncFile, (int fd, int whole), {
    var stream = FS.getStream(fd);
    if (!stream || stream.stream_ops || typeof stream.nfd != "number") return 0;
    try {
        if (whole)
            require("fs").fsyncSync(stream.nfd);
        else
            require("fs").fdatasyncSync(stream.nfd);
        return 0;
    } catch (e) {
        return -1;
    }
});

// Whether files are Node's real ones (z18man.js), where a FIFO or a device may stand at a path.
// The page's in-memory file system holds only what the page put there.
EM_JS(int, onRealFiles, (), { return typeof NODERAWFS != "undefined"; });

// A file this host has open, known by its identity, whatever path named it.
struct HeldFile {
    int fd;
    dev_t device;
    ino_t inode;
    bool writes;
};

class WebEnv final : public PosixFiles {
public:
    HostResult<int> openFile(const std::string& text, OpenMode mode) override {
        // The runtime drops O_NONBLOCK before Node's open, which would then wait for a FIFO's
        // other end; so there the path is looked at first, and only a regular file, or none yet,
        // opened. In memory nothing can wait, and each look at a missing name costs the runtime
        // a thrown exception.
        struct stat st;
        if (onRealFiles() && ::stat(hostPath(text).c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return notAFile(st);
        return PosixFiles::openFile(text, mode);
    }

    HostStatus flush(int handle) override { return synced(syncFile(handle, 0)); }

    // Nobody answers a pause here: the output goes on at once.
    void waitKey(const char*) override {}

    std::string executablePath() override { return kProgramName; }

protected:
    // No locks, but the rule the POSIX host's locks make within one run: a file open for writing
    // is open to nothing else, one open for reading to readers only. So a mask that matches the
    // open image does not add the image into itself, and an extraction never writes into it.
    HostStatus claim(int fd, const struct stat& st, OpenMode mode) override {
        const bool writes = modeWrites(mode);
        for (const HeldFile& h : held_)
            if (h.device == st.st_dev && h.inode == st.st_ino && (h.writes || writes))
                return refused(HostErrorKind::InUse);
        held_.push_back({fd, st.st_dev, st.st_ino, writes});
        return HostStatus();
    }

    HostStatus flushFolder(int fd) override { return synced(syncFile(fd, 1)); }

    void release(int fd) override {
        held_.erase(
            std::remove_if(held_.begin(), held_.end(), [fd](const HeldFile& h) { return h.fd == fd; }),
            held_.end());
    }

private:
    // Node gives no number for a failed flush; the device is what failed.
    static HostStatus synced(int result) { return result == 0 ? HostStatus() : refused(HostErrorKind::Io); }

    std::vector<HeldFile> held_;
};

}  // namespace

Env* defaultEnv() {
    static WebEnv env;
    return &env;
}

}  // namespace z18
