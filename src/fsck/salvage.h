// Salvage: every file of the plan written into a folder, each record at its place.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fsck/run.h"

namespace z18::fsck {

// The name each file of the plan gets in a salvage folder.
std::vector<std::string> hostPaths(const Plan& plan);
// The name a file of user area `area`, called `base`, gets in a folder beside the names in
// `taken`: "uN-" in front for a user area N other than 0, and "~1", "~2"... before its type where
// the name is taken already. Hosts may not tell case apart, so `taken` holds names in lower case;
// the name joins it so.
std::string salvageName(const std::string& base, int area, std::set<std::string>* taken);
// Holes and long runs go to the host in pieces of 64 KiB at most: a file CP/M wrote by random
// access may reach 8 MB.
constexpr std::size_t RUN_PIECE = 65536;
// The bytes salvage writes for a file, every record at its place, as runs in file order: `from`
// points at the disk's bytes, or is null for zeros (a hole, or bytes that cannot be had). A run
// is at most RUN_PIECE bytes.
template <typename Visit>
void forEachRun(const Plan& plan, const File& f, Visit visit);

template <typename Visit>
void forEachRun(const Plan& plan, const File& f, Visit visit) {
    constexpr int PIECE = static_cast<int>(RUN_PIECE / RECORD_SIZE);
    for (int r = f.first; r < f.length;) {
        int n = 0;
        const int b = f.blockAt(r, &n);
        for (int done = 0; done < n;) {
            const int part = std::min(PIECE, n - done);
            const std::uint8_t* from =
                b > 0 ? plan.disk.bytes.data() + blockOffset(static_cast<unsigned>(b)) +
                            static_cast<std::size_t>((r + done) % RECORDS_PER_BLOCK) * RECORD_SIZE
                      : nullptr;
            visit(static_cast<std::uint64_t>(r + done - f.first) * RECORD_SIZE, from,
                  static_cast<std::size_t>(part) * RECORD_SIZE);
            done += part;
        }
        r += n;
    }
}

// Makes the salvage folder ready before any work: new, empty, or holding only what an earlier
// salvage of this image left when it stopped (its report, partial files, whole ones). False with
// salvage->failure set when it cannot be taken.
bool prepareSalvage(Session& s, const Options& o, const Plan& plan, Salvage* salvage);
// Writes every file and the report, which holds `check` first. False when it stopped.
bool runSalvage(Session& s, const Options& o, const Plan& plan, const std::string& check, Salvage* salvage);

}  // namespace z18::fsck
