// The command-line grammar: which requests are accepted with which option bits and path fields,
// which are refused, and the exact texts of the syntax help and the banner.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "run/command_line.h"
#include "run/driver.h"
#include "support/test_support.h"

using namespace z18;
using namespace z18test;

namespace {

// Parses {"z18man", words...} into a fresh session and checks that parsing printed nothing.
class Parser {
public:
    Parser() : env_(defaultEnv()), session_(env_, out_) {}
    int parse(const std::vector<std::string>& words) {
        std::vector<const char*> argv{"z18man"};
        for (const auto& w : words) argv.push_back(w.c_str());
        const int valid = parseCommandLine(session_, static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(out_.str(), "") << "parsing prints nothing";
        return valid;
    }
    Session& session() { return session_; }

private:
    FaultEnv env_;
    std::ostringstream out_;
    Session session_;
};

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& w : words) text += "«" + w + "» ";
    return text;
}

}  // namespace

TEST(CommandLine, AcceptedRequestsLeaveTheirOptionsAndFileArgument) {
    struct Case {
        std::vector<std::string> args;
        OptionFlags options;
        std::string hostDir, mask;
    };
    const Case cases[] = {
        {{"/c"}, 0x40, "", "*.*"},
        {{"/c", "*.com"}, 0x40, "", "*.com"},
        {{"/f"}, 0x03, "", ""},
        {{"/f", "/f"}, 0x03, "", ""},
        {{"/q"}, 0x04, "", ""},
        {{"/a", "x.com"}, 0x08, "", "x.com"},
        {{"/a", "c:\\games\\*.com"}, 0x08, "c:\\games\\", "*.com"},
        {{"/a", "c:x.com"}, 0x08, "", "c:x.com"},  // a drive colon does not separate
        {{"/a", "-x"}, 0x08, "", "-x"},            // after "/a" any word is the file argument
        {{"/f", "/a", "sub\\a.com"}, 0x0A, "sub\\", "a.com"},
        {{"/a", "a.com", "/f"}, 0x0A, "", "a.com"},
        {{"/q", "/a", "a.com"}, 0x0C, "", "a.com"},
        {{"/a", "a.com", "/q"}, 0x0C, "", "a.com"},
        {{"/a", "d\\one.com", "/a", "two.com"}, 0x08, "", "two.com"},  // the later argument wins whole
        {{"/e", "*.bak"}, 0x10, "", "*.bak"},
        {{"/e", "a", "/e", "b"}, 0x10, "", "b"},
        {{"/x", "a.com"}, 0x20, "", "a.com"},
        {{"/x", "sub\\a.com"}, 0x20, "sub\\", "a.com"},
        {{"/x", "out/a.com"}, 0x20, "out/", "a.com"},
        {{"/x", "a/b\\c/d.com"}, 0x20, "a/b\\c/", "d.com"},
        // "/" separates on this host, so the option-looking argument is a directory and a name.
        {{"/x", "/c"}, 0x20, "/", "c"},
        {{"/x", "dir\\"}, 0x20, "dir\\", ""},
    };
    // One session for all: each parse must start from nothing the one before left behind.
    Parser p;
    for (const Case& c : cases) {
        std::vector<std::string> words{"disk"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(p.parse(words), 1) << joined(c.args);
        const Session& s = p.session();
        EXPECT_EQ(s.options, c.options) << joined(c.args);
        EXPECT_EQ(s.hostDir, c.hostDir) << joined(c.args);
        EXPECT_EQ(s.mask, c.mask) << joined(c.args);
        EXPECT_EQ(s.imageDir, "") << joined(c.args);
        EXPECT_EQ(s.imageName, "disk.z18") << joined(c.args);
    }
}

TEST(CommandLine, ImageArgumentSplitsAndGainsTheExtension) {
    struct Case {
        std::string arg, dir, name;
    };
    const Case cases[] = {
        {"disk", "", "disk.z18"},
        {"disk.z18", "", "disk.z18"},
        {"disk.img", "", "disk.img.z18"},
        {"disk.Z18", "", "disk.Z18.z18"},  // the extension test is case-sensitive
        {"disk.z180", "", "disk.z180.z18"},
        {"disk.z18.bak", "", "disk.z18.bak.z18"},
        {"disk.", "", "disk..z18"},
        {"C:\\images\\work", "C:\\images\\", "work.z18"},
        {"img.z18\\work", "img.z18\\", "work.z18"},  // only the name part's dot counts
        {"/srv/images/work.z18", "/srv/images/", "work.z18"},
        {"a\\b/c", "a\\b/", "c.z18"},
        {"C:work", "", "C:work.z18"},
    };
    Parser p;
    for (const Case& c : cases) {
        ASSERT_EQ(p.parse({c.arg, "/c"}), 1) << c.arg;
        EXPECT_EQ(p.session().imageDir, c.dir) << c.arg;
        EXPECT_EQ(p.session().imageName, c.name) << c.arg;
    }
}

TEST(CommandLine, InvalidCommandLinesAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {},        // no argument at all
        {"disk"},  // image name alone
        {"disk", "/C"},
        {"disk", "/F"},
        {"disk", "-c"},
        {"disk", "\\c"},
        {"disk", "/cc"},
        {"disk", "/"},
        {"disk", "c"},
        {"disk", ""},
        {"disk", "/b"},
        {"disk", "/z"},
        {"disk", "word"},
        {"disk", "/f", "word"},
        {"disk", "/c", "a", "b"},
        {"disk", "/a"},
        {"disk", "/e"},
        {"disk", "/x"},  // file argument missing
        {"disk", "/f", "/a"},
        {"disk", "a.com", "/a"},
        {"disk", "/f", "/q"},
        {"disk", "/q", "/f"},
        {"disk", "/f", "/q", "/a", "a"},
        {"disk", "/e", "a", "/x", "b"},
        {"disk", "/x", "a", "/e", "b"},
        {"disk", "/f", "/c"},
        {"disk", "/c", "a", "/q"},
        {"disk", "/c", "a", "/e", "b"},
        {"disk", "/c", "a", "/x", "b"},
        {"disk", "/c", "a", "/a", "b"},
        {"disk", "/a", "a", "/e", "b"},
        {"disk", "/a", "a", "/x", "b"},
        {"disk", "/a", "a", "/c"},
        {"disk", "/f", "/e", "a"},
        {"disk", "/q", "/x", "a"},
        {"disk", "/x", "a", "/f"},
        {"disk", "/e", "a", "/q"},
        // The catalogue and erase commands take a name only, never a directory.
        {"disk", "/c", "sub\\a.com"},
        {"disk", "/e", "sub\\a.com"},
        {"disk", "/e", "sub/a.com"},
        {"disk", "/c", "/c"},
        {"disk", "/e", "/x"},
        {"disk", "/c", "\\"},
        // The directory check looks at the options given so far, not at later ones.
        {"disk", "/e", "d\\a", "/a", "b"},
    };
    for (const auto& args : cases) {
        Parser p;
        EXPECT_EQ(p.parse(args), 0) << joined(args);
    }
}

TEST(CommandLine, SyntaxHelpIsExact) {
    FaultEnv env(defaultEnv());
    std::ostringstream out;
    Session s(env, out);
    s.programName = "z18man";
    printUsage(s);
    EXPECT_EQ(out.str(),
              "Syntax:\n"
              "  z18man imagefile[.z18] /c [ cpm_name ]\n"
              "  z18man imagefile[.z18] [ /f | /q ] [ /a [path\\]cpm_name ]\n"
              "  z18man imagefile[.z18] /e cpm_name\n"
              "  z18man imagefile[.z18] /x [path\\]cpm_name\n"
              "    /c\tshow catalogue of the image\n"
              "    /f\tfull format of the image\n"
              "    /q\tquick format of the image\n"
              "    /a\tadd file(s) to the image (image will be created if not exist)\n"
              "    /e\terase file(s) from the image\n"
              "    /x\textract file(s) from the image\n"
              "    'imagefile' is name of the file of the image\n"
              "    'cpm_name' is the file name in CP/M 8.3 format\n"
              "\t       which can contain wildchars '*' or '?'\n"
              "\t       and can be with dir-path of the file(s) to add or extract\n");
    EXPECT_EQ(out.str(), usageText("z18man"));  // the helper other tests compare against
}

TEST(CommandLine, HelpNamesTheExecutableWithoutDirectoryOrExtension) {
    struct Case {
        std::string exe, name;
    };
    const Case cases[] = {
        {"/usr/local/bin/z18man", "z18man"},       {"/opt/tools/imgtool.bin", "imgtool"},
        {"/opt/v1.2/imgtool", "imgtool"},  // a dot in a directory is no extension
        {"C:\\TOOLS\\Z18MAN.EXE", "Z18MAN"},       {"/opt/tool.tar.gz", "tool.tar"},
        {"/opt/z\x1b]0;t\x07", "z\\x1B]0;t\\x07"},  // shown escaped, as the image's name is
    };
    for (const Case& c : cases) {
        InProcess run;
        run.env.setExecutablePath(c.exe);
        EXPECT_EQ(run.run({}), 1);
        EXPECT_EQ(run.output(), bannerText() + usageText(c.name) + "\n") << c.exe;
    }
}

TEST(CommandLine, BannerIsTheNameAndVersionBetweenEmptyLines) {
    const std::string banner = bannerText();
    const std::string head = "\nZ18 image manager utility\nv1.2";
    ASSERT_GE(banner.size(), head.size() + 2);
    EXPECT_EQ(banner.substr(0, head.size()), head);
    EXPECT_EQ(banner.substr(banner.size() - 2), "\n\n");
    // Exactly four lines: empty, name, version with its credit, empty.
    EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 4) << banner;
}
