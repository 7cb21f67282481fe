// Power cuts at every moment of every writing request. Each scenario runs once on the in-memory
// host under a recording wrapper; from the log of its image writes and flushes the test builds
// every image a disk may hold after a power cut, and checks that each keeps the tool's promise.
//
// The disk, as modelled here:
// - Everything written before the last completed flush is on the disk.
// - Of what was written since, the page cache may have written back any set of 4 KiB pages, and
//   each of them at any moment: so each page touched since holds its bytes as of that flush or as
//   of any later write to it. (That takes in a crash at every moment of the window, and a page
//   written back early and then changed again.) A page reaches the disk whole or not at all: a
//   write torn inside a page is not modelled. The directory lies inside one page.
// - A new image (missing or empty before the run) has no length on the disk before its first
//   flush: its length is then the end of the furthest page that reached the disk, and pages that
//   did not read as zeros. Such a state was never a whole image and cannot be made to load by any
//   order of writes, so there only one thing is checked: no file is listed with bytes it never
//   held.
// - Once the run has ended, nothing may be left to chance: the disk holds exactly the final image.
//
// What every other state must show: the image loads (right size, no corrupted entry), and every
// file it lists extracts byte for byte to what it held before the run or after it; a file new to
// the run is there whole or not at all. The listing is checked through an extract of "*.*", which
// takes exactly the files the catalogue lists, in every user area.
//
// The checker must be able to fail: every scenario is run again with each of its flushes left out
// in turn, and each time a bad state must be found.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <random>

#include "session/geometry.h"
#include "support/power_cut.h"
#include "support/recording_env.h"
#include "support/test_support.h"
#include "support/z18man_view.h"

using namespace z18;
using namespace z18test;

namespace {

constexpr int MOST_FLUSHES = 3;

// The last line a run printed: its report of why it stopped.
std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return text;
    const std::size_t newline = text.rfind('\n', end);
    const std::size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(begin, end + 1 - begin);
}

// ---- Scenarios --------------------------------------------------------------------------------

// Host files F01.DAT... of a type: seeded sizes up to maxBlocks blocks (odd sizes too), every
// `bigEvery`-th one larger than an entry maps.
struct HostFiles {
    int count = 0;
    std::uint32_t seed = 0;
    int maxBlocks = 0;
    int bigEvery = 0;
    const char* type = "DAT";
};
void putHostFiles(MemEnv& env, const std::string& dir, const HostFiles& f) {
    std::mt19937 gen(f.seed);
    for (int i = 1; i <= f.count; ++i) {
        std::size_t size = gen() % (static_cast<std::size_t>(f.maxBlocks) * BLOCK_SIZE + 1);
        if (f.bigEvery > 0 && i % f.bigEvery == 0) size = 17 * BLOCK_SIZE + gen() % (20 * BLOCK_SIZE);
        const std::string name = dir + "/F" + (i < 10 ? "0" : "") + std::to_string(i) + "." + f.type;
        env.putFile(name, z18test::randomBytes(size, f.seed * 100 + static_cast<std::uint32_t>(i)));
    }
}

// The image before the run: none, an empty file, a blank one, or one made by the tool holding the
// host files `old` and two text files.
enum Start { NoImage, EmptyFile, Blank, Holding };

struct Scenario {
    std::string name;
    Start start = NoImage;
    HostFiles old = {};
    std::vector<HostFiles> in = {};  // the host files in in/, one set after the other
    std::vector<std::string> args = {};
    std::string shows = "";  // a line the run must print, where the scenario is about it
};

void setUp(MemEnv& env, const Scenario& s) {
    if (s.start == EmptyFile) env.putFile(IMAGE, Bytes());
    if (s.start == Blank) {
        ASSERT_EQ(z18man(env, {"/f"}), 0);
    }
    if (s.start == Holding) {
        putHostFiles(env, "old", s.old);
        putHostFiles(env, "old", {2, s.old.seed + 1, 3, 0, "TXT"});
        ASSERT_EQ(z18man(env, {"/f", "/a", "old/*.*"}), 0);
    }
    for (const HostFiles& f : s.in) putHostFiles(env, "in", f);
}

std::vector<Scenario> scenarios() {
    const std::vector<std::string> add = {"/a", "in/*.*"};
    // The same names with new bytes, and names of their own, over the blocks the old files held.
    const std::vector<HostFiles> over = {{4, 61, 8, 3}, {3, 62, 6, 0, "NEW"}};
    std::vector<Scenario> list;
    for (std::uint32_t n = 1; n <= 12; ++n)
        list.push_back(
            {"Add" + std::to_string(n) + "Files", Blank, {}, {{static_cast<int>(n), n, 12, 4}}, add});
    const std::vector<Scenario> more = {
        {"AddUntilTheDiskIsFull", Holding, {3, 30, 10}, {{9, 31, 40, 2}}, add, "Disk full !!!"},
        {"AddUntilTheDirectoryIsFull",
         Holding,
         {57, 40, 1},
         {{6, 41, 4, 0, "NEW"}},
         add,
         "Directory full !!!"},
        {"AddOntoAnImageWithFiles", Holding, {5, 50, 12, 3}, {{4, 51, 12, 4, "NEW"}}, add},
        {"FullFormatAndAddOverFiles", Holding, {6, 60, 8, 3}, over, {"/f", "/a", "in/*.*"}},
        {"QuickFormatAndAddOverFiles", Holding, {6, 60, 8, 3}, over, {"/q", "/a", "in/*.*"}},
        {"EraseSomeFiles", Holding, {6, 70, 8, 3}, {}, {"/e", "*.DAT"}},
        {"EraseEveryFile", Holding, {6, 71, 8, 3}, {}, {"/e", "*.*"}},
        {"QuickFormat", Holding, {6, 80, 8, 3}, {}, {"/q"}},
        {"FullFormat", Holding, {6, 81, 8, 3}, {}, {"/f"}},
        {"NewImageFullFormat", NoImage, {}, {}, {"/f"}},
        {"NewImageAdd", NoImage, {}, {{5, 90, 12, 3}}, add},
        {"NewImageFullFormatAndAdd", NoImage, {}, {{5, 91, 12, 3}}, {"/f", "/a", "in/*.*"}},
        {"EmptyFileBecomesAnImage", EmptyFile, {}, {{3, 92, 12}}, add}};
    list.insert(list.end(), more.begin(), more.end());
    return list;
}

struct Recorded {
    Bytes before, after;
    bool newImage = false;
    std::vector<Event> log;
    int flushesAsked = 0;
    std::string output;
};

Recorded record(const Scenario& scenario, int dropFlush) {
    MemEnv env;
    setUp(env, scenario);
    Recorded r;
    r.newImage = !env.isFile(IMAGE) || env.bytes(IMAGE).empty();
    r.before = env.bytes(IMAGE);
    RecordingEnv recording(&env, IMAGE);
    recording.dropFlush(dropFlush);
    EXPECT_EQ(z18man(recording, scenario.args, &r.output), 0);
    r.after = env.bytes(IMAGE);
    r.log = recording.log();
    r.flushesAsked = recording.flushCalls();
    return r;
}

// Judges every crash state of a run: "" where each keeps the promise.
Walk check(const Recorded& r, std::uint32_t seed, std::uint64_t* unloadable) {
    const Extracted finalFiles = extractAll(r.after);
    if (finalFiles.status != 0)
        return {"the final image does not load: " + lastLine(finalFiles.output), 0, ""};
    const Files beforeFiles = r.newImage ? Files() : extractAll(r.before).files;
    return walkCuts(r.before, r.log, seed, [&](const Cut& cut) -> std::string {
        // The last window: a state the final image passes, once the run has ended the only one allowed.
        if (cut.ended && cut.image != r.after) return "after the run the disk may not hold the final image";
        const bool whole = !r.newImage || cut.flushed.size() == IMAGE_SIZE;  // the disk holds a whole image
        const Extracted x = extractAll(cut.image);
        if (x.status != 0 && !whole) ++*unloadable;
        if (x.status != 0) return whole ? "the image does not load: " + lastLine(x.output) : std::string();
        for (const auto& file : x.files) {
            auto old = beforeFiles.find(file.first);
            auto now = finalFiles.files.find(file.first);
            if ((old != beforeFiles.end() && old->second == file.second) ||
                (now != finalFiles.files.end() && now->second == file.second))
                continue;
            return "'" + file.first + "' lists with bytes it held neither before the run nor after it";
        }
        return std::string();
    });
}

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class CrashStates : public ::testing::TestWithParam<Scenario> {};

TEST_P(CrashStates, EveryStateKeepsThePromise) {
    const Scenario& scenario = GetParam();
    const std::uint32_t seed = static_cast<std::uint32_t>(std::hash<std::string>()(scenario.name));
    const Recorded run = record(scenario, 0);
    ASSERT_NE(run.after, run.before) << "the scenario changes nothing";
    EXPECT_NE(run.output.find(scenario.shows), std::string::npos) << run.output;
    EXPECT_LE(run.flushesAsked, MOST_FLUSHES);
    std::uint64_t unloadable = 0;
    const Walk walk = check(run, seed, &unloadable);
    EXPECT_EQ(walk.bad, "") << run.output;
    std::cout << "[ crash    ] " << scenario.name << ": " << run.flushesAsked
              << " flush(es); pages/states per window, the last one after the last flush:" << walk.windows
              << "; " << walk.states << " states"
              << (unloadable
                      ? ", " + std::to_string(unloadable) + " of them a new image that does not load yet"
                      : "")
              << "\n";

    // Each flush left out in turn lets a power cut break the promise, and the checker says where.
    for (int drop = 1; drop <= run.flushesAsked; ++drop) {
        const Walk without = check(record(scenario, drop), seed, &unloadable);
        EXPECT_NE(without.bad, "") << "flush " << drop << " left out, and no bad state found";
        std::cout << "[ crash    ] " << scenario.name << ", flush " << drop << " of " << run.flushesAsked
                  << " left out: " << without.bad << "\n";
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, CrashStates, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
