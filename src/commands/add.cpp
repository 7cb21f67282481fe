#include <cstring>
#include <vector>

#include "commands/commands.h"
#include "commands/texts.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/image_file.h"
#include "session/status.h"

namespace z18 {

namespace {

constexpr std::uint64_t ENTRY_BYTES = BLOCK_SIZE * BLOCKS_PER_ENTRY;

std::uint64_t divideUp(std::uint64_t n, std::uint64_t d) { return n / d + (n % d != 0); }

std::uint8_t recordCountByte(std::uint64_t records) {
    const std::uint64_t rest = records % RECORDS_PER_EXTENT;
    return static_cast<std::uint8_t>(rest == 0 && records > 0 ? RECORDS_PER_EXTENT : rest);
}

void finishEntry(Session& s, int e, int blocksWritten, std::uint8_t recordCount) {
    std::uint8_t* entryBytes = s.entryAt(e);
    entryBytes[entry::EXTENT] = static_cast<std::uint8_t>((blocksWritten - 1) / 8);
    entryBytes[entry::RECORD_COUNT] = recordCount;
}

// Copies the open host file into free blocks and new entries. 1 done, 0 after a reported failure
// (the entries and blocks taken so far stay, as the half-made file).
int copyFile(Session& s, std::uint64_t records) {
    int i = 0;
    int e = -1;
    for (;;) {
        if (i % BLOCKS_PER_ENTRY == 0) {
            if (i > 0) finishEntry(s, e, i, RECORDS_PER_EXTENT);
            e = firstFreeEntry(s);
            std::uint8_t* fresh = s.entryAt(e);
            std::memset(fresh, 0, ENTRY_SIZE);
            std::memcpy(fresh + entry::NAME, s.maskName.chars, NAME_TYPE_SIZE);
        }
        if (s.hostBytesLeft == 0) break;

        const std::uint8_t b = firstFreeBlock(s);
        markBlock(s, b, 1);
        s.entryAt(e)[entry::BLOCKS + i % BLOCKS_PER_ENTRY] = b;

        std::memset(s.transferBuffer, 0, BLOCK_SIZE);
        const std::size_t n =
            s.hostBytesLeft < BLOCK_SIZE ? static_cast<std::size_t>(s.hostBytesLeft) : BLOCK_SIZE;
        if (!readFileAt(s, s.hostHandle, static_cast<std::uint64_t>(i) * BLOCK_SIZE, s.transferBuffer, n,
                        ST_FILE_READ))
            return 0;
        if (!writeFileBlock(s, b)) return 0;

        ++i;
        s.hostBytesLeft -= n;
        if (s.hostBytesLeft == 0) break;
    }
    if (i > 0) finishEntry(s, e, i, recordCountByte(records));
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
        std::uint64_t entries = divideUp(size, ENTRY_BYTES);
        if (entries == 0) entries = 1;
        if (entries > static_cast<std::uint64_t>(countFreeEntries(s))) {
            reportStatus(s, ST_DIRECTORY_FULL);
            break;
        }
        if (divideUp(size, BLOCK_SIZE) > static_cast<std::uint64_t>(countFreeBlocks(s))) {
            reportStatus(s, ST_DISK_FULL);
            break;
        }
        if (!copyFile(s, divideUp(size, RECORD_SIZE))) return;

        closeHostFile(s);
        ++added;
        s.out << texts::ADD_FILE_1 << visible(s.currentName) << texts::ADD_FILE_2;
    }
    s.foundName.clear();
    s.out << texts::ADD_DONE_1 << added << texts::ADD_DONE_2;
}

}  // namespace z18
