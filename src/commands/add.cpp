#include <cstring>
#include <vector>

#include "commands/commands.h"
#include "commands/texts.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/image_file.h"
#include "image/placement.h"
#include "session/status.h"

namespace z18 {

namespace {

// Copies the open host file into free blocks and new entries. 1 done, 0 after a reported failure
// (the entries and blocks taken so far stay, as the half-made file).
int copyFile(Session& s, std::uint64_t records) {
    std::uint8_t key[KEY_SIZE] = {0};
    std::memcpy(key + entry::NAME, s.maskName.chars, NAME_TYPE_SIZE);
    Placement p;
    beginPlacement(s, p, key);
    for (std::uint64_t at = 0; s.hostBytesLeft > 0; at += BLOCK_SIZE) {
        const std::uint8_t b = placeBlock(s, p);
        const std::size_t n =
            s.hostBytesLeft < BLOCK_SIZE ? static_cast<std::size_t>(s.hostBytesLeft) : BLOCK_SIZE;
        if (!readFileAt(s, s.hostHandle, at, blankBlock(s), n, ST_FILE_READ)) return 0;
        if (!writeFileBlock(s, b)) return 0;
        s.hostBytesLeft -= n;
    }
    endPlacement(s, p, records);
    return 1;
}

}  // namespace

int openHostFile(Session& s, HostFileMode mode) {
    const bool extracting = mode == HostFileMode::Extract;
    // On a case-sensitive host the add command must open the file under the name the search
    // found, not the upper-cased one it shows and stores.
    const std::string& name = extracting || s.foundName.empty() ? s.currentName : s.foundName;
    s.hostHandle = s.env.openFile(s.hostDir + name, extracting ? OpenMode::HostCreate : OpenMode::HostRead)
                       .valueOr(CLOSED_HANDLE);
    if (s.hostHandle == CLOSED_HANDLE) {
        reportStatus(s, extracting ? ST_FILE_EXISTS : ST_FILE_OPEN);
        return 0;
    }
    s.hostBytesLeft = 0;
    if (!extracting) {
        const HostResult<std::uint64_t> size = s.env.fileSize(s.hostHandle);
        if (!size.ok()) {
            closeHostFile(s);
            reportStatus(s, ST_FILE_OPEN);
            return 0;
        }
        s.hostBytesLeft = size.value();
    }
    return 1;
}

void closeHostFile(Session& s) {
    // Each write to the file was checked as it went; z18man reports nothing about a host file
    // after its last one.
    if (s.hostHandle != CLOSED_HANDLE) (void)s.env.closeFile(s.hostHandle);
    s.hostHandle = CLOSED_HANDLE;
}

void addFiles(Session& s) {
    const std::string pattern = s.hostDir + s.mask;
    const HostResult<std::vector<FoundEntry>> search = s.env.findFiles(pattern);
    if (!search.ok()) {
        s.out << texts::ADD_BAD_PATTERN_1 << visible(pattern) << texts::ADD_BAD_PATTERN_2;
        return;
    }
    const std::vector<FoundEntry>& found = search.value();
    s.out << texts::ADD_HEAD_1 << visible(s.imageName) << texts::ADD_HEAD_2 << visible(s.hostDir)
          << texts::ADD_HEAD_3 << visible(s.mask) << texts::ADD_HEAD_4;

    int added = 0;
    for (const FoundEntry& item : found) {
        if (isFolder(item)) continue;
        s.foundName = item.name;
        s.currentName = item.alternateName.empty() ? item.name : item.alternateName;
        upperCase(s.currentName);

        // A host name may hold "?" or "*" here; stored, they would make the entry unreadable.
        if (s.currentName.find_first_of("?*") != std::string::npos ||
            !makeCpmName(s, &s.maskName, s.currentName)) {
            reportStatus(s, ST_BAD_NAME);
            continue;
        }
        if (beginSearch(s, s.maskName) >= 0) {
            reportStatus(s, ST_DUPLICATE_NAME);
            continue;
        }
        if (!openHostFile(s, HostFileMode::Add)) {
            closeHostFile(s);
            continue;
        }

        const std::uint64_t size = s.hostBytesLeft;
        if (entriesFor(size) > static_cast<std::uint64_t>(countFreeEntries(s))) {
            reportStatus(s, ST_DIRECTORY_FULL);
            break;
        }
        if (blocksFor(size) > static_cast<std::uint64_t>(countFreeBlocks(s))) {
            reportStatus(s, ST_DISK_FULL);
            break;
        }
        if (!copyFile(s, recordsFor(size))) return;

        closeHostFile(s);
        ++added;
        s.out << texts::ADD_FILE_1 << visible(s.currentName) << texts::ADD_FILE_2;
    }
    s.foundName.clear();
    s.out << texts::ADD_DONE_1 << added << texts::ADD_DONE_2;
}

}  // namespace z18
