// The first pass: the image file's size and header, the directory sectors, and every used entry
// on its own, before any is seen as part of a file.
#include <algorithm>
#include <cstring>
#include <map>

#include "fsck/passes.h"
#include "fsck/texts.h"
#include "host/ascii.h"
#include "image/cpm_name.h"

namespace z18::fsck {

namespace {

// Why a directory sector holds no entries at all, or empty when it may: a drive's or a copier's
// fill pattern (one byte, or a few bytes over and over, such as "BADSECTOR!" or 0xF6), or bytes
// in which no used entry is plausible. A real directory sector never repeats itself like that,
// and one without a free entry has at least one entry that CP/M could have written. A sector of
// free entries may: an entry whose user byte is 0xE5 is free whatever follows (some formatters
// write zeros after it), and nothing of such a sector is lost.
std::string junkIn(const std::uint8_t* sector) {
    bool allFree = true;
    for (std::size_t at = entry::USER; at < SECTOR_SIZE; at += ENTRY_SIZE)
        allFree = allFree && sector[at] == FILLER_BYTE;
    if (allFree) return std::string();
    for (std::size_t period = 1; period <= ENTRY_SIZE; ++period) {
        bool repeats = true;
        for (std::size_t k = period; k < SECTOR_SIZE && repeats; ++k)
            repeats = sector[k] == sector[k - period];
        if (!repeats) continue;
        return period == 1 ? texts::FILL_BYTE + hexByte(sector[0])
                           : texts::FILL_PATTERN_1 + std::to_string(period) + texts::FILL_PATTERN_2;
    }
    for (int k = 0; k < ENTRIES_PER_SECTOR; ++k) {
        const std::uint8_t* e = sector + static_cast<std::size_t>(k) * ENTRY_SIZE;
        if (e[entry::USER] == FILLER_BYTE || plausibleEntry(e)) return std::string();
    }
    return texts::FILL_NOISE;
}

// A directory sector whose entries are lost: free in the repair, and no file is made of them.
void leaveFree(Context& c, int sector, Code code, const std::string& why) {
    std::memset(c.directory + sector * SECTOR_SIZE, FILLER_BYTE, SECTOR_SIZE);
    const std::size_t at = c.problem(code, sector * ENTRIES_PER_SECTOR,
                                     static_cast<long long>(DIRECTORY_OFFSET / SECTOR_SIZE) + sector,
                                     why.empty() ? Parts() : Parts{{Part::FILL, why}});
    c.plan.problems[at].lastEntry = (sector + 1) * ENTRIES_PER_SECTOR - 1;
}

void checkSize(Context& c) {
    const Disk& disk = c.plan.disk;
    if (disk.offset > 0) c.problem(Code::HEADER, -1, static_cast<long long>(disk.offset));
    const std::uint64_t size = disk.fileSize - disk.offset;
    if (size == IMAGE_SIZE) return;
    c.problem(size < IMAGE_SIZE ? Code::SHORT_FILE : Code::LONG_FILE, -1, static_cast<long long>(size),
              {{Part::AFTER, disk.offset > 0 ? texts::AFTER_HEADER : ""}});
}

// Whether an entry's name passes z18man's check, as it stands or with the attribute bits F1 to
// F8 (bit 7 of the name bytes) cleared.
bool nameChecks(const std::uint8_t* raw, bool clearAttributes) {
    std::uint8_t e[ENTRY_SIZE];
    std::memcpy(e, raw, ENTRY_SIZE);
    if (clearAttributes)
        for (std::size_t k = 0; k < NAME_SIZE; ++k) e[entry::NAME + k] &= NO_BIT_7;
    return storableName(e);
}

void checkEntry(Context& c, int i, const std::map<std::string, int>& areaOfName) {
    Entry& e = c.entries[i];
    const std::uint8_t* raw = e.raw;
    e.records = entryRecords(raw);
    e.extentPair = extentPairOf(raw);

    bool anyBlock = false;
    for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
        const int b = raw[entry::BLOCKS + slot];
        e.stored[slot] = b;
        if (b == 0) continue;
        if (b >= BLOCK_COUNT) {
            e.sound = false;
        } else {
            anyBlock = true;
            c.namedAnywhere.insert(b);
        }
    }
    e.blocks = e.stored;

    e.nameValid = nameChecks(raw, false);
    e.onlyAttributes = !e.nameValid && nameChecks(raw, true);
    // A name of printable characters that z18man refuses (lower case, "|", attribute bits) is one
    // other tools write: no sign of damage when claims on a block are weighed.
    if (!e.nameValid && !plausibleEntry(raw)) e.sound = false;

    const int user = raw[entry::USER];
    e.area = user;
    if (user >= USER_AREAS) {
        // Some systems give files user areas up to 31, in the five bits CP/M 2.2 reserves for
        // the user number. Past that a byte marks no file (CP/M 3 keeps labels and time stamps
        // there, a garbled sector anything) unless the entry carries a valid name: then it is
        // taken for a file whose user byte was damaged, and joins the other extents of its
        // name where there are some. Salvage extracts every such entry.
        e.sound = false;
        const auto sibling = areaOfName.find(maskedName(raw));
        e.area = sibling != areaOfName.end() ? sibling->second : user % USER_AREAS;
        e.dropped = !anyBlock || (user > MAX_USER_BYTE && !e.nameValid);
        c.problem(!anyBlock   ? Code::USER_NO_DATA
                  : e.dropped ? Code::USER_NO_FILE
                              : Code::USER_MOVED,
                  i, user, {{Part::AREA, std::to_string(e.area)}});
        if (e.dropped) return;
    }
    // An entry with neither a name nor a block (a zeroed or wiped one) holds nothing to keep.
    bool printable = false;
    for (std::size_t k = 0; k < NAME_TYPE_SIZE; ++k) {
        const std::uint8_t ch = raw[entry::NAME + k] & NO_BIT_7;
        printable = printable || (ch != ' ' && isPrintableAscii(ch));
    }
    if (!printable && !anyBlock) {
        e.dropped = true;
        --c.plan.usedEntries;
        c.problem(Code::NO_NAME_NO_BLOCK, i);
        return;
    }

    if (raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT) {
        c.problem(Code::BIG_RECORD_COUNT, i, raw[entry::RECORD_COUNT]);
        e.sound = false;
    }
    if (raw[entry::EXTENT] & ~EXTENT_MASK) {
        c.problem(Code::EXTENT_BITS, i, -1, {{Part::BYTE, hexByte(raw[entry::EXTENT])}});
        e.sound = false;
    }
    if (raw[entry::S1] > RECORD_SIZE) {
        c.problem(Code::LAST_BYTES, i, raw[entry::S1]);
        e.sound = false;
    }
    if (raw[entry::S2] & MODULE_FLAG) {
        c.problem(Code::MODULE_BIT, i, -1, {{Part::BYTE, hexByte(raw[entry::S2])}});
        e.sound = false;
    }
    // CP/M never gives an entry a block past its record count, nor counts a record whose block
    // it has not given: either is damage. Empty slots below the last counted record are the
    // holes of a file written by random access, and sound.
    for (int slot = e.countedSlots(); slot < BLOCKS_PER_ENTRY; ++slot) {
        const int b = e.stored[slot];
        if (b == 0) continue;
        e.sound = false;
        e.blocks[slot] = 0;
        c.problem(b >= BLOCK_COUNT ? Code::BLOCK_PAST_DISK : Code::BLOCK_PAST_COUNT, i, b);
    }
    if (e.records > 0 && e.stored[e.countedSlots() - 1] == 0) e.sound = false;
    for (int slot = 0; slot < e.countedSlots(); ++slot)
        if (e.stored[slot] >= BLOCK_COUNT) e.lost[slot] = true;
}

}  // namespace

void checkEntries(Context& c) {
    checkSize(c);
    std::memcpy(c.directory, c.plan.disk.bytes.data() + DIRECTORY_OFFSET, DIRECTORY_SIZE);
    for (int sector = 0; sector < DIRECTORY_SECTORS; ++sector) {
        if (c.plan.disk.readable(DIRECTORY_OFFSET + sector * SECTOR_SIZE, SECTOR_SIZE)) continue;
        leaveFree(c, sector, Code::DIRECTORY_UNREADABLE, std::string());
    }
    for (int sector = 0; sector < DIRECTORY_SECTORS; ++sector) {
        const std::string junk = junkIn(c.directory + sector * SECTOR_SIZE);
        if (!junk.empty()) leaveFree(c, sector, Code::DIRECTORY_JUNK, junk);
    }
    // The user area of each name that entries of a user area carry, for an entry whose user byte
    // was damaged: the first one in the directory.
    std::map<std::string, int> areaOfName;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        Entry& e = c.entries[i];
        e.raw = c.directory + static_cast<std::size_t>(i) * ENTRY_SIZE;
        e.used = e.raw[entry::USER] != FILLER_BYTE;
        if (!e.used) continue;
        if (e.raw[entry::USER] < USER_AREAS) areaOfName.emplace(maskedName(e.raw), e.raw[entry::USER]);
        ++c.plan.usedEntries;
        EntryInfo info;
        describeEntry(e.raw, &info);
        e.displayName = info.displayName;
        e.reportName = storedName(e.raw);
    }
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (c.entries[i].used) checkEntry(c, i, areaOfName);
}

}  // namespace z18::fsck
