// The host directory search behind the add command: which names a mask matches, the order they
// come in, the attribute word of each, and when the search fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/env.h"
#include "run/driver.h"
#include "support/mem_env.h"
#include "support/test_support.h"

using namespace z18test;

namespace {

struct MaskCase {
    const char* name;
    const char* mask;
    bool matches;
};

class HostMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(HostMask, Matches) {
    const MaskCase& c = GetParam();
    EXPECT_EQ(z18::matchesHostMask(c.name, c.mask), c.matches) << c.name << " against " << c.mask;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostMask,
    ::testing::Values(
        // Letters match in either case; nothing else is folded.
        MaskCase{"game.com", "GAME.COM", true}, MaskCase{"GAME.COM", "game.com", true},
        MaskCase{"caf\xC3\xA9", "CAF\xC3\x89", false},
        // "*" takes any run, none included; "?" exactly one character.
        MaskCase{"A.TXT", "*.TXT", true}, MaskCase{"A.TXT", "A*.TXT", true},
        MaskCase{"AB.TXT", "A*B.TXT", true}, MaskCase{"A.TXT.BAK", "*.TXT", false},
        MaskCase{"A.B.TXT", "*.TXT", true}, MaskCase{"AB.C", "??.C", true}, MaskCase{"A.C", "??.C", false},
        MaskCase{"ABC.C", "??.C", false},
        MaskCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*b", true},
        MaskCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*b", false},
        // A wildcard of the mask stays a wildcard where the name holds the same character.
        MaskCase{"A*B", "A*", true}, MaskCase{"A?B", "A*", true}, MaskCase{"A*B", "A?B", true},
        MaskCase{"A*B", "*B", true}, MaskCase{"A*", "A*B", false},
        // A name without a dot is tried again with one appended.
        MaskCase{"README", "*.*", true}, MaskCase{"README", "*.", true}, MaskCase{"README.TXT", "*.", false},
        MaskCase{"README", "README.", true}, MaskCase{"README", "?????????", false}, MaskCase{"A", "*", true},
        MaskCase{"A.TXT", "*", true},
        // Names with a leading dot answer only masks with a leading dot.
        MaskCase{".", "*", false}, MaskCase{"..", "*.*", false}, MaskCase{".profile", "*", false},
        MaskCase{".profile", "?profile", false}, MaskCase{".profile", ".*", true},
        MaskCase{"..", ".*", true}));

class HostSearch : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir / "b.txt", std::string("b"));
        writeFile(dir / "B.TXT", std::string("B"));
        writeFile(dir / "a.txt", std::string("a"));
        writeFile(dir / "README", std::string("r"));
        writeFile(dir / ".hidden", std::string("h"));
        ASSERT_EQ(::mkdir((dir / "sub.txt").c_str(), 0777), 0);
        ASSERT_EQ(::symlink("sub.txt", (dir / "dirlink.txt").c_str()), 0);
        ASSERT_EQ(::symlink("b.txt", (dir / "filelink.txt").c_str()), 0);
        ASSERT_EQ(::symlink("nowhere", (dir / "dangling.txt").c_str()), 0);
        ASSERT_EQ(::mkfifo((dir / "pipe.txt").c_str(), 0666), 0);
    }
    std::vector<z18::FoundEntry> find(const std::string& pattern, bool expectFound = true) {
        const z18::HostResult<std::vector<z18::FoundEntry>> found = z18::defaultEnv()->findFiles(pattern);
        EXPECT_EQ(found.ok(), expectFound) << pattern;
        return found.value();
    }
    TempDir dir;
};

std::string listing(const std::vector<z18::FoundEntry>& found) {
    std::string text;
    for (const auto& f : found) {
        text += f.name + "=" + std::to_string(f.attributes) +
                (f.alternateName.empty() ? "" : "~" + f.alternateName) + " ";
    }
    return text;
}

// Sorted by bytes, not recursive, directories (links to them too) as 16 and all else as 0x80, no
// alternate names.
TEST_F(HostSearch, OrderAndAttributes) {
    EXPECT_EQ(listing(find(dir / "*.txt")),
              "B.TXT=128 a.txt=128 b.txt=128 dangling.txt=128 dirlink.txt=16 filelink.txt=128 pipe.txt=128 "
              "sub.txt=16 ");
    EXPECT_EQ(listing(find(dir / "*.")), "README=128 ");
    EXPECT_EQ(listing(find(dir / ".*")), ".=16 ..=16 .hidden=128 ");
    // A Windows-style path with backslashes names the same directory.
    std::string backslashed = dir.path() + "\\B.txt";
    EXPECT_EQ(listing(find(backslashed)), "B.TXT=128 b.txt=128 ");
}

TEST_F(HostSearch, FailsWhenNothingMatchesOrTheDirectoryCannotBeRead) {
    EXPECT_TRUE(find(dir / "*.com", false).empty());
    EXPECT_TRUE(find(dir / "none/*.*", false).empty());
    EXPECT_TRUE(find(dir / "README/*.*", false).empty());
}

// Without a directory part the search runs in the current directory of the process.
TEST_F(HostSearch, EmptyDirectoryPartMeansTheCurrentDirectory) {
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string text = listing(find("readme"));
    const std::string attrs = listing(find("*.txt"));
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_EQ(text, "README=128 ");
    EXPECT_NE(attrs.find("sub.txt=16"), std::string::npos) << attrs;
}

// A host file whose name holds a wildcard is found like any other and refused by name, on the
// real host and on the in-memory one, while the add goes on with the next file.
TEST_F(HostSearch, NamesWithWildcardsAreFoundAndRefused) {
    const std::string refused =
        "Name of tihs file 'A*B' has incorrect format !!!\n"
        "Name of tihs file 'A?B' has incorrect format !!!\n"
        "File 'AB' added\n\nDone. 1 file(s) added.\n\n\n";
    ASSERT_EQ(::mkdir((dir / "in").c_str(), 0777), 0);
    for (const char* name : {"in/A*B", "in/A?B", "in/AB"}) writeFile(dir / name, std::string(name));
    writeFile(dir / "disk.z18", blankImage());
    InProcess posix;
    EXPECT_EQ(posix.run({dir / "disk", "/a", dir / "in/A*"}), 0);
    EXPECT_EQ(posix.output(), bannerText() + "Adding file(s) to 'disk.z18'\n  path: '" + dir.path() +
                                  "/in/', mask: 'A*'\n\n" + refused);

    z18::MemEnv mem;
    for (const char* name : {"in/A*B", "in/A?B", "in/AB"}) mem.putFile(name, std::string(name));
    mem.putFile("disk.z18", blankImage());
    InProcess onMemory(&mem);
    EXPECT_EQ(onMemory.run({"disk", "/a", "in/A*"}), 0);
    EXPECT_EQ(onMemory.output(),
              bannerText() + "Adding file(s) to 'disk.z18'\n  path: 'in/', mask: 'A*'\n\n" + refused);
}

}  // namespace
