// Blocks that more than one entry claims, and the blocks of zeros that take the place of those an
// entry loses.
#include <algorithm>
#include <map>

#include "fsck/passes.h"

namespace z18::fsck {

namespace {

// For each (entry, slot) whose block another entry keeps: that entry.
using LostTo = std::map<std::pair<int, int>, int>;

// A block that several entries hold within their records belongs to one of them. CP/M hands out
// blocks in ascending order, so the entry in which it continues a run of blocks is the likeliest
// owner; then a sound entry before a damaged one, then the first in the directory. The others
// lose it: none gets a copy of data that is not its own.
LostTo assign(Context& c) {
    LostTo lostTo;
    std::vector<std::vector<std::pair<int, int>>> claims(BLOCK_COUNT);
    for (const Group& g : c.groups)
        for (int i : g.entries)
            for (int slot = 0; slot < c.entries[i].countedSlots(); ++slot) {
                const int b = c.entries[i].stored[slot];
                if (b > 0 && b < BLOCK_COUNT) claims[b].emplace_back(i, slot);
            }
    for (int b = 1; b < BLOCK_COUNT; ++b) {
        auto& list = claims[b];
        if (list.size() < 2) continue;
        const auto neighbours = [&](const std::pair<int, int>& claim) {
            const auto& stored = c.entries[claim.first].stored;
            return (claim.second > 0 && stored[claim.second - 1] == b - 1) +
                   (claim.second + 1 < BLOCKS_PER_ENTRY && stored[claim.second + 1] == b + 1);
        };
        std::stable_sort(list.begin(), list.end(), [&](const auto& x, const auto& y) {
            if (neighbours(x) != neighbours(y)) return neighbours(x) > neighbours(y);
            if (c.entries[x.first].sound != c.entries[y.first].sound) return c.entries[x.first].sound;
            return x < y;
        });
        const int owner = list[0].first;
        for (std::size_t k = 1; k < list.size(); ++k) {
            const int i = list[k].first;
            c.entries[i].lost[list[k].second] = true;
            lostTo[{i, list[k].second}] = owner;
        }
    }
    return lostTo;
}

// A lost block keeps its place in the file: a free block filled with zeros takes it, so that no
// record after it moves and CP/M reads on past it; only where no block is free is it left a hole.
// Empty blocks are taken first, and only then blocks that hold data no entry names.
void settle(Context& c, const LostTo& lostTo) {
    std::vector<int> spare;
    for (int pass = 0; pass < 2; ++pass)
        for (int b = 1; b < BLOCK_COUNT; ++b)
            if (c.namedAnywhere.count(b) == 0 && c.namedByErased.count(b) == 0 &&
                emptyBlock(c.plan.disk, b) == (pass == 0))
                spare.push_back(b);
    std::size_t next = 0;
    for (const Group& g : c.groups)
        for (int i : g.entries) {
            Entry& e = c.entries[i];
            for (int slot = 0; slot < e.countedSlots(); ++slot) {
                if (!e.lost[slot]) continue;
                const int b = e.stored[slot];
                const auto owner = lostTo.find({i, slot});
                Problem claim;
                claim.low = claim.high = b;
                if (owner == lostTo.end()) {
                    claim.code = Code::BLOCK_PAST_DISK_ZEROS;
                } else if (owner->second == i) {
                    claim.code = Code::BLOCK_TWICE;
                } else {
                    claim.code = Code::BLOCK_SHARED;
                    claim.parts = {{Part::OTHER, std::to_string(owner->second)},
                                   {Part::OTHER_NAME, c.entries[owner->second].reportName}};
                }
                if (next < spare.size()) {
                    e.blocks[slot] = spare[next++];
                    c.plan.zeroBlocks.push_back(e.blocks[slot]);
                    claim.parts.emplace_back(Part::ZEROS, std::to_string(e.blocks[slot]));
                    c.problem(claim.code, i, b, claim.parts);
                } else {
                    e.blocks[slot] = 0;
                    c.plan.problems[c.problem(Code::BLOCK_LOST_HOLE, i)].claim = {claim};
                }
            }
        }
}

}  // namespace

void settleBlocks(Context& c) { settle(c, assign(c)); }

}  // namespace z18::fsck
