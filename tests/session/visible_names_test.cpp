// Names from images and host folders reach the terminal with their control bytes escaped, so a
// hostile name cannot clear the screen or set the window title, and so are bytes that are no
// well-formed UTF-8; well-formed UTF-8 of other characters is kept.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

#include "session/status.h"
#include "support/mem_env.h"
#include "support/test_support.h"

using namespace z18;
using namespace z18test;

namespace {

struct Case {
    const char* what;
    std::string hostFile;  // made in the host before the run, with one line of text
    std::vector<std::string> args;
    std::string expected;  // the output after the banner
};

// An image named with a C0 control, UTF-8 of a C1 control and an overlong form, and as it is shown.
const std::string kNamed = "i\x1b\xc2\x9f\xe0\x9f\xbf";
const std::string kShown = "i\\x1B\\xC2\\x9F\\xE0\\x9F\\xBF.z18";

TEST(VisibleNames, ControlBytesAreEscapedWhereverANameIsPrinted) {
    const std::string corrupt = "Corrupted directory entry '\\x1B[2J\\x1B[HX.TXT' !!!\n\n";
    const Case cases[] = {
        {"an escape sequence in an entry of the image", "", {"disk", "/c"}, corrupt},
        {"a host file name with BEL and ESC",
         "in/a\a\x1b]0;t.txt",
         {"ok", "/a", "in/*.*"},
         "Adding file(s) to 'ok.z18'\n  path: 'in/', mask: '*.*'\n\n"
         "Name of tihs file 'A\\x07\\x1B]0;T.TXT' has incorrect format !!!\n\nDone. 0 file(s) added.\n\n\n"},
        {"a host folder with a tab and DEL, and bytes above 0x7F kept",
         "d\t\x7f\xc3\xa9/x.txt",
         {"ok", "/a", "d\t\x7f\xc3\xa9/*.txt"},
         "Adding file(s) to 'ok.z18'\n  path: 'd\\x09\\x7F\xc3\xa9/', mask: '*.txt'\n\n"
         "File 'X.TXT' added\n\nDone. 1 file(s) added.\n\n\n"},
        {"the image name and a mask",
         "",
         {"a\x1b"
          "b",
          "/c", "x\r"},
         "Can't open image 'a\\x1Bb.z18' !!!\n\n"},
        {"a mask with a carriage return",
         "",
         {"ok", "/c", "x\r"},
         "Name of tihs file 'x\\x0D' has incorrect format !!!\n\n"},
        {"a host file name with CSI of 8-bit terminals and a byte that is no UTF-8",
         "in/x\x9b\xff.txt",
         {"ok", "/a", "in/*.*"},
         "Adding file(s) to 'ok.z18'\n  path: 'in/', mask: '*.*'\n\n"
         "Name of tihs file 'X\\x9B\\xFF.TXT' has incorrect format !!!\n\nDone. 0 file(s) added.\n\n\n"},
        {"the pattern of a failed host search",
         "",
         {"ok", "/a", "no\x1b\x9b/*.*"},
         "\nPath or file/mask 'no\\x1B\\x9B/*.* is invalid!!!\n\n\n"},
        {"UTF-8 of NBSP, a 3- and a 4-byte character kept; C1 in UTF-8, overlong forms, a surrogate, "
         "past U+10FFFF and a cut sequence escaped byte by byte",
         "",
         {"ok", "/c",
          "\xc2\xa0\xc2\x9b\xe2\x82\xac\xc0\xaf\xe0\x80\xaf\xf0\x9f\x98\x80\xed\xa0\x80\xf4\x90\x80\x80\xe2"
          "\x82"},
         "Name of tihs file "
         "'\xc2\xa0\\xC2\\x9B\xe2\x82\xac\\xC0\\xAF\\xE0\\x80\\xAF\xf0\x9f\x98\x80\\xED\\xA0\\x80"
         "\\xF4\\x90\\x80\\x80\\xE2\\x82' has incorrect format !!!\n\n"},
        // The header and the file lines of every request, the image and the host folder named
        // with bytes of each escaped kind.
        {"a new image and the folder of /a",
         "d\x85/y.txt",
         {"n\x1b", "/f", "/a", "d\x85/*.*"},
         "Image 'n\\x1B.z18' was created.\nImage 'n\\x1B.z18' was formated.\n"
         "Adding file(s) to 'n\\x1B.z18'\n  path: 'd\\x85/', mask: '*.*'\n\n"
         "File 'Y.TXT' added\n\nDone. 1 file(s) added.\n\n\n"},
        {"the image of /c",
         "",
         {kNamed, "/c"},
         "Catalogue of '" + kShown +
             "', mask: '*.*'\n\nName          RECS  SIZE  RH\tName          RECS  SIZE  RH\n"
             "----------------------------\t----------------------------\nX.TXT            1    2K  --\t\n\n"
             "2K in 1 file(s), 346K free\n\n\n"},
        {"the image of /e and its file",
         "",
         {kNamed, "/e", "X.TXT"},
         "Erasing file(s) from '" + kShown +
             "', mask: 'X.TXT'\n\nFile 'X       TXT' eresed\n\n"
             "Done. 1 file(s) erased.\n\n\n"},
        {"the image and the folder of /x",
         "o\x1b\xc2\x9f/keep",
         {kNamed, "/x", "o\x1b\xc2\x9f/X.TXT"},
         "Extracting file(s) from '" + kShown +
             "'\n  path: 'o\\x1B\\xC2\\x9F/', mask: 'X.TXT'\n\n"
             "File 'X.TXT' extracted\nFile 'X.TXT' was extracted\n\n\n"},
        {"the image of /q", "", {kNamed, "/q"}, "Directory of image '" + kShown + "' was cleaned.\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemEnv host;
        Bytes disk = blankImage();
        putEntry(disk, 0, 0, "\x1b[2J\x1b[HXTXT", 0, 1, {1});
        host.putFile("disk.z18", disk);
        host.putFile("ok.z18", blankImage());
        host.putFile(kNamed + ".z18", imageOfFiles({"X       TXT"}));
        if (!c.hostFile.empty()) host.putFile(c.hostFile, "text\n");
        InProcess run(&host);
        run.run(c.args);
        EXPECT_EQ(afterBanner(run.output()), c.expected);
    }
}

// Each escaped range at both its ends: the last byte or sequence on one side is kept or escaped,
// the first on the other side is not. Escaped bytes are written one by one.
TEST(VisibleNames, EveryEscapedRangeEndsWhereItShould) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string("\0 ", 2), "\\x00 "},
        {"\x1f\x20", "\\x1F "},
        {"\x7e\x7f", "~\\x7F"},
        {"\x80\x9f\xa0\xbf", "\\x80\\x9F\\xA0\\xBF"},  // raw C1, then continuations with no lead
        {"\xc1\xbf", "\\xC1\\xBF"},                    // the last lead of an overlong 2-byte form
        {"\xc2\x7f", "\\xC2\\x7F"},
        {"\xc2\x80", "\\xC2\\x80"},  // C1 in UTF-8, first and last
        {"\xc2\x9f", "\\xC2\\x9F"},
        {"\xc2\xa0", "\xc2\xa0"},
        {"\xdf\xbf", "\xdf\xbf"},
        {"\xc3\xc0", "\\xC3\\xC0"},
        {"\xe0\x9f\xbf", "\\xE0\\x9F\\xBF"},  // overlong 3-byte form
        {"\xe0\xa0\x80", "\xe0\xa0\x80"},
        {"\xe2\x82\x7f", "\\xE2\\x82\\x7F"},
        {"\xe2\x82\xc0", "\\xE2\\x82\\xC0"},
        {"\xed\x9f\xbf", "\xed\x9f\xbf"},  // surrogates ED A0 80 to ED BF BF
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"\xed\xbf\xbf", "\\xED\\xBF\\xBF"},
        {"\xee\x80\x80", "\xee\x80\x80"},
        {"\xef\xbf\xbf", "\xef\xbf\xbf"},
        {"\xf0\x8f\xbf\xbf", "\\xF0\\x8F\\xBF\\xBF"},  // overlong 4-byte form
        {"\xf0\x90\x80\x80", "\xf0\x90\x80\x80"},
        {"\xf0\x90\x80\xc0", "\\xF0\\x90\\x80\\xC0"},
        {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},  // U+10FFFF, then past it
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {"\xf5\x80\x80\x80", "\\xF5\\x80\\x80\\x80"},
        {"a\xe2\x82\xac", "a\xe2\x82\xac"},  // a sequence that ends the name
        {"\xe2\x82", "\\xE2\\x82"},
        {"\xf0\x90\x80", "\\xF0\\x90\\x80"},
    };
    for (const auto& c : cases) {
        std::ostringstream shown;
        shown << visible(c.first);
        EXPECT_EQ(shown.str(), c.second);
    }
}

}  // namespace
