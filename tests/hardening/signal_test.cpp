// A large add killed with SIGKILL while its blocks go into the image. The kill points are exact:
// the run is traced and killed right after its k-th write to the image, for random k, so the test
// does not depend on how fast the machine is. A few more runs are killed after a random delay,
// untraced. Every time, the directory on the image is either exactly the old one (the blocks written
// so far unreferenced, free again) or exactly the finished one, and the image loads, passes fsck.cpm
// and still holds every earlier file intact.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>

#include "hardening.h"
#include "support/cpmtools.h"

using namespace z18test;
using namespace hardening;

namespace {

constexpr unsigned kFileBlocks = 140;  // nine directory entries

bool sameBlock(const Bytes& a, const Bytes& b, unsigned block) {
    return std::memcmp(a.data() + z18::blockOffset(block), b.data() + z18::blockOffset(block),
                       z18::BLOCK_SIZE) == 0;
}

#if defined(__x86_64__)
// Runs the traced child until it has completed `writes` calls of pwrite64 (the tool's only way of
// writing files), then kills it. Returns its exit status, 128 + SIGKILL when it was killed, or -1
// when it could not be traced.
int killAfterWrites(Child& child, int writes) {
    const pid_t pid = child.pid();
    int w = child.nextState();
    if (!WIFSTOPPED(w)) return -1;
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
    bool leaving = false;  // syscall stops alternate: entry, then exit
    int done = 0;
    long pass = 0;
    for (;;) {
        ::ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(pass));
        pass = 0;
        w = child.nextState();
        if (WIFEXITED(w) || WIFSIGNALED(w)) return child.wait();
        if (WSTOPSIG(w) != (SIGTRAP | 0x80)) {
            pass = WSTOPSIG(w);  // an ordinary signal: hand it on
            continue;
        }
        user_regs_struct regs;
        ::ptrace(PTRACE_GETREGS, pid, nullptr, &regs);
        if (leaving && regs.orig_rax == SYS_pwrite64 && ++done == writes) {
            child.kill(SIGKILL);
            return child.wait();
        }
        leaving = !leaving;
    }
}
#endif

}  // namespace

TEST(Signals, KilledDuringALargeAddLeavesALoadableImage) {
    Z18_SKIP_FOR_WINDOWS_EXE("SIGKILL is a POSIX signal");
#if !defined(__x86_64__)
    GTEST_SKIP() << "the exact kill points read x86-64 registers";
#else
    if (!haveCpmtools()) GTEST_SKIP() << "cpmtools (fsck.cpm, cpmcp) is not installed";
    TempDir work, logs;
    writeDiskdefs(work.path());
    fs::create_directories(work / "pre");
    fs::create_directories(work / "in");
    std::vector<Bytes> pre;
    for (int i = 0; i < 3; ++i) {
        pre.push_back(randomBytes(3000 + 9000 * i, 40 + i));
        writeFile(work / ("pre/p" + std::to_string(i) + ".dat"), pre.back());
    }
    ASSERT_EQ(runExe({"disk", "/a", "pre\\*.dat"}, work.path()).status, 0);
    writeFile(work / "in/big.dat", randomBytes(kFileBlocks * 2048, 99));
    const Bytes before = readFile(work / "disk.z18");

    // The finished add, for comparison, and how long it takes.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(runExe({"disk", "/a", "in\\big.dat"}, work.path()).status, 0);
    const long fullRunUs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
    const Bytes finished = readFile(work / "disk.z18");
    ASSERT_NE(directoryOf(finished), directoryOf(before));
    unsigned firstBlock = 1;  // the first block the big file takes
    while (sameBlock(before, finished, firstBlock)) ++firstBlock;

    // Kill after the k-th image write: k <= 140 is inside the copy, 141 is the directory write-back.
    // Then four kills after a random delay, untraced.
    std::mt19937 gen(4242);
    std::vector<int> points = {1, kFileBlocks, kFileBlocks + 1};
    for (int i = 0; i < 7; ++i) points.push_back(1 + static_cast<int>(gen() % kFileBlocks));
    for (int i = 0; i < 4; ++i) points.push_back(0);

    int killedMidCopy = 0;
    for (std::size_t trial = 0; trial < points.size(); ++trial) {
        const int k = points[trial];
        SCOPED_TRACE("trial " + std::to_string(trial) +
                     (k > 0 ? ", killed after image write " + std::to_string(k) : ", killed after a delay"));
        writeFile(work / "disk.z18", before);
        Launch launch;
        launch.cwd = work.path();
        launch.out = Stream::file(logs / std::to_string(trial));
        int status;
        if (k > 0) {
            Launch how = launch;
            how.traced = true;
            Child traced = startExe({"disk", "/a", "in\\big.dat"}, how);
            status = killAfterWrites(traced, k);
            if (status == -1) GTEST_SKIP() << "ptrace is not permitted here";
            EXPECT_EQ(status, 128 + SIGKILL);
        } else {
            Child run = startExe({"disk", "/a", "in\\big.dat"}, launch);
            ::usleep(static_cast<useconds_t>(gen() % static_cast<unsigned long>(fullRunUs + 1)));
            run.kill(SIGKILL);
            status = run.wait();
            EXPECT_TRUE(status == 0 || status == 128 + SIGKILL) << status;
        }

        const Bytes image = readFile(work / "disk.z18");
        ASSERT_EQ(image.size(), before.size());
        const Bytes dir = directoryOf(image);
        if (k > 0 && k <= static_cast<int>(kFileBlocks)) {
            // Exactly k blocks written, whole, and the directory not yet.
            EXPECT_TRUE(dir == directoryOf(before)) << "the directory changed before the write-back";
            for (unsigned b = firstBlock; b < firstBlock + kFileBlocks; ++b)
                EXPECT_TRUE(
                    sameBlock(image, b < firstBlock + static_cast<unsigned>(k) ? finished : before, b))
                    << "block " << b;
            ++killedMidCopy;
        } else if (k > 0) {
            EXPECT_TRUE(image == finished) << "the written-back directory is not the finished one";
        } else {
            EXPECT_TRUE(dir == directoryOf(before) || dir == directoryOf(finished))
                << "the directory is neither the old nor the finished one";
        }
        // Nothing before the first block the add takes, or after its last, was touched.
        const std::size_t from = z18::blockOffset(firstBlock),
                          to = z18::blockOffset(firstBlock + kFileBlocks);
        EXPECT_TRUE(std::memcmp(image.data(), before.data(), z18::DIRECTORY_OFFSET) == 0);
        EXPECT_TRUE(std::memcmp(image.data() + z18::blockOffset(1), before.data() + z18::blockOffset(1),
                                from - z18::blockOffset(1)) == 0);
        EXPECT_TRUE(std::memcmp(image.data() + to, before.data() + to, image.size() - to) == 0);

        // It loads, cpmtools finds it sound, and the earlier files are intact.
        const ExeResult list = runExe({"disk", "/c"}, work.path());
        EXPECT_EQ(list.status, 0) << list.out;
        EXPECT_EQ(list.out.find("!!!"), std::string::npos) << list.out;
        const ExeResult fsck = cpmtool("fsck.cpm", {"-n", "disk.z18"}, work.path());
        EXPECT_TRUE(fsck.status == 0 && fsck.out.find("Error") == std::string::npos)
            << fsck.out.substr(0, 2000);
        for (int i = 0; i < 3; ++i) {
            fs::remove(work / "back");
            const ExeResult cp =
                cpmtool("cpmcp", {"disk.z18", "0:p" + std::to_string(i) + ".dat", "back"}, work.path());
            ASSERT_EQ(cp.status, 0) << cp.out;
            EXPECT_TRUE(readFile(work / "back") == padded(pre[static_cast<std::size_t>(i)])) << "p" << i;
        }
    }
    EXPECT_GE(killedMidCopy, 8);
#endif
}
