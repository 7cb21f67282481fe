// z18mount's command line and its refusals, run in this process on the in-memory host with a
// stand-in for the kernel: what it prints, its status, and what it asks FUSE for.
#include <gtest/gtest.h>

#include <functional>

#include "mount/mount.h"
#include "mount/mount_util.h"
#include "mount/texts.h"

using namespace mounttest;

namespace {

// What the stand-in for serveFolder does while "mounted"; it records what it was asked.
std::function<void(z18::FolderOps&)> whileServed;
z18::ServeRequest served;
int serveCalls = 0;
int standIn(z18::FolderOps& ops, const z18::ServeRequest& request) {
    served = request;
    ++serveCalls;
    if (whileServed) whileServed(ops);
    return 0;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};
Outcome runMount(z18::MemEnv& env, std::vector<std::string> args) {
    std::ostringstream out, err;
    z18::Session s(env, err);
    args.insert(args.begin(), "z18mount");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    serveCalls = 0;
    Outcome r;
    r.status = z18::runMount(s, out, static_cast<int>(argv.size()), argv.data(), OWNER, standIn);
    r.out = out.str();
    r.err = err.str();
    EXPECT_EQ(env.openHandles(), 0) << "the image is closed at the end";
    return r;
}

const std::string USAGE = z18::texts::MOUNT_USAGE;
const std::string FSCK =
    "z18mount: 'z18fsck disk.z18' tells what is wrong with the image; "
    "'z18fsck -o NEW.z18 disk.z18' writes a repaired copy\n";

}  // namespace

TEST(MountLine, RefusalsSayWhyAndServeNothing) {
    struct Case {
        const char* what;
        std::function<void(z18::MemEnv&)> setup;
        std::vector<std::string> args;
        std::string err;
    };
    const auto image = [](z18::MemEnv& env) {
        env.putFile(IMAGE, z18test::blankImage());
        env.makeDirectory("mnt");
    };
    Bytes corrupt = z18test::blankImage();
    z18test::putEntry(corrupt, 5, 0, "50%     COM", 0, 0, {});
    const std::vector<Case> cases = {
        {"no words", image, {}, "z18mount: an image and a mount point are needed\n" + USAGE},
        {"three words",
         image,
         {"disk", "mnt", "x"},
         "z18mount: one image and one mount point only, not also x\n" + USAGE},
        {"unknown option", image, {"-x", "disk", "mnt"}, "z18mount: unknown option -x\n" + USAGE},
        {"-o alone", image, {"disk", "mnt", "-o"}, "z18mount: option -o needs a value\n" + USAGE},
        {"missing image",
         image,
         {"nothere", "mnt"},
         "Can't open image 'nothere.z18' !!!\nz18mount: No such file or directory\n"},
        {"bad size",
         [](z18::MemEnv& env) { env.putFile(IMAGE, Bytes(1000)), env.makeDirectory("mnt"); },
         {"disk", "mnt"},
         "Image 'disk.z18' has bad size !!!\n" + FSCK},
        {"corrupted entry",
         [&corrupt](z18::MemEnv& env) { env.putFile(IMAGE, corrupt), env.makeDirectory("mnt"); },
         {"disk.z18", "mnt"},
         "Corrupted directory entry '50%.COM' !!!\n" + FSCK},
        {"mount point not empty",
         [&image](z18::MemEnv& env) { image(env), env.putFile("mnt/x", "x"); },
         {"disk", "mnt"},
         "z18mount: cannot mount on 'mnt': the folder is not empty\n"},
        {"mount point missing",
         image,
         {"disk", "nomnt"},
         "z18mount: cannot mount on 'nomnt': No such file or directory\n"},
        {"mount point a file",
         image,
         {"disk", "disk.z18"},
         "z18mount: cannot mount on 'disk.z18': Not a directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        z18::MemEnv env;
        c.setup(env);
        const z18::MemEnv::Tree before = env.tree();
        const Outcome r = runMount(env, c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(serveCalls, 0);
        EXPECT_TRUE(env.tree() == before);
    }
}

// Served read-write, the image holds z18man's writer lock; read-only (asked for, or an image
// without write permission), a reader's.
TEST(MountLine, OptionsLocksAndReadOnly) {
    z18::MemEnv env;
    z18man(env, {"/f"});
    env.makeDirectory("mnt");
    std::string during;
    whileServed = [&env, &during](z18::FolderOps& ops) {
        std::string out;
        z18man(env, {"/c"}, &out);
        during = out.find("Can't open image 'disk.z18' !!!") != std::string::npos ? "locked" : "readable";
        z18::FolderHandle h = 0;
        during += ops.create("/NEW", true, &h) == z18::FolderError::ReadOnly ? ", read-only" : ", writable";
        if (h != 0) ops.release(h);
    };
    Outcome r = runMount(env, {"-o", "allow_other,debug", "-oro", "disk", "mnt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(during, "readable, read-only");
    EXPECT_EQ(served.options, (std::vector<std::string>{"ro", "allow_other"}));
    EXPECT_TRUE(served.debug && served.foreground);
    EXPECT_EQ(served.source, "disk.z18");
    EXPECT_EQ(served.mountPoint, "mnt");

    r = runMount(env, {"./disk", "mnt", "-f"});
    EXPECT_EQ(during, "locked, writable");
    EXPECT_TRUE(served.options.empty() && served.foreground && !served.debug);
    EXPECT_EQ(served.source, "./disk.z18");
    EXPECT_NE(extracted(env.bytes(IMAGE)).count("NEW"), 0u);

    env.putFile(IMAGE, Bytes(env.bytes(IMAGE)), true);
    r = runMount(env, {"disk", "mnt"});
    EXPECT_EQ(r.err, "z18mount: 'disk.z18' is write-protected: mounted read-only\n");
    EXPECT_EQ(during, "readable, read-only");
    EXPECT_EQ(served.options, std::vector<std::string>{"ro"});
    whileServed = nullptr;

    for (const char* ask : {"--help", "-h", "--version", "-V"}) {
        r = runMount(env, {ask});
        EXPECT_EQ(r.out, ask[1] == 'h' || ask[2] == 'h' ? USAGE : std::string(z18::texts::MOUNT_VERSION))
            << ask;
        EXPECT_EQ(r.status, 0);
    }
}
