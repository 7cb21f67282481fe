// Blocks that more than one entry claims, and the blocks that take the place of those an entry
// loses: zeros where its claim was the weaker, a copy where nothing tells the claims apart.
#include <algorithm>
#include <map>
#include <tuple>

#include "fsck/passes.h"

namespace z18::fsck {

namespace {

// What became of a claim that did not simply keep its block: the problem it is, and the other
// entry that problem names.
struct Outcome {
    Code code;
    int other;
};
// For each (entry, slot) whose claim was settled so; a slot may have several when it keeps a
// block that more than one other entry shares.
using Outcomes = std::multimap<std::pair<int, int>, Outcome>;

// Whether block b holds data that no entry names: where a run of blocks would have gone on, the
// sign that a damaged byte moved the slot off its own block.
bool unnamedData(const Context& c, int b) {
    return b > 0 && b < BLOCK_COUNT && c.namedAnywhere.count(b) == 0 && c.namedByErased.count(b) == 0 &&
           !emptyBlock(c.plan.disk, b);
}

// What the blocks around a claim say of it. CP/M hands blocks out in ascending order, so a
// neighbouring slot whose block continues the run through this one speaks for it; the block that
// would have continued the run in its place, holding data that no entry names, speaks against it.
// A break in a run alone says nothing: CP/M leaves them after erasures.
int evidence(const Context& c, int i, int slot) {
    const Entry& e = c.entries[i];
    const int b = e.stored[slot];
    const auto named = [&](int s) {
        return s >= 0 && s < e.countedSlots() && e.stored[s] > 0 && e.stored[s] < BLOCK_COUNT;
    };
    int says = 0;
    bool displaced = false;
    if (named(slot - 1)) {
        const int before = e.stored[slot - 1];
        if (before + 1 == b)
            ++says;
        else
            displaced = unnamedData(c, before + 1);
    }
    if (named(slot + 1)) {
        const int after = e.stored[slot + 1];
        if (after - 1 == b)
            ++says;
        else
            displaced = displaced || unnamedData(c, after - 1);
    }
    return says - (displaced ? 1 : 0);
}

// A block that several entries hold within their records goes by the evidence: the claim the
// blocks around it speak for most, then the claim of a sound entry before a damaged one. A claim
// that ends inside the block, before data that another claim holds, explains less of the block;
// since CP/M may leave old data there, that only takes away what the blocks around it say for
// it, so that it never loses by it alone. The others lose the block, and salvage gives them
// zeros there, since the data is not theirs. Where nothing tells the best claims apart, each
// keeps the data, and each is told: salvage writes it for both, and the repair, whose directory
// may name a block only once, gives the others a copy of their records in it. Two slots of one
// entry never share: one of them is surely wrong, and the later one loses.
Outcomes assign(Context& c) {
    Outcomes outcomes;
    std::vector<std::vector<std::pair<int, int>>> claims(BLOCK_COUNT);
    for (const Group& g : c.groups)
        for (int i : g.entries)
            for (int slot = 0; slot < c.entries[i].countedSlots(); ++slot) {
                const int b = c.entries[i].stored[slot];
                if (b > 0 && b < BLOCK_COUNT) claims[b].emplace_back(i, slot);
            }
    for (int b = 1; b < BLOCK_COUNT; ++b) {
        const auto& list = claims[b];
        if (list.size() < 2) continue;
        const auto records = [&](const std::pair<int, int>& claim) {
            return c.entries[claim.first].recordsIn(claim.second);
        };
        int most = 0;
        for (const auto& claim : list) most = std::max(most, records(claim));
        const auto weight = [&](const std::pair<int, int>& claim) {
            const int held = records(claim);
            const bool leavesData =
                held < most && !emptyBytes(c.plan.disk,
                                           blockOffset(static_cast<unsigned>(b)) +
                                               static_cast<std::uint64_t>(held) * RECORD_SIZE,
                                           static_cast<std::size_t>(most - held) * RECORD_SIZE);
            const int says = evidence(c, claim.first, claim.second);
            return std::make_tuple(says > 0 && leavesData ? says - 1 : says, c.entries[claim.first].sound);
        };
        // Each claim weighed once, the heaviest first.
        struct Ranked {
            std::tuple<int, bool> weight;
            std::pair<int, int> claim;
        };
        std::vector<Ranked> ranked;
        for (const auto& claim : list) ranked.push_back({weight(claim), claim});
        std::sort(ranked.begin(), ranked.end(), [](const Ranked& x, const Ranked& y) {
            return x.weight != y.weight ? x.weight > y.weight : x.claim < y.claim;
        });
        // Of claims alike, the one that reads most of the block keeps it, so that no copy holds
        // records past the count of the entry it is for.
        for (std::size_t k = 1; k < ranked.size() && ranked[k].weight == ranked[0].weight; ++k)
            if (records(ranked[k].claim) > records(ranked[0].claim)) std::swap(ranked[0], ranked[k]);
        const int owner = ranked[0].claim.first;
        for (std::size_t k = 1; k < ranked.size(); ++k) {
            const auto [i, slot] = ranked[k].claim;
            if (ranked[k].weight == ranked[0].weight && i != owner) {
                outcomes.insert({ranked[k].claim, {Code::BLOCK_SHARED_COPY, owner}});
                outcomes.insert({ranked[0].claim, {Code::BLOCK_SHARED_KEPT, i}});
                continue;
            }
            c.entries[i].lost[slot] = true;
            c.entries[i].foreign[slot] = true;
            outcomes.insert({ranked[k].claim, {i == owner ? Code::BLOCK_TWICE : Code::BLOCK_SHARED, owner}});
        }
    }
    return outcomes;
}

// A block an entry loses keeps its place in the file: a free block filled with zeros, or with a
// copy of a shared block, takes it, so that no record after it moves and CP/M reads on past it;
// only where no block is free is it left a hole. Empty blocks are taken first, and only then
// blocks that hold data no entry names.
void settle(Context& c, const Outcomes& outcomes) {
    std::vector<int> spare, holdingData;
    for (int b = 1; b < BLOCK_COUNT; ++b)
        if (c.namedAnywhere.count(b) == 0 && c.namedByErased.count(b) == 0)
            (emptyBlock(c.plan.disk, b) ? spare : holdingData).push_back(b);
    spare.insert(spare.end(), holdingData.begin(), holdingData.end());
    std::size_t next = 0;
    for (const Group& g : c.groups)
        for (int i : g.entries) {
            Entry& e = c.entries[i];
            for (int slot = 0; slot < e.countedSlots(); ++slot) {
                const int b = e.stored[slot];
                const auto found = outcomes.equal_range({i, slot});
                if (!e.lost[slot] && found.first == found.second) continue;
                Problem claim;
                claim.low = claim.high = b;
                claim.code = Code::BLOCK_PAST_DISK_ZEROS;
                for (auto o = found.first; o != found.second; ++o) {
                    claim.code = o->second.code;
                    if (claim.code != Code::BLOCK_TWICE)
                        claim.parts = {{Part::OTHER, std::to_string(o->second.other)},
                                       {Part::OTHER_NAME, c.entries[o->second.other].reportName}};
                    if (claim.code == Code::BLOCK_SHARED_KEPT) c.problem(claim.code, i, b, claim.parts);
                }
                if (claim.code == Code::BLOCK_SHARED_KEPT) continue;
                const bool copy = claim.code == Code::BLOCK_SHARED_COPY;
                if (next < spare.size()) {
                    e.blocks[slot] = spare[next++];
                    if (copy)
                        c.plan.copiedBlocks.push_back({e.blocks[slot], b, e.recordsIn(slot)});
                    else
                        c.plan.zeroBlocks.push_back(e.blocks[slot]);
                    claim.parts.emplace_back(copy ? Part::COPY : Part::ZEROS, std::to_string(e.blocks[slot]));
                    c.problem(claim.code, i, b, claim.parts);
                } else {
                    // Salvage still writes a shared block's data; the repair cannot keep it.
                    e.lost[slot] = true;
                    e.blocks[slot] = 0;
                    c.plan.problems[c.problem(Code::BLOCK_LOST_HOLE, i)].claim = {claim};
                }
            }
        }
}

}  // namespace

void settleBlocks(Context& c) { settle(c, assign(c)); }

}  // namespace z18::fsck
