// Catalogue rows against the layout as a printf format: the row is built by hand, so every field
// is checked here against what printf makes of the same layout, including counts wider than
// their columns, which only a crafted directory can reach.
#include <cstdio>

#include "commands/command_util.h"

using namespace cmdtest;
using namespace z18test;

namespace {

// Name, records, size in K, read-only and hidden flags.
constexpr const char* kRowLayout = "%s  %4d %4dK  %c%c";

struct RowCase {
    const char* what;
    const char* name11;   // as stored in the entry
    const char* shown;    // display name
    int entries;          // entries of the one file, extents 1, 3, 5, ...
    int recordsPerEntry;  // record count byte of each entry
    bool readOnly, hidden;
};

class CatalogueRow : public ::testing::TestWithParam<RowCase> {};

TEST_P(CatalogueRow, MatchesThePrintfLayout) {
    const RowCase& c = GetParam();
    Bytes image = blankImage();
    std::vector<int> bits;
    if (c.readOnly) bits.push_back(8);
    if (c.hidden) bits.push_back(9);
    std::string stored = c.name11;
    for (int b : bits)
        stored[static_cast<std::size_t>(b)] = static_cast<char>(stored[static_cast<std::size_t>(b)] | 0x80);
    // Odd extents count 128 records besides their own byte; the entries hold no blocks.
    const bool odd = c.entries > 1;
    for (int e = 0; e < c.entries; ++e)
        putEntry(image, e, 0, stored, static_cast<std::uint8_t>(odd ? 2 * e + 1 : 0),
                 static_cast<std::uint8_t>(c.recordsPerEntry), {});

    z18::MemEnv host;
    host.putFile("disk.z18", image);
    const Result r = run(host, {"disk", "/c"});
    ASSERT_EQ(r.status, 0);

    const int records = c.entries * (c.recordsPerEntry + (odd ? 128 : 0));
    char padded[16], row[64];
    std::snprintf(padded, sizeof padded, "%-12s", c.shown);
    std::snprintf(row, sizeof row, kRowLayout, padded, records, ((records + 15) / 16) * 2,
                  c.readOnly ? 'R' : '-', c.hidden ? 'H' : '-');
    EXPECT_NE(r.body.find(std::string("\n") + row + "\t\n"), std::string::npos) << r.body;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CatalogueRow,
    ::testing::Values(RowCase{"Empty", "A          ", "A", 1, 0, false, false},
                      RowCase{"FullName", "ABCDEFGHTXT", "ABCDEFGH.TXT", 1, 9, true, false},
                      RowCase{"WholeExtent", "READ    ME ", "READ.ME", 1, 128, false, true},
                      RowCase{"FiveDigits", "WIDE    DAT", "WIDE.DAT", 27, 255, true, true},  // 10341
                      RowCase{"EveryEntry", "ALL     DAT", "ALL.DAT", 64, 255, false,
                              false}),  // 24512, 3066K
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
