#include "image/placement.h"

#include <cstring>

#include "image/directory.h"

namespace z18 {

namespace {

constexpr std::uint64_t ENTRY_BYTES = BLOCK_SIZE * BLOCKS_PER_ENTRY;

std::uint64_t divideUp(std::uint64_t n, std::uint64_t d) { return n / d + (n % d != 0); }

// The record count of a file's last entry: the records of its last logical extent, 128 where
// that extent is full.
std::uint8_t recordCountByte(std::uint64_t records) {
    const std::uint64_t rest = records % RECORDS_PER_EXTENT;
    return static_cast<std::uint8_t>(rest == 0 && records > 0 ? RECORDS_PER_EXTENT : rest);
}

// An entry's extent byte names the last logical extent (8 blocks each) the file has reached in it.
void finishEntry(Session& s, int e, int blocksPlaced, std::uint8_t recordCount) {
    std::uint8_t* bytes = s.entryAt(e);
    bytes[entry::EXTENT] =
        static_cast<std::uint8_t>((blocksPlaced - 1) / (RECORDS_PER_EXTENT / RECORDS_PER_BLOCK));
    bytes[entry::RECORD_COUNT] = recordCount;
}

int takeEntry(Session& s, const std::uint8_t* key) {
    const int e = firstFreeEntry(s);
    std::uint8_t* fresh = s.entryAt(e);
    std::memset(fresh, 0, ENTRY_SIZE);
    std::memcpy(fresh, key, KEY_SIZE);
    return e;
}

}  // namespace

std::uint64_t recordsFor(std::uint64_t bytes) { return divideUp(bytes, RECORD_SIZE); }
std::uint64_t blocksFor(std::uint64_t bytes) { return divideUp(bytes, BLOCK_SIZE); }
std::uint64_t entriesFor(std::uint64_t bytes) { return bytes == 0 ? 1 : divideUp(bytes, ENTRY_BYTES); }

void beginPlacement(Session& s, Placement& p, const std::uint8_t* key) {
    std::memcpy(p.key, key, KEY_SIZE);
    p.blocks = 0;
    p.entry = takeEntry(s, p.key);
}

std::uint8_t placeBlock(Session& s, Placement& p) {
    if (p.blocks > 0 && p.blocks % BLOCKS_PER_ENTRY == 0) {
        finishEntry(s, p.entry, p.blocks, RECORDS_PER_EXTENT);
        p.entry = takeEntry(s, p.key);
    }
    const std::uint8_t b = firstFreeBlock(s);
    markBlock(s, b, 1);
    s.entryAt(p.entry)[entry::BLOCKS + p.blocks % BLOCKS_PER_ENTRY] = b;
    ++p.blocks;
    return b;
}

void endPlacement(Session& s, const Placement& p, std::uint64_t records) {
    if (p.blocks > 0) finishEntry(s, p.entry, p.blocks, recordCountByte(records));
}

std::uint8_t* blankBlock(Session& s) {
    std::memset(s.transferBuffer, 0, BLOCK_SIZE);
    return s.transferBuffer;
}

}  // namespace z18
