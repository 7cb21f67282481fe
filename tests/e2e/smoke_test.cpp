// A whole session through the built executable: format, add, list, extract, erase.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.h"

using namespace z18test;

TEST(Smoke, FormatAddListExtractErase) {
    TempDir dir;
    writeFile(dir / "hello.txt", std::string("hello\n"));
    EXPECT_EQ(runExe({"disk", "/f"}, dir.path()).status, 0);
    EXPECT_EQ(readFile(dir / "disk.z18").size(), 368640u);

    ExeResult add = runExe({"disk", "/a", "hello.txt"}, dir.path());
    EXPECT_EQ(add.status, 0);
    EXPECT_NE(add.out.find("File 'HELLO.TXT' added\n"), std::string::npos) << add.out;

    ExeResult cat = runExe({"disk", "/c"}, dir.path());
    EXPECT_NE(cat.out.find("HELLO.TXT        1    2K  --\t\n"), std::string::npos) << cat.out;

    ::mkdir((dir / "out").c_str(), 0777);
    EXPECT_EQ(runExe({"disk", "/x", "out/hello.txt"}, dir.path()).status, 0);
    Bytes back = readFile(dir / "out/HELLO.TXT");
    ASSERT_EQ(back.size(), 128u);
    EXPECT_EQ(std::string(back.begin(), back.begin() + 6), "hello\n");

    ExeResult erase = runExe({"disk", "/e", "*.*"}, dir.path());
    EXPECT_NE(erase.out.find("File 'HELLO   TXT' eresed\n"), std::string::npos) << erase.out;
}
