// The catalogue pause on a real terminal: the built executable runs on a pseudo-terminal, must
// stop at the prompt until a key arrives, must not echo it, and must hand the terminal back in its
// original mode, also when Ctrl-C ends the run during the wait, and while Ctrl-Z has it stopped.
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <thread>

#include "commands/command_util.h"
#include "support/terminal.h"

using namespace cmdtest;
using namespace z18test;

namespace {

const std::string PROMPT = "Press any key to continue...";

// An image of 33 one-record files, so one pause comes and one row follows it.
void writePagedImage(const TempDir& dir) {
    Bytes image = blankImage();
    for (int i = 0; i < 33; ++i) putEntry(image, i, 0, "F" + std::to_string(100 + i), 0, 1, {});
    writeFile(dir / "disk.z18", image);
}

// Starts the catalogue in its own session with the terminal as controlling terminal. Standard
// input and output go to the terminal, or to /dev/null and a pipe where asked.
Child startCatalogue(const Terminal& term, const TempDir& dir, bool ttyIn, bool ttyOut) {
    Launch how = term.launch(dir.path());
    how.err = Stream{Stream::Inherit};
    if (!ttyIn) how.in = Stream{Stream::Null};
    if (!ttyOut) how.out = Stream{Stream::Pipe};
    return startExe({"disk", "/c"}, how);
}

// Starts the catalogue as the foreground job of a job-control shell on the terminal, as a user runs
// it, so that Ctrl-Z stops it. Each line typed while it is stopped (the user's "fg") puts it back in
// the foreground, twice; the shell ends with the job's status.
Child startCatalogueAsShellJob(const Terminal& term, const TempDir& dir) {
    Launch how = term.launch(dir.path());
    how.err = Stream{Stream::Terminal};  // bash hands the terminal to its jobs through standard error
    const std::string job = "'" + exePath() + "' disk /c";
    return Child({"bash", "--norc", "--noprofile", "-c", "set -m; " + job + "; read -r; fg; read -r; fg"},
                 how);
}

}  // namespace

// How the wait ends: a key, or Ctrl-C typed on the terminal.
class CataloguePauseOnTerminal : public ::testing::TestWithParam<bool> {};

TEST_P(CataloguePauseOnTerminal, WaitsForOneKeyAndRestoresTheMode) {
    Z18_SKIP_FOR_WINDOWS_EXE(
        "checks POSIX terminal modes and SIGINT; e2e HostRules tests the Windows console");
    Z18_SKIP_FOR_NODE_EXE("it never waits for a key");
    const bool interrupt = GetParam();
    TempDir dir;
    writePagedImage(dir);
    Terminal term;
    ASSERT_TRUE(term.ok());
    const tcflag_t before = term.localModes();
    ASSERT_EQ(before & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));

    Child run = startCatalogue(term, dir, true, true);
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(term.waitFor(PROMPT, 1, 10000)) << term.output;
    ASSERT_TRUE(term.waitForKeyMode(5000));
    EXPECT_EQ(term.localModes() & ECHO, 0u) << "the key must not be echoed";

    // Nothing moves until a key comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    term.drain(0);
    EXPECT_EQ(term.output.substr(term.output.find(PROMPT) + PROMPT.size()), "");
    ASSERT_EQ(run.waitFor(0), -1) << "the catalogue did not wait for a key";

    term.send(interrupt ? "\x03" : "x");
    const int status = term.finish(run, 10000);
    if (interrupt) {
        EXPECT_EQ(status, 128 + SIGINT);
    } else {
        EXPECT_EQ(status, 0);
        // The row after the pause overwrites the prompt; the key itself never shows.
        EXPECT_NE(term.output.find(PROMPT + "\rF132"), std::string::npos) << term.output;
        EXPECT_NE(term.output.find("66K in 33 file(s), 348K free"), std::string::npos);
    }
    EXPECT_EQ(term.localModes(), before) << "terminal mode not restored";
}

INSTANTIATE_TEST_SUITE_P(Ends, CataloguePauseOnTerminal, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CtrlC" : "Key"; });

// With only one side on the terminal there is nobody to press a key: the prompt is written and the
// listing goes straight on, leaving the terminal alone.
TEST(CataloguePause, NoWaitUnlessInputAndOutputAreTerminals) {
    Z18_SKIP_FOR_WINDOWS_EXE(
        "checks POSIX terminal modes and SIGINT; e2e HostRules tests the Windows console");
    for (const bool ttyIn : {true, false}) {
        SCOPED_TRACE(ttyIn ? "input on the terminal, output to a pipe"
                           : "input from /dev/null, output on the terminal");
        TempDir dir;
        writePagedImage(dir);
        Terminal term;
        ASSERT_TRUE(term.ok());
        const tcflag_t before = term.localModes();
        Child run = startCatalogue(term, dir, ttyIn, !ttyIn);
        ASSERT_TRUE(run.started());
        const std::string piped = ttyIn ? run.readOutput() : std::string();
        EXPECT_EQ(term.finish(run, 10000), 0);
        const std::string out = ttyIn ? piped : term.output;
        EXPECT_NE(out.find(PROMPT + "\rF132"), std::string::npos) << out;
        EXPECT_EQ(term.localModes(), before);
    }
}

// Ctrl-Z during the wait stops the catalogue with the terminal in its original mode, and the shell
// writes its job lines where the prompt stood. After "fg" the prompt is written again at the start
// of a line, the wait goes on in its own mode, and the next row covers the prompt as usual. Twice,
// so that a second stop is handled like the first.
TEST(CataloguePause, PromptWrittenAgainAfterStopAndFg) {
    Z18_SKIP_FOR_WINDOWS_EXE("Ctrl-Z and job control exist on POSIX terminals only");
    Z18_SKIP_FOR_NODE_EXE("it never waits for a key");
    TempDir dir;
    writePagedImage(dir);
    Terminal term;
    ASSERT_TRUE(term.ok());
    const tcflag_t before = term.localModes();

    Child run = startCatalogueAsShellJob(term, dir);
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(term.waitFor(PROMPT, 1, 10000)) << term.output;
    ASSERT_TRUE(term.waitForKeyMode(5000));
    for (int stop = 1; stop <= 2; ++stop) {
        SCOPED_TRACE("stop " + std::to_string(stop));
        term.send("\x1a");
        ASSERT_TRUE(term.waitFor("Stopped", stop, 10000)) << term.output;
        EXPECT_EQ(term.localModes(), before) << "a stopped catalogue must hand the terminal back";

        const std::size_t fgAt = term.output.size();
        term.send("fg\n");
        ASSERT_TRUE(term.waitFor(PROMPT, stop + 1, 10000))
            << "no prompt after fg: " << term.output.substr(fgAt);
        ASSERT_TRUE(term.waitForKeyMode(5000));
        EXPECT_EQ(term.localModes() & ECHO, 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        term.drain(0);
        // After the shell's lines, once, from the start of a line, and nothing after it.
        const std::string shown = term.output.substr(fgAt);
        EXPECT_EQ(term.count(PROMPT), stop + 1) << shown;
        EXPECT_EQ(shown.compare(shown.size() - PROMPT.size() - 1, std::string::npos, "\r" + PROMPT), 0)
            << shown;
        ASSERT_EQ(run.waitFor(0), -1) << "the catalogue did not wait for a key after fg";
    }

    const std::size_t keyAt = term.output.size();
    term.send("x");
    EXPECT_EQ(term.finish(run, 10000), 0);
    EXPECT_EQ(term.output.compare(keyAt, 5, "\rF132"), 0) << term.output.substr(keyAt);
    EXPECT_NE(term.output.find("66K in 33 file(s), 348K free", keyAt), std::string::npos);
    EXPECT_EQ(term.localModes(), before) << "terminal mode not restored";
}
