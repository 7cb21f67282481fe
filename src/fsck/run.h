// The parts of one z18fsck run that its command line asks for, and what became of them: the
// salvage into a folder and the repaired image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fsck/plan.h"

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

}  // namespace z18::fsck
