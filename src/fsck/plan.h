// What z18fsck learns from an image: every byte it could read, every problem it finds with the
// change a repair makes for it, the files salvage extracts and the directory a repair writes.
// Nothing here writes anything; the image is only read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fsck/problems.h"
#include "session/session.h"

namespace z18::fsck {

// One entry holds two logical extents of 128 records: 256 records in its 16 block slots.
constexpr int RECORDS_PER_ENTRY = BLOCKS_PER_ENTRY * RECORDS_PER_BLOCK;

// The image as read: IMAGE_SIZE bytes, zeros where nothing could be read.
struct Disk {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(IMAGE_SIZE, 0);
    std::vector<bool> sectorRead = std::vector<bool>(SECTOR_COUNT, false);
    std::uint64_t fileSize = 0;

    bool readable(std::uint64_t offset, std::size_t n) const;
    bool blockReadable(int block) const {
        return readable(blockOffset(static_cast<unsigned>(block)), BLOCK_SIZE);
    }
};

// Reads every sector of the open file that can be read. False when its size cannot be had.
bool readDisk(Session& s, int handle, Disk* disk);

// A block slot that names no block on the disk: its records come out as zeros.
constexpr int OFF_DISK = -1;

// One directory entry's share of a file, as salvage reads it: `records` records from the file's
// record `base` on, each run of 16 in the block of its slot (0 for none: a hole, read as zeros).
struct Extent {
    int index = 0;
    int base = 0;
    int records = 0;
    std::array<int, BLOCKS_PER_ENTRY> blocks{};
};

struct File {
    int area = 0;
    std::string imageName;  // as stored, for the report
    std::string hostBase;   // what its host name is made from
    std::string newName;    // as the repaired image names it
    std::vector<Extent> extents;
    int length = 0;                     // records salvage writes: up to the last one a block holds
    std::vector<std::string> troubles;  // the problems of its entries

    // The block slot that holds record r: 0 for a hole, OFF_DISK, or a block number; *run gets
    // the number of records from r on that lie in the same slot or the same hole.
    int blockAt(int record, int* run = nullptr) const;
};

struct Plan {
    Disk disk;
    std::vector<Problem> problems;  // in directory order, each repeat collapsed
    std::vector<File> files;
    std::uint8_t directory[DIRECTORY_SIZE] = {};  // the directory of the repaired image
    std::vector<int> zeroBlocks;                  // blocks the repair fills with zeros
    int usedEntries = 0;
    int usedBlocks = 0;  // data blocks named by the image's entries
};

// Works out everything from plan->disk, which readDisk has filled.
void makePlan(Session& s, Plan* plan);

}  // namespace z18::fsck
