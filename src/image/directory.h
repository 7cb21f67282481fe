#pragma once

#include <cstdint>

#include "session/session.h"

namespace z18 {

// The first 12 bytes of a directory entry: user byte, name and type, attribute bits included.
struct FileKey {
    std::uint8_t bytes[KEY_SIZE];
};
FileKey keyOf(const Session& s, int index);

int loadDirectory(Session& s);
int saveDirectory(Session& s);

int markBlock(Session& s, std::uint8_t block, int inUse);
std::uint8_t firstFreeBlock(const Session& s);
int countFreeBlocks(const Session& s);
int countFreeEntries(const Session& s);
int firstFreeEntry(const Session& s);
int findExtent(const Session& s, const FileKey& key, int start);
int fileRecordCount(const Session& s, const FileKey& key);

int beginSearch(Session& s, const CpmName& pattern);
int nextMatch(Session& s);

}  // namespace z18
