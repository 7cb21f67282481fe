// Power cuts at every moment of a session in the folder: copies in, overwrites, an append, renames
// (over a file, into another area), an erasure, a truncate, attributes, a change that does not fit.
// Recorded once on the in-memory host, every image the disk may hold after a cut (the page model
// of support/power_cut.h) must load, pass z18fsck, and show each file whole as it was before the
// step in hand or after it; and each step ends with a flush, as a close promises the file is on the
// disk. Leaving out any one flush must let a bad state through, or the checker proves nothing.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include "mount/mount_util.h"
#include "support/fsck_records.h"
#include "support/power_cut.h"
#include "support/test_support.h"

using namespace mounttest;
using z18::FolderError;

namespace {

struct Step {
    std::string name;
    std::function<FolderError(z18::Volume&)> run;
    FolderError gives = FolderError::None;
};

const std::vector<Step> SCRIPT = {
    {"copy in", [](z18::Volume& v) { return put(v, "/NEW1.DAT", randomBytes(3 * 2048, 10)); }},
    {"copy in 2 entries", [](z18::Volume& v) { return put(v, "/NEW2.DAT", randomBytes(17 * 2048 + 1, 11)); }},
    {"overwrite larger", [](z18::Volume& v) { return put(v, "/OLD1.DAT", randomBytes(5 * 2048, 12)); }},
    {"overwrite smaller", [](z18::Volume& v) { return put(v, "/OLD2.DAT", randomBytes(3000, 13)); }},
    {"append", [](z18::Volume& v) { return writeInto(v, "/OLD3.DAT", 2048, randomBytes(3000, 40)); }},
    {"rename over", [](z18::Volume& v) { return v.rename("/NEW1.DAT", "/OLD3.DAT", true); }},
    {"to area 2", [](z18::Volume& v) { return v.makeFolder("/u2"), v.rename("/NEW2.DAT", "/u2/N", true); }},
    {"erase", [](z18::Volume& v) { return v.remove("/OLD4.DAT"); }},
    {"truncate", [](z18::Volume& v) { return v.resize("/OLD1.DAT", nullptr, 1000); }},
    {"attributes",
     [](z18::Volume& v) { return v.setAttribute("/OLD2.DAT", z18::ATTRIBUTES_NAME, "RS", false, false); }},
    {"no room", [](z18::Volume& v) { return put(v, "/u2/N", randomBytes(160 * 2048, 14)); },
     FolderError::NoSpace},
    {"copy into freed blocks",
     [](z18::Volume& v) { return put(v, "/LAST.DAT", randomBytes(12 * 2048, 15)); }}};

Bytes startImage() {
    Files in;
    for (std::uint32_t i = 0; i < 4; ++i)
        in["OLD" + std::to_string(i + 1) + ".DAT"] = randomBytes((i * 3 + 2) * 1900, i);
    return imageWith(in);
}

// The session, recorded with flush `drop` left out (0: none), and the first bad crash state of
// it, or "" where there is none; *flushes receives the flushes it asked for, *states counts states.
std::string firstBadState(int drop, int* flushes, std::uint64_t* states) {
    z18::MemEnv env;
    env.putFile(IMAGE, startImage());
    z18::RecordingEnv recording(&env, IMAGE);
    recording.dropFlush(drop);
    std::ostringstream out;
    z18::Session s(recording, out);
    const std::unique_ptr<z18::Volume> v = mountImage(s, false);
    if (!v) return "the image does not load";
    std::vector<std::size_t> stepEnds;    // the log's length after each step
    std::vector<Files> views{files(*v)};  // the folder before the first step, then after each
    for (const Step& step : SCRIPT) {
        EXPECT_EQ(step.run(*v), step.gives) << step.name;
        stepEnds.push_back(recording.log().size());
        views.push_back(files(*v));
    }
    *flushes = recording.flushCalls();
    const std::vector<Event>& log = recording.log();
    for (std::size_t k = 0, from = 0; k < stepEnds.size(); from = stepEnds[k++])
        if (stepEnds[k] > from && !log[stepEnds[k] - 1].flush)
            return SCRIPT[k].name + ": not on the disk when it returns";
    if (!log.empty() && !log.back().flush) return "writes after the last flush";
    const Walk walk = walkCuts(startImage(), log, 1, [&](const Cut& cut) -> std::string {
        if (cut.ended) return "";  // the disk as the last step left it, judged with that step
        // The cut came during the step of the latest write the state holds: every step before it
        // has ended, and each file is as before that step or after it.
        std::size_t k = 0;
        while (stepEnds[k] <= cut.latest) ++k;
        Mounted state(cut.image, true);
        if (!state.volume) return SCRIPT[k].name + ": does not load";
        const Files now = state.files();
        std::string report;
        if (fsckRun(state.env, {IMAGE}, &report) != z18::fsck::EXIT_CLEAN)
            return SCRIPT[k].name + ": z18fsck finds problems";
        auto at = [](const Files& f, const std::string& name) {
            auto it = f.find(name);
            return it == f.end() ? Bytes(1) : it->second;  // no file holds 1 byte: "not there"
        };
        for (const Files* f : std::initializer_list<const Files*>{&views[k], &views[k + 1], &now})
            for (const auto& file : *f) {
                const Bytes is = at(now, file.first);
                if (is != at(views[k], file.first) && is != at(views[k + 1], file.first))
                    return SCRIPT[k].name + ": '" + file.first + "' is neither as before nor as after";
            }
        return "";
    });
    *states += walk.states;
    return walk.bad;
}

}  // namespace

TEST(MountCrash, EveryStateHoldsEachFileOldOrNew) {
    int flushes = 0, asked = 0;
    std::uint64_t states = 0;
    EXPECT_EQ(firstBadState(0, &flushes, &states), "");
    std::cout << "[ crash    ] mount session: " << SCRIPT.size() << " steps, " << flushes << " flushes, "
              << states << " states\n";
    for (int drop = 1; drop <= flushes; ++drop) {
        const std::string bad = firstBadState(drop, &asked, &states);
        EXPECT_NE(bad, "") << "flush " << drop << " left out, and no bad state found";
        std::cout << "[ crash    ] mount session, flush " << drop << " left out: " << bad << "\n";
    }
}
