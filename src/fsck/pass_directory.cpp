// The directory of the repaired image: the entries as they stand, with what the passes before
// settled written into them.
#include <cstring>

#include "fsck/passes.h"

namespace z18::fsck {

namespace {

// The key of every entry of a file: its user area, and the name it gets where it is renamed (the
// attribute bits of the type kept: read-only, hidden).
void writeKey(std::uint8_t* key, const std::uint8_t* first, int area, const std::string* name) {
    std::memcpy(key, first, KEY_SIZE);
    key[entry::USER] = static_cast<std::uint8_t>(area);
    if (name == nullptr) return;
    const std::size_t dot = name->find('.');
    const std::string base = name->substr(0, dot);
    const std::string type = dot == std::string::npos ? std::string() : name->substr(dot + 1);
    for (std::size_t k = 0; k < NAME_SIZE; ++k)
        key[entry::NAME + k] = static_cast<std::uint8_t>(k < base.size() ? base[k] : ' ');
    for (std::size_t k = 0; k < TYPE_SIZE; ++k)
        key[entry::TYPE + k] = static_cast<std::uint8_t>((k < type.size() ? type[k] : ' ') |
                                                         (first[entry::TYPE + k] & ATTRIBUTE_BIT));
}

}  // namespace

void writeDirectory(Context& c) {
    std::uint8_t* const directory = c.plan.directory;
    std::memcpy(directory, c.directory, DIRECTORY_SIZE);
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (c.entries[i].dropped) std::memset(directory + i * ENTRY_SIZE, FILLER_BYTE, ENTRY_SIZE);

    for (const Group& g : c.groups) {
        std::uint8_t key[KEY_SIZE];
        writeKey(key, c.entries[g.entries[0]].raw, g.area, g.rename ? &g.name : nullptr);
        for (int i : g.entries) {
            const Entry& e = c.entries[i];
            std::uint8_t* out = directory + i * ENTRY_SIZE;
            if (g.rewriteKey) std::memcpy(out, key, KEY_SIZE);
            for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot)
                out[entry::BLOCKS + slot] = static_cast<std::uint8_t>(e.blocks[slot]);
            const bool refit = e.kept != e.records || e.raw[entry::RECORD_COUNT] > RECORDS_PER_EXTENT ||
                               (e.raw[entry::EXTENT] & ~EXTENT_MASK) != 0 ||
                               (e.raw[entry::S2] & MODULE_FLAG) != 0;
            if (refit || e.renumber) {
                const int high = e.kept > RECORDS_PER_EXTENT ? 1 : 0;
                const int extent = (e.renumber ? 0 : e.extentPair) * EXTENTS_PER_ENTRY + high;
                out[entry::EXTENT] = static_cast<std::uint8_t>(extent & EXTENT_MASK);
                out[entry::S2] = static_cast<std::uint8_t>(extent / (EXTENT_MASK + 1));
                out[entry::RECORD_COUNT] = static_cast<std::uint8_t>(e.kept - high * RECORDS_PER_EXTENT);
            }
            if (e.raw[entry::S1] > RECORD_SIZE) out[entry::S1] = 0;
        }
    }
    // Erased files brought back get their new name in user area 0; extents that go back into their
    // live file take its key as the repaired image writes it (above). No entry brought back keeps
    // a last record byte count that CP/M never writes.
    for (const ErasedFile& f : c.erased) {
        if (!f.restore) continue;
        std::uint8_t key[KEY_SIZE];
        if (f.into >= 0)
            std::memcpy(key, directory + c.groups[static_cast<std::size_t>(f.into)].entries[0] * ENTRY_SIZE,
                        KEY_SIZE);
        else
            writeKey(key, c.entries[f.entries[0]].raw, 0, &f.name);
        for (int i : f.entries) {
            std::uint8_t* out = directory + i * ENTRY_SIZE;
            std::memcpy(out, key, KEY_SIZE);
            if (out[entry::S1] > RECORD_SIZE) out[entry::S1] = 0;
        }
    }
}

}  // namespace z18::fsck
