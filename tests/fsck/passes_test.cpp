// Each pass of z18fsck on a directory built here, held to what it decides: the passes before it
// run first, in the planner's order, and the row looks at the context the pass leaves and the
// codes of the problems raised so far.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "fsck/passes.h"
#include "support/disk_image.h"

using namespace z18::fsck;
using z18test::putEntry;

namespace {

struct Checked {
    Plan plan;
    Undelete undelete;
    Context c{undelete, plan};
};

struct PassRow {
    const char* pass;
    std::function<void(Checked&)> make;  // entries and data on a blank disk that was read whole
    const char* codes;
    std::function<void(const Context&)> check;
};

void data(Checked& r, int block) { r.plan.disk.bytes[z18::blockOffset(static_cast<unsigned>(block))] = 'D'; }

}  // namespace

TEST(FsckPasses, EachDecidesOnWhatThePassesBeforeItLeft) {
    const PassRow rows[] = {
        {"entries",
         [](Checked& r) {
             auto& img = r.plan.disk.bytes;
             std::fill_n(img.begin() + z18::DIRECTORY_OFFSET + 512, 512, 0);  // entries 16-31
             putEntry(img, 0, 0, "A       TXT", 0, 16, {1});
             putEntry(img, 1, 19, "A       TXT", 2, 16, {2});  // joins its name's user area
             putEntry(img, 2, 0, "\xC2       TXT", 0, 16, {3});
             putEntry(img, 3, 0, "D       TXT", 0, 16, {4, 5});
             putEntry(img, 4, 40, "<>      TXT", 0, 16, {6});  // no user area, no valid name: no file
         },
         "P202 P301 P405 P303",
         [](const Context& c) {
             EXPECT_EQ(c.directory[512 + 7], z18::FILLER_BYTE);
             EXPECT_TRUE(c.entries[1].area == 0 && !c.entries[1].dropped && !c.entries[1].sound);
             EXPECT_TRUE(!c.entries[2].nameValid && c.entries[2].onlyAttributes && c.entries[0].sound);
             EXPECT_TRUE(c.entries[3].blocks[1] == 0 && c.entries[3].stored[1] == 5 && c.entries[4].dropped);
         }},
        {"files",
         [](Checked& r) {
             putEntry(r.plan.disk.bytes, 0, 0, "C       DAT", 2, 16, {9});
             putEntry(r.plan.disk.bytes, 1, 0, "C       DAT", 0, 128, {1, 2, 3, 4, 5, 6, 7, 8});
             putEntry(r.plan.disk.bytes, 2, 0, "C       DAT", 0, 128, {11, 12, 13, 14, 15, 16, 17, 18});
             putEntry(r.plan.disk.bytes, 3, 0, "c       DAT", 0, 16, {10});
         },
         "P506 P304",
         [](const Context& c) {
             ASSERT_EQ(c.groups.size(), 3u);
             EXPECT_EQ(c.groups[0].entries, std::vector<int>({1, 0}));
             EXPECT_EQ(c.groups[0].name + c.groups[1].name + c.groups[2].name, "C.DATC~1.DATC~2.DAT");
             EXPECT_TRUE(c.groups[2].entries == std::vector<int>{2} && c.entries[2].renumber);
         }},
        {"undelete",
         [](Checked& r) {
             r.undelete.wanted = true;
             putEntry(r.plan.disk.bytes, 0, 0, "A       TXT", 0, 16, {1});
             putEntry(r.plan.disk.bytes, 1, 0xE5, "A       TXT", 0, 16, {2});
             putEntry(r.plan.disk.bytes, 2, 0xE5, "B       TXT", 0, 16, {1});
             putEntry(r.plan.disk.bytes, 3, 0xE5, "D       TXT", 2, 16, {3});
         },
         "",
         [](const Context& c) {
             ASSERT_EQ(c.erased.size(), 3u);
             EXPECT_TRUE(c.erased[0].restore && c.erased[0].name == "A~1.TXT" && c.plan.restored == 1);
             EXPECT_EQ(c.erased[1].lost, "block 1 now belongs to entry 0 'A.TXT'");
             EXPECT_EQ(c.erased[2].lost, "its first extent is gone");
             EXPECT_EQ(c.namedByErased, std::set<int>({1, 2, 3}));
         }},
        {"blocks",
         [](Checked& r) {
             putEntry(r.plan.disk.bytes, 0, 0, "A       TXT", 0, 32, {1, 2});
             putEntry(r.plan.disk.bytes, 1, 0, "B       TXT", 0, 32, {9, 2});
             data(r, 3);  // unnamed, but not empty: the last to be given as zeros
         },
         "P403",
         [](const Context& c) {
             EXPECT_TRUE(c.entries[0].blocks[1] == 2 && !c.entries[0].lost[1]);
             EXPECT_TRUE(c.entries[1].blocks[1] == 4 && c.entries[1].lost[1]);
             EXPECT_EQ(c.plan.zeroBlocks, std::vector<int>{4});
         }},
        {"records",
         [](Checked& r) {
             putEntry(r.plan.disk.bytes, 0, 0, "A       TXT", 0, 40, {1, 2});
             putEntry(r.plan.disk.bytes, 1, 0, "B       TXT", 0, 16, {3});
             r.plan.disk.read[z18::blockOffset(3) + 5 * z18::RECORD_SIZE + 9] = 0;
         },
         "P504 P601",
         [](const Context& c) {
             EXPECT_TRUE(c.entries[0].kept == 32 && c.entries[1].kept == 16);
             EXPECT_TRUE(c.plan.problems[1].low == 5 && c.plan.problems[1].high == 5);
         }},
        {"directory",
         [](Checked& r) {
             putEntry(r.plan.disk.bytes, 0, 19, "a       T\xD8T", 0, 16, {1});
             putEntry(r.plan.disk.bytes, 1, 0, "", 0, 0, {});
             putEntry(r.plan.disk.bytes, 2, 0, "B       TXT", 0, 200, {2});
         },
         "P301 P203 P501 P304 P504",
         [](const Context& c) {
             EXPECT_EQ(std::string(c.plan.directory, c.plan.directory + 12), "\3A       T\xD8T");
             EXPECT_EQ(c.plan.directory[32 + 9], z18::FILLER_BYTE);
             EXPECT_EQ(c.plan.directory[64 + z18::entry::RECORD_COUNT], 16);
         }},
        {"lost data",
         [](Checked& r) {
             putEntry(r.plan.disk.bytes, 0, 0, "A       TXT", 0, 16, {1});
             for (int b : {1, 10, 11, 12, 14}) data(r, b);
             std::fill_n(r.plan.disk.bytes.begin() + z18::blockOffset(13), z18::BLOCK_SIZE, 0);
         },
         "I705",
         [](const Context& c) {
             ASSERT_EQ(c.lost.size(), 2u);
             EXPECT_TRUE(c.lost[0].hostBase == "blocks-010-012" && c.lost[0].length == 48);
             EXPECT_EQ(whatText(c.plan.problems[0]), "data that no file names, in blocks 10-12, 14");
         }},
        {"salvage list",
         [](Checked& r) {
             putEntry(r.plan.disk.bytes, 0, 0, "A       TXT", 0, 16, {1});
             putEntry(r.plan.disk.bytes, 1, 40, "<>      TXT", 0, 16, {2});
             putEntry(r.plan.disk.bytes, 2, 0xE5, "E       TXT", 0, 16, {3});
             data(r, 4);
         },
         "P303 I702 I705",
         [](const Context& c) {
             const auto& files = c.plan.files;
             ASSERT_EQ(files.size(), 4u);
             EXPECT_TRUE(files[0].kind == FileKind::LIVE && files[1].area == 8 &&
                         files[2].kind == FileKind::ERASED && files[3].kind == FileKind::LOST);
             EXPECT_EQ(files[1].troubles,
                       std::vector<std::string>{"P303 user byte 40 is no user area (0 to 15)"});
         }},
    };
    for (const PassRow& row : rows) {
        SCOPED_TRACE(row.pass);
        auto run = std::make_unique<Checked>();
        run->plan.disk.bytes = z18test::blankImage();
        run->plan.disk.read.assign(z18::IMAGE_SIZE, 1);
        run->plan.disk.fileSize = z18::IMAGE_SIZE;
        row.make(*run);
        for (const Pass& pass : PASSES) {
            pass.run(run->c);
            if (std::string(pass.name) == row.pass) break;
        }
        std::string codes;
        for (const Problem& p : run->plan.problems) codes += (codes.empty() ? "" : " ") + codeText(p.code);
        EXPECT_EQ(codes, row.codes);
        row.check(run->c);
    }
}
