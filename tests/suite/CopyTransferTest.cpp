// The copy's transfer strategies on their own, over a table of calls the test
// fills: each method chosen directly, the refusals that make a method give
// way at the first transfer and the failures that do not, and what a write
// or a region lookup failing partway leaves behind; the steps over the
// regions of a source that exists only in the table, up to the largest offset.
#include "CopyTransfer.h"
#include "JvmHarness.h"
#include "SystemCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
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
        basefs::SourceRegions dense{false, static_cast<off_t>(kSourceSize), 0, 0, false, false};
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
    basefs::SourceRegions regions{true, static_cast<off_t>(kSourceSize), 0, 0, false, false};
    g_script.lseekDataError = EIO;
    CopyChannel channel(kScriptedCalls, destinationFd_, sourceFd_, TransferMethod::kSendfile);
    off_t position = 0;
    EXPECT_EQ(StepEnd::kFailed, basefs::copyStep(channel, regions, basefs::kNoStepEnd, &position));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(0, position);
}

// ---- A source that exists only in the table --------------------------------

constexpr off_t kMax = basefs::kMaxOffset;
constexpr off_t kStep = basefs::kCopyStepSize;
constexpr off_t kPage = 4096;
constexpr size_t kMaxTransfer = basefs::kMaxTransferSize;
constexpr int kVirtualSource = 3;
constexpr int kVirtualDestination = 4;

// A sparse file of any size up to the largest offset: its data regions, its
// position, and what each transfer asked for. A transfer moves what it asks
// for up to the size, as sendfile would (a transfer moving nothing is the end
// of the source, with no method to fall back from).
struct VirtualSource {
    off_t size = 0;
    std::vector<std::pair<off_t, off_t>> data; // [start, end), in order
    off_t position = 0;
    std::vector<size_t> requested;
};

thread_local VirtualSource g_virtual;

ssize_t VirtualTransfer(size_t count)
{
    g_virtual.requested.push_back(count);
    // The kernel refuses a transfer whose end would pass the largest offset.
    if (count > static_cast<size_t>(kMax - g_virtual.position)) {
        return Fail(EINVAL);
    }
    const off_t left = std::max<off_t>(0, g_virtual.size - g_virtual.position);
    const off_t moved = std::min(static_cast<off_t>(count), left);
    g_virtual.position += moved;
    return static_cast<ssize_t>(moved);
}

ssize_t VirtualCopyFileRange(int, int, size_t count) { return VirtualTransfer(count); }
ssize_t VirtualSendfile(int, int, size_t count) { return VirtualTransfer(count); }
ssize_t VirtualRead(int, void *, size_t) { return Fail(EBADF); }
ssize_t VirtualWrite(int, const void *, size_t) { return Fail(EBADF); }

// SEEK_DATA and SEEK_HOLE as the kernel answers them; SEEK_SET of the source.
off_t VirtualLseek(int fd, off_t offset, int whence)
{
    if (whence == SEEK_SET) {
        if (fd == kVirtualSource) {
            g_virtual.position = offset;
        }
        return offset;
    }
    if (offset >= g_virtual.size) {
        errno = ENXIO;
        return -1;
    }
    for (const auto &[start, end] : g_virtual.data) {
        if (offset < end) {
            if (whence == SEEK_DATA) {
                return std::max(start, offset);
            }
            return offset < start ? offset : end;
        }
    }
    if (whence == SEEK_HOLE) {
        return offset;
    }
    errno = ENXIO;
    return -1;
}

constexpr basefs::TransferCalls kVirtualCalls = {VirtualCopyFileRange, VirtualSendfile, VirtualRead, VirtualWrite,
                                                 VirtualLseek};

TEST(VirtualSourceTest, StepsUpToTheLargestOffset)
{
    struct Case {
        const char *name;
        off_t size;
        std::vector<std::pair<off_t, off_t>> data;
        bool sparse;
        off_t start;
        basefs::StepLimit stepEnd;
        StepEnd end;
        off_t position;
        std::vector<size_t> requested;
    } cases[] = {
        // Holes: no transfer for them, and none after a hole that reaches the end.
        {"empty, 2^63-1 bytes", kMax, {}, true, 0, basefs::kNoStepEnd, StepEnd::kEndOfSource, kMax, {}},
        {"empty, 2^63-1 bytes, one step", kMax, {}, true, 0, kStep, StepEnd::kEndOfSource, kMax, {}},
        {"data, then a hole to the end", kMax - 1000, {{0, kPage}}, true, 0, basefs::kNoStepEnd,
         StepEnd::kEndOfSource, kMax - 1000, {kPage}},
        {"a hole to the end inside a step", 3 * kStep, {{0, kPage}}, true, 0, kStep, StepEnd::kEndOfSource,
         3 * kStep, {kPage}},
        // Data at the top: the request past the size is clamped below the largest offset.
        {"data up to the size, near the top", kMax - 10, {{kMax - 10 - kPage, kMax - 10}}, true, 0,
         basefs::kNoStepEnd, StepEnd::kEndOfSource, kMax - 10, {kPage, 10}},
        {"data up to the largest offset", kMax, {{kMax - kPage, kMax}}, true, 0, basefs::kNoStepEnd,
         StepEnd::kEndOfSource, kMax, {kPage}},
        {"dense, past the size near the top", kMax - 50, {}, false, kMax - 50, basefs::kNoStepEnd,
         StepEnd::kEndOfSource, kMax - 50, {50}},
        {"dense, a full request fits exactly", 0, {}, false, kMax - static_cast<off_t>(kMaxTransfer),
         basefs::kNoStepEnd, StepEnd::kEndOfSource, kMax - static_cast<off_t>(kMaxTransfer), {kMaxTransfer}},
        {"dense, the last step", kMax, {}, false, kMax - 100, kMax, StepEnd::kEndOfSource, kMax, {100}},
        {"at the largest offset nothing is asked", kMax, {}, false, kMax, basefs::kNoStepEnd,
         StepEnd::kEndOfSource, kMax, {}},
        {"at the largest offset, a step", kMax, {}, true, kMax, kMax, StepEnd::kEndOfSource, kMax, {}},
        // Steps: one ending inside a hole goes on to the hole's end.
        {"step end inside a hole", 10 * kStep, {{0, kPage}, {5 * kStep, 5 * kStep + kPage}}, true, 0, kStep,
         StepEnd::kComplete, 5 * kStep, {kPage}},
        {"step starting in a hole", 10 * kStep, {{5 * kStep, 5 * kStep + kPage}}, true, 0, kStep,
         StepEnd::kComplete, 5 * kStep, {}},
        {"step end at a hole's start", 10 * kStep, {{0, kStep}, {5 * kStep, 5 * kStep + kPage}}, true, 0, kStep,
         StepEnd::kComplete, kStep, {static_cast<size_t>(kStep)}},
        {"step end at a hole's end", 10 * kStep, {{0, kPage}, {kStep, 2 * kStep}}, true, 0, kStep,
         StepEnd::kComplete, kStep, {kPage}},
        {"step inside data", 10 * kStep, {{0, 3 * kStep}}, true, 0, kStep, StepEnd::kComplete, kStep,
         {static_cast<size_t>(kStep)}},
        {"step over a hole between data", 10 * kStep, {{0, kPage}, {2 * kPage, kStep + kPage}}, true, 0, kStep,
         StepEnd::kComplete, kStep, {kPage, kStep - 2 * kPage}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_virtual = VirtualSource{c.size, c.data, c.start, {}};
        CopyChannel channel(kVirtualCalls, kVirtualDestination, kVirtualSource, TransferMethod::kSendfile);
        // As findRegions leaves a sparse source: the first data region ends at once.
        basefs::SourceRegions regions{c.sparse, c.size, 0, 0, false, false};
        off_t position = c.start;
        EXPECT_EQ(c.end, basefs::copyStep(channel, regions, c.stepEnd, &position));
        EXPECT_EQ(c.position, position);
        EXPECT_EQ(c.requested, g_virtual.requested);
    }
}

TEST(RequestSizeTest, NeverPastTheLargestOffset)
{
    constexpr off_t kTwoAndAHalf = 5 * kStep / 2;
    constexpr off_t kFull = static_cast<off_t>(kMaxTransfer);
    const struct {
        off_t position;
        basefs::StepLimit limit;
        off_t reportedSize;
        size_t expected;
    } cases[] = {
        {0, basefs::kNoStepEnd, kTwoAndAHalf, static_cast<size_t>(kTwoAndAHalf)},
        {kTwoAndAHalf, basefs::kNoStepEnd, kTwoAndAHalf, kMaxTransfer},
        {0, kStep, kTwoAndAHalf, static_cast<size_t>(kStep)},
        {0, basefs::kNoStepEnd, kMax, static_cast<size_t>(kMax)},
        {kMax - kFull, basefs::kNoStepEnd, 0, kMaxTransfer},
        {kMax - kFull + 1, basefs::kNoStepEnd, 0, kMaxTransfer - 1},
        {kMax - 10, basefs::kNoStepEnd, kMax - 10, 10},
        {kMax - 1, basefs::kNoStepEnd, kMax, 1},
        {kMax - kStep, kMax, kMax, static_cast<size_t>(kStep)},
        {kMax, basefs::kNoStepEnd, kMax, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "position " << c.position << ", reported size " << c.reportedSize);
        EXPECT_EQ(c.expected, basefs::requestSize(c.position, c.limit, c.reportedSize));
    }
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
