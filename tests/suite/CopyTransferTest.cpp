// The copy's transfer strategies on their own, over a table of calls the test
// fills: each method chosen directly, the refusals that make a method give
// way at the first transfer and the failures that do not, and what a write
// or a region lookup failing partway leaves behind.
#include "CopyTransfer.h"
#include "JvmHarness.h"
#include "SystemCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using basefs::CopyChannel;
using basefs::StepEnd;
using basefs::TransferMethod;

constexpr size_t kSourceSize = 3 * basefs::kReadWriteBufferSize + 1234;
// The kernel-internal ENOTSUPP that NFS leaked on some 5.x kernels.
constexpr int kKernelNotSupported = 524;

// What the table's calls do: each forwards to the real call unless told to
// fail, and counts the calls it forwarded.
struct Script {
    int copyFileRangeError = 0; // every call fails with this error
    int sendfileError = 0;
    int copyFileRangeAfterBytes = 0; // fails with this error once a byte has moved
    bool copyFileRangeMovesNothing = false;
    size_t writeLimit = 0; // each write moves at most this many bytes (0: no limit)
    int writeErrorAtCall = 0;
    int lseekDataError = 0; // SEEK_DATA fails with this error
    int calls[3] = {};      // forwarded, by method
    int writes = 0;
    size_t moved = 0;
};

thread_local Script g_script;

ssize_t Fail(int error)
{
    errno = error;
    return -1;
}

ssize_t ScriptedCopyFileRange(int source, int destination, size_t count)
{
    if (g_script.copyFileRangeError != 0) {
        return Fail(g_script.copyFileRangeError);
    }
    if (g_script.copyFileRangeAfterBytes != 0 && g_script.moved > 0) {
        return Fail(g_script.copyFileRangeAfterBytes);
    }
    if (g_script.copyFileRangeMovesNothing) {
        return 0;
    }
    ++g_script.calls[static_cast<int>(TransferMethod::kCopyFileRange)];
    const ssize_t moved = basefs::sys::copyFileRange(source, destination, count);
    g_script.moved += moved > 0 ? static_cast<size_t>(moved) : 0;
    return moved;
}

ssize_t ScriptedSendfile(int destination, int source, size_t count)
{
    if (g_script.sendfileError != 0) {
        return Fail(g_script.sendfileError);
    }
    ++g_script.calls[static_cast<int>(TransferMethod::kSendfile)];
    return basefs::sys::sendfile(destination, source, count);
}

ssize_t ScriptedRead(int fd, void *buffer, size_t count)
{
    ++g_script.calls[static_cast<int>(TransferMethod::kReadWrite)];
    return basefs::sys::read(fd, buffer, count);
}

ssize_t ScriptedWrite(int fd, const void *buffer, size_t count)
{
    if (++g_script.writes == g_script.writeErrorAtCall) {
        return Fail(ENOSPC);
    }
    const size_t limit = g_script.writeLimit != 0 ? std::min(count, g_script.writeLimit) : count;
    return basefs::sys::write(fd, buffer, limit);
}

off_t ScriptedLseek(int fd, off_t offset, int whence)
{
    if (whence == SEEK_DATA && g_script.lseekDataError != 0) {
        errno = g_script.lseekDataError;
        return -1;
    }
    return basefs::sys::lseek(fd, offset, whence);
}

constexpr basefs::TransferCalls kScriptedCalls = {ScriptedCopyFileRange, ScriptedSendfile, ScriptedRead,
                                                  ScriptedWrite, ScriptedLseek};

class CopyTransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_script = Script{};
        source_ = dir_.WriteFileOfSize("source", kSourceSize);
        sourceFd_ = open(source_.c_str(), O_RDONLY | O_CLOEXEC);
        destinationFd_ = open(destination_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_LE(0, sourceFd_);
        ASSERT_LE(0, destinationFd_);
    }
    void TearDown() override
    {
        close(sourceFd_);
        close(destinationFd_);
    }

    // Copies the whole source in one step over the scripted table.
    StepEnd CopyAll(CopyChannel &channel, off_t *position)
    {
        basefs::SourceRegions dense{false, static_cast<off_t>(kSourceSize), 0, 0, false};
        return basefs::copyStep(channel, dense, basefs::kNoStepEnd, position);
    }

    jvmtest::TempDir dir_;
    std::string source_;
    std::string destination_ = dir_ / "destination";
    int sourceFd_ = -1;
    int destinationFd_ = -1;
};

class EachMethodTest : public CopyTransferTest, public ::testing::WithParamInterface<TransferMethod> {};

TEST_P(EachMethodTest, MovesTheWholeSourceThroughItsOwnCalls)
{
    CopyChannel channel(kScriptedCalls, destinationFd_, sourceFd_, GetParam());
    off_t position = 0;
    EXPECT_EQ(StepEnd::kEndOfSource, CopyAll(channel, &position));
    EXPECT_EQ(static_cast<off_t>(kSourceSize), position);
    EXPECT_EQ(GetParam(), channel.method);
    for (int method = 0; method < 3; ++method) {
        EXPECT_EQ(method == static_cast<int>(GetParam()), g_script.calls[method] > 0) << method;
    }
    EXPECT_TRUE(jvmtest::ReadFileContents(destination_) == jvmtest::ReadFileContents(source_));
}

INSTANTIATE_TEST_SUITE_P(Methods, EachMethodTest,
                         ::testing::Values(TransferMethod::kCopyFileRange, TransferMethod::kSendfile,
                                           TransferMethod::kReadWrite));

TEST_F(CopyTransferTest, FirstTransferFallsBackOnlyForARefusal)
{
    struct Case {
        const char *name;
        int copyFileRangeError;
        int sendfileError;
        bool copyFileRangeMovesNothing;
        TransferMethod used;
        int failsWith; // 0: the transfer moves bytes
    } cases[] = {
        {"ENOSYS", ENOSYS, 0, false, TransferMethod::kSendfile, 0},
        {"EPERM", EPERM, 0, false, TransferMethod::kSendfile, 0},
        {"EXDEV", EXDEV, 0, false, TransferMethod::kSendfile, 0},
        {"EINVAL", EINVAL, 0, false, TransferMethod::kSendfile, 0},
        {"EOPNOTSUPP", EOPNOTSUPP, 0, false, TransferMethod::kSendfile, 0},
        {"EBADF", EBADF, 0, false, TransferMethod::kSendfile, 0},
        {"ETXTBSY", ETXTBSY, 0, false, TransferMethod::kSendfile, 0},
        {"ENOTSUPP", kKernelNotSupported, 0, false, TransferMethod::kSendfile, 0},
        {"moves nothing", 0, 0, true, TransferMethod::kSendfile, 0},
        {"sendfile EINVAL", EXDEV, EINVAL, false, TransferMethod::kReadWrite, 0},
        {"sendfile ENOSYS", EXDEV, ENOSYS, false, TransferMethod::kReadWrite, 0},
        {"EIO is no refusal", EIO, 0, false, TransferMethod::kCopyFileRange, EIO},
        {"sendfile EIO is no refusal", EXDEV, EIO, false, TransferMethod::kSendfile, EIO},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_script = Script{};
        g_script.copyFileRangeError = c.copyFileRangeError;
        g_script.sendfileError = c.sendfileError;
        g_script.copyFileRangeMovesNothing = c.copyFileRangeMovesNothing;
        CopyChannel channel(kScriptedCalls, destinationFd_, sourceFd_, TransferMethod::kCopyFileRange);
        const ssize_t moved = basefs::transfer(channel, basefs::kReadWriteBufferSize);
        EXPECT_EQ(c.used, channel.method);
        if (c.failsWith != 0) {
            EXPECT_EQ(-1, moved);
            EXPECT_EQ(c.failsWith, errno);
            EXPECT_FALSE(channel.settled);
        } else {
            EXPECT_LT(0, moved);
            EXPECT_TRUE(channel.settled);
        }
        ASSERT_EQ(0, lseek(sourceFd_, 0, SEEK_SET));
        ASSERT_EQ(0, lseek(destinationFd_, 0, SEEK_SET));
    }
}

TEST_F(CopyTransferTest, RefusalAfterBytesMovedIsTheCopysFailure)
{
    g_script.copyFileRangeAfterBytes = EXDEV;
    CopyChannel channel(kScriptedCalls, destinationFd_, sourceFd_, TransferMethod::kCopyFileRange);
    const auto step = static_cast<size_t>(basefs::kCopyStepSize);
    EXPECT_EQ(static_cast<ssize_t>(step), basefs::transfer(channel, step));
    EXPECT_EQ(-1, basefs::transfer(channel, step));
    EXPECT_EQ(EXDEV, errno);
    EXPECT_EQ(TransferMethod::kCopyFileRange, channel.method);
    EXPECT_EQ(0, g_script.calls[static_cast<int>(TransferMethod::kSendfile)]);
}

TEST_F(CopyTransferTest, WriteFailingPartwayCountsTheBytesWrittenAndDefersItsError)
{
    // Each read fills the buffer; the first write takes half of it, the second fails.
    g_script.writeLimit = basefs::kReadWriteBufferSize / 2;
    g_script.writeErrorAtCall = 2;
    CopyChannel channel(kScriptedCalls, destinationFd_, sourceFd_, TransferMethod::kReadWrite);
    off_t position = 0;
    EXPECT_EQ(StepEnd::kFailed, CopyAll(channel, &position));
    EXPECT_EQ(ENOSPC, errno);
    EXPECT_EQ(ENOSPC, channel.deferredError);
    EXPECT_EQ(static_cast<off_t>(basefs::kReadWriteBufferSize / 2), position);
    EXPECT_FALSE(channel.outOfMemory);
}

TEST_F(CopyTransferTest, RegionLookupFailingEndsTheStepWithItsError)
{
    // A sparse source whose next data region cannot be looked up.
    basefs::SourceRegions regions{true, static_cast<off_t>(kSourceSize), 0, 0, false};
    g_script.lseekDataError = EIO;
    CopyChannel channel(kScriptedCalls, destinationFd_, sourceFd_, TransferMethod::kSendfile);
    off_t position = 0;
    EXPECT_EQ(StepEnd::kFailed, basefs::copyStep(channel, regions, basefs::kNoStepEnd, &position));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(0, position);
}

TEST(SystemTransferCallsTest, AreTheSystemCalls)
{
    const basefs::TransferCalls &calls = basefs::kSystemTransferCalls;
    EXPECT_EQ(&basefs::sys::copyFileRange, calls.copyFileRange);
    EXPECT_EQ(&basefs::sys::sendfile, calls.sendfile);
    EXPECT_EQ(&basefs::sys::read, calls.read);
    EXPECT_EQ(&basefs::sys::write, calls.write);
    EXPECT_EQ(&basefs::sys::lseek, calls.lseek);
}

} // namespace
