// z18man's add and erase leave the directory bytes that cpmcp and cpmrm leave for the same files
// in the same order. Byte 13 of each entry is the one exception: cpmtools keeps the byte count of
// the last record there, z18man writes 0.
#include <iomanip>

#include "interop/cpmtools.h"

using namespace interop;

namespace {

// Empty when the two directories agree outside byte 13 of each entry, else the first entry that
// differs, as both tools wrote it.
std::string directoryDifference(const Bytes& z18, const Bytes& cpm) {
    if (z18.size() != 2048 || cpm.size() != 2048) return "directory missing";
    for (std::size_t e = 0; e < 64; ++e) {
        for (std::size_t i = 0; i < 32; ++i) {
            const std::size_t at = e * 32 + i;
            if (i == 13 || z18[at] == cpm[at]) continue;
            std::ostringstream msg;
            msg << "entry " << e << " byte " << i << std::hex << std::setfill('0');
            msg << "\n z18man:  ";
            for (std::size_t k = 0; k < 32; ++k) msg << ' ' << std::setw(2) << int(z18[e * 32 + k]);
            msg << "\n cpmtools:";
            for (std::size_t k = 0; k < 32; ++k) msg << ' ' << std::setw(2) << int(cpm[e * 32 + k]);
            return msg.str();
        }
    }
    return "";
}

}  // namespace

TEST(DirectoryBytes, AddAndEraseWriteWhatCpmtoolsWrites) {
    requireCpmtools();
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Workspace ws;
        ASSERT_EQ(ws.z18({"z18", "/f"}).status, 0);
        ASSERT_EQ(ws.z18({"cpm", "/f"}).status, 0);
        std::mt19937 g(seed * 104729u);
        Model model;
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            const std::string dir = "h" + std::to_string(round);
            ws.mkdir(dir);
            Model batch;
            const int count = 1 + static_cast<int>(g() % 6);
            for (int i = 0; i < count; ++i) {
                CpmFile f;
                f.name = freshName(g, model, batch);
                const int freeBlocks = kDataBlocks - usedBlocks(model) - usedBlocks(batch);
                f.data = z18test::randomBytes(randomSize(g, freeBlocks), static_cast<std::uint32_t>(g()));
                if (f.name.empty() || f.blocks() > freeBlocks ||
                    usedEntries(model) + usedEntries(batch) + f.entries() > kEntries)
                    continue;
                f.hostName = mixedCase(f.name, g);
                z18test::writeFile(ws / (dir + "/" + f.hostName), f.data);
                batch.push_back(f);
            }
            // z18man takes the host files in the host's order of their names; cpmcp gets them so too.
            std::sort(batch.begin(), batch.end(), [](const CpmFile& a, const CpmFile& b) {
                return z18test::hostOrderBefore(a.hostName, b.hostName);
            });
            const ToolRun add = ws.z18({"z18", "/a", dir + "/*"});
            EXPECT_EQ(add.out.find(" !!!"), std::string::npos) << add.out;
            for (const CpmFile& f : batch) {
                const ToolRun cp = ws.cpm("cpmcp", {"cpm.z18", dir + "/" + f.hostName, "0:" + f.name});
                EXPECT_EQ(cp.status, 0) << cp.out;
                model.push_back(f);
            }
            EXPECT_EQ(directoryDifference(directoryOf(ws / "z18.z18"), directoryOf(ws / "cpm.z18")), "")
                << "after adding";

            // Erasing frees entries in the middle, which the next round's files take again.
            for (int k = static_cast<int>(g() % 3); k > 0 && !model.empty(); --k) {
                const std::size_t gone = g() % model.size();
                EXPECT_EQ(ws.z18({"z18", "/e", model[gone].name}).status, 0);
                EXPECT_EQ(ws.cpm("cpmrm", {"cpm.z18", "0:" + model[gone].name}).status, 0);
                model.erase(model.begin() + static_cast<long>(gone));
            }
            EXPECT_EQ(directoryDifference(directoryOf(ws / "z18.z18"), directoryOf(ws / "cpm.z18")), "")
                << "after erasing";
            if (::testing::Test::HasFailure()) return;
        }
    }
}
