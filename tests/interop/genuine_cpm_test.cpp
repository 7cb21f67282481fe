// Genuine CP/M 2.2 as the judge: on directories as CP/M leaves them, and odd ones, z18man /x must
// give the bytes DRI's PIP copies under realcpm, z18fsck -x those cpmcp reads, and after /e
// cpmtools must list nothing and find the disk sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "support/cpmtools.h"
#include "support/fsck_records.h"
#include "support/test_support.h"

using namespace z18test;

namespace {

// An entry of the file named by one letter, in slot `slot`, naming `blocks` blocks of its own
// except in its slot `hole`.
struct Entry {
    char file;
    int slot, ex, rc, blocks, hole = -1, s2 = 0, attribute = 0;
};
enum Kind { SOUND, ODD, PAST_MAP };  // PAST_MAP: PIP reads on from blocks the file does not name
struct Layout {
    std::string what;
    std::vector<Entry> entries;
    Kind kind = SOUND;
};

// Files as CP/M writes them, entry k holding records 256k on, in shuffled slots; some lose an
// entry after the first or get an empty slot among their records.
Layout randomLayout(std::uint32_t seed) {
    std::mt19937 g(seed);
    Layout l{"random " + std::to_string(seed), {}};
    std::vector<int> slots(z18::DIRECTORY_ENTRIES);
    std::iota(slots.begin(), slots.end(), 0);
    std::shuffle(slots.begin(), slots.end(), g);
    for (char file = 'A', last = static_cast<char>('A' + g() % 4); file <= last; ++file) {
        const int records = g() % 4 == 0 ? 256 * static_cast<int>(1 + g() % 2) : static_cast<int>(g() % 600);
        // PIP leaves an empty entry after a file of exactly k x 256 records; cpmtools does not.
        const int entries = std::max(1, (records + 255) / 256 + (records % 256 == 0 && g() % 2 ? 1 : 0));
        const int missing = entries > 1 && g() % 3 == 0 ? 1 + static_cast<int>(g() % (entries - 1)) : -1;
        for (int k = 0; k < entries; ++k) {
            const int in = std::clamp(records - 256 * k, 0, 256);
            Entry e{file, slots[l.entries.size()], 2 * k + (in > 128), in > 128 ? in - 128 : in,
                    (in + 15) / 16};
            if (e.blocks > 1 && g() % 6 == 0) e.hole = static_cast<int>(g() % e.blocks);
            if (k != missing) l.entries.push_back(e);
        }
    }
    return l;
}

std::vector<Layout> layouts() {
    std::vector<Layout> v = {
        {"entries in reverse order after an erased file",
         {{'A', 2, 1, 128, 16}, {'A', 1, 2, 57, 4}, {'B', 3, 0, 3, 1}}},
        {"a missing extent", {{'A', 0, 1, 128, 16}, {'A', 1, 4, 10, 1}}},
        {"an empty slot inside the counted records", {{'A', 0, 1, 128, 16, 5}, {'B', 1, 0, 40, 3, 1}}},
        {"k x 256 records, with and without the empty entry",
         {{'A', 0, 3, 128, 16}, {'A', 1, 1, 128, 16}, {'A', 2, 4, 0, 0}, {'B', 3, 1, 128, 16}}},
        {"an extent claimed twice", {{'A', 0, 0, 50, 4}, {'A', 1, 1, 128, 16}, {'A', 2, 2, 57, 4}}, ODD},
        {"a pair claimed twice", {{'A', 0, 3, 10, 9}, {'A', 1, 1, 128, 16}, {'A', 2, 2, 57, 4}}, ODD},
        {"an extent byte above 31", {{'A', 0, 1, 128, 16}, {'A', 1, 34, 57, 4}}, ODD},
        {"a count above 128 on an even extent", {{'A', 0, 0, 200, 16}, {'A', 1, 2, 57, 4}}, ODD},
        {"a count above 128 on an odd extent", {{'A', 0, 1, 200, 16}, {'A', 1, 2, 57, 4}}, PAST_MAP},
        {"s2 other than 0", {{'A', 0, 1, 128, 16}, {'A', 1, 2, 57, 4, -1, 1}}, ODD},
        {"bit 7 of s2 set", {{'A', 0, 1, 128, 16}, {'A', 1, 2, 57, 4, -1, 0x80}}, ODD},
        {"attribute bits that differ", {{'A', 0, 1, 128, 16, -1, 0, 0x80}, {'A', 1, 2, 57, 4}}, ODD},
        {"a count of 0 after a full extent", {{'A', 0, 1, 128, 16}, {'A', 1, 2, 0, 2}}, ODD},
    };
    for (std::uint32_t seed = 1; seed <= 8; ++seed) v.push_back(randomLayout(seed));
    return v;
}

// Writes the layout as dir/A.z18, every block holding bytes of its own; gives its files' letters.
std::string writeImage(const Layout& l, const TempDir& dir, std::uint32_t seed) {
    Bytes image = blankImage();
    const Bytes noise = randomBytes(static_cast<std::size_t>(z18::BLOCK_COUNT - 1) * z18::BLOCK_SIZE, seed);
    std::copy(noise.begin(), noise.end(), image.begin() + static_cast<long>(z18::blockOffset(1)));
    std::string files;
    int next = 1;
    for (const Entry& e : l.entries) {
        std::vector<int> blocks;
        for (int k = 0; k < e.blocks; ++k) blocks.push_back(k == e.hole ? 0 : next++);
        putEntry(image, e.slot, 0, std::string(1, e.file) + "       DAT", e.ex, e.rc, blocks);
        entryIn(image, e.slot)[z18::entry::TYPE] |= static_cast<std::uint8_t>(e.attribute);
        entryIn(image, e.slot)[z18::entry::S2] = static_cast<std::uint8_t>(e.s2);
        if (files.find(e.file) == std::string::npos) files += e.file;
    }
    writeFile(dir / "A.z18", image);
    writeDiskdefs(dir.path());
    return files;
}

// A host file's bytes; one byte, which no file of whole records has, where there is none.
Bytes hostFile(const std::string& path) { return fileExists(path) ? readFile(path) : Bytes{0xFF}; }
std::string lower(char file) { return std::string(1, static_cast<char>(file - 'A' + 'a')) + ".dat"; }

int runFsck(const std::vector<std::string>& args) {
    std::string out;
    return fsckRun(*z18::defaultEnv(), args, &out);
}

}  // namespace

TEST(GenuineCpm, ExtractGivesWhatPipCopiesAndEraseLeavesNothing) {
#ifndef REALCPM_EXE
    FAIL() << "realcpm was not built: install libz80ex-dev and configure again";
#else
    ASSERT_TRUE(haveCpmtools()) << "cpmtools is not installed";
    std::uint32_t seed = 0;
    for (const Layout& l : layouts()) {
        SCOPED_TRACE(l.what);
        TempDir dir;
        const std::string files = writeImage(l, dir, ++seed);
        const ExeResult pip =
            runProgram({REALCPM_DIR "/pip-copy.sh", REALCPM_EXE, "A.z18", "pip"}, dir.path());
        ASSERT_EQ(pip.status, 0) << pip.out;
        InProcess x, e;
        EXPECT_EQ(x.run({dir / "A", "/x", dir / "*.*"}), 0);
        EXPECT_EQ(x.output().find("!!!"), std::string::npos) << x.output();
        for (const char file : files) {
            SCOPED_TRACE(file);
            const Bytes copied = hostFile(dir / ("pip/" + lower(file)));
            const Bytes extracted = hostFile(dir / (std::string(1, file) + ".DAT"));
            // z18man ends the file with its entry's map (256 records), where PIP reads on from
            // blocks the file does not name.
            const std::size_t n = l.kind == PAST_MAP ? 256 * z18::RECORD_SIZE : copied.size();
            EXPECT_TRUE(extracted.size() == n && copied.size() >= n &&
                        std::equal(extracted.begin(), extracted.end(), copied.begin()))
                << copied.size() << " bytes from PIP, " << extracted.size() << " from z18man";
        }
        // z18fsck takes the sound layouts as they stand and salvages every file as cpmcp reads it.
        if (l.kind == SOUND) {
            const std::string saved = dir / "saved";
            EXPECT_EQ(runFsck({dir / "A.z18"}), z18::fsck::EXIT_CLEAN);
            EXPECT_EQ(runFsck({"-x", saved, dir / "A.z18"}), z18::fsck::EXIT_CLEAN);
            ASSERT_EQ(cpmtool("cpmcp", {"A.z18", "0:*", dir.path()}, dir.path()).status, 0);
            for (const char file : files)
                EXPECT_TRUE(hostFile(dir / lower(file)) == hostFile(saved + "/" + file + ".DAT")) << file;
        }
        EXPECT_EQ(e.run({dir / "A", "/e", "*.*"}), 0);
        EXPECT_EQ(cpmtool("cpmls", {"A.z18"}, dir.path()).out, "");
        const ExeResult check = cpmtool("fsck.cpm", {"-n", "A.z18"}, dir.path());
        EXPECT_EQ(check.status, 0) << check.out;
    }
#endif
}
