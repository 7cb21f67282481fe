// z18fsck in the tests and the fuzz target: a run of its command line, its plan of an image, and
// what its repair promises every file, checked on two of its plans: each record that salvage
// found intact in the damaged image is in the repaired image, in the file of the name the repair
// gave, at the same place and with the same bytes.
#pragma once

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "fsck/fsck.h"
#include "fsck/plan.h"

namespace z18test {

// One z18fsck run on env with these words after the program's name: its exit status, what it
// printed in *out, and its errors in *err where given (else in *out, as on one terminal).
inline int fsckRun(z18::Env& env, const std::vector<std::string>& args, std::string* out,
                   std::string* err = nullptr) {
    std::vector<const char*> argv{"z18fsck"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream text, errors;
    z18::Session s(env, text);
    const int argc = static_cast<int>(argv.size());
    const int status = err != nullptr ? z18::fsck::runFsck(s, errors, argc, argv.data())
                                      : z18::fsck::runFsck(s, argc, argv.data());
    *out = text.str();
    if (err != nullptr) *err = errors.str();
    return status;
}

// The plan of the image at path on env, as z18fsck makes it, with the bad-sector map `map`, and
// bringing back every erased file where asked.
inline bool planOf(z18::Env& env, const std::string& path, z18::fsck::Plan* plan, const std::string& map = "",
                   bool undelete = false) {
    z18::fsck::BadSectorMap bad;
    int line = 0;
    if (!z18::fsck::parseBadSectorMap(map, &bad, &line)) return false;
    z18::HostResult<z18::HostFile> image = z18::HostFile::open(env, path, z18::OpenMode::ImageRead);
    const bool read = image.ok() && z18::fsck::readDisk(image.value(), bad, &plan->disk).ok();
    z18::fsck::Undelete back;
    back.wanted = undelete;
    if (read) z18::fsck::makePlan(back, plan);
    return read;
}

// Empty when the promise holds, else what breaks it.
inline std::string recordsKept(const z18::fsck::Plan& damaged, const z18::fsck::Plan& repaired) {
    using namespace z18::fsck;
    for (const File& f : damaged.files) {
        if (f.kind == FileKind::LOST || f.newName.empty()) continue;
        const File* into = nullptr;
        for (const File& g : repaired.files)
            if (g.kind == FileKind::LIVE && g.area == f.area && g.hostBase == f.newName) into = &g;
        if (into == nullptr) return "no file " + f.newName + " in the repaired image";
        for (int r = 0; r < f.length; ++r) {
            const int from = f.blockAt(r);
            bool intact = from > 0;
            for (const auto& run : f.damaged) intact = intact && (r < run.first || r > run.second);
            if (!intact) continue;
            const int to = r < into->length ? into->blockAt(r) : 0;
            const std::size_t in = static_cast<std::size_t>(r % z18::RECORDS_PER_BLOCK) * z18::RECORD_SIZE;
            if (to <= 0 ||
                std::memcmp(damaged.disk.bytes.data() + z18::blockOffset(static_cast<unsigned>(from)) + in,
                            repaired.disk.bytes.data() + z18::blockOffset(static_cast<unsigned>(to)) + in,
                            z18::RECORD_SIZE) != 0)
                return "record " + std::to_string(r) + " of " + f.newName + " is not kept";
        }
    }
    return std::string();
}

}  // namespace z18test
