#include "support/mem_env.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace z18 {

namespace {

std::string lastPart(const std::string& key) {
    const std::size_t slash = key.rfind('/');
    return slash == std::string::npos ? key : key.substr(slash + 1);
}

const MemEnv::Bytes kNoBytes;

// What a file created through a handle will grow to is not known when it is made.
constexpr std::size_t kUnknownSize = std::numeric_limits<std::size_t>::max();

// Both "\\" and "/" separate, as on the real hosts.
std::string slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace

MemEnv::MemEnv() = default;

void MemEnv::reset() {
    for (auto& node : tree_) keepSpare(node.second.bytes);
    tree_.clear();
    handles_.clear();
    nextHandle_ = 3;
    keyWaits_ = 0;
    flushes_.clear();
}

void MemEnv::keepSpare(Bytes& bytes) {
    if (bytes.capacity() == 0) return;
    spares_.push_back(std::move(bytes));  // contents and all: a taker sets the size it needs
    bytes = Bytes();
}

MemEnv::Bytes MemEnv::takeSpare(std::size_t n) {
    // The smallest kept buffer that holds n bytes, else the largest one, so that a large buffer
    // stays there for the next large file.
    std::size_t pick = spares_.size();
    for (std::size_t i = 0; i < spares_.size(); ++i) {
        const std::size_t room = spares_[i].capacity();
        const std::size_t best = pick == spares_.size() ? 0 : spares_[pick].capacity();
        if (pick == spares_.size() || (room >= n ? best < n || room < best : best < n && room > best))
            pick = i;
    }
    if (pick == spares_.size()) return Bytes();
    std::swap(spares_[pick], spares_.back());
    Bytes bytes = std::move(spares_.back());
    spares_.pop_back();
    return bytes;
}

std::string MemEnv::normalise(const std::string& text) {
    // A real host takes paths as C strings: they end at the first zero byte.
    const std::string path = slashed(text.substr(0, text.find('\0')));
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);  // above the current directory: nothing lives there
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string key = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) key += '/';
        key += parts[i];
    }
    return key;
}

std::string MemEnv::parentOf(const std::string& key) {
    const std::size_t slash = key.rfind('/');
    if (slash == std::string::npos) return std::string();
    if (slash == 0) return "/";
    return key.substr(0, slash);
}

HostErrorKind MemEnv::whyMissing(const std::string& key) const {
    for (std::string up = parentOf(key); !up.empty() && up != "/"; up = parentOf(up))
        if (tree_.count(up) != 0)
            return isDirectory(up) ? HostErrorKind::NotFound : HostErrorKind::NotAFolder;
    return HostErrorKind::NotFound;
}

bool MemEnv::isDirectory(const std::string& key) const {
    if (key.empty() || key == "/") return true;
    auto it = tree_.find(key);
    return it != tree_.end() && it->second.directory;
}

void MemEnv::makeDirectory(const std::string& path) {
    const std::string key = normalise(path);
    if (key.empty() || key == "/") return;
    makeDirectory(parentOf(key));
    Node& node = tree_[key];
    node.directory = true;
    keepSpare(node.bytes);
}

void MemEnv::putFile(const std::string& path, Bytes bytes, bool readOnly) {
    const std::string key = normalise(path);
    makeDirectory(parentOf(key));
    Node& node = tree_[key];
    node.directory = false;
    node.readOnly = readOnly;
    keepSpare(node.bytes);
    node.bytes = std::move(bytes);
    node.modified = tick();
}

void MemEnv::putFile(const std::string& path, const std::string& text, bool readOnly) {
    putFile(path, Bytes(text.begin(), text.end()), readOnly);
}

void MemEnv::putFile(const std::string& path, const std::uint8_t* data, std::size_t n, bool readOnly) {
    Bytes bytes = takeSpare(n);
    bytes.resize(n);  // where the buffer held as many bytes before, they are only overwritten
    if (n > 0)
        std::memcpy(bytes.data(), data, n);  // memcpy: ASan's memmove, which assign() comes to, is far slower
    putFile(path, std::move(bytes), readOnly);
}

bool MemEnv::exists(const std::string& path) const {
    const std::string key = normalise(path);
    return isDirectory(key) || tree_.count(key) != 0;
}

bool MemEnv::isFile(const std::string& path) const {
    auto it = tree_.find(normalise(path));
    return it != tree_.end() && !it->second.directory;
}

const MemEnv::Bytes& MemEnv::bytes(const std::string& path) const {
    auto it = tree_.find(normalise(path));
    return it == tree_.end() ? kNoBytes : it->second.bytes;
}

HostResult<int> MemEnv::openFile(const std::string& text, OpenMode mode) {
    const std::string path = slashed(text.substr(0, text.find('\0')));
    const std::string key = normalise(path);
    if (isDirectory(key)) return fail(HostErrorKind::NotAFile);
    if (!path.empty() && path.back() == '/') return fail(whyMissing(key + "/"));  // names a directory

    auto it = tree_.find(key);
    if (it == tree_.end()) {
        if (!modeCreates(mode) || !isDirectory(parentOf(key))) return fail(whyMissing(key));
        it = tree_.emplace(key, Node()).first;
        it->second.bytes = takeSpare(kUnknownSize);
        it->second.bytes.clear();
    } else if (modeWrites(mode) && it->second.readOnly) {
        return fail(HostErrorKind::Denied);
    }

    // A writer holds the file alone; readers share it with other readers only.
    for (const auto& entry : handles_) {
        if (entry.second.path == key && (entry.second.writable || modeWrites(mode)))
            return fail(HostErrorKind::InUse);
    }
    if (mode == OpenMode::HostCreate) it->second.bytes.clear();

    Handle handle;
    handle.path = key;
    handle.writable = modeWrites(mode);
    handle.node = &it->second;
    const int id = nextHandle_++;
    handles_[id] = handle;
    return id;
}

HostStatus MemEnv::closeFile(int handle) {
    handles_.erase(handle);
    return HostStatus();
}

HostStatus MemEnv::readAt(int handle, std::uint64_t at, void* buffer, std::size_t n, std::size_t* done) {
    *done = 0;
    auto it = handles_.find(handle);
    if (it == handles_.end()) return fail(HostErrorKind::Other);
    const Bytes& data = it->second.node->bytes;
    if (at < data.size()) {
        const std::size_t available = static_cast<std::size_t>(data.size() - at);
        *done = std::min(n, available);
        if (*done > 0) std::memcpy(buffer, data.data() + at, *done);
    }
    return HostStatus();
}

HostStatus MemEnv::writeAt(int handle, std::uint64_t at, const void* buffer, std::size_t n,
                           std::size_t* done) {
    *done = 0;
    auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second.writable) return fail(HostErrorKind::Other);
    Bytes& data = it->second.node->bytes;
    if (n == 0) return HostStatus();
    if (data.size() < at + n) {
        // Files here grow by many small writes (a new image is 720 of them); growing in large
        // steps keeps that from copying the whole file again and again.
        const std::size_t want = static_cast<std::size_t>(at + n);
        if (data.capacity() < want)
            data.reserve(std::max<std::size_t>(want, std::max<std::size_t>(2 * data.capacity(), 1u << 20)));
        data.resize(want, 0);
    }
    std::memcpy(data.data() + at, buffer, n);
    it->second.node->modified = tick();
    *done = n;
    return HostStatus();
}

HostStatus MemEnv::flush(int handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return fail(HostErrorKind::Other);
    ++flushes_[it->second.path];
    return HostStatus();
}

int MemEnv::flushes(const std::string& path) const {
    auto it = flushes_.find(normalise(path));
    return it == flushes_.end() ? 0 : it->second;
}

HostResult<std::uint64_t> MemEnv::fileSize(int handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return fail(HostErrorKind::Other);
    return static_cast<std::uint64_t>(it->second.node->bytes.size());
}

HostResult<FileTime> MemEnv::modificationTime(int handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return fail(HostErrorKind::Other);
    return it->second.node->modified;
}

HostStatus MemEnv::createDirectory(const std::string& path) {
    const std::string key = normalise(path);
    if (exists(key)) return fail(HostErrorKind::Exists);
    if (!isDirectory(parentOf(key))) return fail(whyMissing(key));
    makeDirectory(key);
    return HostStatus();
}

HostResult<int> MemEnv::countDirectoryEntries(const std::string& path) {
    const std::string key = normalise(path);
    if (!isDirectory(key)) return fail(exists(key) ? HostErrorKind::NotAFolder : whyMissing(key));
    int n = 0;
    for (const auto& entry : tree_)
        if (!entry.first.empty() && entry.first != "/" && parentOf(entry.first) == key) ++n;
    return n;
}

HostResult<int> MemEnv::createNewFile(const std::string& path) {
    if (exists(path)) return fail(HostErrorKind::Exists);
    return openFile(path, OpenMode::HostCreate);
}

HostStatus MemEnv::renameNoReplace(const std::string& from, const std::string& to) {
    const std::string a = normalise(from), b = normalise(to);
    auto it = tree_.find(a);
    if (it == tree_.end()) return fail(whyMissing(a));
    if (it->second.directory) return fail(HostErrorKind::NotAFile);
    if (exists(b)) return fail(HostErrorKind::Exists);
    if (!isDirectory(parentOf(b))) return fail(whyMissing(b));
    for (auto& handle : handles_)
        if (handle.second.path == a)
            return fail(HostErrorKind::InUse);  // kept simple: only closed files move
    Node node = std::move(it->second);
    tree_.erase(it);
    tree_[b] = std::move(node);
    return HostStatus();
}

HostStatus MemEnv::removeFile(const std::string& path) {
    auto it = tree_.find(normalise(path));
    if (it == tree_.end()) return fail(whyMissing(normalise(path)));
    if (it->second.directory) return fail(HostErrorKind::NotAFile);
    for (auto& handle : handles_)
        if (handle.second.path == it->first) return fail(HostErrorKind::InUse);
    keepSpare(it->second.bytes);
    tree_.erase(it);
    return HostStatus();
}

HostResult<std::vector<FoundEntry>> MemEnv::findFiles(const std::string& pattern) {
    // Split as the POSIX host does, on the whole text; the folder part then ends at a zero byte.
    const std::string path = slashed(pattern);
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : normalise(path.substr(0, slash + 1));
    const std::string mask = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!isDirectory(dir)) return fail(exists(dir) ? HostErrorKind::NotAFolder : whyMissing(dir));

    // A real directory listing holds its own "." and ".." as well.
    std::vector<std::pair<std::string, bool>> names = {{".", true}, {"..", true}};
    for (const auto& entry : tree_) {
        if (entry.first.empty() || entry.first == "/" || parentOf(entry.first) != dir) continue;
        names.emplace_back(lastPart(entry.first), entry.second.directory);
    }
    std::sort(names.begin(), names.end());
    std::vector<FoundEntry> found;
    for (const auto& name : names) {
        if (!matchesHostMask(name.first, mask)) continue;
        FoundEntry e;
        e.name = name.first;
        e.attributes = name.second ? ATTR_DIRECTORY : ATTR_NORMAL;
        found.push_back(e);
    }
    if (found.empty()) return fail(HostErrorKind::NotFound);
    return found;
}

}  // namespace z18
