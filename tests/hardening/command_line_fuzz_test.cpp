// Thousands of seeded random argument vectors, run in-process on an in-memory host: every run ends
// with exit status 0 or 1, an invalid command line touches no file at all, and a valid one changes
// only what its request may change (the image for formats, add and erase; files in the target
// directory for extract).
#include <gtest/gtest.h>

#include <random>

#include "hardening.h"
#include "run/command_line.h"
#include "run/driver.h"
#include "support/mem_env.h"

using namespace z18;
using namespace z18test;
using namespace hardening;

namespace {

const std::vector<std::string> kOptions = {"/a",  "/c", "/e", "/f", "/q", "/x", "/A", "/C", "-c",
                                           "/cc", "/",  "//", "/z", "c",  "",   "/ ", "\\c"};
const std::vector<std::string> kImages = {
    "disk",  "disk.z18", "disk.Z18",  "sub\\disk", "sub/disk",           "missing", "", "/c",
    "x.img", "in\\",     "in\\a.txt", "out\\new",  std::string(300, 'd')};
const std::vector<std::string> kFiles = {"*.*",
                                         "a.txt",
                                         "in\\*.txt",
                                         "in\\a.txt",
                                         "out\\*.*",
                                         "*.com",
                                         "a;b",
                                         "toolongname.txt",
                                         "sub\\..\\in\\*",
                                         "?",
                                         "*",
                                         ".",
                                         "..",
                                         "\\",
                                         "/x",
                                         "in\\long name.txt",
                                         "out\\",
                                         "nodir\\*.*",
                                         "disk.z18",
                                         "A.COM",
                                         std::string(300, 'f') + "\\*.*"};

std::string randomWord(std::mt19937& gen) {
    std::string word(1 + gen() % 14, ' ');
    for (char& c : word) {
        const unsigned r = gen() % 100;
        c = r < 70   ? static_cast<char>(0x21 + gen() % 94)
            : r < 85 ? "/\\*?."[gen() % 5]
                     : static_cast<char>(gen() % 256);
        if (c == '\0') c = 'z';
    }
    return word;
}

// Half the vectors follow one of the request shapes (with a file argument drawn at random, and
// now and then one word replaced), so that valid command lines are common too.
const std::vector<std::vector<std::string>> kShapes = {
    {"/c"},      {"/c", "F"}, {"/f"}, {"/q"}, {"/a", "F"}, {"/f", "/a", "F"}, {"/a", "F", "/q"},
    {"/e", "F"}, {"/x", "F"},
};

std::vector<std::string> randomArgs(std::mt19937& gen) {
    std::vector<std::string> args;
    if (gen() % 2) {
        args.push_back(gen() % 8 ? kImages[gen() % kImages.size()] : randomWord(gen));
        for (const std::string& w : kShapes[gen() % kShapes.size()])
            args.push_back(w != "F" ? w : gen() % 6 ? kFiles[gen() % kFiles.size()] : randomWord(gen));
        if (gen() % 4 == 0) args[gen() % args.size()] = kOptions[gen() % kOptions.size()];
        return args;
    }
    const int n = static_cast<int>(gen() % 6);
    if (n > 0) args.push_back(gen() % 8 ? kImages[gen() % kImages.size()] : randomWord(gen));
    for (int i = 1; i < n; ++i) {
        const unsigned r = gen() % 100;
        args.push_back(r < 55   ? kOptions[gen() % kOptions.size()]
                       : r < 85 ? kFiles[gen() % kFiles.size()]
                                : randomWord(gen));
    }
    return args;
}

MemEnv startingHost() {
    MemEnv env;
    Bytes img = blankImage();
    putEntry(img, 0, 0, "A       COM", 0, 12, {1});
    putEntry(img, 1, 0, "README  TXT", 0, 3, {2});
    putEntry(img, 2, 3, "A       TXT", 0, 20, {3, 4});
    env.putFile("disk.z18", img);
    env.putFile("sub/disk.z18", img);
    env.putFile("in/a.txt", randomBytes(3000, 1));
    env.putFile("in/b.txt", randomBytes(40000, 2));
    env.putFile("in/long name.txt", randomBytes(10, 3));
    env.makeDirectory("out");
    return env;
}

}  // namespace

TEST(CommandLineFuzz, RandomArgumentVectorsKeepTheirPromises) {
    const MemEnv start = startingHost();
    std::string usage;
    {
        std::ostringstream out;
        Session s(*defaultEnv(), out);
        s.programName = "z18man";
        printUsage(s);
        usage = bannerText() + out.str() + "\n";
    }

    std::mt19937 gen(20261208);
    int invalid = 0, valid = 0;
    MemEnv env = start;  // copied afresh only after a run changed it: most runs change nothing
    for (int round = 0; round < 3000; ++round) {
        const std::vector<std::string> args = randomArgs(gen);
        std::vector<const char*> argv{"z18man"};
        for (const auto& a : args) argv.push_back(a.c_str());
        std::string shown;
        for (const auto& a : args) shown += " [" + a + "]";
        SCOPED_TRACE("arguments:" + shown);

        if (!(env.tree() == start.tree())) env = start;
        std::ostringstream out;
        Session s(env, out);
        const int status = runSession(s, static_cast<int>(argv.size()), argv.data());
        ASSERT_TRUE(status == 0 || status == 1) << status;
        ASSERT_EQ(env.openHandles(), 0);

        MemEnv scratch;
        std::ostringstream sink;
        Session parsed(scratch, sink);
        if (!parseCommandLine(parsed, static_cast<int>(argv.size()), argv.data())) {
            ++invalid;
            ASSERT_EQ(status, 1);
            ASSERT_EQ(out.str(), usage);
            ASSERT_TRUE(env.tree() == start.tree()) << "an invalid command line changed a file";
            continue;
        }
        ++valid;
        ASSERT_NE(out.str(), usage);
        const std::string image = MemEnv::normalise(parsed.imageDir + parsed.imageName);
        const bool writes =
            parsed.options & (OPT_FULL_FORMAT | OPT_QUICK_FORMAT | OPT_ADD | OPT_ERASE | OPT_NEW_IMAGE);
        const std::string extractDir = MemEnv::normalise(parsed.hostDir);
        for (const auto& node : env.tree()) {
            auto old = start.tree().find(node.first);
            if (old != start.tree().end() && old->second == node.second) continue;
            if (node.first == image && writes) continue;
            const std::size_t slash = node.first.rfind('/');
            const std::string parent =
                slash == std::string::npos ? std::string() : node.first.substr(0, slash);
            if ((parsed.options & OPT_EXTRACT) && node.first != image && parent == extractDir) continue;
            ADD_FAILURE() << node.first << " changed although the request may not touch it";
        }
        ASSERT_EQ(env.tree().size() >= start.tree().size(), true);
    }
    // Both kinds were exercised in earnest.
    EXPECT_GT(invalid, 1000);
    EXPECT_GT(valid, 800);
}
