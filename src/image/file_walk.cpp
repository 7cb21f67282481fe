#include "image/file_walk.h"

#include <algorithm>

namespace z18 {

namespace {
constexpr int EXTENT_BITS = EXTENTS_PER_S2 - 1;

const std::uint8_t* entryOf(const std::uint8_t* directory, int index) {
    return directory + static_cast<std::size_t>(index) * ENTRY_SIZE;
}
}  // namespace

bool ofFile(const std::uint8_t* entry, const FileKey& key) {
    // A free entry is never part of a file, also where its user byte equals the key's but for
    // bit 7 (a key with user byte 0x65).
    if (entry[entry::USER] == FILLER_BYTE) return false;
    for (std::size_t i = 0; i < KEY_SIZE; ++i)
        if (((entry[i] ^ key.bytes[i]) & NO_BIT_7) != 0) return false;
    return true;
}

int entryExtent(const std::uint8_t* entry) {
    return (entry[entry::S2] & NO_BIT_7) * EXTENTS_PER_S2 + (entry[entry::EXTENT] & EXTENT_BITS);
}

int extentEntry(const std::uint8_t* directory, const FileKey& key, int extent) {
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = entryOf(directory, i);
        if (ofFile(e, key) && entryExtent(e) / EXTENTS_PER_ENTRY == extent / EXTENTS_PER_ENTRY) return i;
    }
    return -1;
}

int extentRecords(const std::uint8_t* entry, int extent) {
    // The whole extent byte is compared, so one above 31 makes both extents of its pair full,
    // whatever the record count says.
    const int byte = entry[entry::EXTENT];
    const int wanted = extent % EXTENTS_PER_S2;
    if (byte > wanted) return RECORDS_PER_EXTENT;
    return byte == wanted ? entry[entry::RECORD_COUNT] : 0;
}

FileWalk beginWalk(const std::uint8_t* directory, const FileKey& key) {
    FileWalk walk;
    walk.directory = directory;
    walk.key = key;
    walk.entry = extentEntry(directory, key, 0);
    if (walk.entry >= 0) walk.records = extentRecords(entryOf(directory, walk.entry), 0);
    return walk;
}

bool nextRun(FileWalk& walk, BlockRun* run) {
    if (walk.entry < 0) return false;
    if (walk.record >= walk.records && !walk.entered) {
        // Only an extent read to exactly its 128th record leads on to the next one; any other
        // end of the count ends the file. A count above 128 thus keeps the read in its extent
        // (into the odd half's slots for an even extent) and no later extent is read.
        if (walk.record != RECORDS_PER_EXTENT) {
            walk.entry = -1;
            return false;
        }
        ++walk.extent;
        walk.record = 0;
        walk.entry = extentEntry(walk.directory, walk.key, walk.extent);
        if (walk.entry < 0) return false;
        walk.records = extentRecords(entryOf(walk.directory, walk.entry), walk.extent);
        // The BDOS reads the first record of an extent it has moved into before it looks at the
        // count, so an extent with a block in its first slot gives at least that record.
        walk.entered = true;
    }
    const int slot = recordSlot(walk.extent, walk.record);
    // Past the block map (a count above 128 on an odd extent) the BDOS takes block numbers from
    // the bytes after the program's FCB: no block of this file. The file ends there instead.
    const std::uint8_t block =
        slot < BLOCKS_PER_ENTRY ? entryOf(walk.directory, walk.entry)[entry::BLOCKS + slot] : 0;
    if (block == 0) {
        walk.entry = -1;
        return false;
    }
    const int blockEnd = (walk.record / RECORDS_PER_BLOCK + 1) * RECORDS_PER_BLOCK;
    const int end = std::max(walk.record + 1, std::min(walk.records, blockEnd));
    run->block = block;
    run->records = end - walk.record;
    walk.record = end;
    walk.entered = false;
    return true;
}

}  // namespace z18
