// The built executable's whole transcripts for the runs that never reach a command: help, format,
// refusals. Each runs in an empty temporary directory with no standard input.
#include <dirent.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "session/geometry.h"
#include "support/test_support.h"

using namespace z18test;

namespace {

std::set<std::string> entriesOf(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (struct dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        ::closedir(d);
    }
    return names;
}

}  // namespace

TEST(Cli, TranscriptsAndExitStatuses) {
    enum Before { NOTHING, SHORT_FILE };
    struct Case {
        std::vector<std::string> args;
        Before before;
        std::string output;  // after the banner
        int status;
        std::set<std::string> filesAfter;
    };
    const std::string help = usageText("z18man") + "\n";
    const Case cases[] = {
        {{}, NOTHING, help, 1, {}},
        {{"disk"}, NOTHING, help, 1, {}},
        {{"disk", "/f", "/q"}, NOTHING, help, 1, {}},
        {{"disk", "/a"}, NOTHING, help, 1, {}},
        {{"disk", "/f"},
         NOTHING,
         "Image 'disk.z18' was created.\nImage 'disk.z18' was formated.\n\n",
         0,
         {"disk.z18"}},
        {{"sub\\disk.img", "/q"}, NOTHING, "Can't open image 'disk.img.z18' !!!\n\n", 1, {}},
        {{"disk", "/c"}, SHORT_FILE, "Image 'disk.z18' has bad size !!!\n\n", 1, {"disk.z18"}},
        {{"disk.z18", "/f"}, SHORT_FILE, "Image 'disk.z18' has bad size !!!\n\n", 1, {"disk.z18"}},
    };
    const Bytes shortImage = randomBytes(z18::IMAGE_SIZE - 1, 3);
    for (const Case& c : cases) {
        std::string what;
        for (const auto& a : c.args) what += a + " ";
        SCOPED_TRACE(what);
        TempDir dir;
        if (c.before == SHORT_FILE) writeFile(dir / "disk.z18", shortImage);

        const ExeResult r = runExe(c.args, dir.path());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, exeBannerText() + c.output);
        EXPECT_EQ(entriesOf(dir.path()), c.filesAfter);
        if (c.before == SHORT_FILE) {
            EXPECT_EQ(readFile(dir / "disk.z18"), shortImage);
        }
    }
}
