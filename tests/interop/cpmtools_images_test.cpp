// Images that cpmtools fills, read by z18man: files in every user area, read-only and system
// files, files of several entries and files in the gaps of removed ones are listed by the
// catalogue with their records and flags, and extracted whole to the record.
#include <filesystem>

#include "interop/cpmtools.h"

using namespace interop;

namespace {

// Copies files in with cpmcp, sets attributes with cpmchattr and removes some with cpmrm, in
// rounds, so that later files take the entries and blocks earlier ones gave back.
Model fillWithCpmtools(const Workspace& ws, std::mt19937& g) {
    Model model;
    ws.mkdir("in");
    int hostFiles = 0;
    for (int round = 0; round < 4; ++round) {
        const int count = 1 + static_cast<int>(g() % 8);
        for (int i = 0; i < count; ++i) {
            CpmFile f;
            f.user = static_cast<int>(g() % 16);
            f.name = freshName(g, model);
            f.data = z18test::randomBytes(randomSize(g, kDataBlocks - usedBlocks(model)),
                                          static_cast<std::uint32_t>(g()));
            if (f.name.empty() || usedBlocks(model) + f.blocks() > kDataBlocks ||
                usedEntries(model) + f.entries() > kEntries)
                continue;
            f.hostName = "in/f" + std::to_string(hostFiles++);
            z18test::writeFile(ws / f.hostName, f.data);
            const std::string cpmName = std::to_string(f.user) + ":" + mixedCase(f.name, g);
            const ToolRun cp = ws.cpm("cpmcp", {"disk.z18", f.hostName, cpmName});
            EXPECT_EQ(cp.status, 0) << cpmName << "\n" << cp.out;

            static const char* const kAttributes[] = {"", "r", "s", "rs"};
            const std::string attributes = kAttributes[g() % 4];
            if (!attributes.empty()) {
                const ToolRun chattr = ws.cpm("cpmchattr", {"disk.z18", attributes, cpmName});
                EXPECT_EQ(chattr.status, 0) << chattr.out;
                f.readOnly = attributes.find('r') != std::string::npos;
                f.hidden = attributes.find('s') != std::string::npos;
            }
            model.push_back(f);
        }
        if (!model.empty() && g() % 3 != 0) {
            const std::size_t gone = g() % model.size();
            const std::string cpmName = std::to_string(model[gone].user) + ":" + model[gone].name;
            const ToolRun rm = ws.cpm("cpmrm", {"disk.z18", cpmName});
            EXPECT_EQ(rm.status, 0) << rm.out;
            model.erase(model.begin() + static_cast<long>(gone));
        }
    }
    return model;
}

}  // namespace

TEST(CpmtoolsImagesInZ18, ListedAndExtractedToTheRecord) {
    requireCpmtools();
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Workspace ws;
        if (seed % 2) {
            ASSERT_EQ(ws.z18({"disk", "/f"}).status, 0);
        } else {
            // mkfs.cpm writes only the system tracks and the directory; grown to the full size,
            // its image is one z18man takes.
            ASSERT_EQ(ws.cpm("mkfs.cpm", {"disk.z18"}).status, 0);
            std::filesystem::resize_file(ws / "disk.z18", 368640);
        }
        std::mt19937 g(seed * 7919u);
        const Model model = fillWithCpmtools(ws, g);
        if (::testing::Test::HasFailure()) return;

        const ToolRun list = ws.z18({"disk", "/c"});
        const Catalogue cat = parseCatalogue(list.out);
        std::vector<Row> rows = cat.rows;
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, expectedRows(model)) << list.out;
        EXPECT_EQ(cat.freeK, 2 * (kDataBlocks - usedBlocks(model))) << list.out;

        const z18test::Bytes before = z18test::readFile(ws / "disk.z18");
        ws.mkdir("out");
        const ToolRun extract = ws.z18({"disk", "/x", "out/*.*"});
        EXPECT_EQ(extract.status, 0);
        EXPECT_NE(extract.out.find("Done. " + std::to_string(model.size()) + " file(s) extracted."),
                  std::string::npos)
            << extract.out;
        for (const CpmFile& f : model)
            EXPECT_EQ(z18test::readFile(ws / ("out/" + f.name)), f.padded()) << f.user << ":" << f.name;
        EXPECT_EQ(z18test::readFile(ws / "disk.z18"), before) << "extracting changed the image";

        // A file erased by z18man, whatever its user area and attributes, is gone for cpmtools too.
        if (model.empty()) continue;
        Model left = model;
        const CpmFile gone = left[g() % left.size()];
        left.erase(
            std::find_if(left.begin(), left.end(), [&](const CpmFile& f) { return f.name == gone.name; }));
        EXPECT_EQ(ws.z18({"disk", "/e", gone.name}).status, 0);
        const ToolRun ls = ws.cpm("cpmls", {"disk.z18"});
        EXPECT_EQ(parseCpmls(ls.out), expectedCpmls(left)) << ls.out;
        const ToolRun fsck = ws.cpm("fsck.cpm", {"-n", "disk.z18"});
        EXPECT_EQ(fsck.status, 0) << fsck.out;
    }
}
