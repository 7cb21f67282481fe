#include "image/directory.h"

#include <cstring>

#include "image/cpm_name.h"
#include "image/file_walk.h"
#include "image/image_file.h"
#include "session/status.h"

namespace z18 {

namespace {
bool blockInUse(const Session& s, int block) {
    return (s.allocationMap[block / 8] & (0x80u >> (block % 8))) != 0;
}
}  // namespace

FileKey keyOf(const Session& s, int index) {
    FileKey key;
    std::memcpy(key.bytes, s.directory + static_cast<std::size_t>(index) * ENTRY_SIZE, KEY_SIZE);
    return key;
}

int loadDirectory(Session& s) {
    if (!readImageAt(s, DIRECTORY_OFFSET, s.directory, DIRECTORY_SIZE)) return 0;
    return mapDirectory(s);
}

int mapDirectory(Session& s) {
    std::memset(s.allocationMap, 0, sizeof s.allocationMap);
    markBlock(s, 0, 1);

    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = s.entryAt(i);
        if (e[entry::USER] == FILLER_BYTE) continue;
        describeEntry(s, i);
        if (!makeCpmName(s, nullptr, s.entryInfo.displayName)) {
            reportStatus(s, ST_CORRUPT_ENTRY);
            return 0;
        }
        for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
            const std::uint8_t block = e[entry::BLOCKS + slot];
            if (block == 0) break;
            if (!markBlock(s, block, 1)) {
                reportStatus(s, ST_CORRUPT_ENTRY);
                return 0;
            }
        }
    }
    return 1;
}

int saveDirectory(Session& s) {
    // The directory may name a block only once the block's bytes are on the disk, and it is on
    // the disk itself before the image is closed.
    if (s.dataUnflushed && !flushImage(s)) return 0;
    if (!writeImageAt(s, DIRECTORY_OFFSET, s.directory, DIRECTORY_SIZE)) return 0;
    return flushImage(s);
}

int markBlock(Session& s, std::uint8_t block, int inUse) {
    if (block >= BLOCK_COUNT) return 0;
    const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (block % 8));
    if (inUse == 1)
        s.allocationMap[block / 8] |= bit;
    else
        s.allocationMap[block / 8] &= static_cast<std::uint8_t>(~bit);
    return 1;
}

// Adding a file asks for the first free block once per block and for the free count once per
// file, so both go through the map a byte (eight blocks) at a time.
std::uint8_t firstFreeBlock(const Session& s) {
    for (int block = 0; block < BLOCK_COUNT; block += 8) {
        if (s.allocationMap[block / 8] == 0xFF) continue;
        for (int b = block; b < block + 8 && b < BLOCK_COUNT; ++b)
            if (!blockInUse(s, b)) return static_cast<std::uint8_t>(b);
    }
    return BLOCK_COUNT;
}

int countFreeBlocks(const Session& s) {
    static constexpr int kBitsInNibble[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
    int used = 0;
    for (int block = 0; block < BLOCK_COUNT; block += 8) {
        unsigned bits = s.allocationMap[block / 8];
        // The last byte has bits beyond the last block; they count for nothing.
        if (BLOCK_COUNT - block < 8) bits &= 0xFFu << (8 - (BLOCK_COUNT - block));
        used += kBitsInNibble[bits & 0x0F] + kBitsInNibble[bits >> 4];
    }
    return BLOCK_COUNT - used;
}

int countFreeEntries(const Session& s) {
    int free = 0;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (s.directory[static_cast<std::size_t>(i) * ENTRY_SIZE] == FILLER_BYTE) ++free;
    return free;
}

int firstFreeEntry(const Session& s) {
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (s.directory[static_cast<std::size_t>(i) * ENTRY_SIZE] == FILLER_BYTE) return i;
    return -1;
}

int findExtent(const Session& s, const FileKey& key, int start) {
    if (start < 0) start = 0;
    for (int i = start; i < DIRECTORY_ENTRIES; ++i)
        if (std::memcmp(s.directory + static_cast<std::size_t>(i) * ENTRY_SIZE, key.bytes, KEY_SIZE) == 0)
            return i;
    return -1;
}

void freeEntries(Session& s, const FileKey& key) {
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (ofFile(s.entryAt(i), key)) s.entryAt(i)[entry::USER] = FILLER_BYTE;
}

int fileRecordCount(const Session& s, const FileKey& key) {
    int records = 0;
    for (int i = findExtent(s, key, 0); i >= 0; i = findExtent(s, key, i + 1)) {
        const std::uint8_t* e = s.directory + static_cast<std::size_t>(i) * ENTRY_SIZE;
        records += e[entry::RECORD_COUNT] + RECORDS_PER_EXTENT * (e[entry::EXTENT] & 1);
    }
    return records;
}

int beginSearch(Session& s, const CpmName& pattern) {
    std::memcpy(s.searchPattern, pattern.chars, sizeof s.searchPattern);
    s.searchCursor = 0;
    return nextMatch(s);
}

int nextMatch(Session& s) {
    if (s.searchCursor >= DIRECTORY_ENTRIES) {
        s.searchCursor = DIRECTORY_ENTRIES;
        return -1;
    }
    for (int i = s.searchCursor; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* e = s.entryAt(i);
        if (e[entry::USER] == FILLER_BYTE || e[entry::EXTENT] > 1) continue;
        bool match = true;
        for (std::size_t k = 0; k < NAME_TYPE_SIZE && match; ++k) {
            const char p = s.searchPattern[k];
            match = p == '?' || static_cast<std::uint8_t>(p) == (e[entry::NAME + k] & NO_BIT_7);
        }
        if (match) {
            s.searchCursor = i + 1;
            return i;
        }
    }
    s.searchCursor = DIRECTORY_ENTRIES;
    return -1;
}

}  // namespace z18
