// What the tests of the mounted folder and its fuzz target share: a folder over an image on the
// in-memory host, files copied in and out the way cp does it, and z18man's own view of the image.
#pragma once

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/directory.h"
#include "image/image_file.h"
#include "mount/volume.h"
#include "run/driver.h"
#include "support/disk_image.h"
#include "support/fault_env.h"
#include "support/mem_env.h"

namespace mounttest {

using z18test::Bytes;
using Files = std::map<std::string, Bytes>;
const std::string IMAGE = "disk.z18";
const z18::FolderOwner OWNER{1000, 100};

// One run of z18man on the image of env; its output in *output where asked.
inline int z18man(z18::Env& env, std::vector<std::string> args, std::string* output = nullptr) {
    std::ostringstream out;
    z18::Session s(env, out);
    args.insert(args.begin(), {"z18man", "disk"});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const int status = z18::runSession(s, static_cast<int>(argv.size()), argv.data());
    if (output != nullptr) *output = out.str();
    return status;
}

// z18man's view of an image: every file its extract writes (all user areas in one folder, as it
// writes them), by name. Empty with *loads false where the image does not load.
inline Files extracted(const Bytes& image, bool* loads = nullptr) {
    z18::MemEnv env;
    env.putFile(IMAGE, image);
    env.makeDirectory("out");
    const bool ok = z18man(env, {"/x", "out/*.*"}) == 0 && z18man(env, {"/c"}) == 0;
    if (loads != nullptr) *loads = ok;
    Files files;
    for (const auto& node : env.tree())
        if (ok && node.first.compare(0, 4, "out/") == 0) files[node.first.substr(4)] = node.second.bytes;
    return files;
}

// The image "disk.z18" of the session's host opened for a folder, with its directory loaded.
inline bool loadImage(z18::Session& s, bool readOnly) {
    z18::nameImage(s, IMAGE);
    s.imageHandle = s.env.openFile(IMAGE, readOnly ? z18::OpenMode::ImageRead : z18::OpenMode::ImageWrite)
                        .valueOr(z18::CLOSED_HANDLE);
    return s.imageHandle != z18::CLOSED_HANDLE && z18::loadDirectory(s);
}

// A file written as cp writes it: made (or emptied), written in pieces, closed.
inline z18::FolderError put(z18::Volume& v, const std::string& path, const Bytes& data,
                            std::size_t piece = 4096) {
    z18::FolderHandle h = 0;
    z18::FolderError e = v.open(path, true, true, &h);
    if (e == z18::FolderError::NotFound) e = v.create(path, true, &h);
    for (std::size_t at = 0; e == z18::FolderError::None && at < data.size(); at += piece)
        e = v.write(h, at, data.data() + at, std::min(piece, data.size() - at));
    if (h == 0) return e;
    const z18::FolderError closed = v.flush(h);
    v.release(h);
    return e != z18::FolderError::None ? e : closed;
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

// A folder over the image "disk.z18" of its own in-memory host.
struct Mounted {
    explicit Mounted(const Bytes& image, bool readOnly = false) {
        env.putFile(IMAGE, image);
        if (loadImage(s, readOnly)) volume = std::make_unique<z18::Volume>(s, readOnly, OWNER);
    }
    Bytes image() const { return env.bytes(IMAGE); }
    Files files() { return mounttest::files(*volume); }

    z18::MemEnv env;
    z18::FaultEnv faults{&env};  // passes every call on unless a test arms it
    std::ostringstream log;
    z18::Session s{faults, log};
    std::unique_ptr<z18::Volume> volume;
};

// A blank image formatted by z18man, with files added one /a each, in order.
inline Bytes imageWith(const Files& hostFiles, const std::vector<std::string>& order) {
    z18::MemEnv env;
    z18man(env, {"/f"});
    for (const std::string& name : order) {
        env.putFile("in/" + name, hostFiles.at(name));
        z18man(env, {"/a", "in/" + name});
    }
    return env.bytes(IMAGE);
}

}  // namespace mounttest
