#include "fsck/plan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "fsck/texts.h"
#include "image/cpm_name.h"

namespace z18::fsck {

namespace {

// Two 16 KiB logical extents fit in one entry of sixteen 2 KiB blocks: the low bit of the extent
// byte tells which of the two the record count belongs to.
constexpr int EXTENTS_PER_ENTRY = BLOCKS_PER_ENTRY * RECORDS_PER_BLOCK / RECORDS_PER_EXTENT;
constexpr int EXTENT_MASK = 0x1F;  // the extent byte's number; s2 counts in steps of 32
constexpr int USER_AREAS = 16;
constexpr int MAX_USER_BYTE = 31;
constexpr int NAME_BYTES = static_cast<int>(KEY_SIZE - 1);  // the key less its user byte
constexpr int NAME_WIDTH = static_cast<int>(entry::TYPE - entry::NAME);
constexpr int TYPE_WIDTH = static_cast<int>(entry::EXTENT - entry::TYPE);
constexpr std::uint8_t ATTRIBUTE_BIT = 0x80;
constexpr char HOST_UNSAFE_IN_NAMES[] = "<>.,;:=[]%|()/\\?*";
constexpr int DIRECTORY_SECTORS = static_cast<int>(DIRECTORY_SIZE / SECTOR_SIZE);
constexpr int ENTRIES_PER_SECTOR = static_cast<int>(SECTOR_SIZE / ENTRY_SIZE);

std::string number(long long n) { return std::to_string(n); }
std::string hexByte(int b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(b >> 4) & 0xF] + digits[b & 0xF];
}

// Records one entry accounts for: the full first logical extent when the low extent bit is set,
// plus its record count (never more than a whole extent).
int entryRecords(const std::uint8_t* e) {
    return (e[entry::EXTENT] & 1) * RECORDS_PER_EXTENT +
           std::min<int>(e[entry::RECORD_COUNT], RECORDS_PER_EXTENT);
}
int entryNumber(const std::uint8_t* e) {
    return (e[entry::S2] * (EXTENT_MASK + 1) + (e[entry::EXTENT] & EXTENT_MASK)) / EXTENTS_PER_ENTRY;
}
int blocksFor(int records) { return (records + RECORDS_PER_BLOCK - 1) / RECORDS_PER_BLOCK; }

// The record count an entry keeps with `blocks` blocks: no more than they hold, and enough to
// reach into the last of them, so that no kept block lies past the end of the file.
int fittedRecords(int records, int blocks) {
    if (blocks == 0) return 0;
    if (records > blocks * RECORDS_PER_BLOCK || records <= (blocks - 1) * RECORDS_PER_BLOCK)
        return blocks * RECORDS_PER_BLOCK;
    return records;
}

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

struct Entry {
    bool used = false;
    const std::uint8_t* raw = nullptr;
    std::string display;
    int area = 0;
    bool dropped = false;
    bool sound = true;
    bool nameValid = true;
    std::vector<int> named;  // the non-empty block slots, in order
    std::vector<int> valid;  // those inside the image; then the blocks the repair gives it
    std::vector<int> place;  // where in `named` each of `valid` stands: the records it holds
    int records = 0;
    int number = 0;
};

struct Group {
    int area = 0;
    std::vector<int> entries;  // in extent order
    bool renumber = false;
    bool rewriteKey = false;
    bool rename = false;
    int clashWith = -1;     // entry of the file whose name it would repeat
    int splitProblem = -1;  // problem that waits for the name of a split-off extent
    std::string name;       // as the repaired image names it
};

class Planner {
public:
    Planner(Session& s, Plan& plan) : s_(s), plan_(plan) {}

    void run() {
        checkSize();
        readDirectory();
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
            if (entries_[i].used) checkEntry(i);
        groupFiles();
        nameFiles();
        assignBlocks();
        writeDirectory();
        listFiles();
        std::stable_sort(plan_.problems.begin(), plan_.problems.end(),
                         [](const Problem& a, const Problem& b) { return a.index < b.index; });
    }

private:
    std::size_t problem(int index, const std::string& what, const std::string& fix) {
        Problem p;
        p.index = index;
        if (index >= 0 && entries_[index].used) {
            p.user = entries_[index].raw[entry::USER];
            p.name = entries_[index].display;
        }
        p.what = what;
        p.fix = fix;
        plan_.problems.push_back(p);
        return plan_.problems.size() - 1;
    }

    void checkSize() {
        const std::uint64_t size = plan_.disk.fileSize;
        if (size == IMAGE_SIZE) return;
        problem(-1, texts::BAD_SIZE_1 + number(static_cast<long long>(size)) + texts::BAD_SIZE_2,
                size < IMAGE_SIZE ? texts::BAD_SIZE_SHORT : texts::BAD_SIZE_LONG);
    }

    void readDirectory() {
        std::memcpy(s_.directory, plan_.disk.bytes.data() + DIRECTORY_OFFSET, DIRECTORY_SIZE);
        for (int sector = 0; sector < DIRECTORY_SECTORS; ++sector) {
            if (plan_.disk.readable(DIRECTORY_OFFSET + sector * SECTOR_SIZE, SECTOR_SIZE)) continue;
            std::memset(s_.directory + sector * SECTOR_SIZE, FILLER_BYTE, SECTOR_SIZE);
            problem(sector * ENTRIES_PER_SECTOR, texts::DIR_SECTOR_1 + number(sector) + texts::DIR_SECTOR_2,
                    texts::DIR_SECTOR_FIX);
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
        }
    }

    void checkEntry(int i) {
        Entry& e = entries_[i];
        const std::uint8_t* raw = e.raw;
        e.records = entryRecords(raw);
        e.number = entryNumber(raw);

        bool gap = false;
        for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
            const int b = raw[entry::BLOCKS + slot];
            if (b == 0) {
                gap = true;
                continue;
            }
            if (gap) {
                problem(i, texts::GAP_1 + number(b), texts::GAP_FIX);
                e.sound = false;
                gap = false;
            }
            e.named.push_back(b);
            if (b >= BLOCK_COUNT) {
                problem(i, texts::BAD_BLOCK_1 + number(b) + texts::BAD_BLOCK_2, texts::BLOCK_DROPPED);
                e.sound = false;
            } else {
                e.valid.push_back(b);
                e.place.push_back(static_cast<int>(e.named.size()) - 1);
                namedAnywhere_.insert(b);
                if (!plan_.disk.blockReadable(b))
                    problem(i, texts::UNREADABLE_1 + number(b) + texts::UNREADABLE_2, texts::UNREADABLE_FIX);
            }
        }

        CpmName converted;
        std::string stored = maskedName(raw);
        upperCase(stored);
        e.nameValid = makeCpmName(s_, &converted, e.display) == 1 &&
                      std::memcmp(converted.chars, stored.data(), NAME_BYTES) == 0 &&
                      std::strchr(e.display.c_str(), '?') == nullptr;
        for (int k = 0; k < NAME_BYTES && e.nameValid; ++k)
            e.nameValid = (raw[entry::NAME + k] & 0x7F) == static_cast<std::uint8_t>(stored[k]);
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
            e.dropped = e.valid.empty() || (user > MAX_USER_BYTE && !e.nameValid);
            problem(i, texts::BAD_USER_1 + number(user) + texts::BAD_USER_2,
                    e.valid.empty() ? std::string(texts::DROPPED)
                    : e.dropped     ? std::string(texts::NOT_A_FILE)
                                    : texts::MOVED_TO_AREA + number(e.area));
            if (e.dropped) return;
        }
        // An entry with neither a name nor a block (a zeroed or wiped one) holds nothing to keep.
        bool printable = false;
        for (int k = 0; k < NAME_BYTES; ++k) {
            const int c = raw[entry::NAME + k] & 0x7F;
            printable = printable || (c > ' ' && c < 0x7F);
        }
        if (!printable && e.valid.empty()) {
            e.dropped = true;
            problem(i, texts::NO_NAME, texts::DROPPED);
            return;
        }

        if (raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT) {
            problem(i, texts::BIG_RC_1 + number(raw[entry::RECORD_COUNT]) + texts::BIG_RC_2,
                    texts::BIG_RC_FIX);
            e.sound = false;
        }
        if (raw[entry::EXTENT] & ~EXTENT_MASK) {
            problem(i, texts::EXTENT_BITS_1 + hexByte(raw[entry::EXTENT]) + texts::EXTENT_BITS_2,
                    texts::RENUMBERED);
            e.sound = false;
        }
        if (raw[entry::S1] > RECORD_SIZE) {
            problem(i, texts::LAST_BYTES_1 + number(raw[entry::S1]) + texts::LAST_BYTES_2,
                    texts::LAST_BYTES_FIX);
            e.sound = false;
        }
        if (blocksFor(e.records) != static_cast<int>(e.valid.size())) e.sound = false;
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
            // A second entry for one extent becomes a file of its own: both are kept.
            std::vector<int> kept;
            for (int i : list) {
                if (!kept.empty() && entries_[kept.back()].number == entries_[i].number) {
                    Group split;
                    split.area = groups_[g].area;
                    split.entries.push_back(i);
                    split.renumber = true;
                    split.rename = true;
                    split.splitProblem =
                        static_cast<int>(problem(i,
                                                 texts::DUP_EXTENT_1 + number(entries_[i].number) +
                                                     texts::DUP_EXTENT_2 + number(kept.back()),
                                                 std::string()));
                    entries_[i].sound = false;
                    groups_.push_back(split);
                    continue;
                }
                kept.push_back(i);
            }
            groups_[g].entries = kept;
        }

        for (Group& g : groups_) {
            for (std::size_t k = 0; k < g.entries.size(); ++k) {
                const Entry& e = entries_[g.entries[k]];
                if (e.raw[entry::EXTENT] & ~EXTENT_MASK) g.renumber = true;
                if (e.number != static_cast<int>(k) && g.splitProblem < 0 && !g.renumber) {
                    const int missing = k == 0 ? 0 : entries_[g.entries[k - 1]].number + 1;
                    problem(g.entries[k], texts::MISSING_EXTENT_1 + number(missing) + texts::MISSING_EXTENT_2,
                            texts::RENUMBERED);
                    g.renumber = true;
                }
                if (std::memcmp(e.raw, entries_[g.entries[0]].raw, KEY_SIZE) != 0 && !g.rewriteKey) {
                    problem(g.entries[k], texts::MIXED_KEYS, texts::MIXED_KEYS_FIX);
                    g.rewriteKey = true;
                }
                if (!e.nameValid) g.rename = true;
                if (e.area != e.raw[entry::USER]) g.rewriteKey = true;
            }
            if (g.renumber)
                for (int i : g.entries) entries_[i].sound = false;
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
            std::string base = cleanField(first.raw + entry::NAME, NAME_WIDTH);
            const std::string type = cleanField(first.raw + entry::TYPE, TYPE_WIDTH);
            if (base.empty()) base = "FILE";
            std::string candidate = joinName(base, type);
            for (int n = 1; anywhere.count(candidate) != 0 || !makeCpmName(s_, nullptr, candidate); ++n) {
                const std::string suffix = "~" + number(n);
                candidate = joinName(base.substr(0, NAME_WIDTH - suffix.size()) + suffix, type);
            }
            anywhere.insert(candidate);
            g.name = candidate;
            g.rewriteKey = true;
            const int at = g.entries[0];
            if (g.splitProblem >= 0) {
                plan_.problems[static_cast<std::size_t>(g.splitProblem)].fix =
                    texts::DUP_EXTENT_FIX + candidate;
            } else if (g.clashWith >= 0) {
                problem(at,
                        texts::NAME_CLASH_1 + number(g.area) + texts::NAME_CLASH_2 + number(g.clashWith) +
                            texts::NAME_CLASH_3,
                        texts::RENAMED + candidate);
            } else {
                problem(at, texts::BAD_NAME, texts::RENAMED + candidate);
            }
        }
    }

    // A block named more than once stays with the first sound entry that names it (or the first
    // entry of all, where none is sound); every other one gets a copy while free blocks last.
    void assignBlocks() {
        std::vector<int> order;
        for (const Group& g : groups_) order.insert(order.end(), g.entries.begin(), g.entries.end());
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            if (entries_[a].sound != entries_[b].sound) return entries_[a].sound;
            return a < b;
        });

        plan_.usedBlocks = static_cast<int>(namedAnywhere_.size());
        int nextFree = 1;
        std::vector<int> owner(BLOCK_COUNT, -1);
        for (int i : order) {
            Entry& e = entries_[i];
            std::vector<int> given, places;
            for (std::size_t k = 0; k < e.valid.size(); ++k) {
                const int b = e.valid[k];
                if (owner[b] < 0) {
                    owner[b] = i;
                    given.push_back(b);
                    places.push_back(e.place[k]);
                    continue;
                }
                const std::string what = owner[b] == i
                                             ? texts::SHARED_1 + number(b) + texts::SHARED_TWICE
                                             : texts::SHARED_1 + number(b) + texts::SHARED_2 +
                                                   number(owner[b]) + " '" + entries_[owner[b]].display + "'";
                while (nextFree < BLOCK_COUNT && namedAnywhere_.count(nextFree) != 0) ++nextFree;
                if (nextFree < BLOCK_COUNT) {
                    problem(i, what, texts::SHARED_COPY + number(nextFree));
                    plan_.copies.emplace_back(b, nextFree);
                    owner[nextFree] = i;
                    given.push_back(nextFree);
                    places.push_back(e.place[k]);
                    ++nextFree;
                } else {
                    problem(i, what, texts::SHARED_NO_ROOM);
                }
            }
            e.valid = given;
            e.place = places;
        }
    }

    void writeDirectory() {
        std::memcpy(plan_.directory, s_.directory, DIRECTORY_SIZE);
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
            if (entries_[i].dropped) std::memset(plan_.directory + i * ENTRY_SIZE, FILLER_BYTE, ENTRY_SIZE);

        for (const Group& g : groups_) {
            const std::uint8_t* first = entries_[g.entries[0]].raw;
            std::uint8_t key[KEY_SIZE];
            std::memcpy(key, first, KEY_SIZE);
            key[entry::USER] = static_cast<std::uint8_t>(g.area);
            if (g.rename) {
                const std::size_t dot = g.name.find('.');
                const std::string name = g.name.substr(0, dot);
                const std::string type = dot == std::string::npos ? std::string() : g.name.substr(dot + 1);
                for (int k = 0; k < NAME_WIDTH; ++k)
                    key[entry::NAME + k] =
                        static_cast<std::uint8_t>(k < static_cast<int>(name.size()) ? name[k] : ' ');
                for (int k = 0; k < TYPE_WIDTH; ++k)
                    key[entry::TYPE + k] =
                        static_cast<std::uint8_t>((k < static_cast<int>(type.size()) ? type[k] : ' ') |
                                                  (first[entry::TYPE + k] & ATTRIBUTE_BIT));
            }
            for (std::size_t k = 0; k < g.entries.size(); ++k) {
                const int i = g.entries[k];
                const Entry& e = entries_[i];
                std::uint8_t* out = plan_.directory + i * ENTRY_SIZE;
                if (g.rewriteKey) std::memcpy(out, key, KEY_SIZE);

                const int slots = static_cast<int>(e.valid.size());
                for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot)
                    out[entry::BLOCKS + slot] = static_cast<std::uint8_t>(slot < slots ? e.valid[slot] : 0);

                // The records the kept blocks held where they stood; a block left out takes its own
                // records with it, not those of the blocks after it.
                int held = 0;
                for (int place : e.place)
                    held += std::max(0, std::min(RECORDS_PER_BLOCK, e.records - place * RECORDS_PER_BLOCK));
                const int records = fittedRecords(held, slots);
                const bool refit = records != e.records || e.raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT;
                if (records != e.records) {
                    const std::string fix = texts::FIT_FIX + number(records);
                    if (blocksFor(e.records) != static_cast<int>(e.named.size()))
                        problem(i,
                                number(e.records) + texts::FIT_1 + number(blocksFor(e.records)) +
                                    texts::FIT_2 + number(static_cast<long long>(e.named.size())),
                                fix);
                    else
                        problem(i, texts::FIT_AFTER, fix);
                }
                if (refit || g.renumber) {
                    const int high = records > RECORDS_PER_EXTENT ? 1 : 0;
                    const int number = g.renumber ? static_cast<int>(k) : e.number;
                    const int extent = number * EXTENTS_PER_ENTRY + high;
                    out[entry::EXTENT] = static_cast<std::uint8_t>(extent & EXTENT_MASK);
                    out[entry::S2] = static_cast<std::uint8_t>(extent / (EXTENT_MASK + 1));
                    out[entry::RECORD_COUNT] = static_cast<std::uint8_t>(records - high * RECORDS_PER_EXTENT);
                }
                if (e.raw[entry::S1] > RECORD_SIZE) out[entry::S1] = 0;
            }
        }
    }

    void listFiles() {
        for (const Group& g : groups_) {
            File f;
            f.area = g.area;
            f.imageName = entries_[g.entries[0]].display;
            f.newName = g.name;
            for (int i : g.entries) {
                const Entry& e = entries_[i];
                Part part;
                part.index = i;
                part.blocks = e.named;
                part.records = std::min(e.records, static_cast<int>(e.named.size()) * RECORDS_PER_BLOCK);
                f.parts.push_back(part);
                for (const Problem& p : plan_.problems)
                    if (p.index == i) f.troubles.push_back(p.what);
            }
            plan_.files.push_back(f);
        }
        // Entries the repair removes though they name blocks: salvage still gives their bytes.
        for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
            const Entry& e = entries_[i];
            if (!e.used || !e.dropped || e.valid.empty()) continue;
            File f;
            f.area = e.area;
            f.imageName = e.display;
            f.parts.push_back(
                Part{i, e.named, std::min(e.records, static_cast<int>(e.named.size()) * RECORDS_PER_BLOCK)});
            for (const Problem& p : plan_.problems)
                if (p.index == i) f.troubles.push_back(p.what);
            plan_.files.push_back(f);
        }
    }

    Session& s_;
    Plan& plan_;
    Entry entries_[DIRECTORY_ENTRIES];
    std::vector<Group> groups_;
    std::set<int> namedAnywhere_;
    std::map<std::string, int> areaOfName_;  // the user area of each name entries in one carry
};

}  // namespace

bool Disk::readable(std::uint64_t offset, std::size_t n) const {
    for (std::uint64_t at = offset; at < offset + n; at += SECTOR_SIZE) {
        const std::uint64_t sector = at / SECTOR_SIZE;
        if (sector >= sectorRead.size() || !sectorRead[sector]) return false;
    }
    return true;
}

bool readDisk(Session& s, int handle, Disk* disk) {
    if (!s.env.fileSize(handle, &disk->fileSize)) return false;
    // Sector by sector, so that one bad sector costs only its own bytes.
    for (int sector = 0; sector < SECTOR_COUNT; ++sector) {
        const std::uint64_t at = static_cast<std::uint64_t>(sector) * SECTOR_SIZE;
        if (at >= disk->fileSize) break;
        std::size_t done = 0;
        std::uint8_t* dest = disk->bytes.data() + at;
        const bool ok = s.env.readAt(handle, at, dest, SECTOR_SIZE, &done);
        disk->sectorRead[sector] = ok && done == SECTOR_SIZE;
        if (!disk->sectorRead[sector]) std::memset(dest, 0, SECTOR_SIZE);
    }
    return true;
}

void makePlan(Session& s, Plan* plan) { Planner(s, *plan).run(); }

}  // namespace z18::fsck
