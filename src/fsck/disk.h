// The disk as z18fsck reads it from an image file: every byte that could be read, where in the
// file the disk begins (after a header some copiers put before it), and which bytes a map of bad
// sectors says cannot be trusted. Nothing here writes anything.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "session/session.h"

namespace z18::fsck {

// The largest header looked for before the disk.
constexpr std::uint64_t MAX_HEADER = 65536;
// The highest user byte a file may carry: some systems give files user areas up to 31, in the
// five bits CP/M 2.2 reserves for the user number.
constexpr int MAX_USER_BYTE = 31;

// Whether a used entry could be one CP/M wrote, however damaged: a user byte a file may carry and
// a name of printable characters that does not begin with a space.
bool plausibleEntry(const std::uint8_t* entry);

struct Disk {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(IMAGE_SIZE, 0);  // zeros where unread
    std::vector<std::uint8_t> read = std::vector<std::uint8_t>(IMAGE_SIZE, 0);   // 1 for each byte read
    std::uint64_t fileSize = 0;
    std::uint64_t offset = 0;  // where the disk begins in the file

    // Whether every one of n bytes from offset was read.
    bool readable(std::uint64_t offset, std::size_t n) const;
};

// Sectors that cannot be trusted: from a GNU ddrescue map, byte ranges of the file it rescued
// into; from a plain list, sectors of the disk (0 to 719, as the report names them).
struct BadSectorMap {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> fileRanges;  // [from, to)
    std::vector<int> sectors;
};

// Takes a ddrescue map (every block whose status is not "+" is bad) or a list of sector numbers,
// one a line ("#" starts a comment). False, with the number of the line that is neither, when
// the text is no such map.
bool parseBadSectorMap(const std::string& text, BadSectorMap* map, int* badLine);

// Reads every byte of the open file that can be read, finds where the disk begins, and counts the
// bytes the map names as unread (zeros). Fails only when the file's size cannot be had.
HostStatus readDisk(HostFile& image, const BadSectorMap& map, Disk* disk);

}  // namespace z18::fsck
