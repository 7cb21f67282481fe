// The salvage list: every file salvage writes, as the report names it, with its troubles, holes
// and damage; and what the check tells of holes and erased files.
#include <algorithm>

#include "fsck/passes.h"
#include "image/cpm_name.h"

namespace z18::fsck {

namespace {

// The name a salvaged file starts from: the stored name and type without their attribute bits,
// upper-cased as z18man shows names, trailing spaces dropped and inner ones kept.
std::string hostBaseOf(const std::uint8_t* raw) {
    const auto field = [](const std::uint8_t* bytes, std::size_t width) {
        std::string text;
        for (std::size_t k = 0; k < width; ++k) text += static_cast<char>(bytes[k] & NO_BIT_7);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        upperCase(text);
        return text;
    };
    return joinName(field(raw + entry::NAME, NAME_SIZE), field(raw + entry::TYPE, TYPE_SIZE));
}

// Salvage reads the image as it stands: every record at its place, zeros where no block holds
// it or the block is another entry's, a shared block for every file that may own it.
Extent extentOf(const Entry& e) {
    Extent x;
    x.base = e.base();
    x.records = e.records;
    for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
        x.blocks[slot] = slot >= e.countedSlots()                           ? 0
                         : e.stored[slot] >= BLOCK_COUNT || e.foreign[slot] ? OFF_DISK
                                                                            : e.stored[slot];
        x.lost[slot] = e.lost[slot];
    }
    return x;
}

File fileOf(const Context& c, int area, const std::vector<int>& list) {
    File f;
    f.area = area;
    f.imageName = c.entries[list[0]].reportName;
    f.hostBase = hostBaseOf(c.entries[list[0]].raw);
    for (int i : list) {
        const Entry& e = c.entries[i];
        f.extents.push_back(extentOf(e));
        f.length = std::max(f.length, e.base() + e.held(e.stored));
        for (const Problem& p : c.plan.problems)
            if (!p.info() && p.entry <= i && std::max(p.entry, p.lastEntry) >= i)
                f.troubles.push_back(codeText(p.code) + ' ' + whatText(p));
    }
    return f;
}

// The runs of records of a file that no block holds (holes, read as zeros) and of those whose
// bytes salvage cannot give (a block off the disk, a sector that cannot be read).
void measure(const Disk& disk, File* f) {
    for (int r = f->first; r < f->length;) {
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
            if (!recordRead(disk, b, k)) addRun(f->damaged, k, k);
        r += n;
    }
}

std::string bytesOf(const File& f) { return std::to_string(f.bytes()); }

// A sparse file is sound; the check says where its holes are. So it does of each erased file.
void noteHoles(Context& c) {
    for (const Group& g : c.groups) {
        File f = fileOf(c, g.area, g.entries);
        measure(c.plan.disk, &f);
        if (!f.holes.empty()) c.problem(Code::SPARSE, g.entries[0], -1, {{Part::HOLES, runsText(f.holes)}});
    }
    for (const ErasedFile& f : c.erased) {
        const File file = fileOf(c, 0, f.entries);
        if (!f.lost.empty()) {
            c.problem(Code::ERASED_LOST, f.entries[0], -1,
                      {{Part::BYTES, bytesOf(file)}, {Part::WHY, f.lost}});
        } else if (f.into >= 0) {
            const std::size_t at = c.problem(
                f.restore ? Code::ERASED_EXTENT_BACK : Code::ERASED_EXTENT, f.entries[0],
                c.entries[f.entries[0]].base(),
                {{Part::OTHER, std::to_string(c.groups[static_cast<std::size_t>(f.into)].entries[0])}});
            c.plan.problems[at].high = file.length - 1;
        } else if (f.restore) {
            c.problem(Code::ERASED_BACK, f.entries[0], -1,
                      {{Part::BYTES, bytesOf(file)}, {Part::NEW_NAME, f.name}});
        } else {
            c.problem(Code::ERASED, f.entries[0], -1, {{Part::BYTES, bytesOf(file)}});
        }
    }
}

}  // namespace

void listFiles(Context& c) {
    noteHoles(c);
    collapse(&c.plan.problems);
    std::vector<File>& files = c.plan.files;
    for (const Group& g : c.groups) {
        files.push_back(fileOf(c, g.area, g.entries));
        files.back().newName = g.name;
    }
    // Entries the repair removes though they name blocks: salvage still gives their bytes, each
    // as a file of its own.
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i) {
        Entry& e = c.entries[i];
        if (!e.used || !e.dropped ||
            std::none_of(e.stored.begin(), e.stored.end(), [](int b) { return b > 0 && b < BLOCK_COUNT; }))
            continue;
        e.renumber = true;
        files.push_back(fileOf(c, e.area, {i}));
    }
    for (const ErasedFile& f : c.erased) {
        if (!f.lost.empty()) continue;
        files.push_back(
            fileOf(c, f.into >= 0 ? c.groups[static_cast<std::size_t>(f.into)].area : 0, f.entries));
        files.back().kind = FileKind::ERASED;
        files.back().newName = f.restore ? f.name : std::string();
    }
    files.insert(files.end(), c.lost.begin(), c.lost.end());
    for (File& f : files) measure(c.plan.disk, &f);
    c.plan.usedBlocks = static_cast<int>(c.namedAnywhere.size());
}

}  // namespace z18::fsck
