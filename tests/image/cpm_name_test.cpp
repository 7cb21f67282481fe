// CP/M names: checking and converting NAME.EXT texts and masks, filling fields, and the display
// form of directory entries.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "image/cpm_name.h"

using namespace z18;

namespace {

struct NameSession {
    std::ostringstream out;
    Session s{*defaultEnv(), out};
};

std::string pattern(const CpmName& n) { return std::string(n.chars, 11); }

// A pattern no conversion can produce, to see whether a call touched the destination.
CpmName sentinelName() {
    CpmName n;
    std::memcpy(n.chars, "KEEP<>ME|||", 11);
    return n;
}
constexpr int SENTINEL_FLAG = 7;

// ---------------------------------------------------------------------------------------------
// Accepted texts: what conversion stores, whether it holds a wildcard, and that check mode
// accepts exactly the texts without wildcards.

struct Accepted {
    const char* text;
    const char* stored;  // 11 characters
    int wildcard;
};

const Accepted kAccepted[] = {
    // Plain names, upper-casing, the longest form.
    {"README.TXT", "README  TXT", 0},
    {"readme.txt", "README  TXT", 0},
    {"a", "A          ", 0},
    {"ABCDEFGH.TXT", "ABCDEFGHTXT", 0},
    // A trailing dot means an empty type.
    {"ABC.", "ABC        ", 0},
    // Trailing spaces in the name equal the filling; spaces in the type are free.
    {"AB .TXT", "AB      TXT", 0},
    {"A. B", "A        B ", 0},
    {"A.B C", "A       B C", 0},
    // Characters outside the forbidden fifteen, including the neighbours of a to z.
    {"A-B_C!.$$$", "A-B_C!  $$$", 0},
    {"#1+2.&", "#1+2    &  ", 0},
    {"{}~^\"'`@", "{}~^\"'`@   ", 0},
    // Wildcards: "*" fills the rest of its field, whatever follows it there.
    {"*.*", "???????????", 1},
    {"*", "????????   ", 1},
    {"a*b.c", "A???????C  ", 1},
    {"AB*CD.E", "AB??????E  ", 1},
    {"X.*Y", "X       ???", 1},
    {"ABC?", "ABC?       ", 1},
    {"A*", "A???????   ", 1},
    {"?.T?T", "?       T?T", 1},
};

TEST(MakeCpmName, AcceptedTextsConvertAndCheck) {
    for (const Accepted& c : kAccepted) {
        SCOPED_TRACE(c.text);
        NameSession n;
        n.s.maskName = sentinelName();
        n.s.maskHasWildcard = SENTINEL_FLAG;

        // Check mode validates only: wildcards are refused, and nothing is stored either way.
        EXPECT_EQ(makeCpmName(n.s, nullptr, c.text), c.wildcard ? 0 : 1);
        EXPECT_EQ(pattern(n.s.maskName), pattern(sentinelName()));
        EXPECT_EQ(n.s.maskHasWildcard, SENTINEL_FLAG);

        CpmName dest = sentinelName();
        dest.chars[11] = 'Z';  // position 11 belongs to the caller's terminator, never written
        ASSERT_EQ(makeCpmName(n.s, &dest, c.text), 1);
        EXPECT_EQ(pattern(dest), c.stored);
        EXPECT_EQ(dest.chars[11], 'Z');
        EXPECT_EQ(n.s.maskHasWildcard, c.wildcard);
        EXPECT_EQ(n.out.str(), "");
    }
}

// ---------------------------------------------------------------------------------------------
// Rejected texts, by the rule that rejects them. Every one is rejected in both modes and leaves
// the destination and the wildcard flag as they were.

struct Rejected {
    std::string text;
    const char* rule;
};

std::vector<Rejected> rejectedTexts() {
    std::vector<Rejected> r = {
        // Length limits of the whole text, the name and the type.
        {"", "empty text"},
        {"ABCDEFGH.TXTX", "13 characters"},
        {"ABCDEFGHIJKLM", "13 characters, no dot"},
        {"ABCDEFGHI", "name of 9"},
        {"ABCDEFGHI.T", "name of 9 with a type"},
        {"ABC.DEFG", "type of 4"},
        {".TXT", "empty name"},
        {".", "empty name and type"},
        // Only the last dot separates: another one stays in the name.
        {"A.B.C", "dot in the name"},
        {"A..B", "dot in the name"},
        // Space rules.
        {" AB", "space at the start"},
        {" ", "single space"},
        {"A B.TXT", "character after a space in the name"},
        {"A  *", "wildcard after a space in the name"},
        // Control characters, 0x7F and bytes from 0x80 up, in name and type positions.
        {"A\tB", "tab"},
        {"A\x7F", "0x7F"},
        {"\x80"
         "AB",
         "0x80 first"},
        {"AB.\xE5", "0xE5 in the type"},
        {"A.\x01", "control in the type"},
        {"\xFF", "0xFF"},
        // Examples of the forbidden characters in context.
        {"FILE;1", "semicolon"},
        {"A=B", "equals"},
        {"[X]", "brackets"},
        {"50%", "percent"},
    };
    // Each forbidden character, in a name position and in a type position.
    for (char c : std::string("<>.,;:=[]%|()/\\")) {
        if (c == '.') continue;  // the dot has its own cases above
        r.push_back({std::string("A") + c + "B", "forbidden in the name"});
        r.push_back({std::string("A.B") + c, "forbidden in the type"});
    }
    return r;
}

TEST(MakeCpmName, RejectedTextsChangeNothing) {
    for (const Rejected& c : rejectedTexts()) {
        SCOPED_TRACE(std::string(c.rule) + ": \"" + c.text + "\"");
        NameSession n;
        n.s.maskName = sentinelName();
        n.s.maskHasWildcard = SENTINEL_FLAG;
        EXPECT_EQ(makeCpmName(n.s, nullptr, c.text), 0);
        EXPECT_EQ(makeCpmName(n.s, &n.s.maskName, c.text), 0);
        EXPECT_EQ(pattern(n.s.maskName), pattern(sentinelName()));
        EXPECT_EQ(n.s.maskHasWildcard, SENTINEL_FLAG);
        EXPECT_EQ(n.out.str(), "");  // the caller reports, not the conversion
    }
}

// ---------------------------------------------------------------------------------------------

TEST(PadField, FillsTheFieldAndTerminatesIt) {
    struct Case {
        const char* text;  // nullptr: no text
        int width;
        const char* field;
    };
    const Case cases[] = {
        {"AB", 8, "AB      "}, {nullptr, 3, "   "}, {"", 3, "   "},
        {"A*B", 5, "A????"},   {"*", 3, "???"},     {"ABCDEFGHIJ", 8, "ABCDEFGH"},
        {"ABC", 3, "ABC"},     {"a b", 4, "a b "},  {"?x", 3, "?x "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "(none)") + "/" + std::to_string(c.width));
        char field[16];
        std::memset(field, '#', sizeof field);
        padField(field, c.text, c.width);
        EXPECT_EQ(std::string(field), c.field);
        EXPECT_EQ(field[c.width + 1], '#');  // nothing past the terminator
    }
    // A width of 0 or less leaves an empty field.
    for (int width : {0, -1}) {
        char field[4] = {'#', '#', '#', '#'};
        padField(field, "ABC", width);
        EXPECT_EQ(field[0], '\0');
        EXPECT_EQ(field[1], '#');
    }
}

// ---------------------------------------------------------------------------------------------
// The display record of a directory entry.

struct Shown {
    const char* what;
    std::string key;  // the first 12 bytes: user byte, 8 name bytes, 3 type bytes
    std::string displayName;
    int readOnly;
    int hidden;
};

std::string withBit7(std::string key, std::initializer_list<int> positions) {
    for (int p : positions)
        key[static_cast<std::size_t>(p)] = static_cast<char>(key[static_cast<std::size_t>(p)] | 0x80);
    return key;
}

std::vector<Shown> shownEntries() {
    return {
        {"plain", std::string("\0AB      COM", 12), "AB.COM", 0, 0},
        {"longest", std::string("\0ABCDEFGHTXT", 12), "ABCDEFGH.TXT", 0, 0},
        {"read-only", withBit7(std::string("\0AB      COM", 12), {9}), "AB.COM", 1, 0},
        {"hidden", withBit7(std::string("\0AB      COM", 12), {10}), "AB.COM", 0, 1},
        {"third type bit reports nothing", withBit7(std::string("\0AB      COM", 12), {11}), "AB.COM", 0, 0},
        {"read-only on a blank type", withBit7(std::string("\0AB         ", 12), {9}), "AB", 1, 0},
        {"blank type", std::string("\0AB         ", 12), "AB", 0, 0},
        {"type beginning with a space", std::string("\0AB       XY", 12), "AB", 0, 0},
        {"type ends at its first space", std::string("\0AB      X Y", 12), "AB.X", 0, 0},
        {"blank name", std::string("\0        TXT", 12), " .TXT", 0, 0},
        {"blank name and type", std::string("\0           ", 12), " ", 0, 0},
        {"lower case", std::string("\0readme  txt", 12), "README.TXT", 0, 0},
        {"a to z only", std::string("\0a`z{@   b~ ", 12), "A`Z{@.B~", 0, 0},
        {"name ends at its first space", std::string("\0AB CD   COM", 12), "AB.COM", 0, 0},
        {"zero byte in the name", std::string("\0AB\0CD   TXT", 12), "AB", 0, 0},
        {"zero byte first", std::string("\0\0BCDEFGHTXT", 12), "", 0, 0},
        {"all zero", std::string(12, '\0'), "", 0, 0},
        // Name bytes keep bit 7 and are not upper-cased through it; type bytes lose it.
        {"bit 7 in a name byte", withBit7(std::string("\0aB      COM", 12), {1}),
         "\xE1"
         "B.COM",
         0, 0},
        {"bit 7 on a name space", withBit7(std::string("\0AB      COM", 12), {3}), "AB\xA0.COM", 0, 0},
        {"bit 7 in every type byte", withBit7(std::string("\0AB      com", 12), {9, 10, 11}), "AB.COM", 1, 1},
        {"user byte",
         std::string("\x1F"
                     "AB      COM",
                     12),
         "AB.COM", 0, 0},
    };
}

TEST(DescribeEntry, DisplayNameAndFlags) {
    for (const Shown& c : shownEntries()) {
        SCOPED_TRACE(c.what);
        for (int index : {0, 63}) {
            NameSession n;
            std::memset(n.s.directory, 0xE5, sizeof n.s.directory);
            std::memcpy(n.s.entryAt(index), c.key.data(), 12);
            n.s.entryInfo.records = 1234;
            n.s.entryInfo.sizeK = 5678;
            n.s.entryInfo.readOnly = 9;
            n.s.entryInfo.hidden = 9;
            describeEntry(n.s, index);
            EXPECT_EQ(std::string(n.s.entryInfo.displayName), c.displayName);
            EXPECT_EQ(n.s.entryInfo.readOnly, c.readOnly);
            EXPECT_EQ(n.s.entryInfo.hidden, c.hidden);
            EXPECT_EQ(n.s.entryInfo.user, static_cast<std::uint8_t>(c.key[0]));
            EXPECT_EQ(n.s.entryInfo.records, 1234);
            EXPECT_EQ(n.s.entryInfo.sizeK, 5678);
        }
    }
}

}  // namespace
