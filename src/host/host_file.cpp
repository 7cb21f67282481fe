// What every host shares above its own calls: transfers that must move every byte, and files
// that close themselves.
#include "host/env.h"

namespace z18 {

HostStatus readExactly(Env& env, int handle, std::uint64_t offset, void* buffer, std::size_t n,
                       std::size_t* done) {
    const HostStatus read = env.readAt(handle, offset, buffer, n, done);
    if (!read.ok() || *done == n) return read;
    return HostStatus(HostError{HostErrorKind::Io, 0});
}

HostStatus writeExactly(Env& env, int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                        std::size_t* done) {
    const HostStatus written = env.writeAt(handle, offset, buffer, n, done);
    if (!written.ok() || *done == n) return written;
    return HostStatus(HostError{HostErrorKind::NoSpace, 0});
}

HostFile& HostFile::operator=(HostFile&& other) noexcept {
    if (this != &other) {
        (void)close();
        env_ = other.env_;
        handle_ = other.release();
    }
    return *this;
}

HostResult<HostFile> HostFile::open(Env& env, const std::string& path, OpenMode mode) {
    const HostResult<int> opened = env.openFile(path, mode);
    if (!opened.ok()) return opened.status();
    return HostFile(env, opened.value());
}

HostResult<HostFile> HostFile::createNew(Env& env, const std::string& path) {
    const HostResult<int> made = env.createNewFile(path);
    if (!made.ok()) return made.status();
    return HostFile(env, made.value());
}

int HostFile::release() {
    const int handle = handle_;
    handle_ = CLOSED_HANDLE;
    return handle;
}

HostStatus HostFile::close() {
    if (!isOpen()) return HostStatus();
    return env_->closeFile(release());
}

}  // namespace z18
