// The one record that holds the state of a run. Every procedure takes it by reference, so each
// test can build its own session around its own host and output stream.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "host/env.h"
#include "session/geometry.h"
#include "session/requests.h"

namespace z18 {

enum StatusCode : int {
    ST_IMAGE_EXISTS = -1,
    ST_IMAGE_OPEN = -2,
    ST_IMAGE_BAD_SIZE = -3,
    ST_IMAGE_READ = -4,
    ST_IMAGE_WRITE = -5,
    ST_FILE_EXISTS = -6,
    ST_FILE_OPEN = -7,
    ST_FILE_READ = -8,
    ST_FILE_WRITE = -9,
    ST_DISK_FULL = -10,
    ST_DIRECTORY_FULL = -11,
    ST_DUPLICATE_NAME = -12,
    ST_NOT_FOUND = -13,
    ST_BAD_NAME = -14,
    ST_CORRUPT_ENTRY = -15,
};

// An 11-character CP/M name or search pattern: 8 name and 3 type characters, space-filled, no dot,
// followed by a zero byte.
struct CpmName {
    char chars[NAME_TYPE_SIZE + 1] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\0'};
};

// The display record of one directory entry.
struct EntryInfo {
    std::uint8_t user = 0;
    char displayName[NAME_TEXT_SIZE + 1] = {};
    std::int32_t records = 0;
    std::int32_t sizeK = 0;
    std::int32_t readOnly = 0;
    std::int32_t hidden = 0;
};

struct Session {
    Session(Env& hostEnv, std::ostream& output) : env(hostEnv), out(output) {}

    Env& env;
    std::ostream& out;
    std::string programName;  // what the syntax help calls the tool

    OptionFlags options = 0;
    std::string imageDir, imageName;
    std::string hostDir, mask;
    std::string currentName;
    std::string foundName;  // the host file's name exactly as the directory search delivered it

    CpmName maskName;
    int maskHasWildcard = 0;

    int imageHandle = CLOSED_HANDLE;
    int hostHandle = CLOSED_HANDLE;
    std::uint64_t hostBytesLeft = 0;
    std::size_t transferCount = 0;
    // Image writes that may still sit in the host's cache, where a power cut would lose them or
    // let a later write reach the disk first (flushImage settles them).
    bool imageUnflushed = false;  // anything written since the last flush
    bool dataUnflushed = false;   // file data, which the directory may name only once it is on the disk
    bool clearUnflushed = false;  // a cleared directory, over blocks that the old one named
    bool flushFailed = false;     // the disk's state is unknown: nothing more goes to the image
    std::uint8_t transferBuffer[BLOCK_SIZE] = {};

    std::uint8_t directory[DIRECTORY_SIZE] = {};
    std::uint8_t allocationMap[ALLOCATION_MAP_SIZE] = {};
    char searchPattern[NAME_TYPE_SIZE] = {};
    int searchCursor = DIRECTORY_ENTRIES;

    EntryInfo entryInfo;

    std::uint8_t* entryAt(int index) { return directory + static_cast<std::size_t>(index) * ENTRY_SIZE; }
    const std::uint8_t* entryAt(int index) const {
        return directory + static_cast<std::size_t>(index) * ENTRY_SIZE;
    }
};

// A newline written and the stream flushed at once.
inline void newlineFlush(Session& s) { s.out << '\n' << std::flush; }

}  // namespace z18
