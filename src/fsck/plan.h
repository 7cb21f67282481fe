// What z18fsck learns from an image: every byte it could read, every problem it finds with the
// change a repair makes for it, the files salvage extracts and the directory a repair writes.
// Nothing here writes anything; the image is only read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fsck/disk.h"
#include "fsck/problems.h"
#include "session/session.h"

namespace z18::fsck {

// One entry holds two logical extents of 128 records: 256 records in its 16 block slots.
constexpr int RECORDS_PER_ENTRY = BLOCKS_PER_ENTRY * RECORDS_PER_BLOCK;

// A block slot that names no block on the disk: its records come out as zeros.
constexpr int OFF_DISK = -1;

// One directory entry's share of a file, as salvage reads it: `records` records from the file's
// record `base` on, each run of 16 in the block of its slot (0 for none: a hole, read as zeros;
// OFF_DISK for one past the disk or another entry's, whose records come out as zeros).
struct Extent {
    int base = 0;
    int records = 0;
    std::array<int, BLOCKS_PER_ENTRY> blocks{};
    std::array<bool, BLOCKS_PER_ENTRY> lost{};  // slots the repair cannot keep: damaged records
};

// What a salvaged file is: a file of the directory, an erased one that can be brought back, or a
// run of blocks that hold data no file names.
enum class FileKind { LIVE, ERASED, LOST };

struct File {
    FileKind kind = FileKind::LIVE;
    int area = 0;
    std::string imageName;  // as stored, for the report
    std::string hostBase;   // what its host name is made from
    std::string newName;    // as the repaired image names it
    std::vector<Extent> extents;
    int length = 0;                            // records salvage writes: up to the last one a block holds
    int first = 0;                             // the first of them (past a record count, inside a block)
    std::vector<std::string> troubles;         // the problems of its entries
    std::vector<std::pair<int, int>> holes;    // records no block holds, first and last of each run
    std::vector<std::pair<int, int>> damaged;  // records that come out as zeros or unread bytes

    // The block slot that holds record r: 0 for a hole, OFF_DISK, or a block number; *run gets
    // the number of records from r on that lie in the same slot or the same hole.
    int blockAt(int record, int* run = nullptr) const;
    // The extent that holds record r, or null.
    const Extent* extentAt(int record) const;
    // What salvage writes of it, in bytes.
    std::uint64_t bytes() const { return static_cast<std::uint64_t>(length - first) * RECORD_SIZE; }
};

// A spare block that takes the place of a block two entries share, for the one that does not keep
// it: the records it reads there, zeros after them.
struct BlockCopy {
    int to = 0;
    int from = 0;
    int records = 0;
};

struct Plan {
    Disk disk;
    std::vector<Problem> problems;  // in directory order, each repeat collapsed
    std::vector<File> files;
    std::uint8_t directory[DIRECTORY_SIZE] = {};  // the directory of the repaired image
    std::vector<int> zeroBlocks;                  // blocks the repair fills with zeros
    std::vector<BlockCopy> copiedBlocks;          // blocks the repair fills with a shared block's records
    std::vector<int> freeUnread;  // free blocks that hold nothing but bytes that could not be read
    int usedEntries = 0;
    int usedBlocks = 0;  // data blocks named by the image's entries
    int restored = 0;    // erased files the repaired image brings back
};

// Which erased files the repaired image brings back: none, all that can be, or those whose
// names match a pattern ("?" matching any character).
struct Undelete {
    bool wanted = false;
    bool all = true;
    CpmName mask;
};

// Runs of numbers, each its first and last, as the report names them: "0-15, 40".
std::string runsText(const std::vector<std::pair<int, int>>& runs);

// Works out everything from plan->disk, which readDisk has filled. It needs no host: the disk is
// all it reads, and the plan all it writes.
void makePlan(const Undelete& undelete, Plan* plan);

}  // namespace z18::fsck
