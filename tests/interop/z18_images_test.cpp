// Images that z18man builds, read by cpmtools: fsck.cpm finds nothing wrong, cpmls lists what the
// catalogue lists, and cpmcp copies every file out whole.
#include <filesystem>

#include "interop/cpmtools.h"

using namespace interop;

namespace {

// Checks disk.z18 against the model with fsck.cpm, cpmls, cpmcp and z18man's own catalogue.
void expectSeenAlikeByBoth(const Workspace& ws, const Model& model) {
    const ToolRun fsck = ws.cpm("fsck.cpm", {"-n", "disk.z18"});
    EXPECT_EQ(fsck.status, 0) << fsck.out;
    EXPECT_EQ(fsck.out.find("rror"), std::string::npos) << fsck.out;

    const ToolRun ls = ws.cpm("cpmls", {"disk.z18"});
    EXPECT_EQ(parseCpmls(ls.out), expectedCpmls(model)) << ls.out;

    const ToolRun list = ws.z18({"disk", "/c"});
    const Catalogue cat = parseCatalogue(list.out);
    std::vector<Row> rows = cat.rows;
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, expectedRows(model)) << list.out;
    EXPECT_EQ(cat.files, static_cast<int>(model.size())) << list.out;
    EXPECT_EQ(cat.freeK, 2 * (kDataBlocks - usedBlocks(model))) << list.out;
    const ToolRun dir = ws.cpm("cpmls", {"-D", "disk.z18"});
    if (model.size() > 1) {  // with fewer files this cpmls says "No files found" instead
        EXPECT_EQ(cpmlsFreeK(dir.out), cat.freeK) << dir.out;
    }

    std::filesystem::remove_all(ws / "out");
    ws.mkdir("out");
    if (model.empty()) return;
    const ToolRun cp = ws.cpm("cpmcp", {"disk.z18", "0:*", "out/"});
    EXPECT_EQ(cp.status, 0) << cp.out;
    for (const CpmFile& f : model)
        EXPECT_EQ(z18test::readFile(ws / ("out/" + lower(f.name))), f.padded()) << f.name;
    const auto copied =
        std::distance(std::filesystem::directory_iterator(ws / "out"), std::filesystem::directory_iterator());
    EXPECT_EQ(copied, static_cast<long>(model.size()));
}

// A random run of formats, adds and erases on disk.z18, with the files the image must hold.
class Scenario {
public:
    Scenario(const Workspace& ws, std::uint32_t seed) : ws_(ws), g_(seed) {}
    const Model& model() const { return model_; }

    void step(bool first) {
        const unsigned r = g_() % 10;
        if (first) {
            // A new image comes from a full format, or from an add that creates it.
            if (r < 4)
                fullFormat();
            else if (r < 7)
                add({});
            else
                add({"/f"});
        } else if (r < 4) {
            add({});
        } else if (r < 7) {
            erase();
        } else if (r == 7) {
            add({"/q"});
        } else if (r == 8) {
            add({"/f"});
        } else {
            fullFormat();
        }
    }

private:
    // New host files with names not yet in the image, in a directory of their own.
    std::string makeBatch(std::vector<CpmFile>* files) {
        const std::string dir = "h" + std::to_string(batches_++);
        ws_.mkdir(dir);
        int freeBlocks = kDataBlocks - usedBlocks(model_);
        // Now and then a crowd of small files, to run the directory out of entries.
        const bool crowd = g_() % 6 == 0;
        const int count = crowd ? 20 + static_cast<int>(g_() % 50) : 1 + static_cast<int>(g_() % 6);
        for (int i = 0; i < count; ++i) {
            CpmFile f;
            f.name = freshName(g_, model_, *files);
            if (f.name.empty()) continue;
            f.hostName = mixedCase(f.name, g_);
            const std::size_t size = crowd ? g_() % 3000 : randomSize(g_, freeBlocks);
            f.data = z18test::randomBytes(size, static_cast<std::uint32_t>(g_()));
            freeBlocks -= f.blocks();
            z18test::writeFile(ws_ / (dir + "/" + f.hostName), f.data);
            files->push_back(f);
        }
        return dir;
    }

    // What z18man makes of a batch: the files in the host's order of their names, up to the first
    // one that the directory or the disk has no room for.
    std::string expectAdded(std::vector<CpmFile> files, int* added) {
        std::sort(files.begin(), files.end(), [](const CpmFile& a, const CpmFile& b) {
            return z18test::hostOrderBefore(a.hostName, b.hostName);
        });
        *added = 0;
        for (const CpmFile& f : files) {
            if (usedEntries(model_) + f.entries() > kEntries) return "Directory full !!!";
            if (usedBlocks(model_) + f.blocks() > kDataBlocks) return "Disk full !!!";
            model_.push_back(f);
            ++*added;
        }
        return "";
    }

    // An add, alone or with a format switch before or after it.
    void add(const std::vector<std::string>& formatSwitches) {
        std::vector<CpmFile> files;
        const std::string dir = makeBatch(&files);
        std::vector<std::string> args{"disk"};
        args.insert(args.end(), formatSwitches.begin(), formatSwitches.end());
        args.insert(args.end(), {"/a", dir + "/*"});
        if (g_() % 2 && !formatSwitches.empty()) std::rotate(args.begin() + 1, args.begin() + 2, args.end());
        if (!formatSwitches.empty()) model_.clear();
        int added = 0;
        const std::string status = expectAdded(files, &added);
        const ToolRun run = ws_.z18(args);
        SCOPED_TRACE(run.out);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Done. " + std::to_string(added) + " file(s) added."), std::string::npos);
        if (status.empty())
            EXPECT_EQ(run.out.find(" !!!"), std::string::npos);
        else
            EXPECT_NE(run.out.find(status), std::string::npos) << status;
    }

    void fullFormat() {
        const ToolRun run = ws_.z18({"disk", "/f"});
        EXPECT_EQ(run.status, 0) << run.out;
        model_.clear();
    }

    // Erases one file by its name, the files that begin with one character, or everything.
    void erase() {
        std::string mask = "*.*";
        Model kept;
        if (!model_.empty() && g_() % 10 != 0) {
            const CpmFile& target = model_[g_() % model_.size()];
            const bool byName = g_() % 3 != 0;
            mask = byName ? mixedCase(target.name, g_) : std::string(1, target.name[0]) + "*.*";
            for (const CpmFile& f : model_)
                if (byName ? f.name != target.name : f.name[0] != target.name[0]) kept.push_back(f);
        }
        const std::size_t erased = model_.size() - kept.size();
        model_ = kept;
        const ToolRun run = ws_.z18({"disk", "/e", mask});
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("Done. " + std::to_string(erased) + " file(s) erased."), std::string::npos)
            << mask << "\n"
            << run.out;
    }

    const Workspace& ws_;
    std::mt19937 g_;
    Model model_;
    int batches_ = 0;
};

}  // namespace

TEST(Z18ImagesInCpmtools, RandomFormatAddEraseSequencesStayConsistent) {
    requireCpmtools();
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Workspace ws;
        Scenario scenario(ws, seed);
        for (int step = 0; step < 8; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            scenario.step(step == 0);
            expectSeenAlikeByBoth(ws, scenario.model());
            if (::testing::Test::HasFailure()) return;
        }
    }
}

// A disk with no free block and no free entry; z18man erases two files; cpmtools no longer lists
// them and fills exactly the blocks and entries they left.
TEST(Z18ImagesInCpmtools, ErasedFilesVanishAndCpmcpReusesTheirSpace) {
    requireCpmtools();
    Workspace ws;
    ws.mkdir("in");
    // One file of 4 blocks and ten of two entries and 17 blocks each: 174 blocks in 21 entries.
    // Then 44 empty files for the 43 entries left: the last in name order finds the directory full.
    Model model{{0, "A4.BLK", "", z18test::randomBytes(8192, 99)}};
    for (int i = 0; i < 10; ++i)
        model.push_back({0, "BIG" + std::to_string(i) + ".DAT", "", z18test::randomBytes(32769, 10 + i)});
    for (int i = 0; i < 44; ++i) model.push_back({0, "E" + std::to_string(i), "", {}});
    for (CpmFile& f : model) z18test::writeFile(ws / ("in/" + f.name), f.data);
    const ToolRun add = ws.z18({"disk", "/a", "in/*"});
    EXPECT_NE(add.out.find("Directory full !!!\n\nDone. 54 file(s) added."), std::string::npos) << add.out;
    EXPECT_EQ(add.out.find("File 'E9' added"), std::string::npos) << add.out;
    model.erase(std::find_if(model.begin(), model.end(), [](const CpmFile& f) { return f.name == "E9"; }));

    const ToolRun fsck = ws.cpm("fsck.cpm", {"-n", "disk.z18"});
    EXPECT_NE(fsck.out.find("64/64 files"), std::string::npos) << fsck.out;
    EXPECT_NE(fsck.out.find("175/175 blocks"), std::string::npos) << fsck.out;
    z18test::writeFile(ws / "one.byte", std::string("x"));
    EXPECT_NE(ws.cpm("cpmcp", {"disk.z18", "one.byte", "0:one.byte"}).status, 0) << "the disk should be full";

    EXPECT_EQ(ws.z18({"disk", "/e", "big3.dat"}).status, 0);
    EXPECT_EQ(ws.z18({"disk", "/e", "BIG7.*"}).status, 0);
    model.erase(model.begin() + 8);  // BIG7.DAT
    model.erase(model.begin() + 4);  // BIG3.DAT

    // The space of the two: 34 blocks and 4 entries, for a file of three entries and an empty one.
    CpmFile spill{0, "SPILL.BIN", "", z18test::randomBytes(34 * 2048, 7)};
    z18test::writeFile(ws / "spill.bin", spill.data);
    z18test::writeFile(ws / "empty", std::string());
    const ToolRun cp1 = ws.cpm("cpmcp", {"disk.z18", "spill.bin", "0:spill.bin"});
    EXPECT_EQ(cp1.status, 0) << cp1.out;
    const ToolRun cp2 = ws.cpm("cpmcp", {"disk.z18", "empty", "0:empty"});
    EXPECT_EQ(cp2.status, 0) << cp2.out;
    model.push_back(spill);
    model.push_back({0, "EMPTY", "", {}});

    const ToolRun after = ws.cpm("fsck.cpm", {"-n", "disk.z18"});
    EXPECT_NE(after.out.find("64/64 files"), std::string::npos) << after.out;
    EXPECT_NE(after.out.find("175/175 blocks"), std::string::npos) << after.out;
    expectSeenAlikeByBoth(ws, model);

    // z18man reads the file that cpmtools wrote into the freed space back whole.
    ws.mkdir("x");
    EXPECT_EQ(ws.z18({"disk", "/x", "x/spill.bin"}).status, 0);
    EXPECT_EQ(z18test::readFile(ws / "x/SPILL.BIN"), spill.data);
}
