// Data no file holds: runs of blocks that are not empty and that no entry salvage reads names,
// and the records past the last one a file holds in its last block. Each becomes a file of
// lost+found.
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

// The records of `block` from `from` on, which lie past every record count that reaches it.
File lostTail(int block, int from) {
    File f = lostRun(block, block);
    const std::string records = std::to_string(from) + "-" + std::to_string(RECORDS_PER_BLOCK - 1);
    f.hostBase += texts::LOST_RECORDS + records;
    f.imageName += texts::LOST_RECORDS_SHOWN + records;
    f.first = from;
    return f;
}

}  // namespace

// Blocks named by no entry, or by one whose claim the check refused, count; so do those of an
// erased file that cannot come back. Of a block that files do name, the records past the last
// one any of them holds count too: CP/M leaves there what the block held before, and no file
// reads it.
void findLostData(Context& c) {
    std::vector<int> held(BLOCK_COUNT, 0), heldBy(BLOCK_COUNT, -1);  // records from the block's first
    const auto take = [&](int i) {
        const Entry& e = c.entries[i];
        for (int slot = 0; slot < e.countedSlots(); ++slot) {
            const int b = e.stored[slot];
            const int records = e.recordsIn(slot);
            if (b <= 0 || b >= BLOCK_COUNT || e.foreign[slot] || records <= held[b]) continue;
            held[b] = records;
            heldBy[b] = i;
        }
    };
    for (int i = 0; i < DIRECTORY_ENTRIES; ++i)
        if (c.entries[i].used) take(i);
    for (const ErasedFile& f : c.erased)
        if (f.lost.empty())
            for (int i : f.entries) take(i);
    std::vector<bool> lost(BLOCK_COUNT, false);
    for (int b = 1; b < BLOCK_COUNT; ++b) {
        if (held[b] != 0) continue;
        lost[b] = !emptyBlock(c.plan.disk, b);
        if (!lost[b] && !c.plan.disk.readable(blockOffset(static_cast<unsigned>(b)), BLOCK_SIZE))
            c.plan.freeUnread.push_back(b);
    }
    std::vector<int> blocks;
    for (int b = 1; b < BLOCK_COUNT;) {
        if (!lost[b]) {
            ++b;
            continue;
        }
        int last = b;
        while (last + 1 < BLOCK_COUNT && lost[last + 1]) ++last;
        c.lost.push_back(lostRun(b, last));
        for (; b <= last; ++b) blocks.push_back(b);
    }
    if (!blocks.empty()) {
        const std::size_t at =
            c.problem(Code::LOST_DATA, -1, blocks.front(), {{Part::BLOCKS, ranges(blocks)}});
        c.plan.problems[at].high = blocks.back();
    }
    for (int b = 1; b < BLOCK_COUNT; ++b) {
        const std::uint64_t from =
            blockOffset(static_cast<unsigned>(b)) + static_cast<std::uint64_t>(held[b]) * RECORD_SIZE;
        if (held[b] == 0 || held[b] == RECORDS_PER_BLOCK ||
            emptyBytes(c.plan.disk, from,
                       static_cast<std::size_t>(RECORDS_PER_BLOCK - held[b]) * RECORD_SIZE))
            continue;
        c.lost.push_back(lostTail(b, held[b]));
        const std::size_t at =
            c.problem(Code::PAST_COUNT_DATA, heldBy[b], held[b], {{Part::BLOCKS, std::to_string(b)}});
        c.plan.problems[at].high = RECORDS_PER_BLOCK - 1;
    }
}

}  // namespace z18::fsck
