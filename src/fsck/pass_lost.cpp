// Data no file holds: runs of blocks that are not empty and that no entry salvage reads names.
// Each run becomes a file of lost+found.
#include <algorithm>

#include "fsck/passes.h"
#include "fsck/texts.h"

namespace z18::fsck {

namespace {

// A block number in three digits, so that the files of lost+found list in block order.
std::string padded(int n) {
    const std::string digits = std::to_string(n);
    return std::string(3 - std::min<std::size_t>(3, digits.size()), '0') + digits;
}

File lostRun(int first, int last) {
    File f;
    f.kind = FileKind::LOST;
    f.hostBase = last > first ? texts::LOST_RUN + padded(first) + "-" + padded(last)
                              : texts::LOST_BLOCK + padded(first);
    f.imageName = last > first ? texts::LOST_RUN_SHOWN + std::to_string(first) + "-" + std::to_string(last)
                               : texts::LOST_BLOCK_SHOWN + std::to_string(first);
    for (int from = first; from <= last; from += BLOCKS_PER_ENTRY) {
        Extent x;
        x.base = (from - first) * RECORDS_PER_BLOCK;
        for (int k = 0; k < BLOCKS_PER_ENTRY && from + k <= last; ++k) {
            x.blocks[static_cast<std::size_t>(k)] = from + k;
            x.records += RECORDS_PER_BLOCK;
        }
        f.extents.push_back(x);
    }
    f.length = (last - first + 1) * RECORDS_PER_BLOCK;
    return f;
}

}  // namespace

// Blocks named by no entry, or by one whose claim the check refused, count; so do those of an
// erased file that cannot come back.
void findLostData(Context& c) {
    std::set<int> read;
    const auto take = [&](int i) {
        const Entry& e = c.entries[i];
        for (int slot = 0; slot < e.countedSlots(); ++slot)
            if (e.stored[slot] > 0 && e.stored[slot] < BLOCK_COUNT) read.insert(e.stored[slot]);
    };
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (c.entries[i].used) take(i);
    for (const ErasedFile& f : c.erased)
        if (f.lost.empty())
            for (int i : f.entries) take(i);
    std::vector<int> blocks;
    for (int b = 1; b < BLOCK_COUNT;) {
        if (read.count(b) != 0 || emptyBlock(c.plan.disk, b)) {
            ++b;
            continue;
        }
        int last = b;
        while (last + 1 < BLOCK_COUNT && read.count(last + 1) == 0 && !emptyBlock(c.plan.disk, last + 1))
            ++last;
        c.lost.push_back(lostRun(b, last));
        for (; b <= last; ++b) blocks.push_back(b);
    }
    if (blocks.empty()) return;
    const std::size_t at = c.problem(Code::LOST_DATA, -1, blocks.front(), {{Part::BLOCKS, ranges(blocks)}});
    c.plan.problems[at].high = blocks.back();
}

}  // namespace z18::fsck
