// How z18fsck works out its plan: a row of passes over one shared context, each in a file of its
// own and run in the order of PASSES below. A pass reads what the passes before it wrote and
// writes only what its comment names, so a change to one pass shows which later ones it reaches.
// Nothing here touches the host: the disk was read before, and the passes only decide.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fsck/plan.h"
#include "image/file_walk.h"

namespace z18::fsck {

constexpr int EXTENT_MASK = EXTENTS_PER_S2 - 1;  // the extent byte's number
constexpr int MAX_MODULE = 15;                   // s2 of the last 512 KiB of the largest file CP/M 2.2 makes
constexpr std::uint8_t MODULE_FLAG = 0x80;       // bit 7 of s2, which CP/M does not compare
constexpr int USER_AREAS = 16;
constexpr int DIRECTORY_SECTORS = static_cast<int>(DIRECTORY_SIZE / SECTOR_SIZE);
constexpr int ENTRIES_PER_SECTOR = static_cast<int>(SECTOR_SIZE / ENTRY_SIZE);
constexpr std::size_t MAX_FLIPPED_FILLER = 16;  // bytes in a stretch of filler that still leave it empty

// One directory entry as the passes see it.
struct Entry {
    const std::uint8_t* raw = nullptr;           // its 32 bytes in Context::directory
    bool used = false;                           // its user byte is no 0xE5
    bool erased = false;                         // 0xE5, but it still holds what its file had
    std::string displayName;                     // the name as z18man shows it
    std::string reportName;                      // the name as stored, as the report gives it
    int area = 0;                                // the user area it is in, or goes to in the repair
    bool dropped = false;                        // the repair removes it
    bool sound = true;                           // no damage found in it (a name only z18man refuses is none)
    bool nameValid = true;                       // z18man accepts its name
    bool onlyAttributes = false;                 // valid once the attribute bits of its name are cleared
    bool renumber = false;                       // split off as a file of its own, whose records start at 0
    int extentPair = 0;                          // which 256 records of its file it holds
    int records = 0;                             // as the entry counts them
    int kept = 0;                                // the records it keeps in the repaired image
    std::array<int, BLOCKS_PER_ENTRY> stored{};  // the block numbers as they stand
    std::array<int, BLOCKS_PER_ENTRY> blocks{};  // those of the repaired image
    std::array<bool, BLOCKS_PER_ENTRY> lost{};   // slots whose block the repair cannot keep
    std::array<bool, BLOCKS_PER_ENTRY> foreign{};  // slots whose block is another's: salvage writes zeros

    // The block slots its record count reaches.
    int countedSlots() const;
    // The records that the block of a counted slot holds.
    int recordsIn(int slot) const { return std::min(RECORDS_PER_BLOCK, records - slot * RECORDS_PER_BLOCK); }
    // Its first record in its file.
    int base() const { return (renumber ? 0 : extentPair) * RECORDS_PER_ENTRY; }
    // The records up to the last one a named block of `slots` holds.
    int held(const std::array<int, BLOCKS_PER_ENTRY>& slots) const;
};

// A file of the directory: the entries the repair keeps together under one name.
struct Group {
    int area = 0;
    std::vector<int> entries;  // in extent order
    bool rewriteKey = false;   // the repair writes the user byte and name of every entry anew
    bool rename = false;
    bool clearBits = false;  // renamed only to clear the attribute bits of the name
    int splitProblem = -1;   // problem that waits for the name of a split-off extent
    std::string name;        // as the repaired image names it
};

// The entries an erased file left, and whether the repair can bring it back.
struct ErasedFile {
    std::vector<int> entries;  // in extent order
    std::string lost;          // why it cannot come back; empty when it can
    int into = -1;             // the group of the live file whose missing extents these are
    bool restore = false;      // the repaired image brings it back
    std::string name;          // under this name, in user area 0 or into its live file
};

// What the passes share. The plan is theirs to fill; the rest is how they hand work on.
struct Context {
    Context(const Undelete& wanted, Plan& into) : undelete(wanted), plan(into) {}

    const Undelete& undelete;
    Plan& plan;  // plan.disk is read; everything else of it is written by the passes
    std::uint8_t directory[DIRECTORY_SIZE] = {};  // the disk's, with sectors that hold no entries free
    Entry entries[DIRECTORY_ENTRIES];
    std::vector<Group> groups;
    std::vector<ErasedFile> erased;
    std::set<int> namedAnywhere;  // blocks on the disk that a used entry names, in any of its slots
    std::set<int> namedByErased;  // blocks named by the entries erased files left
    std::vector<File> lost;       // the runs of blocks that hold data no file names

    // Adds a problem of entry `index` (-1 for the image), with the entry's user byte and name,
    // and returns where it stands in plan.problems.
    std::size_t problem(Code code, int index, long long n = -1, Parts parts = {});
};

// The passes, in their order. Each names what it reads and what it writes.
//
// The image and every entry on its own. Reads plan.disk. Writes directory; `raw` and `used` of
// every entry; of each used entry, what it holds (the names, `records`, `extentPair`,
// `stored`) and how it is judged on its own (`area`, `dropped`, `sound`, `nameValid`,
// `onlyAttributes`, `blocks` with the slots past its record count emptied, `lost` for blocks past
// the disk); namedAnywhere, plan.usedEntries, and the problems of the image (101-103), of directory
// sectors (201, 202) and of single entries (203, 301-303, 401, 405, 501-503, 508).
void checkEntries(Context& c);
// Entries into files: by user area and name, in extent order; a second entry for an extent and
// one past what CP/M addresses become files of their own; each file keeps its name or gets a
// free valid one. Reads entries. Writes groups, entries' `sound` and `renumber`, problems 304-307,
// 506 and 507.
void groupFiles(Context& c);
// Erased files: the entries each left, whether they are the missing extents of a live file or
// else can come back whole, and which ones the repair brings back and under what name. Reads
// directory, entries (`used`, `stored`), groups (their extents, and names in user area 0) and
// undelete. Writes the erased entries of entries, erased, namedByErased and plan.restored.
void findErased(Context& c);
// Blocks that several entries claim, and blocks lost to a claim or past the disk: each lost
// block gets a block of zeros, each block shared by claims nothing tells apart a copy, or leaves
// a hole where none is free. Reads entries, groups, namedAnywhere and namedByErased (a spare
// block is named by neither, and a block named by none that holds data tells against a claim)
// and plan.disk. Writes entries' `lost`, `foreign` and `blocks`, plan.zeroBlocks,
// plan.copiedBlocks, problems 402-404 and 406-408.
void settleBlocks(Context& c);
// Record counts that reach past the blocks an entry keeps, and records that cannot be read.
// Reads entries (`blocks` as settled) and plan.disk. Writes entries' `kept`, problems 504, 505
// and 601.
void fitRecords(Context& c);
// The repaired directory. Reads directory, entries, groups and erased. Writes plan.directory.
void writeDirectory(Context& c);
// Data no file holds: runs of blocks, not empty, that no entry salvage reads names, and the
// records past every record count in a block that files name. Reads entries (`foreign` too),
// erased and plan.disk. Writes lost, plan.freeUnread and problems 705 and 708.
void findLostData(Context& c);
// The salvage list, with what it tells of each file: holes (701), erased files (702-704) and
// erased extents of live files (706, 707). Then the problems are put in order and repeats
// collapsed, so that each file's troubles are the lines the report shows. Reads groups, entries, erased,
// lost, namedAnywhere and plan.disk. Writes the `renumber` of dropped entries (salvaged as files of their
// own), plan.problems, plan.files and plan.usedBlocks.
void listFiles(Context& c);

struct Pass {
    const char* name;
    void (*run)(Context&);
};

// The order holds these: names come before erased files, which take the names of user area 0
// as taken; erased files before blocks, since a block an erased file names is no spare; blocks
// before record counts, which fit what the blocks left; the repaired directory once counts and
// blocks are settled; lost data once the erased files that can come back are known, since their
// blocks are no lost data; the salvage list last, after every problem, so that a file's troubles
// are the collapsed lines.
inline constexpr Pass PASSES[] = {
    {"entries", checkEntries},   {"files", groupFiles},       {"undelete", findErased},
    {"blocks", settleBlocks},    {"records", fitRecords},     {"directory", writeDirectory},
    {"lost data", findLostData}, {"salvage list", listFiles},
};

// What more than one pass needs.
//
// The records an entry holds, counted from its first: all of its lower logical extent when the
// low extent bit is set, plus the record count. A count above 128 reads on into the next logical
// extent, as CP/M's own reading does, but never past the entry's last block slot.
int entryRecords(const std::uint8_t* raw);
// Which 256 records of its file the entry holds.
int extentPairOf(const std::uint8_t* raw);
// The name bytes as CP/M compares them: bit 7 cleared.
std::string maskedName(const std::uint8_t* raw);
// One field of a stored name, made into characters every name check accepts: bit 7 cleared,
// upper case, trailing spaces dropped, anything else refused replaced by "_".
std::string cleanField(const std::uint8_t* bytes, std::size_t width);
std::string joinName(const std::string& name, const std::string& type);
// The name made of a cleaned base and type that z18man accepts and no name in `taken` repeats,
// with "~1", "~2"... at the end of the base where it must; it joins `taken`.
std::string freeName(std::string base, const std::string& type, std::set<std::string>* taken);
// Whether a block holds nothing: in every byte that could be read, the format's filler (never
// written since) or zeros (which a block of zeros put in its place keeps as they are). Filler
// with a few other bytes is bit flips in free space, no data: a file's record of the filler with
// so few others is unheard of.
bool emptyBlock(const Disk& disk, int block);
// The same of n bytes of the disk from `at`.
bool emptyBytes(const Disk& disk, std::uint64_t at, std::size_t n);
// Whether record r of a file, which lies in `block` (at r modulo 16 there), was read whole.
bool recordRead(const Disk& disk, int block, int r);
// Puts first to last at the end of the runs, joined to the last run where they continue it.
void addRun(std::vector<std::pair<int, int>>& runs, int first, int last);
// Numbers in ascending order as runs: "141-143, 150".
std::string ranges(const std::vector<int>& list);
std::string hexByte(int b);

}  // namespace z18::fsck
