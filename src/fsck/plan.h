// What z18fsck learns from an image: every byte it could read, every problem it finds with the
// change a repair makes for it, the files salvage extracts and the directory a repair writes.
// Nothing here writes anything; the image is only read.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "session/session.h"

namespace z18::fsck {

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

struct Problem {
    int index = -1;  // directory entry; -1 for the image as a whole
    int user = -1;   // the entry's user byte; -1 where there is no entry
    std::string name;
    std::string what;
    std::string fix;  // what a repair does about it
};

// One directory entry's share of a file, as salvage reads it from the image.
struct Part {
    int index = 0;
    std::vector<int> blocks;  // in file order; one that cannot be read comes out as zeros
    int records = 0;
};

struct File {
    int area = 0;
    std::string imageName;  // as the image shows it
    std::string newName;    // as the repaired image names it
    std::vector<Part> parts;
    std::vector<std::string> troubles;  // the problems of its entries
};

struct Plan {
    Disk disk;
    std::vector<Problem> problems;
    std::vector<File> files;
    std::uint8_t directory[DIRECTORY_SIZE] = {};  // the directory of the repaired image
    std::vector<std::pair<int, int>> copies;      // block first copied into block second
    int usedEntries = 0;
    int usedBlocks = 0;  // data blocks named by the image's entries
};

// Works out everything from plan->disk, which readDisk has filled.
void makePlan(Session& s, Plan* plan);

}  // namespace z18::fsck
