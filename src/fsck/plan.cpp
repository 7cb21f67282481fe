// The planner: runs the passes over one context, and what more than one pass needs.
#include "fsck/plan.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "fsck/passes.h"
#include "host/ascii.h"
#include "image/cpm_name.h"

namespace z18::fsck {

namespace {

constexpr char HOST_UNSAFE_IN_NAMES[] = "<>.,;:=[]%|()/\\?*";

}  // namespace

std::size_t Context::problem(Code code, int index, long long n, Parts parts) {
    Problem p;
    p.code = code;
    p.entry = index;
    p.low = p.high = n;
    p.parts = std::move(parts);
    if (index >= 0 && (entries[index].used || entries[index].erased)) {
        p.user = entries[index].raw[entry::USER];
        p.name = entries[index].reportName;
    }
    plan.problems.push_back(p);
    return plan.problems.size() - 1;
}

int Entry::countedSlots() const { return (records + RECORDS_PER_BLOCK - 1) / RECORDS_PER_BLOCK; }

int Entry::held(const std::array<int, BLOCKS_PER_ENTRY>& slots) const {
    for (int slot = countedSlots() - 1; slot >= 0; --slot)
        if (slots[slot] != 0) return std::min(records, (slot + 1) * RECORDS_PER_BLOCK);
    return 0;
}

int entryRecords(const std::uint8_t* raw) {
    return std::min(RECORDS_PER_ENTRY,
                    (raw[entry::EXTENT] & 1) * RECORDS_PER_EXTENT + raw[entry::RECORD_COUNT]);
}

int extentPairOf(const std::uint8_t* raw) { return entryExtent(raw) / EXTENTS_PER_ENTRY; }

std::string maskedName(const std::uint8_t* raw) {
    std::string name;
    for (std::size_t k = 0; k < NAME_TYPE_SIZE; ++k)
        name += static_cast<char>(raw[entry::NAME + k] & NO_BIT_7);
    return name;
}

std::string cleanField(const std::uint8_t* bytes, std::size_t width) {
    std::string field;
    // A zero byte ends a name where it stands, as a space does.
    for (std::size_t i = 0; i < width; ++i)
        field += (bytes[i] & NO_BIT_7) == 0 ? ' ' : static_cast<char>(bytes[i] & NO_BIT_7);
    upperCase(field);
    while (!field.empty() && field.back() == ' ') field.pop_back();
    for (char& c : field) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == ' ' || !isPrintableAscii(u) || std::strchr(HOST_UNSAFE_IN_NAMES, c) != nullptr) c = '_';
    }
    return field;
}

std::string joinName(const std::string& name, const std::string& type) {
    return type.empty() ? name : name + "." + type;
}

std::string freeName(std::string base, const std::string& type, std::set<std::string>* taken) {
    if (base.empty()) base = "FILE";
    std::string candidate = joinName(base, type);
    for (int n = 1; taken->count(candidate) != 0 || !parseCpmName(candidate, nullptr); ++n) {
        const std::string suffix = "~" + std::to_string(n);
        candidate = joinName(base.substr(0, NAME_SIZE - suffix.size()) + suffix, type);
    }
    taken->insert(candidate);
    return candidate;
}

bool emptyBlock(const Disk& disk, int block) {
    return emptyBytes(disk, blockOffset(static_cast<unsigned>(block)), BLOCK_SIZE);
}

bool emptyBytes(const Disk& disk, std::uint64_t at, std::size_t n) {
    // Free space, all filler or all zeros and read whole, is most of a disk: compared at once.
    static const std::vector<std::uint8_t> fillers(BLOCK_SIZE, FILLER_BYTE), zeros(BLOCK_SIZE, 0);
    const std::uint8_t* bytes = disk.bytes.data() + at;
    if (n <= BLOCK_SIZE && disk.readable(at, n) &&
        (std::memcmp(bytes, fillers.data(), n) == 0 || std::memcmp(bytes, zeros.data(), n) == 0))
        return true;
    bool zero = true;
    std::size_t flipped = 0;
    for (std::size_t k = 0; k < n && (zero || flipped <= MAX_FLIPPED_FILLER); ++k) {
        if (!disk.read[at + k]) continue;
        zero = zero && bytes[k] == 0;
        if (bytes[k] != FILLER_BYTE) ++flipped;
    }
    return zero || flipped <= MAX_FLIPPED_FILLER;
}

bool recordRead(const Disk& disk, int block, int r) {
    return disk.readable(blockOffset(static_cast<unsigned>(block)) +
                             static_cast<std::size_t>(r % RECORDS_PER_BLOCK) * RECORD_SIZE,
                         RECORD_SIZE);
}

void addRun(std::vector<std::pair<int, int>>& runs, int first, int last) {
    if (!runs.empty() && runs.back().second + 1 == first)
        runs.back().second = last;
    else
        runs.emplace_back(first, last);
}

std::string ranges(const std::vector<int>& list) {
    std::vector<std::pair<int, int>> runs;
    for (int n : list) addRun(runs, n, n);
    return runsText(runs);
}

std::string hexByte(int b) {
    return std::string("0x") + hexDigit(static_cast<unsigned>(b) >> 4) + hexDigit(static_cast<unsigned>(b));
}

std::string runsText(const std::vector<std::pair<int, int>>& runs) {
    std::string out;
    for (const auto& run : runs)
        out += (out.empty() ? "" : ", ") + std::to_string(run.first) +
               (run.second > run.first ? "-" + std::to_string(run.second) : std::string());
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

void makePlan(const Undelete& undelete, Plan* plan) {
    // The context is large (every entry with its block maps), and the page's build has a small stack.
    auto context = std::make_unique<Context>(undelete, *plan);
    for (const Pass& pass : PASSES) pass.run(*context);
}

}  // namespace z18::fsck
