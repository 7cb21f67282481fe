#pragma once

#include <cstdint>

#include "session/session.h"

namespace z18 {

// The first 12 bytes of a directory entry: user byte, name and type, attribute bits included.
struct FileKey {
    std::uint8_t bytes[KEY_SIZE];
};
FileKey keyOf(const Session& s, int index);

// Reads the directory from the image and maps it. 1 done, 0 after reporting the failure.
int loadDirectory(Session& s);
// Checks every entry of the directory in hand (a valid name, blocks on the disk) and marks the
// blocks they name in the allocation map, made afresh. 1 done, 0 after reporting a corrupted entry.
int mapDirectory(Session& s);
int saveDirectory(Session& s);

int markBlock(Session& s, std::uint8_t block, int inUse);
std::uint8_t firstFreeBlock(const Session& s);
int countFreeBlocks(const Session& s);
int countFreeEntries(const Session& s);
int firstFreeEntry(const Session& s);
int findExtent(const Session& s, const FileKey& key, int start);
// Frees every entry CP/M counts as the file's, wherever it stands: one left behind would keep its
// blocks and join the next file of that name as one of its extents. The blocks stay marked in the
// allocation map until the directory is mapped again.
void freeEntries(Session& s, const FileKey& key);
int fileRecordCount(const Session& s, const FileKey& key);

int beginSearch(Session& s, const CpmName& pattern);
int nextMatch(Session& s);

}  // namespace z18
