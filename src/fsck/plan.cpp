#include "fsck/plan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "fsck/texts.h"
#include "image/cpm_name.h"
#include "image/file_walk.h"

namespace z18::fsck {

namespace {

constexpr int EXTENT_MASK = EXTENTS_PER_S2 - 1;  // the extent byte's number
constexpr int MAX_MODULE = 15;                   // s2 of the last 512 KiB of the largest file CP/M 2.2 makes
constexpr std::uint8_t MODULE_FLAG = 0x80;       // bit 7 of s2, which CP/M does not compare
constexpr int USER_AREAS = 16;
constexpr int NAME_BYTES = static_cast<int>(KEY_SIZE - 1);  // the key less its user byte
constexpr int NAME_WIDTH = static_cast<int>(entry::TYPE - entry::NAME);
constexpr int TYPE_WIDTH = static_cast<int>(entry::EXTENT - entry::TYPE);
constexpr std::uint8_t ATTRIBUTE_BIT = 0x80;
constexpr char HOST_UNSAFE_IN_NAMES[] = "<>.,;:=[]%|()/\\?*";
constexpr int DIRECTORY_SECTORS = static_cast<int>(DIRECTORY_SIZE / SECTOR_SIZE);
constexpr int ENTRIES_PER_SECTOR = static_cast<int>(SECTOR_SIZE / ENTRY_SIZE);

std::string number(long long n) { return std::to_string(n); }
// Puts first to last at the end of the runs, joined to the last run where they continue it.
void addRun(std::vector<std::pair<int, int>>& runs, int first, int last) {
    if (!runs.empty() && runs.back().second + 1 == first)
        runs.back().second = last;
    else
        runs.emplace_back(first, last);
}
// Numbers in ascending order as ranges: "141-143, 150".
std::string ranges(const std::vector<int>& list) {
    std::vector<std::pair<int, int>> runs;
    for (int n : list) addRun(runs, n, n);
    return runsText(runs);
}
std::string hexByte(int b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(b >> 4) & 0xF] + digits[b & 0xF];
}

// The records an entry holds, counted from its first: all of its lower logical extent when the
// low extent bit is set, plus the record count. A count above 128 reads on into the next logical
// extent, as CP/M's own reading does, but never past the entry's last block slot.
int entryRecords(const std::uint8_t* e) {
    return std::min(RECORDS_PER_ENTRY, (e[entry::EXTENT] & 1) * RECORDS_PER_EXTENT + e[entry::RECORD_COUNT]);
}
// Which 256 records of its file the entry holds.
int entryNumber(const std::uint8_t* e) { return entryExtent(e) / EXTENTS_PER_ENTRY; }
int slotsFor(int records) { return (records + RECORDS_PER_BLOCK - 1) / RECORDS_PER_BLOCK; }

// One field of a stored name, made into characters every name check accepts: bit 7 cleared,
// upper case, trailing spaces dropped, anything else refused replaced by "_".
std::string cleanField(const std::uint8_t* bytes, int width) {
    std::string field;
    // A zero byte ends a name where it stands, as a space does.
    for (int i = 0; i < width; ++i)
        field += (bytes[i] & 0x7F) == 0 ? ' ' : static_cast<char>(bytes[i] & 0x7F);
    upperCase(field);
    while (!field.empty() && field.back() == ' ') field.pop_back();
    for (char& c : field) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || std::strchr(HOST_UNSAFE_IN_NAMES, c) != nullptr) c = '_';
    }
    return field;
}

// The name bytes as CP/M compares them: bit 7 cleared.
std::string maskedName(const std::uint8_t* raw) {
    std::string name;
    for (int k = 0; k < NAME_BYTES; ++k) name += static_cast<char>(raw[entry::NAME + k] & 0x7F);
    return name;
}

std::string joinName(const std::string& name, const std::string& type) {
    return type.empty() ? name : name + "." + type;
}

// The name a salvaged file starts from: the stored name and type without their attribute bits,
// upper-cased as z18man shows names, trailing spaces dropped and inner ones kept.
std::string hostBaseOf(const std::uint8_t* raw) {
    const auto field = [](const std::uint8_t* bytes, int width) {
        std::string text;
        for (int k = 0; k < width; ++k) text += static_cast<char>(bytes[k] & 0x7F);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        upperCase(text);
        return text;
    };
    return joinName(field(raw + entry::NAME, NAME_WIDTH), field(raw + entry::TYPE, TYPE_WIDTH));
}

// Why a directory sector holds no entries at all, or empty when it may: a drive's or a copier's
// fill pattern (one byte, or a few bytes over and over, such as "BADSECTOR!" or 0xF6), or bytes
// in which no used entry is plausible. A real directory sector never repeats itself like that,
// and one without a free entry has at least one entry that CP/M could have written.
std::string junkIn(const std::uint8_t* sector) {
    if (std::all_of(sector, sector + SECTOR_SIZE, [](std::uint8_t b) { return b == FILLER_BYTE; }))
        return std::string();
    for (std::size_t period = 1; period <= ENTRY_SIZE; ++period) {
        bool repeats = true;
        for (std::size_t k = period; k < SECTOR_SIZE && repeats; ++k)
            repeats = sector[k] == sector[k - period];
        if (!repeats) continue;
        return period == 1
                   ? texts::FILL_BYTE + hexByte(sector[0])
                   : texts::FILL_PATTERN_1 + number(static_cast<long long>(period)) + texts::FILL_PATTERN_2;
    }
    for (int k = 0; k < ENTRIES_PER_SECTOR; ++k) {
        const std::uint8_t* e = sector + static_cast<std::size_t>(k) * ENTRY_SIZE;
        if (e[entry::USER] == FILLER_BYTE || plausibleEntry(e)) return std::string();
    }
    return texts::FILL_NOISE;
}

// Whether a block holds nothing: in every byte that could be read, the format's filler (never
// written since) or zeros (which a block of zeros put in its place keeps as they are).
bool empty(const Disk& disk, int block) {
    const std::uint64_t at = blockOffset(static_cast<unsigned>(block));
    static const std::vector<std::uint8_t> fillers(BLOCK_SIZE, FILLER_BYTE), zeros(BLOCK_SIZE, 0);
    if (disk.readable(at, BLOCK_SIZE))
        return std::memcmp(disk.bytes.data() + at, fillers.data(), BLOCK_SIZE) == 0 ||
               std::memcmp(disk.bytes.data() + at, zeros.data(), BLOCK_SIZE) == 0;
    int seen = -1;
    for (std::size_t k = 0; k < BLOCK_SIZE; ++k) {
        if (!disk.read[at + k]) continue;
        const int b = disk.bytes[at + k];
        if ((b != FILLER_BYTE && b != 0) || (seen >= 0 && b != seen)) return false;
        seen = b;
    }
    return true;
}

// Whether record r of a file, which lies in `block` (at r modulo 16 there), was read whole.
bool recordRead(const Disk& disk, int block, int r) {
    return disk.readable(blockOffset(static_cast<unsigned>(block)) +
                             static_cast<std::size_t>(r % RECORDS_PER_BLOCK) * RECORD_SIZE,
                         RECORD_SIZE);
}

struct Entry {
    bool used = false;
    bool erased = false;  // an erased entry that still holds what its file had
    const std::uint8_t* raw = nullptr;
    std::string display;  // the name as z18man shows it
    std::string shown;    // the name as stored, for the report
    int area = 0;
    bool dropped = false;
    bool sound = true;
    bool nameValid = true;
    bool onlyAttributes = false;  // valid once the attribute bits of its name are cleared
    bool renumber = false;        // split off as a file of its own, whose records start at 0
    int number = 0;
    int records = 0;                             // as the entry counts them
    int kept = 0;                                // the records it keeps in the repaired image
    std::array<int, BLOCKS_PER_ENTRY> stored{};  // the block numbers as they stand
    std::array<int, BLOCKS_PER_ENTRY> blocks{};  // those of the repaired image
    std::array<bool, BLOCKS_PER_ENTRY> lost{};   // slots whose block the repair cannot keep

    int counted() const { return slotsFor(records); }
    int base() const { return (renumber ? 0 : number) * RECORDS_PER_ENTRY; }
    // The records up to the last one a named block holds.
    int held(const std::array<int, BLOCKS_PER_ENTRY>& slots) const {
        for (int slot = counted() - 1; slot >= 0; --slot)
            if (slots[slot] != 0) return std::min(records, (slot + 1) * RECORDS_PER_BLOCK);
        return 0;
    }
};

// The entries an erased file left, and whether the repair can bring it back.
struct ErasedFile {
    std::vector<int> entries;  // in extent order
    std::string lost;          // why it cannot come back; empty when it can
    bool restore = false;      // the repaired image brings it back
    std::string name;          // under this name, in user area 0
};

struct Group {
    int area = 0;
    std::vector<int> entries;  // in extent order
    bool rewriteKey = false;
    bool rename = false;
    bool clearBits = false;  // renamed only to clear the attribute bits of the name
    int clashWith = -1;      // entry of the file whose name it would repeat
    int splitProblem = -1;   // problem that waits for the name of a split-off extent
    std::string name;        // as the repaired image names it
};

class Planner {
public:
    Planner(Session& s, const Undelete& undelete, Plan& plan) : s_(s), undelete_(undelete), plan_(plan) {}

    void run() {
        checkSize();
        readDirectory();
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
            if (entries_[i].used) checkEntry(i);
        groupFiles();
        nameFiles();
        assignBlocks();
        findErased();
        settleLostBlocks();
        fitRecordCounts();
        checkReadable();
        bringBack();
        writeDirectory();
        noteHoles();
        findLostData();
        collapse(&plan_.problems);
        listFiles();
    }

private:
    std::size_t problem(Code code, int index, long long n = -1, Parts parts = {}) {
        Problem p;
        p.code = code;
        p.entry = index;
        p.low = p.high = n;
        p.parts = std::move(parts);
        if (index >= 0 && (entries_[index].used || entries_[index].erased)) {
            p.user = entries_[index].raw[entry::USER];
            p.name = entries_[index].shown;
        }
        plan_.problems.push_back(p);
        return plan_.problems.size() - 1;
    }

    // The name made of a cleaned base and type that z18man accepts and no name in `taken` repeats,
    // with "~1", "~2"... at the end of the base where it must; it joins `taken`.
    std::string freeName(std::string base, const std::string& type, std::set<std::string>* taken) {
        if (base.empty()) base = "FILE";
        std::string candidate = joinName(base, type);
        for (int n = 1; taken->count(candidate) != 0 || !makeCpmName(s_, nullptr, candidate); ++n) {
            const std::string suffix = "~" + number(n);
            candidate = joinName(base.substr(0, NAME_WIDTH - suffix.size()) + suffix, type);
        }
        taken->insert(candidate);
        return candidate;
    }

    // A directory sector whose entries are lost: free in the repair, and no file is made of them.
    void leaveFree(int sector, Code code, const std::string& why) {
        std::memset(s_.directory + sector * SECTOR_SIZE, FILLER_BYTE, SECTOR_SIZE);
        const std::size_t at = problem(code, sector * ENTRIES_PER_SECTOR,
                                       static_cast<long long>(DIRECTORY_OFFSET / SECTOR_SIZE) + sector,
                                       why.empty() ? Parts() : Parts{{Part::FILL, why}});
        plan_.problems[at].lastEntry = (sector + 1) * ENTRIES_PER_SECTOR - 1;
    }

    void checkSize() {
        const Disk& disk = plan_.disk;
        if (disk.offset > 0) problem(Code::HEADER, -1, static_cast<long long>(disk.offset));
        const std::uint64_t size = disk.fileSize - disk.offset;
        if (size == IMAGE_SIZE) return;
        problem(size < IMAGE_SIZE ? Code::SHORT_FILE : Code::LONG_FILE, -1, static_cast<long long>(size),
                {{Part::AFTER, disk.offset > 0 ? texts::AFTER_HEADER : ""}});
    }

    void readDirectory() {
        std::memcpy(s_.directory, plan_.disk.bytes.data() + DIRECTORY_OFFSET, DIRECTORY_SIZE);
        for (int sector = 0; sector < DIRECTORY_SECTORS; ++sector) {
            if (plan_.disk.readable(DIRECTORY_OFFSET + sector * SECTOR_SIZE, SECTOR_SIZE)) continue;
            leaveFree(sector, Code::DIRECTORY_UNREADABLE, std::string());
        }
        for (int sector = 0; sector < DIRECTORY_SECTORS; ++sector) {
            const std::string junk = junkIn(s_.directory + sector * SECTOR_SIZE);
            if (!junk.empty()) leaveFree(sector, Code::DIRECTORY_JUNK, junk);
        }
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
            Entry& e = entries_[i];
            e.raw = s_.entryAt(i);
            e.used = e.raw[entry::USER] != FILLER_BYTE;
            if (!e.used) continue;
            if (e.raw[entry::USER] < USER_AREAS) areaOfName_.emplace(maskedName(e.raw), e.raw[entry::USER]);
            ++plan_.usedEntries;
            describeEntry(s_, i);
            e.display = s_.entryInfo.displayName;
            e.shown = storedName(e.raw);
        }
    }

    // Whether an entry's name passes z18man's check, as it stands or with the attribute bits F1
    // to F8 (bit 7 of the name bytes) cleared.
    bool nameChecks(const std::uint8_t* raw, bool clearAttributes) {
        std::uint8_t* e = scratch_.entryAt(0);
        std::memcpy(e, raw, ENTRY_SIZE);
        if (clearAttributes)
            for (int k = 0; k < NAME_WIDTH; ++k) e[entry::NAME + k] &= 0x7F;
        describeEntry(scratch_, 0);
        const std::string display = scratch_.entryInfo.displayName;
        CpmName converted;
        std::string stored = maskedName(e);
        upperCase(stored);
        bool valid = makeCpmName(scratch_, &converted, display) == 1 &&
                     std::memcmp(converted.chars, stored.data(), NAME_BYTES) == 0 &&
                     display.find('?') == std::string::npos;
        for (int k = 0; k < NAME_BYTES && valid; ++k)
            valid = (e[entry::NAME + k] & 0x7F) == static_cast<std::uint8_t>(stored[k]);
        return valid;
    }

    void checkEntry(int i) {
        Entry& e = entries_[i];
        const std::uint8_t* raw = e.raw;
        e.records = entryRecords(raw);
        e.number = entryNumber(raw);

        bool anyBlock = false;
        for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
            const int b = raw[entry::BLOCKS + slot];
            e.stored[slot] = b;
            if (b == 0) continue;
            if (b >= BLOCK_COUNT) {
                e.sound = false;
            } else {
                anyBlock = true;
                namedAnywhere_.insert(b);
            }
        }
        e.blocks = e.stored;

        e.nameValid = nameChecks(raw, false);
        e.onlyAttributes = !e.nameValid && nameChecks(raw, true);
        if (!e.nameValid) e.sound = false;

        const int user = raw[entry::USER];
        e.area = user;
        if (user >= USER_AREAS) {
            // Some systems give files user areas up to 31, in the five bits CP/M 2.2 reserves for
            // the user number. Past that a byte marks no file (CP/M 3 keeps labels and time stamps
            // there, a garbled sector anything) unless the entry carries a valid name: then it is
            // taken for a file whose user byte was damaged, and joins the other extents of its
            // name where there are some. Salvage extracts every such entry.
            e.sound = false;
            const auto sibling = areaOfName_.find(maskedName(raw));
            e.area = sibling != areaOfName_.end() ? sibling->second : user % USER_AREAS;
            e.dropped = !anyBlock || (user > MAX_USER_BYTE && !e.nameValid);
            problem(!anyBlock   ? Code::USER_NO_DATA
                    : e.dropped ? Code::USER_NO_FILE
                                : Code::USER_MOVED,
                    i, user, {{Part::AREA, number(e.area)}});
            if (e.dropped) return;
        }
        // An entry with neither a name nor a block (a zeroed or wiped one) holds nothing to keep.
        bool printable = false;
        for (int k = 0; k < NAME_BYTES; ++k) {
            const int c = raw[entry::NAME + k] & 0x7F;
            printable = printable || (c > ' ' && c < 0x7F);
        }
        if (!printable && !anyBlock) {
            e.dropped = true;
            --plan_.usedEntries;
            problem(Code::NO_NAME_NO_BLOCK, i);
            return;
        }

        if (raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT) {
            problem(Code::BIG_RECORD_COUNT, i, raw[entry::RECORD_COUNT]);
            e.sound = false;
        }
        if (raw[entry::EXTENT] & ~EXTENT_MASK) {
            problem(Code::EXTENT_BITS, i, -1, {{Part::BYTE, hexByte(raw[entry::EXTENT])}});
            e.sound = false;
        }
        if (raw[entry::S1] > RECORD_SIZE) {
            problem(Code::LAST_BYTES, i, raw[entry::S1]);
            e.sound = false;
        }
        if (raw[entry::S2] & MODULE_FLAG) {
            problem(Code::MODULE_BIT, i, -1, {{Part::BYTE, hexByte(raw[entry::S2])}});
            e.sound = false;
        }
        // CP/M never gives an entry a block past its record count, nor counts a record whose
        // block it has not given: either is damage. Empty slots below the last counted record
        // are the holes of a file written by random access, and sound.
        for (int slot = e.counted(); slot < BLOCKS_PER_ENTRY; ++slot) {
            const int b = e.stored[slot];
            if (b == 0) continue;
            e.sound = false;
            e.blocks[slot] = 0;
            problem(b >= BLOCK_COUNT ? Code::BLOCK_PAST_DISK : Code::BLOCK_PAST_COUNT, i, b);
        }
        if (e.records > 0 && e.stored[e.counted() - 1] == 0) e.sound = false;
        for (int slot = 0; slot < e.counted(); ++slot)
            if (e.stored[slot] >= BLOCK_COUNT) e.lost[slot] = true;
    }

    void groupFiles() {
        std::map<std::string, int> byKey;
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
            const Entry& e = entries_[i];
            if (!e.used || e.dropped) continue;
            const std::string key = static_cast<char>(e.area) + maskedName(e.raw);
            auto found = byKey.find(key);
            if (found == byKey.end()) {
                found = byKey.emplace(key, static_cast<int>(groups_.size())).first;
                groups_.emplace_back();
                groups_.back().area = e.area;
            }
            groups_[found->second].entries.push_back(i);
        }

        const std::size_t original = groups_.size();
        for (std::size_t g = 0; g < original; ++g) {
            std::vector<int>& list = groups_[g].entries;
            std::stable_sort(list.begin(), list.end(),
                             [&](int a, int b) { return entries_[a].number < entries_[b].number; });
            // CP/M reads each extent from the first entry in the directory that holds it; a
            // second entry for one extent becomes a file of its own, so that both are kept. So
            // does an entry that no file CP/M can address reaches (a garbled s2 byte).
            std::vector<int> kept;
            for (int i : list) {
                const int module = entries_[i].raw[entry::S2] & ~MODULE_FLAG;
                std::size_t at = 0;
                if (module > MAX_MODULE) {
                    at = problem(Code::BIG_MODULE, i, module);
                } else if (!kept.empty() && entries_[kept.back()].number == entries_[i].number) {
                    at = problem(Code::SECOND_EXTENT, i, entries_[i].number,
                                 {{Part::OTHER, number(kept.back())}});
                } else {
                    kept.push_back(i);
                    continue;
                }
                Group split;
                split.area = groups_[g].area;
                split.entries.push_back(i);
                split.rename = true;
                split.splitProblem = static_cast<int>(at);
                entries_[i].sound = false;
                entries_[i].renumber = true;
                groups_.push_back(split);
            }
            groups_[g].entries = kept;
        }
        // A file all of whose entries went off on their own is no file any more.
        groups_.erase(
            std::remove_if(groups_.begin(), groups_.end(), [](const Group& g) { return g.entries.empty(); }),
            groups_.end());

        for (Group& g : groups_) {
            for (int i : g.entries) {
                const Entry& e = entries_[i];
                if (std::memcmp(e.raw, entries_[g.entries[0]].raw, KEY_SIZE) != 0 && !g.rewriteKey) {
                    problem(Code::MIXED_KEYS, i);
                    g.rewriteKey = true;
                }
                if (!e.nameValid && !g.rename) g.clearBits = e.onlyAttributes;
                if (!e.nameValid) {
                    g.rename = true;
                    g.clearBits = g.clearBits && e.onlyAttributes;
                }
                if (e.area != e.raw[entry::USER]) g.rewriteKey = true;
            }
        }
    }

    // Every file keeps its name where it can; the others get a valid name no other file has in
    // any user area.
    void nameFiles() {
        std::map<std::pair<int, std::string>, int> taken;
        std::set<std::string> anywhere;
        for (Group& g : groups_) {
            if (g.rename) continue;
            const Entry& first = entries_[g.entries[0]];
            std::string shown = first.display;
            upperCase(shown);
            auto clash = taken.find({g.area, shown});
            if (clash != taken.end()) {
                g.rename = true;
                g.clashWith = clash->second;
                continue;
            }
            taken[{g.area, shown}] = g.entries[0];
            anywhere.insert(shown);
            g.name = shown;
        }
        for (Group& g : groups_) {
            if (!g.rename) continue;
            const Entry& first = entries_[g.entries[0]];
            const std::string base = cleanField(first.raw + entry::NAME, NAME_WIDTH);
            const std::string type = cleanField(first.raw + entry::TYPE, TYPE_WIDTH);
            if (g.clearBits && g.splitProblem < 0) {
                // The name is sound but for bits z18man refuses: it stays, without them.
                std::string bits;
                for (int k = 0; k < NAME_WIDTH; ++k)
                    if (first.raw[entry::NAME + k] & ATTRIBUTE_BIT)
                        bits += (bits.empty() ? "F" : ", F") + number(k + 1);
                g.name = joinName(base, type);
                anywhere.insert(g.name);
                g.rewriteKey = true;
                problem(Code::NAME_ATTRIBUTES, g.entries[0], -1, {{Part::BITS, bits}});
                continue;
            }
            const std::string candidate = freeName(base, type, &anywhere);
            g.name = candidate;
            g.rewriteKey = true;
            const int at = g.entries[0];
            if (g.splitProblem >= 0)
                plan_.problems[static_cast<std::size_t>(g.splitProblem)].parts.emplace_back(Part::NEW_NAME,
                                                                                            candidate);
            else if (g.clashWith >= 0)
                problem(Code::NAME_CLASH, at, g.area,
                        {{Part::OTHER, number(g.clashWith)}, {Part::NEW_NAME, candidate}});
            else
                problem(Code::BAD_NAME, at, -1, {{Part::NEW_NAME, candidate}});
        }
    }

    // A block that several entries hold within their records belongs to one of them. CP/M hands
    // out blocks in ascending order, so the entry in which it continues a run of blocks is the
    // likeliest owner; then a sound entry before a damaged one, then the first in the directory.
    // The others lose it: none gets a copy of data that is not its own.
    void assignBlocks() {
        std::vector<std::vector<std::pair<int, int>>> claims(BLOCK_COUNT);
        for (const Group& g : groups_)
            for (int i : g.entries)
                for (int slot = 0; slot < entries_[i].counted(); ++slot) {
                    const int b = entries_[i].stored[slot];
                    if (b > 0 && b < BLOCK_COUNT) claims[b].emplace_back(i, slot);
                }
        for (int b = 1; b < BLOCK_COUNT; ++b) {
            auto& list = claims[b];
            if (list.size() < 2) continue;
            const auto neighbours = [&](const std::pair<int, int>& c) {
                const auto& stored = entries_[c.first].stored;
                return (c.second > 0 && stored[c.second - 1] == b - 1) +
                       (c.second + 1 < BLOCKS_PER_ENTRY && stored[c.second + 1] == b + 1);
            };
            std::stable_sort(list.begin(), list.end(), [&](const auto& x, const auto& y) {
                if (neighbours(x) != neighbours(y)) return neighbours(x) > neighbours(y);
                if (entries_[x.first].sound != entries_[y.first].sound) return entries_[x.first].sound;
                return x < y;
            });
            const int owner = list[0].first;
            for (std::size_t k = 1; k < list.size(); ++k) {
                const int i = list[k].first;
                entries_[i].lost[list[k].second] = true;
                lostTo_[{i, list[k].second}] = owner;
            }
        }
    }

    // A lost block keeps its place in the file: a free block filled with zeros takes it, so that
    // no record after it moves and CP/M reads on past it; only where no block is free is it left
    // a hole. Empty blocks are taken first, and only then blocks that hold data no entry names.
    void settleLostBlocks() {
        std::vector<int> spare;
        for (int pass = 0; pass < 2; ++pass)
            for (int b = 1; b < BLOCK_COUNT; ++b)
                if (namedAnywhere_.count(b) == 0 && namedByErased_.count(b) == 0 &&
                    empty(plan_.disk, b) == (pass == 0))
                    spare.push_back(b);
        std::size_t next = 0;
        for (const Group& g : groups_)
            for (int i : g.entries) {
                Entry& e = entries_[i];
                for (int slot = 0; slot < e.counted(); ++slot) {
                    if (!e.lost[slot]) continue;
                    const int b = e.stored[slot];
                    const auto owner = lostTo_.find({i, slot});
                    Problem cause;
                    cause.low = cause.high = b;
                    if (owner == lostTo_.end()) {
                        cause.code = Code::BLOCK_PAST_DISK_ZEROS;
                    } else if (owner->second == i) {
                        cause.code = Code::BLOCK_TWICE;
                    } else {
                        cause.code = Code::BLOCK_SHARED;
                        cause.parts = {{Part::OTHER, number(owner->second)},
                                       {Part::OTHER_NAME, entries_[owner->second].shown}};
                    }
                    if (next < spare.size()) {
                        e.blocks[slot] = spare[next++];
                        plan_.zeroBlocks.push_back(e.blocks[slot]);
                        cause.parts.emplace_back(Part::ZEROS, number(e.blocks[slot]));
                        problem(cause.code, i, b, cause.parts);
                    } else {
                        e.blocks[slot] = 0;
                        plan_.problems[problem(Code::BLOCK_LOST_HOLE, i)].claim = {cause};
                    }
                }
            }
    }

    // An entry whose last counted record lies in no block gets the count its blocks hold.
    void fitRecordCounts() {
        for (const Group& g : groups_)
            for (int i : g.entries) {
                Entry& e = entries_[i];
                e.kept = e.records;
                if (e.records == 0 || e.blocks[e.counted() - 1] != 0) continue;
                e.kept = e.held(e.blocks);
                if (e.stored[e.counted() - 1] != 0) {
                    problem(Code::COUNT_AFTER_CHANGES, i, -1, {{Part::COUNT, number(e.kept)}});
                    continue;
                }
                const long long named =
                    std::count_if(e.stored.begin(), e.stored.end(), [](int b) { return b != 0; });
                problem(Code::COUNT_PAST_BLOCKS, i, e.records,
                        {{Part::NEED, number(e.counted())},
                         {Part::NAMED, number(named)},
                         {Part::COUNT, number(e.kept)}});
            }
    }

    // Each run of records that cannot be read (whole or in part) is one problem, named by the
    // records of the file and the blocks that hold them.
    void checkReadable() {
        for (const Group& g : groups_)
            for (int i : g.entries) {
                const Entry& e = entries_[i];
                int first = -1;
                std::vector<int> blocks;
                for (int r = 0; r <= e.records; ++r) {
                    const int b =
                        r < e.records ? e.stored[static_cast<std::size_t>(r / RECORDS_PER_BLOCK)] : 0;
                    const bool bad = b > 0 && b < BLOCK_COUNT && !recordRead(plan_.disk, b, r);
                    if (bad) {
                        if (first < 0) first = r;
                        if (blocks.empty() || blocks.back() != b) blocks.push_back(b);
                        continue;
                    }
                    if (first < 0) continue;
                    std::sort(blocks.begin(), blocks.end());
                    const std::size_t at = problem(
                        Code::UNREADABLE, i, e.base() + first,
                        {{Part::BLOCKS, (blocks.size() > 1 ? "blocks " : "block ") + ranges(blocks)}});
                    plan_.problems[at].high = e.base() + r - 1;
                    first = -1;
                    blocks.clear();
                }
            }
    }

    // CP/M's ERA writes 0xE5 into the user byte and nothing else, so an erased entry keeps the
    // name, the counts and the blocks of its file; an entry never used holds 0xE5 all through.
    static bool erasedRemains(const std::uint8_t* raw) {
        if (raw[entry::USER] != FILLER_BYTE ||
            std::all_of(raw, raw + ENTRY_SIZE, [](std::uint8_t b) { return b == FILLER_BYTE; }))
            return false;
        std::uint8_t copy[ENTRY_SIZE];
        std::memcpy(copy, raw, ENTRY_SIZE);
        copy[entry::USER] = 0;
        if (!plausibleEntry(copy) || (raw[entry::EXTENT] & ~EXTENT_MASK) != 0 ||
            raw[entry::S2] > MAX_MODULE || raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT)
            return false;
        bool any = false;
        for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
            const int b = raw[entry::BLOCKS + slot];
            if (b >= BLOCK_COUNT) return false;
            any = any || b != 0;
        }
        return any;
    }

    // Erased files, entry by entry as their names and extents fit together. One comes back only
    // whole and as it was: every extent from the first, every block its own and named by no live
    // file or other erased one. A block that a later file took has other data now.
    void findErased() {
        std::map<std::string, std::vector<std::size_t>> byName;
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
            const std::uint8_t* raw = s_.entryAt(i);
            if (!erasedRemains(raw)) continue;
            Entry& e = entries_[i];
            e.raw = raw;
            e.erased = true;
            e.records = entryRecords(raw);
            e.number = entryNumber(raw);
            e.shown = storedName(raw);
            for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
                e.stored[slot] = raw[entry::BLOCKS + slot];
                if (e.stored[slot] != 0) namedByErased_.insert(e.stored[slot]);
            }
            e.blocks = e.stored;
            // A second entry for an extent the erased file has already belongs to another one.
            std::vector<std::size_t>& files = byName[maskedName(raw)];
            std::size_t at = erased_.size();
            for (std::size_t f : files)
                if (std::none_of(erased_[f].entries.begin(), erased_[f].entries.end(),
                                 [&](int k) { return entries_[k].number == e.number; })) {
                    at = f;
                    break;
                }
            if (at == erased_.size()) {
                erased_.emplace_back();
                files.push_back(at);
            }
            erased_[at].entries.push_back(i);
        }

        std::map<int, int> liveOwner, erasedNames;
        for (int i = DIRECTORY_ENTRIES - 1; i >= 0; --i)
            if (entries_[i].used)
                for (int b : entries_[i].stored)
                    if (b > 0 && b < BLOCK_COUNT) liveOwner[b] = i;
        for (const ErasedFile& f : erased_)
            for (int i : f.entries)
                for (int b : entries_[i].stored)
                    if (b != 0) ++erasedNames[b];
        for (ErasedFile& f : erased_) {
            std::stable_sort(f.entries.begin(), f.entries.end(),
                             [&](int a, int b) { return entries_[a].number < entries_[b].number; });
            if (entries_[f.entries[0]].number != 0) f.lost = texts::ERASED_NO_START;
            for (int i : f.entries) {
                const Entry& e = entries_[i];
                const bool fits =
                    (e.records == 0 || e.stored[e.counted() - 1] != 0) &&
                    std::all_of(e.stored.begin() + e.counted(), e.stored.end(), [](int b) { return b == 0; });
                if (!fits && f.lost.empty()) f.lost = texts::ERASED_UNFIT;
                for (int b : e.stored) {
                    if (b == 0 || !f.lost.empty()) continue;
                    const auto owner = liveOwner.find(b);
                    if (owner != liveOwner.end())
                        f.lost = texts::ERASED_TAKEN_1 + number(b) + texts::ERASED_TAKEN_2 +
                                 number(owner->second) + " '" + entries_[owner->second].shown + "'";
                    else if (erasedNames[b] > 1)
                        f.lost = texts::ERASED_SHARED_1 + number(b) + texts::ERASED_SHARED_2;
                }
            }
        }
    }

    // The repair brings back the erased files asked for, each under the name it had, made valid
    // where z18man refuses it, and with "~1", "~2"... where a file of user area 0 has it.
    void bringBack() {
        std::set<std::string> taken;
        for (const Group& g : groups_)
            if (g.area == 0) taken.insert(g.name);
        for (ErasedFile& f : erased_) {
            const Entry& first = entries_[f.entries[0]];
            if (!f.lost.empty() || !undelete_.wanted) continue;
            bool match = true;
            for (int k = 0; k < NAME_BYTES && !undelete_.all; ++k)
                match = match &&
                        (undelete_.mask.chars[k] == '?' ||
                         undelete_.mask.chars[k] == static_cast<char>(first.raw[entry::NAME + k] & 0x7F));
            if (!match) continue;
            f.restore = true;
            f.name = freeName(cleanField(first.raw + entry::NAME, NAME_WIDTH),
                              cleanField(first.raw + entry::TYPE, TYPE_WIDTH), &taken);
            ++plan_.restored;
        }
    }

    // The key of every entry of a file: its user area, and the name it gets where it is renamed
    // (the attribute bits of the type kept: read-only, hidden).
    static void writeKey(std::uint8_t* key, const std::uint8_t* first, int area, const std::string* name) {
        std::memcpy(key, first, KEY_SIZE);
        key[entry::USER] = static_cast<std::uint8_t>(area);
        if (name == nullptr) return;
        const std::size_t dot = name->find('.');
        const std::string base = name->substr(0, dot);
        const std::string type = dot == std::string::npos ? std::string() : name->substr(dot + 1);
        for (int k = 0; k < NAME_WIDTH; ++k)
            key[entry::NAME + k] =
                static_cast<std::uint8_t>(k < static_cast<int>(base.size()) ? base[k] : ' ');
        for (int k = 0; k < TYPE_WIDTH; ++k)
            key[entry::TYPE + k] =
                static_cast<std::uint8_t>((k < static_cast<int>(type.size()) ? type[k] : ' ') |
                                          (first[entry::TYPE + k] & ATTRIBUTE_BIT));
    }

    void writeDirectory() {
        std::memcpy(plan_.directory, s_.directory, DIRECTORY_SIZE);
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
            if (entries_[i].dropped) std::memset(plan_.directory + i * ENTRY_SIZE, FILLER_BYTE, ENTRY_SIZE);

        for (const ErasedFile& f : erased_) {
            if (!f.restore) continue;
            std::uint8_t key[KEY_SIZE];
            writeKey(key, entries_[f.entries[0]].raw, 0, &f.name);
            for (int i : f.entries) std::memcpy(plan_.directory + i * ENTRY_SIZE, key, KEY_SIZE);
        }
        for (const Group& g : groups_) {
            std::uint8_t key[KEY_SIZE];
            writeKey(key, entries_[g.entries[0]].raw, g.area, g.rename ? &g.name : nullptr);
            for (int i : g.entries) {
                const Entry& e = entries_[i];
                std::uint8_t* out = plan_.directory + i * ENTRY_SIZE;
                if (g.rewriteKey) std::memcpy(out, key, KEY_SIZE);
                for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot)
                    out[entry::BLOCKS + slot] = static_cast<std::uint8_t>(e.blocks[slot]);
                const bool refit = e.kept != e.records || e.raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT ||
                                   (e.raw[entry::EXTENT] & ~EXTENT_MASK) != 0 ||
                                   (e.raw[entry::S2] & MODULE_FLAG) != 0;
                if (refit || e.renumber) {
                    const int high = e.kept > RECORDS_PER_EXTENT ? 1 : 0;
                    const int extent = (e.renumber ? 0 : e.number) * EXTENTS_PER_ENTRY + high;
                    out[entry::EXTENT] = static_cast<std::uint8_t>(extent & EXTENT_MASK);
                    out[entry::S2] = static_cast<std::uint8_t>(extent / (EXTENT_MASK + 1));
                    out[entry::RECORD_COUNT] = static_cast<std::uint8_t>(e.kept - high * RECORDS_PER_EXTENT);
                }
                if (e.raw[entry::S1] > RECORD_SIZE) out[entry::S1] = 0;
            }
        }
    }

    // Salvage reads the image as it stands: every record at its place, zeros where no block
    // holds it, the shared blocks for every file that names them.
    Extent extentOf(int i) const {
        const Entry& e = entries_[i];
        Extent x;
        x.index = i;
        x.base = e.base();
        x.records = e.records;
        for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
            x.blocks[slot] = slot >= e.counted()             ? 0
                             : e.stored[slot] >= BLOCK_COUNT ? OFF_DISK
                                                             : e.stored[slot];
            x.lost[slot] = e.lost[slot];
        }
        return x;
    }

    File fileOf(int area, const std::vector<int>& list) const {
        File f;
        f.area = area;
        f.imageName = entries_[list[0]].shown;
        f.hostBase = hostBaseOf(entries_[list[0]].raw);
        for (int i : list) {
            f.extents.push_back(extentOf(i));
            f.length = std::max(f.length, entries_[i].base() + entries_[i].held(entries_[i].stored));
            for (const Problem& p : plan_.problems)
                if (!p.info() && p.entry <= i && std::max(p.entry, p.lastEntry) >= i)
                    f.troubles.push_back(codeText(p.code) + ' ' + whatText(p));
        }
        return f;
    }

    // The runs of records of a file that no block holds (holes, read as zeros) and of those whose
    // bytes salvage cannot give (a block off the disk, a sector that cannot be read).
    void measure(File* f) const {
        for (int r = 0; r < f->length;) {
            int n = 0;
            const int b = f->blockAt(r, &n);
            const Extent* x = f->extentAt(r);
            if (b <= 0 ||
                (x != nullptr && x->lost[static_cast<std::size_t>((r - x->base) / RECORDS_PER_BLOCK)])) {
                addRun(b == 0 ? f->holes : f->damaged, r, r + n - 1);
                r += n;
                continue;
            }
            for (int k = r; k < r + n && b > 0; ++k)
                if (!recordRead(plan_.disk, b, k)) addRun(f->damaged, k, k);
            r += n;
        }
    }

    std::string bytesOf(const File& f) const {
        return number(static_cast<long long>(f.length) * static_cast<long long>(RECORD_SIZE));
    }

    // A sparse file is sound; the check says where its holes are. So it does of each erased file.
    void noteHoles() {
        for (const Group& g : groups_) {
            File f = fileOf(g.area, g.entries);
            measure(&f);
            if (!f.holes.empty()) problem(Code::SPARSE, g.entries[0], -1, {{Part::HOLES, runsText(f.holes)}});
        }
        for (const ErasedFile& f : erased_) {
            const File file = fileOf(0, f.entries);
            if (!f.lost.empty())
                problem(Code::ERASED_LOST, f.entries[0], -1,
                        {{Part::BYTES, bytesOf(file)}, {Part::WHY, f.lost}});
            else if (f.restore)
                problem(Code::ERASED_BACK, f.entries[0], -1,
                        {{Part::BYTES, bytesOf(file)}, {Part::NEW_NAME, f.name}});
            else
                problem(Code::ERASED, f.entries[0], -1, {{Part::BYTES, bytesOf(file)}});
        }
    }

    // Data that no file salvage writes holds: blocks named by no entry, or by one whose claim
    // the check refused, that are not empty. Each run of them is one file of lost+found.
    void findLostData() {
        std::set<int> read;
        const auto take = [&](int i) {
            const Entry& e = entries_[i];
            for (int slot = 0; slot < e.counted(); ++slot)
                if (e.stored[slot] > 0 && e.stored[slot] < BLOCK_COUNT) read.insert(e.stored[slot]);
        };
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
            if (entries_[i].used) take(i);
        for (const ErasedFile& f : erased_)
            if (f.lost.empty())
                for (int i : f.entries) take(i);
        std::vector<int> blocks;
        for (int b = 1; b < BLOCK_COUNT;) {
            if (read.count(b) != 0 || empty(plan_.disk, b)) {
                ++b;
                continue;
            }
            int last = b;
            while (last + 1 < BLOCK_COUNT && read.count(last + 1) == 0 && !empty(plan_.disk, last + 1))
                ++last;
            File f;
            f.kind = FileKind::LOST;
            const auto padded = [](int n) {
                const std::string digits = number(n);
                return std::string(3 - std::min<std::size_t>(3, digits.size()), '0') + digits;
            };
            f.hostBase =
                last > b ? texts::LOST_RUN + padded(b) + "-" + padded(last) : texts::LOST_BLOCK + padded(b);
            f.imageName = last > b ? texts::LOST_RUN_SHOWN + number(b) + "-" + number(last)
                                   : texts::LOST_BLOCK_SHOWN + number(b);
            for (int first = b; first <= last; first += BLOCKS_PER_ENTRY) {
                Extent x;
                x.index = -1;
                x.base = (first - b) * RECORDS_PER_BLOCK;
                for (int k = 0; k < BLOCKS_PER_ENTRY && first + k <= last; ++k) {
                    x.blocks[static_cast<std::size_t>(k)] = first + k;
                    x.records += RECORDS_PER_BLOCK;
                }
                f.extents.push_back(x);
            }
            f.length = (last - b + 1) * RECORDS_PER_BLOCK;
            lost_.push_back(f);
            for (; b <= last; ++b) blocks.push_back(b);
        }
        if (blocks.empty()) return;
        const std::size_t at = problem(Code::LOST_DATA, -1, blocks.front(), {{Part::BLOCKS, ranges(blocks)}});
        plan_.problems[at].high = blocks.back();
    }

    void listFiles() {
        for (const Group& g : groups_) {
            plan_.files.push_back(fileOf(g.area, g.entries));
            plan_.files.back().newName = g.name;
        }
        // Entries the repair removes though they name blocks: salvage still gives their bytes,
        // each as a file of its own.
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
            Entry& e = entries_[i];
            if (!e.used || !e.dropped || std::none_of(e.stored.begin(), e.stored.end(), [](int b) {
                    return b > 0 && b < BLOCK_COUNT;
                }))
                continue;
            e.renumber = true;
            plan_.files.push_back(fileOf(e.area, {i}));
        }
        for (const ErasedFile& f : erased_) {
            if (!f.lost.empty()) continue;
            plan_.files.push_back(fileOf(0, f.entries));
            plan_.files.back().kind = FileKind::ERASED;
            plan_.files.back().newName = f.restore ? f.name : std::string();
        }
        plan_.files.insert(plan_.files.end(), lost_.begin(), lost_.end());
        for (File& f : plan_.files) measure(&f);
        plan_.usedBlocks = static_cast<int>(namedAnywhere_.size());
    }

    Session& s_;
    Session scratch_{s_.env, s_.out};  // a directory of its own, to try names in
    const Undelete& undelete_;
    Plan& plan_;
    std::vector<ErasedFile> erased_;
    std::set<int> namedByErased_;  // blocks named by the entries erased files left
    std::vector<File> lost_;       // the runs of blocks that hold data no file names
    Entry entries_[DIRECTORY_ENTRIES];
    std::vector<Group> groups_;
    std::set<int> namedAnywhere_;
    std::map<std::string, int> areaOfName_;      // the user area of each name entries in one carry
    std::map<std::pair<int, int>, int> lostTo_;  // (entry, slot) of a block another entry keeps: that entry
};

}  // namespace

std::string runsText(const std::vector<std::pair<int, int>>& runs) {
    std::string out;
    for (const auto& run : runs)
        out += (out.empty() ? "" : ", ") + number(run.first) +
               (run.second > run.first ? "-" + number(run.second) : std::string());
    return out;
}

const Extent* File::extentAt(int record) const {
    for (const Extent& x : extents)
        if (record >= x.base && record < x.base + RECORDS_PER_ENTRY) return &x;
    return nullptr;
}

int File::blockAt(int record, int* run) const {
    int block = 0;
    int end = length;  // where the run from record on ends
    for (const Extent& x : extents) {
        if (record >= x.base + RECORDS_PER_ENTRY) continue;
        if (record < x.base) {
            end = std::min(end, x.base);
            continue;
        }
        const int at = record - x.base;
        if (at < x.records) {
            block = x.blocks[static_cast<std::size_t>(at / RECORDS_PER_BLOCK)];
            end = std::min(
                {end, x.base + x.records, x.base + (at / RECORDS_PER_BLOCK + 1) * RECORDS_PER_BLOCK});
        } else {
            end = std::min(end, x.base + RECORDS_PER_ENTRY);
        }
    }
    if (run != nullptr) *run = std::max(1, end - record);
    return block;
}

void makePlan(Session& s, const Undelete& undelete, Plan* plan) { Planner(s, undelete, *plan).run(); }

}  // namespace z18::fsck
