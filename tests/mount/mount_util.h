// What the tests of the mounted folder and its fuzz target share: a folder over an image on the
// in-memory host, files copied in and out the way cp does it, and z18man's own view of the image.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/directory.h"
#include "image/image_file.h"
#include "mount/volume.h"
#include "support/fault_env.h"
#include "support/z18man_view.h"

namespace mounttest {

using namespace z18test;
const z18::FolderOwner OWNER{1000, 100};

// A close as cp does it, a flush and a release, of h (none where 0): e, or the flush's failure.
inline z18::FolderError closeWritten(z18::Volume& v, z18::FolderHandle h, z18::FolderError e) {
    if (h == 0) return e;
    const z18::FolderError closed = v.flush(h);
    v.release(h);
    return e != z18::FolderError::None ? e : closed;
}

// A file written as cp writes it: made (or emptied), written in pieces, closed.
inline z18::FolderError put(z18::Volume& v, const std::string& path, const Bytes& data,
                            std::size_t piece = 4096) {
    z18::FolderHandle h = 0;
    z18::FolderError e = v.open(path, true, true, &h);
    if (e == z18::FolderError::NotFound) e = v.create(path, true, &h);
    for (std::size_t at = 0; e == z18::FolderError::None && at < data.size(); at += piece)
        e = v.write(h, at, data.data() + at, std::min(piece, data.size() - at));
    return closeWritten(v, h, e);
}

// Bytes written into a file as it stands, at `at`, by one write between an open and a close.
inline z18::FolderError writeInto(z18::Volume& v, const std::string& path, std::uint64_t at,
                                  const Bytes& data) {
    z18::FolderHandle h = 0;
    z18::FolderError e = v.open(path, true, false, &h);
    if (e == z18::FolderError::None) e = v.write(h, at, data.data(), data.size());
    return closeWritten(v, h, e);
}

// A file's bytes as a read through the folder gives them; none where it cannot be read.
inline Bytes get(z18::Volume& v, const std::string& path) {
    z18::FolderHandle h = 0;
    z18::FolderItem item;
    Bytes data;
    std::size_t done = 0;
    if (v.stat(path, &item) == z18::FolderError::None &&
        v.open(path, false, false, &h) == z18::FolderError::None) {
        data.resize(static_cast<std::size_t>(item.size) + 1);  // one more: a read past the end gives nothing
        v.read(h, 0, data.data(), data.size(), &done);
        v.release(h);
    }
    data.resize(done);
    return data;
}

// Every file of the folder, by path below it ("A.TXT", "u3/B.TXT"), with its bytes.
inline Files files(z18::Volume& v) {
    Files all;
    std::vector<std::pair<std::string, z18::FolderItem>> top, inner;
    v.list("/", &top);
    for (const auto& item : top) {
        if (!item.second.folder) {
            all[item.first] = get(v, "/" + item.first);
            continue;
        }
        v.list("/" + item.first, &inner);
        for (const auto& file : inner)
            all[item.first + "/" + file.first] = get(v, "/" + item.first + "/" + file.first);
    }
    return all;
}

// The image "disk.z18" of the session's host as a folder; none where it does not load.
inline std::unique_ptr<z18::Volume> mountImage(z18::Session& s, bool readOnly) {
    z18::nameImage(s, IMAGE);
    s.imageHandle = s.env.openFile(IMAGE, readOnly ? z18::OpenMode::ImageRead : z18::OpenMode::ImageWrite)
                        .valueOr(z18::CLOSED_HANDLE);
    if (s.imageHandle == z18::CLOSED_HANDLE || !z18::loadDirectory(s)) return nullptr;
    return std::make_unique<z18::Volume>(s, readOnly, OWNER);
}

// A folder over the image "disk.z18" of its own in-memory host.
struct Mounted {
    explicit Mounted(const Bytes& image, bool readOnly = false) {
        env.putFile(IMAGE, image);
        volume = mountImage(s, readOnly);
    }
    Bytes image() const { return env.bytes(IMAGE); }
    Files files() { return mounttest::files(*volume); }

    z18::MemEnv env;
    z18::FaultEnv faults{&env};  // passes every call on unless a test arms it
    std::ostringstream log;
    z18::Session s{faults, log};
    std::unique_ptr<z18::Volume> volume;
};

// An image with host files added by z18man, one /a each, in the order of their names: onto
// `start`, or onto a blank image it formats first.
inline Bytes imageWith(const Files& hostFiles, const Bytes& start = Bytes()) {
    z18::MemEnv env;
    env.putFile(IMAGE, start);
    if (start.empty()) z18man(env, {"/f"});
    for (const auto& file : hostFiles) {
        env.putFile("in/" + file.first, file.second);
        z18man(env, {"/a", "in/" + file.first});
    }
    return env.bytes(IMAGE);
}

// What differs between a folder and z18man's extract of its image ("" where nothing does): each
// name the extract writes must be a name of the folder (in some user area, as it writes every
// area's files into one folder) with the bytes of one file of that name, and it writes no other.
inline std::string unlikeZ18man(const Files& folder, const Bytes& image) {
    const Extracted theirs = extractAll(image);
    if (theirs.status != 0) return "z18man does not load the image";
    std::size_t matched = 0;
    for (const auto& file : folder) {
        const auto it = theirs.files.find(file.first.substr(file.first.find('/') + 1));
        if (it == theirs.files.end()) return "z18man does not list " + file.first;
        matched += it->second == file.second;
    }
    return matched < theirs.files.size() ? "z18man extracts other bytes or other files" : "";
}

}  // namespace mounttest
