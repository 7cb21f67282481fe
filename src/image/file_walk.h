// How CP/M 2.2 finds the records of a file in the directory, and where its sequential read (the
// way PIP copies a file) ends. Genuine CP/M is the judge here: every rule below was measured on
// DRI's own BDOS and PIP, not taken from a description. Nothing is allocated and nothing is
// written; the functions take the 64 raw directory entries, so z18man's session directory and a
// directory z18fsck read from a damaged image serve alike.
//
// A logical extent is 128 records (16 KiB). With 2 KiB blocks one entry holds two of them: its
// block slots 0-7 belong to the even one, 8-15 to the odd one. The extent byte names the higher of
// the two; s2 counts groups of 32 logical extents.
#pragma once

#include <cstdint>

#include "image/directory.h"

namespace z18 {

constexpr int EXTENTS_PER_ENTRY = BLOCKS_PER_ENTRY * RECORDS_PER_BLOCK / RECORDS_PER_EXTENT;
constexpr int SLOTS_PER_EXTENT = BLOCKS_PER_ENTRY / EXTENTS_PER_ENTRY;
constexpr int EXTENTS_PER_S2 = 32;  // the extent byte counts 0 to 31; above that, s2 counts on

// Whether a used entry belongs to the file of key, as the BDOS matches entries: the user byte,
// name and type are compared with bit 7 ignored, so entries whose attribute bits differ (or whose
// user byte differs in bit 7 only) are one file. s1 is not compared.
bool ofFile(const std::uint8_t* entry, const FileKey& key);

// The logical extent an entry is named by: its extent byte taken modulo 32 (the BDOS compares
// only those bits) plus 32 times s2 without its bit 7.
int entryExtent(const std::uint8_t* entry);

// The entry the BDOS takes for logical extent `extent` of the file, or -1: of all entries that hold
// the extent (the same s2 and extent pair), the one with the lowest index, wherever the others
// stand. Both extents of a pair thus come from one entry, even when later entries claim them too.
int extentEntry(const std::uint8_t* directory, const FileKey& key, int extent);

// The records an entry gives to logical extent `extent`, as the BDOS counts them when it opens
// the extent: 128 when the extent byte is above the extent's number within its group of 32 (also
// for any extent byte above 31), the record count (up to 255) when it is equal, 0 when it is below.
int extentRecords(const std::uint8_t* entry, int extent);

// The block slot of record `record` of logical extent `extent` in its entry; BLOCKS_PER_ENTRY or
// more for a record past the entry's block map.
inline int recordSlot(int extent, int record) {
    return (extent % EXTENTS_PER_ENTRY) * SLOTS_PER_EXTENT + record / RECORDS_PER_BLOCK;
}

// One block of a sequential read: `records` records (1 to 16) from the start of `block`.
struct BlockRun {
    std::uint8_t block = 0;
    int records = 0;
};

// CP/M's sequential read of a file, a block at a time. It starts at record 0 of logical extent 0,
// whichever entry of the file was matched, and ends at the first record that no entry holds or
// whose block slot is 0.
struct FileWalk {
    const std::uint8_t* directory = nullptr;
    FileKey key{};
    int extent = 0;        // the logical extent in hand
    int record = 0;        // its next record
    int entry = -1;        // the entry holding it; -1 once the file has ended
    int records = 0;       // the records that entry gives it
    bool entered = false;  // the extent was moved into from a full one and nothing read yet
};

FileWalk beginWalk(const std::uint8_t* directory, const FileKey& key);
// The next block of the file, or false at its end.
bool nextRun(FileWalk& walk, BlockRun* run);

}  // namespace z18
