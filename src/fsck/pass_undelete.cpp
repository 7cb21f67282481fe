// Erased files: what each left in the directory, whether it can come back, and which ones the
// repaired image brings back.
#include <algorithm>
#include <cstring>
#include <map>

#include "fsck/passes.h"
#include "fsck/texts.h"

namespace z18::fsck {

namespace {

// CP/M's ERA writes 0xE5 into the user byte and nothing else, so an erased entry keeps the name,
// the counts and the blocks of its file (none, for an empty one); an entry never used holds 0xE5
// all through.
bool erasedRemains(const std::uint8_t* raw) {
    if (raw[entry::USER] != FILLER_BYTE ||
        std::all_of(raw, raw + ENTRY_SIZE, [](std::uint8_t b) { return b == FILLER_BYTE; }))
        return false;
    std::uint8_t copy[ENTRY_SIZE];
    std::memcpy(copy, raw, ENTRY_SIZE);
    copy[entry::USER] = 0;
    if (!plausibleEntry(copy) || (raw[entry::EXTENT] & ~EXTENT_MASK) != 0 || raw[entry::S2] > MAX_MODULE ||
        raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT)
        return false;
    return std::none_of(raw + entry::BLOCKS, raw + ENTRY_SIZE,
                        [](std::uint8_t b) { return b >= BLOCK_COUNT; });
}

// The live file whose missing extents the erased entries of f are, or -1: the one file of their
// name that has none of them and an extent past them. They are what a damaged user byte, or an
// erase of part of the file, took from it; CP/M's reading stops at such a gap, so all that lies
// past it is out of reach until they are back.
int fileMissing(const Context& c, const ErasedFile& f) {
    const Entry& last = c.entries[f.entries.back()];
    if (last.base() + last.held(last.stored) <= c.entries[f.entries[0]].base()) return -1;
    int found = -1;
    for (std::size_t g = 0; g < c.groups.size(); ++g) {
        const std::vector<int>& live = c.groups[g].entries;
        if (c.entries[live[0]].renumber || maskedName(c.entries[live[0]].raw) != maskedName(last.raw))
            continue;
        const bool gap = std::none_of(live.begin(), live.end(), [&](int i) {
            return std::any_of(f.entries.begin(), f.entries.end(),
                               [&](int k) { return c.entries[k].extentPair == c.entries[i].extentPair; });
        });
        if (!gap || c.entries[live.back()].extentPair < last.extentPair) continue;
        if (found >= 0) return -1;  // two files it may be part of: no telling which
        found = static_cast<int>(g);
    }
    return found;
}

// Erased files, entry by entry as their names and extents fit together. One comes back only whole
// and as it was: every extent from the first, every block its own and named by no live file or
// other erased one. A block that a later file took has other data now.
void find(Context& c) {
    std::map<std::string, std::vector<std::size_t>> byName;
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        const std::uint8_t* raw = c.directory + static_cast<std::size_t>(i) * ENTRY_SIZE;
        if (!erasedRemains(raw)) continue;
        Entry& e = c.entries[i];
        e.raw = raw;
        e.erased = true;
        e.records = entryRecords(raw);
        e.extentPair = extentPairOf(raw);
        e.reportName = storedName(raw);
        for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
            e.stored[slot] = raw[entry::BLOCKS + slot];
            if (e.stored[slot] != 0) c.namedByErased.insert(e.stored[slot]);
        }
        e.blocks = e.stored;
        // A second entry for an extent the erased file has already belongs to another one.
        std::vector<std::size_t>& files = byName[maskedName(raw)];
        std::size_t at = c.erased.size();
        for (std::size_t f : files)
            if (std::none_of(c.erased[f].entries.begin(), c.erased[f].entries.end(),
                             [&](int k) { return c.entries[k].extentPair == e.extentPair; })) {
                at = f;
                break;
            }
        if (at == c.erased.size()) {
            c.erased.emplace_back();
            files.push_back(at);
        }
        c.erased[at].entries.push_back(i);
    }

    std::map<int, int> liveOwner, erasedNames;
    for (int i = DIRECTORY_ENTRIES - 1; i >= 0; --i)
        if (c.entries[i].used)
            for (int b : c.entries[i].stored)
                if (b > 0 && b < BLOCK_COUNT) liveOwner[b] = i;
    for (const ErasedFile& f : c.erased)
        for (int i : f.entries)
            for (int b : c.entries[i].stored)
                if (b != 0) ++erasedNames[b];
    for (ErasedFile& f : c.erased) {
        std::stable_sort(f.entries.begin(), f.entries.end(),
                         [&](int a, int b) { return c.entries[a].extentPair < c.entries[b].extentPair; });
        f.into = fileMissing(c, f);
        if (f.into < 0 && c.entries[f.entries[0]].extentPair != 0) f.lost = texts::ERASED_NO_START;
        for (int i : f.entries) {
            const Entry& e = c.entries[i];
            const int slots = e.countedSlots();
            const bool fits =
                (e.records == 0 || e.stored[slots - 1] != 0) &&
                std::all_of(e.stored.begin() + slots, e.stored.end(), [](int b) { return b == 0; });
            if (!fits && f.lost.empty()) f.lost = texts::ERASED_UNFIT;
            for (int b : e.stored) {
                if (b == 0 || !f.lost.empty()) continue;
                const auto owner = liveOwner.find(b);
                if (owner != liveOwner.end())
                    f.lost = texts::ERASED_TAKEN_1 + std::to_string(b) + texts::ERASED_TAKEN_2 +
                             std::to_string(owner->second) + " '" + c.entries[owner->second].reportName + "'";
                else if (erasedNames[b] > 1)
                    f.lost = texts::ERASED_SHARED_1 + std::to_string(b) + texts::ERASED_SHARED_2;
            }
        }
    }
}

// The repair brings back the erased files asked for, each under the name it had, made valid
// where z18man refuses it, and with "~1", "~2"... where a file of user area 0 has it; the missing
// extents of a live file go back into it.
void bringBack(Context& c) {
    std::set<std::string> taken;
    for (const Group& g : c.groups)
        if (g.area == 0) taken.insert(g.name);
    for (ErasedFile& f : c.erased) {
        const Entry& first = c.entries[f.entries[0]];
        if (!f.lost.empty() || !c.undelete.wanted) continue;
        bool match = true;
        for (std::size_t k = 0; k < NAME_TYPE_SIZE && !c.undelete.all; ++k)
            match = match &&
                    (c.undelete.mask.chars[k] == '?' ||
                     c.undelete.mask.chars[k] == static_cast<char>(first.raw[entry::NAME + k] & NO_BIT_7));
        if (!match) continue;
        f.restore = true;
        f.name = f.into >= 0 ? c.groups[static_cast<std::size_t>(f.into)].name
                             : freeName(cleanField(first.raw + entry::NAME, NAME_SIZE),
                                        cleanField(first.raw + entry::TYPE, TYPE_SIZE), &taken);
        ++c.plan.restored;
    }
}

}  // namespace

void findErased(Context& c) {
    find(c);
    bringBack(c);
}

}  // namespace z18::fsck
