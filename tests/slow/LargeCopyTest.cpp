// A copy larger than one kernel transfer can move (sendfile stops at
// 2,147,479,552 bytes per call), with and without a monitor. It writes the
// whole 2.5 GiB source and its copy, so it first checks the free space.
#include "CopyTransfer.h"
#include "JvmHarness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using namespace jvmtest;

constexpr jlong kMiB = 1024 * 1024;
constexpr jlong kSourceSize = 2560 * kMiB;
// The most one sendfile call moves on Linux.
constexpr jlong kMaxTransfer = basefs::kMaxTransferSize;
// Source and copy, and room left for everything else on the file system.
constexpr uint64_t kSpaceNeeded = 2 * kSourceSize + 512 * kMiB;
constexpr size_t kWriteChunk = 8 * kMiB;
constexpr size_t kSampleSize = 64 * 1024;

// Every 8-byte word of the source holds a value of its own position, so a
// lost, repeated or shifted range shows.
uint64_t WordAt(uint64_t wordIndex)
{
    return wordIndex * 0x9E3779B97F4A7C15ull;
}

bool WriteSource(const std::string &path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::vector<uint64_t> chunk(kWriteChunk / sizeof(uint64_t));
    bool ok = true;
    for (uint64_t offset = 0; ok && offset < static_cast<uint64_t>(kSourceSize); offset += kWriteChunk) {
        const uint64_t firstWord = offset / sizeof(uint64_t);
        for (size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = WordAt(firstWord + i);
        }
        ok = pwrite(fd, chunk.data(), kWriteChunk, static_cast<off_t>(offset)) ==
             static_cast<ssize_t>(kWriteChunk);
    }
    return close(fd) == 0 && ok;
}

// Whether the kSampleSize bytes at `offset` (a multiple of 8) hold the source's words.
bool SampleMatches(int fd, uint64_t offset)
{
    std::vector<uint64_t> words(kSampleSize / sizeof(uint64_t));
    if (pread(fd, words.data(), kSampleSize, static_cast<off_t>(offset)) != static_cast<ssize_t>(kSampleSize)) {
        return false;
    }
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] != WordAt(offset / sizeof(uint64_t) + i)) {
            return false;
        }
    }
    return true;
}

class LargeCopyTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        struct statvfs fs {};
        ASSERT_EQ(0, statvfs(dir_.path().c_str(), &fs));
        const uint64_t available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
        if (available < kSpaceNeeded) {
            std::printf("LargeCopyTest SKIPPED: %llu MiB free in %s, the test needs %llu MiB\n",
                        static_cast<unsigned long long>(available / kMiB), dir_.path().c_str(),
                        static_cast<unsigned long long>(kSpaceNeeded / kMiB));
            GTEST_SKIP() << "not enough free space for a 2.5 GiB source and its copy";
        }
        ASSERT_TRUE(WriteSource(source_)) << "cannot write the source";
    }

    void TearDown() override
    {
        // Gigabytes must not wait for the end of the process.
        unlink(destination_.c_str());
        unlink(source_.c_str());
        JvmTest::TearDown();
    }

    // The copy's size, and its samples at the start, on both sides of the
    // first transfer's end, at 2 GiB and at the end.
    void ExpectCopyOfSource()
    {
        struct stat st {};
        ASSERT_EQ(0, stat(destination_.c_str(), &st));
        EXPECT_EQ(kSourceSize, st.st_size);
        const int fd = open(destination_.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_LE(0, fd);
        const uint64_t samples[] = {0, kMaxTransfer - kSampleSize, kMaxTransfer, 2048 * kMiB,
                                    kSourceSize - kSampleSize};
        for (uint64_t offset : samples) {
            EXPECT_TRUE(SampleMatches(fd, offset)) << "at offset " << offset;
        }
        close(fd);
    }

    TempDir dir_;
    std::string source_ = dir_ / "source";
    std::string destination_ = dir_ / "destination";
};

// One source for both copies: writing it is half the test's time.
TEST_F(LargeCopyTest, GoesOnPastOneTransferWithAndWithoutMonitor)
{
    {
        SCOPED_TRACE("without monitor");
        EXPECT_EQ(kSourceSize, natives::CopyFileCallback(JStr(source_.c_str()), JStr(destination_.c_str()), 0,
                                                         nullptr));
        EXPECT_FALSE(TakeException().has_value());
        ExpectCopyOfSource();
    }
    ASSERT_EQ(0, unlink(destination_.c_str()));
    {
        SCOPED_TRACE("with monitor");
        jobject monitor = NewScriptedMonitor();
        EXPECT_EQ(kSourceSize, natives::CopyFileCallback(JStr(source_.c_str()), JStr(destination_.c_str()), 0,
                                                         monitor));
        EXPECT_FALSE(TakeException().has_value());
        EXPECT_EQ(kSourceSize / kMiB, MonitorCalls(monitor));
        ExpectCopyOfSource();
    }
}

} // namespace
