// The POSIX host's open: what each mode leaves behind for the transfers that follow.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "host/env.h"
#include "support/test_support.h"

using namespace z18test;

namespace {

struct OpenCase {
    const char* what;
    z18::OpenMode mode;
    bool exists;
    std::size_t sizeAfterOpen;
};

class PosixOpen : public ::testing::TestWithParam<OpenCase> {};

// The open sets O_NONBLOCK so that a FIFO cannot stall it; afterwards the flag must be gone
// again, the access mode intact, and a file to extract into empty, whether it was there or not.
TEST_P(PosixOpen, LeavesABlockingHandleOfTheRightSize) {
    const OpenCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / "FILE.DAT";
    if (c.exists) writeFile(path, randomBytes(5000, 7));

    z18::Env& env = *z18::defaultEnv();
    const int h = env.openFile(path, c.mode).valueOr(z18::CLOSED_HANDLE);
    ASSERT_GE(h, 0);
    const int flags = ::fcntl(h, F_GETFL);
    EXPECT_EQ(flags & O_NONBLOCK, 0);
    EXPECT_EQ(env.fileSize(h).valueOr(1), c.sizeAfterOpen);

    const std::uint8_t bytes[3] = {1, 2, 3};
    std::size_t done = 0;
    const bool writable = c.mode != z18::OpenMode::HostRead && c.mode != z18::OpenMode::ImageRead;
    EXPECT_EQ(env.writeAt(h, 0, bytes, sizeof bytes, &done).ok() && done == sizeof bytes, writable);
    EXPECT_TRUE(env.closeFile(h).ok());
    if (!writable) {
        EXPECT_EQ(readFile(path), randomBytes(5000, 7));
    } else if (c.sizeAfterOpen == 0) {
        EXPECT_EQ(readFile(path), Bytes({1, 2, 3}));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, PosixOpen,
                         ::testing::Values(OpenCase{"HostCreateNew", z18::OpenMode::HostCreate, false, 0},
                                           OpenCase{"HostCreateEmptiesOld", z18::OpenMode::HostCreate, true,
                                                    0},
                                           OpenCase{"HostRead", z18::OpenMode::HostRead, true, 5000},
                                           OpenCase{"ImageRead", z18::OpenMode::ImageRead, true, 5000},
                                           OpenCase{"ImageWrite", z18::OpenMode::ImageWrite, true, 5000},
                                           OpenCase{"ImageCreateNew", z18::OpenMode::ImageCreate, false, 0}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
