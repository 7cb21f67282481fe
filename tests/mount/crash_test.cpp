// Power cuts at every moment of a session in the folder: copies in, overwrites, an append, renames
// (over a file, into another area), an erasure, a truncate, attributes, a change that does not fit.
// The session runs once on the in-memory host under the recording wrapper, and every image the
// disk may hold after a cut (the page model of support/power_cut.h) must load, pass z18fsck, and
// show each file as it was before the step in hand or after it, never torn and never lost.
// Leaving out any one flush must let a bad state through, or the checker proves nothing.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include "fsck/fsck.h"
#include "mount/mount_util.h"
#include "support/power_cut.h"
#include "support/recording_env.h"
#include "support/test_support.h"

using namespace mounttest;
using namespace z18test;
using z18::FolderError;

namespace {

struct Step {
    std::string what;
    std::function<FolderError(z18::Volume&)> run;
    FolderError expected = FolderError::None;
};

std::vector<Step> script() {
    auto append = [](z18::Volume& v) {
        z18::FolderHandle h = 0;
        FolderError e = v.open("/OLD3.DAT", true, false, &h);
        const Bytes more = randomBytes(3000, 40);
        if (e == FolderError::None) e = v.write(h, 2048, more.data(), more.size());
        if (e == FolderError::None) e = v.flush(h);
        v.release(h);
        return e;
    };
    return {
        {"copy in", [](z18::Volume& v) { return put(v, "/NEW1.DAT", randomBytes(3 * 2048, 10)); }},
        {"copy in two entries",
         [](z18::Volume& v) { return put(v, "/NEW2.DAT", randomBytes(17 * 2048 + 100, 11)); }},
        {"overwrite larger", [](z18::Volume& v) { return put(v, "/OLD1.DAT", randomBytes(5 * 2048, 12)); }},
        {"overwrite smaller", [](z18::Volume& v) { return put(v, "/OLD2.DAT", randomBytes(3000, 13)); }},
        {"append", append},
        {"rename over", [](z18::Volume& v) { return v.rename("/NEW1.DAT", "/OLD3.DAT", true); }},
        {"move to area 2",
         [](z18::Volume& v) { return v.makeFolder("/u2"), v.rename("/NEW2.DAT", "/u2/N.DAT", true); }},
        {"erase", [](z18::Volume& v) { return v.remove("/OLD4.DAT"); }},
        {"truncate", [](z18::Volume& v) { return v.resize("/OLD1.DAT", nullptr, 1000); }},
        {"attributes",
         [](z18::Volume& v) {
             return v.setAttribute("/OLD2.DAT", z18::ATTRIBUTES_NAME, "RS", false, false);
         }},
        {"no room", [](z18::Volume& v) { return put(v, "/u2/N.DAT", randomBytes(160 * 2048, 14)); },
         FolderError::NoSpace},
        {"copy into the freed blocks",
         [](z18::Volume& v) { return put(v, "/LAST.DAT", randomBytes(12 * 2048, 15)); }},
    };
}

Bytes startImage() {
    Files in;
    const std::vector<std::string> order = {"OLD1.DAT", "OLD2.DAT", "OLD3.DAT", "OLD4.DAT"};
    for (std::size_t i = 0; i < order.size(); ++i)
        in[order[i]] = randomBytes((i * 3 + 2) * 2048 - 500 * i, static_cast<std::uint32_t>(i));
    return imageWith(in, order);
}

// One host for every state judged: it keeps its buffers, so thousands of images cost no fresh memory.
z18::MemEnv& hostOf(const Bytes& image) {
    static z18::MemEnv env;
    env.reset();
    env.putFile(IMAGE, image.data(), image.size());
    return env;
}

// The folder's view of an image; *loads false where z18man would refuse it.
Files view(const Bytes& image, bool* loads) {
    z18::MemEnv& env = hostOf(image);
    std::ostringstream log;
    z18::Session s(env, log);
    z18::nameImage(s, IMAGE);
    s.imageHandle = env.openFile(IMAGE, z18::OpenMode::ImageRead);
    *loads = z18::loadDirectory(s) != 0;
    Files all;
    if (*loads) {
        z18::Volume v(s, true, OWNER);
        all = files(v);
    }
    env.closeFile(s.imageHandle);
    return all;
}

bool fsckClean(const Bytes& image) {
    std::ostringstream out;
    z18::Session s(hostOf(image), out);
    const char* argv[] = {"z18fsck", "disk.z18"};
    return z18::fsck::runFsck(s, 2, argv) == z18::fsck::EXIT_CLEAN;
}

struct Recorded {
    Bytes after;
    std::vector<Event> log;
    std::vector<std::size_t> stepEnds;  // the log's length after each step
    std::vector<Files> views;           // the folder before the first step, then after each
    int flushes = 0;
};

Recorded record(int dropFlush) {
    z18::MemEnv env;
    env.putFile(IMAGE, startImage());
    z18::RecordingEnv recording(&env, IMAGE);
    recording.dropFlush(dropFlush);
    std::ostringstream log;
    z18::Session s(recording, log);
    z18::nameImage(s, IMAGE);
    s.imageHandle = recording.openFile(IMAGE, z18::OpenMode::ImageWrite);
    EXPECT_TRUE(z18::loadDirectory(s));
    z18::Volume v(s, false, OWNER);
    Recorded r;
    r.views.push_back(files(v));
    for (const Step& step : script()) {
        EXPECT_EQ(step.run(v), step.expected) << step.what;
        r.stepEnds.push_back(recording.log().size());
        r.views.push_back(files(v));
    }
    v.unmounting();
    recording.closeFile(s.imageHandle);
    r.after = env.bytes(IMAGE);
    r.log = recording.log();
    r.flushes = recording.flushCalls();
    return r;
}

std::size_t stepOf(const Recorded& r, std::size_t event) {
    std::size_t k = 0;
    while (r.stepEnds[k] <= event) ++k;
    return k;
}

// The first bad crash state of a recorded session, or "" where there is none; *states counts them.
std::string firstBadState(const Recorded& r, std::uint64_t* states) {
    const std::vector<Step> steps = script();
    // What a step wrote is on the disk by the time it returns (a close, a rename): its last
    // event is a flush.
    for (std::size_t k = 0, from = 0; k < steps.size(); from = r.stepEnds[k++])
        if (r.stepEnds[k] > from && !r.log[r.stepEnds[k] - 1].flush)
            return steps[k].what + ": may not be on the disk when it returns";
    Bytes durable = startImage();
    std::vector<const Event*> writes;
    std::size_t first = 0;  // the log index of the window's first write
    int flushes = 0;
    for (std::size_t i = 0; i <= r.log.size(); ++i) {
        if (i < r.log.size() && !r.log[i].flush) {
            if (writes.empty()) first = i;
            writes.push_back(&r.log[i]);
            continue;
        }
        if (writes.empty()) continue;
        if (i == r.log.size()) return "writes after the last flush";
        ++flushes;
        const Window w = windowOf(durable, writes);
        std::string bad;
        forEachState(
            w, static_cast<std::uint32_t>(flushes),
            [&](const std::vector<std::size_t>& choice) {
                // The cut came during the step of the latest write the state holds (at least the
                // step of the window's first): every step before it has ended, and each file is as
                // before that step or after it.
                std::size_t k = stepOf(r, first);
                for (std::size_t i = 0; i < w.pages.size(); ++i)
                    if (choice[i] > 0)
                        k = std::max(
                            k, stepOf(r, static_cast<std::size_t>(w.madeBy[i][choice[i]] - r.log.data())));
                const Files &before = r.views[k], &after = r.views[k + 1];
                const Bytes image = stateOf(durable, w, choice);
                bool loads = false;
                Files now = view(image, &loads);
                if (!loads) bad = "does not load";
                if (bad.empty() && !fsckClean(image)) bad = "z18fsck finds problems";
                Files all = before;
                all.insert(after.begin(), after.end());
                all.insert(now.begin(), now.end());
                for (const auto& file : all) {
                    auto in = [&file](const Files& f) {
                        auto it = f.find(file.first);
                        return it == f.end() ? nullptr : &it->second;
                    };
                    const Bytes *was = in(before), *will = in(after), *is = in(now);
                    const bool same = (is == nullptr ? was == nullptr : was != nullptr && *was == *is) ||
                                      (is == nullptr ? will == nullptr : will != nullptr && *will == *is);
                    if (bad.empty() && !same) bad = "'" + file.first + "' is neither as before nor as after";
                }
                if (!bad.empty())
                    bad = steps[k].what + ", flush " + std::to_string(flushes) + " (" + describe(w, choice) +
                          "): " + bad;
                return bad.empty();
            },
            states);
        if (!bad.empty()) return bad;
        for (const Event* e : writes) applyWrite(durable, *e);
        writes.clear();
    }
    return durable == r.after ? "" : "the disk may not hold the final image";
}

}  // namespace

TEST(MountCrash, EveryStateHoldsEachFileOldOrNew) {
    const Recorded run = record(0);
    std::uint64_t states = 0;
    EXPECT_EQ(firstBadState(run, &states), "");
    std::cout << "[ crash    ] mount session: " << run.stepEnds.size() << " steps, " << run.flushes
              << " flushes, " << states << " states\n";
    for (int drop = 1; drop <= run.flushes; ++drop) {
        std::uint64_t ignored = 0;
        const std::string bad = firstBadState(record(drop), &ignored);
        EXPECT_NE(bad, "") << "flush " << drop << " left out, and no bad state found";
        std::cout << "[ crash    ] mount session, flush " << drop << " of " << run.flushes
                  << " left out: " << bad << "\n";
    }
}
