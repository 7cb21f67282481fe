// Names from images and host folders reach the terminal with their control bytes escaped, so a
// hostile name cannot clear the screen or set the window title, and so are bytes that are no
// well-formed UTF-8; well-formed UTF-8 of other characters is kept.
#include <gtest/gtest.h>

#include <string>

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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemEnv host;
        Bytes disk = blankImage();
        putEntry(disk, 0, 0, "\x1b[2J\x1b[HXTXT", 0, 1, {1});
        host.putFile("disk.z18", disk);
        host.putFile("ok.z18", blankImage());
        if (!c.hostFile.empty()) host.putFile(c.hostFile, "text\n");
        InProcess run(&host);
        run.run(c.args);
        EXPECT_EQ(afterBanner(run.output()), c.expected);
    }
}

}  // namespace
