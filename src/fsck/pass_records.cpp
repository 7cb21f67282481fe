// Record counts against the blocks an entry keeps, and records that could not be read.
#include <algorithm>

#include "fsck/passes.h"

namespace z18::fsck {

namespace {

// An entry whose last counted record lies in no block gets the count its blocks hold.
void fitCounts(Context& c) {
    for (const Group& g : c.groups)
        for (int i : g.entries) {
            Entry& e = c.entries[i];
            e.kept = e.records;
            if (e.records == 0 || e.blocks[e.countedSlots() - 1] != 0) continue;
            e.kept = e.held(e.blocks);
            if (e.stored[e.countedSlots() - 1] != 0) {
                c.problem(Code::COUNT_AFTER_CHANGES, i, -1, {{Part::COUNT, std::to_string(e.kept)}});
                continue;
            }
            const long long named =
                std::count_if(e.stored.begin(), e.stored.end(), [](int b) { return b != 0; });
            c.problem(Code::COUNT_PAST_BLOCKS, i, e.records,
                      {{Part::NEED, std::to_string(e.countedSlots())},
                       {Part::NAMED, std::to_string(named)},
                       {Part::COUNT, std::to_string(e.kept)}});
        }
}

// Each run of records that cannot be read (whole or in part) is one problem, named by the records
// of the file and the blocks that hold them.
void checkReadable(Context& c) {
    for (const Group& g : c.groups)
        for (int i : g.entries) {
            const Entry& e = c.entries[i];
            int first = -1;
            std::vector<int> blocks;
            for (int r = 0; r <= e.records; ++r) {
                const int b = r < e.records ? e.stored[static_cast<std::size_t>(r / RECORDS_PER_BLOCK)] : 0;
                const bool bad = b > 0 && b < BLOCK_COUNT && !recordRead(c.plan.disk, b, r);
                if (bad) {
                    if (first < 0) first = r;
                    if (blocks.empty() || blocks.back() != b) blocks.push_back(b);
                    continue;
                }
                if (first < 0) continue;
                std::sort(blocks.begin(), blocks.end());
                const std::size_t at =
                    c.problem(Code::UNREADABLE, i, e.base() + first,
                              {{Part::BLOCKS, (blocks.size() > 1 ? "blocks " : "block ") + ranges(blocks)}});
                c.plan.problems[at].high = e.base() + r - 1;
                first = -1;
                blocks.clear();
            }
        }
}

}  // namespace

void fitRecords(Context& c) {
    fitCounts(c);
    checkReadable(c);
}

}  // namespace z18::fsck
