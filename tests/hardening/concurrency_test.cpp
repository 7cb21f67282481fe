// Many z18man processes released at the same instant on one image: adds of distinct files,
// erases, catalogues and extracts. Each either does its work or reports that it could not open the
// image; afterwards cpmtools finds the image sound and every file reported as added is in it,
// byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "hardening.h"
#include "support/cpmtools.h"

using namespace z18test;
using namespace hardening;

namespace {

struct Pool {
    TempDir work;                            // the image, the host files, the extract folders
    TempDir logs;                            // the output of every process, kept out of the working directory
    std::map<std::string, Bytes> hostBytes;  // by CP/M name, upper case

    void hostFile(const std::string& rel, const std::string& cpmName, std::size_t size, std::uint32_t seed) {
        fs::create_directories(fs::path(work / rel).parent_path());
        hostBytes[cpmName] = randomBytes(size, seed);
        writeFile(work / rel, hostBytes[cpmName]);
    }
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs of the executable held at one gate and released together, each with its output in a file.
class Crowd {
public:
    struct Run {
        std::vector<std::string> args;
        std::string outFile;
        int status = -1;
    };
    // Starts a run in cwd that waits at the gate, and then delayUs microseconds more.
    void add(const std::vector<std::string>& args, const std::string& cwd, const std::string& outFile,
             unsigned delayUs = 0) {
        Launch how;
        how.cwd = cwd;
        how.out = Stream::file(outFile);
        how.gate = &gate_;
        how.delayUs = delayUs;
        children_.push_back(startExe(args, how));
        runs_.push_back(Run{args, outFile});
    }
    // Opens the gate and waits for every run.
    std::vector<Run>& releaseAndWait() {
        gate_.release();
        for (std::size_t i = 0; i < runs_.size(); ++i) runs_[i].status = children_[i].wait();
        return runs_;
    }

private:
    Gate gate_;
    std::vector<Child> children_;
    std::vector<Run> runs_;
};

// What fsck.cpm says about an image; empty when it finds nothing wrong.
std::string fsckComplaints(const std::string& dir, const std::string& image) {
    const ExeResult r = cpmtool("fsck.cpm", {"-n", image}, dir);
    if (r.status == 0 && !contains(r.out, "Error")) return std::string();
    return "fsck.cpm exit " + std::to_string(r.status) + ":\n" + r.out.substr(0, 2000);
}

// Reads one file out of the image with cpmtools; false when cpmcp cannot find it.
bool cpmRead(const std::string& dir, const std::string& image, const std::string& name, Bytes* bytes) {
    const std::string dest = dir + "/cpmcp.out";
    fs::remove(dest);
    const ExeResult r = cpmtool("cpmcp", {image, "0:" + name, "cpmcp.out"}, dir);
    if (r.status != 0 || !fileExists(dest)) return false;
    *bytes = readFile(dest);
    return true;
}

// Every file reported as added must come back from the image exactly (to whole records).
void expectAddedFilesIntact(const Pool& pool, const std::string& image, const std::set<std::string>& added) {
    for (const std::string& name : added) {
        Bytes back;
        ASSERT_TRUE(cpmRead(pool.work.path(), image, name, &back)) << name << " is not in the image";
        EXPECT_TRUE(back == padded(pool.hostBytes.at(name))) << name << " differs from its host file";
    }
}

}  // namespace

TEST(Concurrency, ManyRunsOnOneImage) {
    Z18_SKIP_FOR_WINDOWS_EXE("exclusive opens and process start-up under Wine are another test");
    Z18_SKIP_FOR_NODE_EXE("it takes no locks, so runs at the same time are not kept apart");
    if (!haveCpmtools()) GTEST_SKIP() << "cpmtools (fsck.cpm, cpmcp) is not installed";
    Pool pool;
    writeDiskdefs(pool.work.path());
    for (int i = 0; i < 8; ++i)
        pool.hostFile("pre/pre" + std::to_string(i) + ".dat", "PRE" + std::to_string(i) + ".DAT",
                      1000 + 3000 * i, 50 + i);
    ASSERT_EQ(runExe({"disk", "/a", "pre\\*.dat"}, pool.work.path()).status, 0);

    const int kRounds = 4, kAdds = 6, kErases = 2, kCatalogues = 2, kExtracts = 2;
    std::set<std::string> added, erased;
    int openFailures = 0;
    for (int round = 0; round < kRounds; ++round) {
        Crowd crowd;
        std::vector<std::string> kinds;
        // Released together, the readers alone would win every time; spreading the starts over a
        // few milliseconds lets each kind be first now and then.
        std::mt19937 spread(77 + round);
        auto start = [&](const std::string& kind, const std::vector<std::string>& args) {
            kinds.push_back(kind);
            crowd.add(args, pool.work.path(),
                      pool.logs / (std::to_string(round) + "-" + std::to_string(kinds.size())),
                      spread() % 80000);
        };
        for (int i = 0; i < kAdds; ++i) {
            const std::string stem = "R" + std::to_string(round) + "F" + std::to_string(i);
            // One file per round spans two directory entries. All of them together fit: a full disk
            // is not what this test is about.
            pool.hostFile("in/" + stem + ".dat", stem + ".DAT", i == 0 ? 34000 : 500 * (i + 1) + 300 * round,
                          1000 + round * 10 + i);
            start("add", {"disk", "/a", "in\\" + stem + ".dat"});
        }
        for (int i = 0; i < kErases; ++i)
            start("erase", {"disk", "/e", "pre" + std::to_string(round * kErases + i) + ".dat"});
        for (int i = 0; i < kCatalogues; ++i) start("catalogue", {"disk", "/c"});
        for (int i = 0; i < kExtracts; ++i) {
            const std::string out = "x" + std::to_string(round) + "_" + std::to_string(i);
            fs::create_directory(pool.work / out);
            start("extract", {"disk", "/x", out + "\\*.*"});
        }

        const std::vector<Crowd::Run>& runs = crowd.releaseAndWait();
        for (std::size_t r = 0; r < runs.size(); ++r) {
            const Bytes raw = readFile(runs[r].outFile);
            const std::string out(raw.begin(), raw.end());
            SCOPED_TRACE(kinds[r] + " run " + std::to_string(r) + " of round " + std::to_string(round) +
                         ":\n" + out);
            const std::string refused = kinds[r] == "add" ? "Image 'disk.z18' already exist !!!\n"
                                                          : "Can't open image 'disk.z18' !!!\n";
            if (runs[r].status == 1 && contains(out, refused)) {
                ++openFailures;
                continue;
            }
            ASSERT_EQ(runs[r].status, 0);
            EXPECT_FALSE(contains(out, "!!!")) << "a completed run reported a failure";
            if (kinds[r] == "add") {
                const std::string name = runs[r].args[2].substr(3, runs[r].args[2].size() - 3);
                std::string upper = name;
                for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                EXPECT_TRUE(contains(out, "File '" + upper + "' added\n"));
                added.insert(upper);
            } else if (kinds[r] == "erase") {
                EXPECT_TRUE(contains(out, "Done. 1 file(s) erased."));
                std::string upper = runs[r].args[2];
                for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                erased.insert(upper);
            } else if (kinds[r] == "catalogue") {
                EXPECT_TRUE(contains(out, " file(s), "));
            } else {
                EXPECT_TRUE(contains(out, " file(s) extracted."));
            }
        }
        EXPECT_EQ(fsckComplaints(pool.work.path(), "disk.z18"), "") << "after round " << round;
    }

    EXPECT_FALSE(added.empty()) << "no add got the image in " << kRounds << " rounds";
    expectAddedFilesIntact(pool, "disk.z18", added);
    for (int i = 0; i < 8; ++i) {
        const std::string name = "PRE" + std::to_string(i) + ".DAT";
        Bytes back;
        const bool present = cpmRead(pool.work.path(), "disk.z18", name, &back);
        EXPECT_EQ(present, erased.count(name) == 0) << name;
        if (present) {
            EXPECT_TRUE(back == padded(pool.hostBytes.at(name))) << name;
        }
    }
    // What the extracts wrote is whole, whenever they ran.
    for (const auto& entry : fs::recursive_directory_iterator(pool.work.path())) {
        const std::string folder = entry.path().parent_path().filename().string();
        if (!entry.is_regular_file() || folder.empty() || folder[0] != 'x') continue;
        const std::string name = entry.path().filename().string();
        ASSERT_EQ(pool.hostBytes.count(name), 1u) << name;
        EXPECT_TRUE(readFile(entry.path().string()) == padded(pool.hostBytes.at(name))) << entry.path();
    }
    RecordProperty("open_failures", openFailures);
    RecordProperty("files_added", static_cast<int>(added.size()));
}

TEST(Concurrency, ManyAddsCreatingOneImage) {
    Z18_SKIP_FOR_WINDOWS_EXE("exclusive opens and process start-up under Wine are another test");
    Z18_SKIP_FOR_NODE_EXE("it takes no locks, so runs at the same time are not kept apart");
    if (!haveCpmtools()) GTEST_SKIP() << "cpmtools (fsck.cpm, cpmcp) is not installed";
    Pool pool;
    writeDiskdefs(pool.work.path());
    Crowd crowd;
    const int kAdds = 8;
    for (int i = 0; i < kAdds; ++i) {
        pool.hostFile("in/n" + std::to_string(i) + ".dat", "N" + std::to_string(i) + ".DAT", 5000 * (i + 1),
                      300 + i);
        crowd.add({"fresh", "/a", "in\\n" + std::to_string(i) + ".dat"}, pool.work.path(),
                  pool.logs / std::to_string(i));
    }
    std::set<std::string> added;
    int created = 0;
    for (const Crowd::Run& run : crowd.releaseAndWait()) {
        const Bytes raw = readFile(run.outFile);
        const std::string out(raw.begin(), raw.end());
        SCOPED_TRACE(out);
        if (run.status == 1) {
            EXPECT_TRUE(contains(out, "Image 'fresh.z18' already exist !!!\n"));
            continue;
        }
        ASSERT_EQ(run.status, 0);
        created += contains(out, "Image 'fresh.z18' was created.\n") ? 1 : 0;
        const std::string name = "N" + run.args[2].substr(4, 1) + ".DAT";
        EXPECT_TRUE(contains(out, "File '" + name + "' added\n"));
        added.insert(name);
    }
    EXPECT_EQ(created, 1) << "exactly one run makes the image";
    EXPECT_FALSE(added.empty());
    EXPECT_EQ(readFile(pool.work / "fresh.z18").size(), 368640u);
    EXPECT_EQ(fsckComplaints(pool.work.path(), "fresh.z18"), "");
    expectAddedFilesIntact(pool, "fresh.z18", added);
}
