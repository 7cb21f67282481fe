// Each pass of z18fsck on a directory built here, held to what it decides: the passes before it
// run first, in the planner's order, and the row looks at the context the pass leaves and the
// codes of the problems raised so far.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "fsck/passes.h"
#include "support/disk_image.h"

using namespace z18::fsck;
using z18test::makeEntry;

namespace {

struct Checked {
    Plan plan;
    Undelete undelete;
    Context c{undelete, plan};
};

struct PassRow {
    const char* pass;
    std::vector<z18test::Bytes> entries;  // entry 0 on, on a blank disk that was read whole
    std::function<void(Checked&)> more;   // data blocks, unread bytes, undelete, where the row needs them
    const char* codes;
    std::function<void(const Context&)> check;
};

void data(Checked& r, int block) {
    std::fill_n(r.plan.disk.bytes.begin() +
                    static_cast<std::ptrdiff_t>(z18::blockOffset(static_cast<unsigned>(block))),
                z18::RECORD_SIZE, 'D');
}

}  // namespace

TEST(FsckPasses, EachDecidesOnWhatThePassesBeforeItLeft) {
    const auto none = [](Checked&) {};
    const PassRow rows[] = {
        {"entries",
         {makeEntry(0, "A       TXT", 0, 16, {1}), makeEntry(19, "A       TXT", 2, 16, {2}),
          makeEntry(0, "\xC2       TXT", 0, 16, {3}), makeEntry(0, "D       TXT", 0, 16, {4, 5}),
          makeEntry(40, "<>      TXT", 0, 16, {6})},
         [](Checked& r) { std::fill_n(r.plan.disk.bytes.begin() + z18::DIRECTORY_OFFSET + 512, 512, 0); },
         "P202 P301 P405 P303",
         [](const Context& c) {
             EXPECT_EQ(c.directory[512 + 7], z18::FILLER_BYTE);  // entries 16-31 are free
             EXPECT_TRUE(c.entries[1].area == 0 && !c.entries[1].dropped && !c.entries[1].sound);
             EXPECT_TRUE(!c.entries[2].nameValid && c.entries[2].onlyAttributes && c.entries[0].sound);
             EXPECT_TRUE(c.entries[3].blocks[1] == 0 && c.entries[3].stored[1] == 5 && c.entries[4].dropped);
         }},
        {"files",
         {makeEntry(0, "C       DAT", 2, 16, {9}),
          makeEntry(0, "C       DAT", 0, 128, {1, 2, 3, 4, 5, 6, 7, 8}),
          makeEntry(0, "C       DAT", 0, 128, {11, 12, 13, 14, 15, 16, 17, 18}),
          makeEntry(0, "c       DAT", 0, 16, {10})},
         none,
         "P506 P304",
         [](const Context& c) {
             ASSERT_EQ(c.groups.size(), 3u);
             EXPECT_EQ(c.groups[0].entries, std::vector<int>({1, 0}));
             EXPECT_EQ(c.groups[0].name + c.groups[1].name + c.groups[2].name, "C.DATC~1.DATC~2.DAT");
             EXPECT_TRUE(c.groups[2].entries == std::vector<int>{2} && c.entries[2].renumber);
         }},
        {"undelete",
         {makeEntry(0, "A       TXT", 0, 16, {1}), makeEntry(0xE5, "A       TXT", 0, 16, {2}),
          makeEntry(0xE5, "B       TXT", 0, 16, {1}), makeEntry(0xE5, "D       TXT", 2, 16, {3})},
         [](Checked& r) { r.undelete.wanted = true; },
         "",
         [](const Context& c) {
             ASSERT_EQ(c.erased.size(), 3u);
             EXPECT_TRUE(c.erased[0].restore && c.erased[0].name == "A~1.TXT" && c.plan.restored == 1);
             EXPECT_EQ(c.erased[1].lost, "block 1 now belongs to entry 0 'A.TXT'");
             EXPECT_EQ(c.erased[2].lost, "its first extent is gone");
             EXPECT_EQ(c.namedByErased, std::set<int>({1, 2, 3}));
         }},
        // Block 2 continues A's run: A keeps it, and B gets the first empty block that nothing
        // names, not block 3, which holds data.
        {"blocks",
         {makeEntry(0, "A       TXT", 0, 32, {1, 2}), makeEntry(0, "B       TXT", 0, 32, {9, 2})},
         [](Checked& r) { data(r, 3); },
         "P403",
         [](const Context& c) {
             EXPECT_TRUE(c.entries[0].blocks[1] == 2 && !c.entries[0].lost[1]);
             EXPECT_TRUE(c.entries[1].blocks[1] == 4 && c.entries[1].lost[1]);
             EXPECT_EQ(c.plan.zeroBlocks, std::vector<int>{4});
         }},
        {"records",
         {makeEntry(0, "A       TXT", 0, 40, {1, 2}), makeEntry(0, "B       TXT", 0, 16, {3})},
         [](Checked& r) { r.plan.disk.read[z18::blockOffset(3) + 5 * z18::RECORD_SIZE + 9] = 0; },
         "P504 P601",
         [](const Context& c) {
             EXPECT_TRUE(c.entries[0].kept == 32 && c.entries[1].kept == 16);
             EXPECT_TRUE(c.plan.problems[1].low == 5 && c.plan.problems[1].high == 5);
         }},
        {"directory",
         {makeEntry(19, "a       T\xD8T", 0, 16, {1}), makeEntry(0, "", 0, 0, {}),
          makeEntry(0, "B       TXT", 0, 200, {2})},
         none,
         "P301 P203 P501 P304 P504",
         [](const Context& c) {
             EXPECT_EQ(std::string(c.plan.directory, c.plan.directory + 12), "\3A       T\xD8T");
             EXPECT_EQ(c.plan.directory[32 + 9], z18::FILLER_BYTE);
             EXPECT_EQ(c.plan.directory[64 + z18::entry::RECORD_COUNT], 16);
         }},
        {"lost data",
         {makeEntry(0, "A       TXT", 0, 16, {1})},
         [](Checked& r) {
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
         {makeEntry(0, "A       TXT", 0, 16, {1}), makeEntry(40, "<>      TXT", 0, 16, {2}),
          makeEntry(0xE5, "E       TXT", 0, 16, {3})},
         [](Checked& r) { data(r, 4); },
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
        for (std::size_t i = 0; i < row.entries.size(); ++i)
            std::copy(row.entries[i].begin(), row.entries[i].end(),
                      z18test::entryIn(run->plan.disk.bytes, static_cast<int>(i)));
        run->plan.disk.read.assign(z18::IMAGE_SIZE, 1);
        run->plan.disk.fileSize = z18::IMAGE_SIZE;
        row.more(*run);
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
