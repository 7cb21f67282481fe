// The parts of one z18fsck run that its command line asks for, and what became of them: the
// salvage into a folder, the repaired image, and the report of both in text or JSON.
#pragma once

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "fsck/plan.h"
#include "session/session.h"

namespace z18::fsck {

struct Options {
    std::string image, salvageDir, repairPath, mapPath;
    Undelete undelete;
    bool json = false;
    bool help = false;
    bool version = false;
};

// What became of a file that salvage was to write.
enum class Written {
    NONE,     // not written: salvage was not asked for, or stopped before it
    WHOLE,    // written whole
    KEPT,     // there whole already, from an earlier salvage of the image that stopped
    PARTIAL,  // cut short by a failure, and named so
};

struct Salvage {
    bool asked = false;
    bool complete = false;
    std::vector<std::string> hosts;  // each file's name in the folder ("erased/OLD.TXT")
    std::vector<Written> written;
    std::vector<std::uint64_t> bytes;  // what went into each
    std::string failure;               // the line that says why salvage stopped
    bool reportWritten = false;
};

struct Repair {
    bool asked = false;
    bool written = false;
    std::string note;  // what was cleared away before it
    std::string failure;
};

// The name each file of the plan gets in a salvage folder.
std::vector<std::string> hostPaths(const Plan& plan);
// Holes and long runs go to the host in pieces of 64 KiB at most: a file CP/M wrote by random
// access may reach 8 MB.
constexpr std::size_t RUN_PIECE = 65536;
// The bytes salvage writes for a file, every record at its place, as runs in file order: `from`
// points at the disk's bytes, or is null for zeros (a hole, or bytes that cannot be had). A run
// is at most RUN_PIECE bytes.
template <typename Visit>
void forEachRun(const Plan& plan, const File& f, Visit visit);
std::vector<std::uint8_t> salvagedBytes(const Plan& plan, const File& f);

template <typename Visit>
void forEachRun(const Plan& plan, const File& f, Visit visit) {
    constexpr int PIECE = static_cast<int>(RUN_PIECE / RECORD_SIZE);
    for (int r = 0; r < f.length;) {
        int n = 0;
        const int b = f.blockAt(r, &n);
        for (int done = 0; done < n;) {
            const int part = std::min(PIECE, n - done);
            const std::uint8_t* from =
                b > 0 ? plan.disk.bytes.data() + blockOffset(static_cast<unsigned>(b)) +
                            static_cast<std::size_t>((r + done) % RECORDS_PER_BLOCK) * RECORD_SIZE
                      : nullptr;
            visit(static_cast<std::uint64_t>(r + done) * RECORD_SIZE, from,
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

// Makes sure the repaired image can be made, before any work: NEW must not exist, and NEW.part
// left by an earlier run that stopped is removed. False with repair->failure set otherwise.
bool prepareRepair(Session& s, const Options& o, Repair* repair);
bool runRepair(Session& s, const Options& o, const Plan& plan, Repair* repair);

// Why a host call failed, in the host's words.
std::string reasonOf(const HostStatus& failure);
// Closes a file that was written to: the failure of its writes (`written`) where they failed, else
// the close's, since some file systems report a failed write only then.
HostStatus closeWritten(HostFile& file, const HostStatus& written);
// A whole host file of at most `limit` bytes; false, with *why where given, when it cannot be
// read (*why empty when it is only larger).
bool readAll(Session& s, const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* bytes,
             std::string* why = nullptr);
// "z18fsck: " + text + 'path', with the host's reason where there is one.
std::string failureLine(const char* text, const std::string& path, const std::string& reason);

// The report: the check's lines, the line of each salvaged file, the summary, and the same as
// one JSON document.
std::string checkText(const Options& o, const Plan& plan);
std::string fileLine(const Plan& plan, std::size_t k, const Salvage& salvage);
std::string summaryLine(const Options& o, const Plan& plan);
std::string jsonReport(const Options& o, const Plan& plan, const Salvage& salvage, const Repair& repair,
                       int status);
std::size_t problemCount(const Plan& plan);

// Text from the image or a host folder, made safe to print; and in quotes.
std::string shown(const std::string& text);
std::string quoted(const std::string& text);

}  // namespace z18::fsck
