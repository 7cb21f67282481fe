// The catalogue: row format, sort order, paging, sizes, flags and totals, checked on the exact text.
#include <cstdio>

#include "commands/command_util.h"

using namespace cmdtest;
using namespace z18test;

namespace {

const std::string HEAD_RULE =
    "Name          RECS  SIZE  RH\tName          RECS  SIZE  RH\n"
    "----------------------------\t----------------------------\n";
const std::string PROMPT = "Press any key to continue...";

std::string heading(const std::string& mask) {
    return "Catalogue of 'disk.z18', mask: '" + mask + "'\n\n" + HEAD_RULE;
}

Result catalogue(const Bytes& image, const std::string& mask = "") {
    z18::MemEnv host;
    host.putFile("disk.z18", image);
    std::vector<std::string> args{"disk", "/c"};
    if (!mask.empty()) args.push_back(mask);
    Result r = run(host, args);
    EXPECT_EQ(host.bytes("disk.z18"), image) << "the catalogue changed the image";
    return r;
}

// "F00" .. "F63": one record and one block each.
std::string fileName(int i) { return "F" + std::to_string(i / 10) + std::to_string(i % 10); }
std::string fileRow(int i) { return fileName(i) + "              1    2K  --"; }

}  // namespace

TEST(Catalogue, ExampleTable) {
    Bytes image = blankImage();
    // Directory order differs from name order, so the sort is what puts A.COM first.
    putEntry(image, 0, 0, withBits("README  TXT", {9}), 0, 3, {11});
    putEntry(image, 1, 0, withBits("BASIC   COM", {8}), 1, 12, {2, 3, 4, 5, 6, 7, 8, 9, 10});
    putEntry(image, 2, 0, "A       COM", 0, 12, {1});
    const Result r = catalogue(image);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body, heading("*.*") +
                          "A.COM           12    2K  --\tBASIC.COM      140   18K  R-\n"
                          "README.TXT       3    2K  -H\t\n"
                          "\n"
                          "22K in 3 file(s), 326K free\n"
                          "\n"
                          "\n");  // the driver's closing line end
    EXPECT_EQ(r.keyWaits, 0);
}

// Pause placement: after the 32nd and the 64th row only, the prompt then "\r", and the closing
// lines around it.
struct PagingCase {
    int files;
    std::string ending;  // what follows the last row
};

class CataloguePaging : public ::testing::TestWithParam<PagingCase> {};

TEST_P(CataloguePaging, RowsPromptsAndClosing) {
    const PagingCase& c = GetParam();
    Bytes image = blankImage();
    // Reverse directory order: the sort has work to do on every count.
    for (int i = 0; i < c.files; ++i)
        putEntry(image, i, 0, fileName(c.files - 1 - i), 0, 1, {static_cast<std::uint8_t>(i + 1)});
    const Result r = catalogue(image);

    std::string rows;
    for (int i = 0; i < c.files; ++i) {
        rows += fileRow(i) + (i % 2 == 0 ? "\t" : "\n");
        if (i == 31 || i == 63) rows += PROMPT + "\r";
    }
    char totals[64];
    std::snprintf(totals, sizeof totals, "%dK in %d file(s), %dK free\n\n\n", 2 * c.files, c.files,
                  2 * (174 - c.files));
    EXPECT_EQ(r.body, heading("*.*") + rows + c.ending + totals);
    EXPECT_EQ(r.keyWaits, c.files / 32);
}

INSTANTIATE_TEST_SUITE_P(Counts, CataloguePaging,
                         ::testing::Values(PagingCase{0, "\n"},    // only the blank line
                                           PagingCase{1, "\n\n"},  // tab, end of line, blank
                                           PagingCase{2, "\n"}, PagingCase{31, "\n\n"},
                                           PagingCase{32, "\n"},    // ends the prompt's line
                                           PagingCase{33, "\n\n"},  // row 33 covers the prompt
                                           PagingCase{64, "\n"}),
                         [](const auto& info) { return "files" + std::to_string(info.param.files); });

TEST(Catalogue, PromptIsOverwrittenByTheNextRow) {
    Bytes image = blankImage();
    for (int i = 0; i < 33; ++i) putEntry(image, i, 0, fileName(i), 0, 1, {});
    const Result r = catalogue(image);
    EXPECT_NE(r.body.find(fileRow(31) + "\n" + PROMPT + "\r" + fileRow(32) + "\t\n\n66K in 33 file(s)"),
              std::string::npos)
        << r.body;
    EXPECT_EQ(PROMPT.size(), fileRow(0).size()) << "the prompt must be exactly covered by a row";
}

// Sizes, flags, sort order, multi-entry files, equal names in two user areas, a 12-character name.
TEST(Catalogue, RowsOfEveryKind) {
    Bytes image = blankImage();
    putEntry(image, 0, 0, "AB         ", 0, 16, {1});
    putEntry(image, 1, 0, withBits("ABCDEFGHTXT", {8, 9}), 0, 0, {});    // 12 characters, R and H
    putEntry(image, 2, 0, withBits("A       COM", {8}), 0, 17, {2, 3});  // read-only
    putEntry(image, 3, 7, "SAME    TXT", 0, 20, {4, 5});                 // user 7 stands first
    putEntry(image, 4, 0, "BIG     COM", 1, 128,
             {6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21});
    putEntry(image, 5, 0, "A          ", 0, 1, {22});
    putEntry(image, 6, 0, withBits("SAME    TXT", {}), 0, 3, {23});
    putEntry(image, 7, 0, "BIG     COM", 2, 5, {24});  // second entry: counted, never its own row
    putEntry(image, 8, 0, withBits("~Z      DAT", {10}), 0, 1, {25});  // attribute bit on byte 11: not shown
    const Result r = catalogue(image);
    EXPECT_EQ(r.body, heading("*.*") +
                          "A                1    2K  --\tA.COM           17    4K  R-\n"
                          "AB              16    2K  --\tABCDEFGH.TXT     0    0K  RH\n"
                          "BIG.COM        261   34K  --\tSAME.TXT        20    4K  --\n"
                          "SAME.TXT         3    2K  --\t~Z.DAT           1    2K  --\n"
                          "\n"
                          "50K in 8 file(s), 298K free\n\n\n");
}

// Total K counts the listed files only; the free figure counts the whole image.
TEST(Catalogue, MaskSelectsRowsButFreeSpaceIsTheImages) {
    Bytes image = blankImage();
    putEntry(image, 0, 0, "A       COM", 0, 20, {1, 2});
    putEntry(image, 1, 0, "B       TXT", 0, 40, {3, 4, 5});
    const Result r = catalogue(image, "*.com");
    EXPECT_EQ(r.body,
              heading("*.com") + "A.COM           20    4K  --\t\n\n4K in 1 file(s), 338K free\n\n\n");

    const Result none = catalogue(image, "*.BAS");
    EXPECT_EQ(none.body, heading("*.BAS") + "\n0K in 0 file(s), 338K free\n\n\n");
}
