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

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "run/driver.h"
#include "session/geometry.h"
#include "support/mem_env.h"
#include "support/power_cut.h"
#include "support/recording_env.h"
#include "support/test_support.h"

using namespace z18;
using z18test::Bytes;

namespace {

constexpr int MOST_FLUSHES = 3;
const std::string IMAGE = "disk.z18";

using Files = std::map<std::string, Bytes>;
using namespace z18test;

// One run on the image "disk" of env.
int runOn(Env& env, std::vector<std::string> args, std::string* output = nullptr) {
    z18test::InProcess run(&env);
    args.insert(args.begin(), "disk");
    run.run(args);
    if (output != nullptr) *output = run.output();
    return run.status;
}

// Every file of an image, extracted on a host of its own. The status is 1 when it did not load.
struct Extracted {
    int status = 1;
    std::string output;
    Files files;
};
Extracted extractAll(const Bytes& image) {
    MemEnv env;
    env.putFile(IMAGE, image);
    env.makeDirectory("out");
    Extracted x;
    x.status = runOn(env, {"/x", "out/*.*"}, &x.output);
    for (const auto& node : env.tree()) {
        if (node.first.compare(0, 4, "out/") == 0 && !node.second.directory)
            x.files[node.first.substr(4)] = node.second.bytes;
    }
    return x;
}

// The last line a run printed: its report of why it stopped.
std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return text;
    const std::size_t newline = text.rfind('\n', end);
    const std::size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(begin, end + 1 - begin);
}

struct Verdict {
    std::string bad;  // the first bad state found; empty when there is none
    std::string summary;
};

// Walks the log window by window and judges every crash state of each.
Verdict check(const Bytes& before, bool newImage, const std::vector<Event>& log, const Bytes& after,
              std::uint32_t seed) {
    Verdict verdict;
    const Extracted finalFiles = extractAll(after);
    if (finalFiles.status != 0) {
        verdict.bad = "the final image does not load: " + lastLine(finalFiles.output);
        return verdict;
    }
    const Files beforeFiles = newImage ? Files() : extractAll(before).files;

    // What one state shows; empty when it keeps the promise.
    std::uint64_t unloadable = 0;
    auto judge = [&](const Bytes& image, bool whole, const Bytes* mustBe) -> std::string {
        if (mustBe != nullptr && image != *mustBe)
            return "after the run the disk may not hold the final image";
        const Extracted x = extractAll(image);
        if (x.status != 0 && !whole) ++unloadable;
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
    };

    Bytes durable = before;
    bool whole = !newImage;  // the disk holds a whole image
    int flushes = 0;
    std::uint64_t states = 0;
    std::string windows;
    std::vector<const Event*> writes;
    // Judges every state of the writes since the last flush, then puts them on the disk.
    auto checkWindow = [&](const Bytes* mustBe) {
        const Window w = windowOf(durable, writes);
        std::uint64_t count = 0;
        const std::string where =
            flushes == 0 ? "before the first flush" : "after flush " + std::to_string(flushes);
        forEachState(
            w, seed + static_cast<std::uint32_t>(flushes),
            [&](const std::vector<std::size_t>& choice) {
                const std::string problem = judge(stateOf(durable, w, choice), whole, mustBe);
                if (problem.empty()) return true;
                verdict.bad = where + (mustBe ? ", once the run has ended" : "") + " (" +
                              describe(w, choice) + "): " + problem;
                return false;
            },
            &count);
        states += count;
        windows += " " + std::to_string(w.pages.size()) + "/" + std::to_string(count);
        for (const Event* e : writes) applyWrite(durable, *e);
        writes.clear();
    };
    for (const Event& e : log) {
        if (!e.flush) {
            writes.push_back(&e);
            continue;
        }
        checkWindow(nullptr);
        if (!verdict.bad.empty()) return verdict;
        ++flushes;
        whole = whole || durable.size() == IMAGE_SIZE;
    }
    // The last window: a state the final image passes, once the run has ended the only one allowed.
    checkWindow(&after);
    verdict.summary =
        std::to_string(flushes) +
        " flush(es); pages/states per window, the last one after the last flush:" + windows + "; " +
        std::to_string(states) + " states" +
        (unloadable ? ", " + std::to_string(unloadable) + " of them a new image that does not load yet" : "");
    return verdict;
}

// ---- Scenarios --------------------------------------------------------------------------------

// Host files F01.DAT... in dir: seeded sizes up to maxBlocks blocks (odd sizes too), every
// `bigEvery`-th one larger than an entry maps.
void hostFiles(MemEnv& env, const std::string& dir, int count, std::uint32_t seed, int maxBlocks,
               int bigEvery = 0, const std::string& type = "DAT") {
    std::mt19937 gen(seed);
    for (int i = 1; i <= count; ++i) {
        std::size_t size = gen() % (static_cast<std::size_t>(maxBlocks) * BLOCK_SIZE + 1);
        if (bigEvery > 0 && i % bigEvery == 0) size = 17 * BLOCK_SIZE + gen() % (20 * BLOCK_SIZE);
        const std::string name = dir + "/F" + (i < 10 ? "0" : "") + std::to_string(i) + "." + type;
        env.putFile(name, z18test::randomBytes(size, seed * 100 + static_cast<std::uint32_t>(i)));
    }
}

// An image made by the tool, holding the host files of old/.
void imageHolding(MemEnv& env, int count, std::uint32_t seed, int maxBlocks, int bigEvery = 0) {
    hostFiles(env, "old", count, seed, maxBlocks, bigEvery);
    hostFiles(env, "old", 2, seed + 1, 3, 0, "TXT");
    ASSERT_EQ(runOn(env, {"/f", "/a", "old/*.*"}), 0);
}
void blankFormatted(MemEnv& env) { ASSERT_EQ(runOn(env, {"/f"}), 0); }

struct Scenario {
    std::string name;
    std::function<void(MemEnv&)> setup;
    std::vector<std::string> args;
    std::string shows = "";  // a line the run must print, where the scenario is about it
};

std::vector<Scenario> scenarios() {
    std::vector<Scenario> list;
    for (int n = 1; n <= 12; ++n) {
        list.push_back({"Add" + std::to_string(n) + "Files",
                        [n](MemEnv& env) {
                            blankFormatted(env);
                            hostFiles(env, "in", n, static_cast<std::uint32_t>(n), 12, 4);
                        },
                        {"/a", "in/*.*"}});
    }
    list.push_back({"AddUntilTheDiskIsFull",
                    [](MemEnv& env) {
                        imageHolding(env, 3, 30, 10);
                        hostFiles(env, "in", 9, 31, 40, 2);
                    },
                    {"/a", "in/*.*"},
                    "Disk full !!!"});
    list.push_back({"AddUntilTheDirectoryIsFull",
                    [](MemEnv& env) {
                        imageHolding(env, 57, 40, 1);
                        hostFiles(env, "in", 6, 41, 4, 0, "NEW");
                    },
                    {"/a", "in/*.*"},
                    "Directory full !!!"});
    list.push_back({"AddOntoAnImageWithFiles",
                    [](MemEnv& env) {
                        imageHolding(env, 5, 50, 12, 3);
                        hostFiles(env, "in", 4, 51, 12, 4, "NEW");
                    },
                    {"/a", "in/*.*"}});
    // The same names with new bytes, and names of their own, over the blocks the old files held.
    for (const char* format : {"/f", "/q"}) {
        list.push_back({std::string(format[1] == 'f' ? "Full" : "Quick") + "FormatAndAddOverFiles",
                        [](MemEnv& env) {
                            imageHolding(env, 6, 60, 8, 3);
                            hostFiles(env, "in", 4, 61, 8, 3);
                            hostFiles(env, "in", 3, 62, 6, 0, "NEW");
                        },
                        {format, "/a", "in/*.*"}});
    }
    list.push_back({"EraseSomeFiles", [](MemEnv& env) { imageHolding(env, 6, 70, 8, 3); }, {"/e", "*.DAT"}});
    list.push_back({"EraseEveryFile", [](MemEnv& env) { imageHolding(env, 6, 71, 8, 3); }, {"/e", "*.*"}});
    list.push_back({"QuickFormat", [](MemEnv& env) { imageHolding(env, 6, 80, 8, 3); }, {"/q"}});
    list.push_back({"FullFormat", [](MemEnv& env) { imageHolding(env, 6, 81, 8, 3); }, {"/f"}});
    list.push_back({"NewImageFullFormat", [](MemEnv&) {}, {"/f"}});
    list.push_back(
        {"NewImageAdd", [](MemEnv& env) { hostFiles(env, "in", 5, 90, 12, 3); }, {"/a", "in/*.*"}});
    list.push_back({"NewImageFullFormatAndAdd",
                    [](MemEnv& env) { hostFiles(env, "in", 5, 91, 12, 3); },
                    {"/f", "/a", "in/*.*"}});
    list.push_back({"EmptyFileBecomesAnImage",
                    [](MemEnv& env) {
                        env.putFile(IMAGE, Bytes());
                        hostFiles(env, "in", 3, 92, 12);
                    },
                    {"/a", "in/*.*"}});
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
    scenario.setup(env);
    Recorded r;
    r.newImage = !env.isFile(IMAGE) || env.bytes(IMAGE).empty();
    r.before = env.bytes(IMAGE);
    RecordingEnv recording(&env, IMAGE);
    recording.dropFlush(dropFlush);
    EXPECT_EQ(runOn(recording, scenario.args, &r.output), 0);
    r.after = env.bytes(IMAGE);
    r.log = recording.log();
    r.flushesAsked = recording.flushCalls();
    return r;
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
    const Verdict verdict = check(run.before, run.newImage, run.log, run.after, seed);
    EXPECT_EQ(verdict.bad, "") << run.output;
    std::cout << "[ crash    ] " << scenario.name << ": " << verdict.summary << "\n";

    // Each flush left out in turn lets a power cut break the promise, and the checker says where.
    for (int drop = 1; drop <= run.flushesAsked; ++drop) {
        const Recorded dropped = record(scenario, drop);
        const Verdict without = check(dropped.before, dropped.newImage, dropped.log, dropped.after, seed);
        EXPECT_NE(without.bad, "") << "flush " << drop << " left out, and no bad state found";
        std::cout << "[ crash    ] " << scenario.name << ", flush " << drop << " of " << run.flushesAsked
                  << " left out: " << without.bad << "\n";
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, CrashStates, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
