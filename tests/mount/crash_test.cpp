// Power cuts at every moment of a session in the folder: copies in, overwrites, an append, renames
// (over a file, into another area), an erasure, a truncate, attributes, a change that does not fit.
// Recorded once on the in-memory host, every image the disk may hold after a cut (the page model
// of support/power_cut.h) must load, pass z18fsck, and show each file whole as it was before the
// step in hand or after it; and each step ends with a flush, as a close promises the file is on the
// disk. Leaving out any one flush must let a bad state through, or the checker proves nothing.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include "fsck/fsck.h"
#include "mount/mount_util.h"
#include "support/power_cut.h"
#include "support/test_support.h"

using namespace mounttest;
using namespace z18test;
using z18::FolderError;
using Step = std::pair<std::string, std::function<FolderError(z18::Volume&)>>;

namespace {

std::vector<Step> script() {
    auto append = [](z18::Volume& v) {
        z18::FolderHandle h = 0;
        const Bytes more = randomBytes(3000, 40);
        FolderError e = v.open("/OLD3.DAT", true, false, &h);
        if (e == FolderError::None) e = v.write(h, 2048, more.data(), more.size());
        return e == FolderError::None ? (e = v.flush(h), v.release(h), e) : e;
    };
    return {
        {"copy in", [](z18::Volume& v) { return put(v, "/NEW1.DAT", randomBytes(3 * 2048, 10)); }},
        {"copy in 2 entries",
         [](z18::Volume& v) { return put(v, "/NEW2.DAT", randomBytes(17 * 2048 + 1, 11)); }},
        {"overwrite larger", [](z18::Volume& v) { return put(v, "/OLD1.DAT", randomBytes(5 * 2048, 12)); }},
        {"overwrite smaller", [](z18::Volume& v) { return put(v, "/OLD2.DAT", randomBytes(3000, 13)); }},
        {"append", append},
        {"rename over", [](z18::Volume& v) { return v.rename("/NEW1.DAT", "/OLD3.DAT", true); }},
        {"to area 2",
         [](z18::Volume& v) { return v.makeFolder("/u2"), v.rename("/NEW2.DAT", "/u2/N", true); }},
        {"erase", [](z18::Volume& v) { return v.remove("/OLD4.DAT"); }},
        {"truncate", [](z18::Volume& v) { return v.resize("/OLD1.DAT", nullptr, 1000); }},
        {"attributes",
         [](z18::Volume& v) {
             return v.setAttribute("/OLD2.DAT", "user.cpm.attributes", "RS", false, false);
         }},
        {"no room",
         [](z18::Volume& v) {
             return put(v, "/u2/N", randomBytes(160 * 2048, 14)) == FolderError::NoSpace ? FolderError::None
                                                                                         : FolderError::Io;
         }},
        {"copy into freed blocks",
         [](z18::Volume& v) { return put(v, "/LAST.DAT", randomBytes(12 * 2048, 15)); }}};
}

Bytes startImage() {
    Files in;
    for (std::uint32_t i = 0; i < 4; ++i)
        in["OLD" + std::to_string(i + 1) + ".DAT"] = randomBytes((i * 3 + 2) * 1900, i);
    return imageWith(in, {"OLD1.DAT", "OLD2.DAT", "OLD3.DAT", "OLD4.DAT"});
}

// The folder's view of a state, on one host kept for all states (fresh memory for each of
// thousands of images costs more than the checks); "" where the state is sound.
std::string judge(const Bytes& image, Files* view) {
    static z18::MemEnv env;
    env.reset();
    env.putFile(IMAGE, image.data(), image.size());
    std::ostringstream out;
    z18::Session s(env, out);
    if (!loadImage(s, true)) return "does not load";
    z18::Volume v(s, true, OWNER);
    *view = files(v);
    z18::closeImage(s);
    const char* argv[] = {"z18fsck", "disk.z18"};
    return z18::fsck::runFsck(s, 2, argv) == z18::fsck::EXIT_CLEAN ? "" : "z18fsck finds problems";
}

struct Recorded {
    std::vector<z18::RecordingEnv::Event> log;
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
    EXPECT_TRUE(loadImage(s, false));
    z18::Volume v(s, false, OWNER);
    Recorded r;
    r.views.push_back(files(v));
    for (const Step& step : script()) {
        EXPECT_EQ(step.second(v), FolderError::None) << step.first;
        r.stepEnds.push_back(recording.log().size());
        r.views.push_back(files(v));
    }
    r.log = recording.log();
    r.flushes = recording.flushCalls();
    return r;
}

// The first bad crash state of a recorded session, or "" where there is none; *states counts them.
std::string firstBadState(const Recorded& r, std::uint64_t* states) {
    auto stepOf = [&r](std::size_t event) {
        std::size_t k = 0;
        while (r.stepEnds[k] <= event) ++k;
        return k;
    };
    for (std::size_t k = 0, from = 0; k < r.stepEnds.size(); from = r.stepEnds[k++])
        if (r.stepEnds[k] > from && !r.log[r.stepEnds[k] - 1].flush)
            return script()[k].first + ": not on the disk when it returns";
    Bytes durable = startImage();
    std::vector<const Event*> writes;
    for (std::size_t i = 0, flushes = 0; i < r.log.size(); ++i) {
        if (!r.log[i].flush) writes.push_back(&r.log[i]);
        if (!r.log[i].flush || writes.empty()) continue;
        const Window w = windowOf(durable, writes);
        std::string bad;
        forEachState(
            w, static_cast<std::uint32_t>(++flushes),
            [&](const std::vector<std::size_t>& choice) {
                // The cut came during the step of the latest write the state holds: every step before
                // it has ended, and each file is as before that step or after it.
                std::size_t k = stepOf(static_cast<std::size_t>(writes.front() - r.log.data()));
                for (std::size_t p = 0; p < w.pages.size(); ++p)
                    if (choice[p] > 0)
                        k = std::max(k,
                                     stepOf(static_cast<std::size_t>(w.madeBy[p][choice[p]] - r.log.data())));
                Files now;
                bad = judge(stateOf(durable, w, choice), &now);
                auto at = [](const Files& f, const std::string& name) {
                    auto it = f.find(name);
                    return it == f.end() ? Bytes(1) : it->second;  // no file holds 1 byte: "not there"
                };
                for (const Files* f : std::initializer_list<const Files*>{&r.views[k], &r.views[k + 1], &now})
                    for (const auto& file : *f) {
                        const Bytes is = at(now, file.first);
                        if (bad.empty() && is != at(r.views[k], file.first) &&
                            is != at(r.views[k + 1], file.first))
                            bad = "'" + file.first + "' is neither as before nor as after";
                    }
                if (!bad.empty()) bad = script()[k].first + " (" + describe(w, choice) + "): " + bad;
                return bad.empty();
            },
            states);
        if (!bad.empty()) return bad;
        for (const Event* e : writes) applyWrite(durable, *e);
        writes.clear();
    }
    return writes.empty() ? "" : "writes after the last flush";
}

}  // namespace

TEST(MountCrash, EveryStateHoldsEachFileOldOrNew) {
    const Recorded run = record(0);
    std::uint64_t states = 0;
    EXPECT_EQ(firstBadState(run, &states), "");
    std::cout << "[ crash    ] mount session: " << run.stepEnds.size() << " steps, " << run.flushes
              << " flushes, " << states << " states\n";
    for (int drop = 1; drop <= run.flushes; ++drop) {
        const std::string bad = firstBadState(record(drop), &states);
        EXPECT_NE(bad, "") << "flush " << drop << " left out, and no bad state found";
        std::cout << "[ crash    ] mount session, flush " << drop << " left out: " << bad << "\n";
    }
}
