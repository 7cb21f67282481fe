// Where a new file goes on the image. Every writer of new files (the add request, the mounted
// folder) places them by these rules, so that the same files given in the same order leave the
// same bytes on the image whichever way they came in: the first free entry, the first free
// blocks, one entry for every 16 blocks, and the last block filled up with zero bytes.
#pragma once

#include <cstdint>

#include "session/session.h"

namespace z18 {

// What a file of `bytes` bytes takes: its 128-byte records (the last one filled up), its blocks,
// and its entries (at least one, also for an empty file).
std::uint64_t recordsFor(std::uint64_t bytes);
std::uint64_t blocksFor(std::uint64_t bytes);
std::uint64_t entriesFor(std::uint64_t bytes);

// A file being placed. Its entries are taken as its blocks need them, so a copy that fails half
// way leaves entries that name exactly the blocks taken so far.
struct Placement {
    std::uint8_t key[KEY_SIZE] = {};  // user byte, name and type, as each of its entries carries them
    int entry = -1;                   // the entry taking its blocks now
    int blocks = 0;                   // blocks taken so far
};

// Starts the file in the first free entry: its key, every other byte zero. The caller has made sure
// that entriesFor() entries and blocksFor() blocks are free.
void beginPlacement(Session& s, Placement& p, const std::uint8_t* key);
// Takes the file's next block: the first free one, named in the entry in hand, or in a new entry
// (the first free one) once the entry in hand holds 16 blocks.
std::uint8_t placeBlock(Session& s, Placement& p);
// Closes the file's last entry for its `records` records in all: its extent byte and record count.
void endPlacement(Session& s, const Placement& p, std::uint64_t records);
// The transfer buffer, cleared: a block is written whole, and past the file's end it holds zeros.
std::uint8_t* blankBlock(Session& s);

}  // namespace z18
