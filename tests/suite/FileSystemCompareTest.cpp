// Byte-by-byte comparison: block boundaries, lengths, the monitor asked after
// every compared block, read errors (of a directory, and injected into each
// read by standing in for read) and a failed buffer allocation (injected by
// standing in for malloc).
#include "CLibraryFaults.h"
#include "CompareReader.h"
#include "FileSystemCompare.h"
#include "JvmHarness.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>

namespace {

using namespace jvmtest;

constexpr size_t kBlock = basefs::kCompareBlockSize;
constexpr size_t kRead = basefs::kCompareReadSize;
// The comparison allocates one buffer of a read per file, both at once.
constexpr size_t kCompareBufferSize = 2 * kRead;

std::string Pattern(size_t size)
{
    std::string contents(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        contents[i] = static_cast<char>(i * 7 + i / kBlock);
    }
    return contents;
}

std::string WithByteChanged(std::string contents, size_t at)
{
    contents[at] ^= 1;
    return contents;
}

std::string WithLastByteChanged(std::string contents)
{
    contents.back() ^= 1;
    return contents;
}

class FileSystemCompareTest : public JvmTest {
protected:
    jboolean Compare(const std::string &file1, const std::string &file2, jobject monitor)
    {
        return natives::CompareByteByByte(JStr(file1.c_str()), JStr(file2.c_str()), monitor);
    }

    TempDir dir_;
};

struct ContentCase {
    const char *name;
    std::string contents1;
    std::string contents2;
    bool equal;
    int monitorCalls;  // blocks compared before the answer
};

class CompareContentTest : public FileSystemCompareTest, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(CompareContentTest, AnswerAndBlocksCompared)
{
    const ContentCase &c = GetParam();
    std::string file1 = dir_.WriteFile("file1", c.contents1);
    std::string file2 = dir_.WriteFile("file2", c.contents2);

    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(c.equal, Compare(file1, file2, monitor) == JNI_TRUE);
    EXPECT_EQ(c.monitorCalls, MonitorCalls(monitor));
    EXPECT_EQ(c.equal, Compare(file1, file2, nullptr) == JNI_TRUE);
    EXPECT_FALSE(TakeException().has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Contents, CompareContentTest,
    ::testing::Values(
        ContentCase{"BothEmpty", "", "", true, 1},
        // A third pass reads nothing from either file.
        ContentCase{"TwoFullBlocksEqual", Pattern(2 * kBlock), Pattern(2 * kBlock), true, 3},
        ContentCase{"EqualPastABlock", Pattern(kBlock + 10), Pattern(kBlock + 10), true, 2},
        ContentCase{"EmptyAndOneByte", "", "x", false, 0},
        // The block whose lengths differ is neither compared nor reported.
        ContentCase{"SecondIsOneByteLonger", Pattern(kBlock), Pattern(kBlock + 1), false, 1},
        ContentCase{"FirstIsOneByteLonger", Pattern(kBlock + 1), Pattern(kBlock), false, 1},
        ContentCase{"FirstIsOneBlockLonger", Pattern(2 * kBlock), Pattern(kBlock), false, 1},
        ContentCase{"LastByteDiffers", Pattern(2 * kBlock + 3), WithLastByteChanged(Pattern(2 * kBlock + 3)),
                    false, 3},
        ContentCase{"LastByteOfAFullBlockDiffers", Pattern(kBlock), WithLastByteChanged(Pattern(kBlock)), false,
                    1},
        // Past one read: the monitor is still asked after every block.
        ContentCase{"LastByteDiffersPastARead", Pattern(kRead + kBlock + 1),
                    WithLastByteChanged(Pattern(kRead + kBlock + 1)), false, static_cast<int>(kRead / kBlock) + 2},
        ContentCase{"SecondBlockDiffersInAFullRead", Pattern(kRead), WithByteChanged(Pattern(kRead), kBlock + 5), false,
                    2},
        ContentCase{"EqualOverTwoReads", Pattern(2 * kRead), Pattern(2 * kRead), true,
                    static_cast<int>(2 * kRead / kBlock) + 1}),
    [](const ::testing::TestParamInfo<ContentCase> &info) { return info.param.name; });

TEST_F(FileSystemCompareTest, FileWithItself)
{
    std::string file = dir_.WriteFile("file", Pattern(3 * kBlock + 17));
    EXPECT_TRUE(Compare(file, file, nullptr));
    EXPECT_FALSE(TakeException().has_value());
}

TEST_F(FileSystemCompareTest, CancellationAnswersFalseWithoutException)
{
    std::string file1 = dir_.WriteFile("file1", Pattern(3 * kBlock));
    std::string file2 = dir_.WriteFile("file2", Pattern(3 * kBlock));
    jobject monitor = NewScriptedMonitor(2, 0);
    EXPECT_FALSE(Compare(file1, file2, monitor));
    EXPECT_FALSE(TakeException().has_value());
    EXPECT_EQ(2, MonitorCalls(monitor));

    // Also when the files are empty: the one pass still asks.
    std::string empty = dir_.WriteFile("empty", "");
    EXPECT_FALSE(Compare(empty, empty, NewScriptedMonitor(1, 0)));
    EXPECT_FALSE(TakeException().has_value());
}

TEST_F(FileSystemCompareTest, MonitorThatThrowsEndsTheComparison)
{
    std::string file = dir_.WriteFile("file", Pattern(2 * kBlock));
    jobject monitor = NewScriptedMonitor(0, 2);
    EXPECT_FALSE(Compare(file, file, monitor));
    ExpectException("java.lang.IllegalStateException", "monitor failed");
    EXPECT_EQ(2, MonitorCalls(monitor));
}

TEST_F(FileSystemCompareTest, MissingFileInEitherPosition)
{
    std::string file = dir_.WriteFile("file", "x");
    std::string missing = dir_ / "missing";
    const int descriptors = OpenDescriptorCount();
    EXPECT_FALSE(Compare(missing, file, nullptr));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_FALSE(Compare(file, missing, nullptr));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(FileSystemCompareTest, ReadErrorInEitherPosition)
{
    // A directory opens, and its first read fails with EISDIR, a number the
    // error table has no description for. An injected error can fail any
    // read: of two equal files of a read and a half, file 1's reads come
    // first each time; the bytes read before an error are still compared.
    std::string directory = dir_ / "directory";
    ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    std::string empty = dir_.WriteFile("empty", "");
    std::string full = dir_.WriteFile("full", Pattern(kBlock));
    const std::string contents = Pattern(kRead + kRead / 2);
    std::string one = dir_.WriteFile("one", contents);
    std::string two = dir_.WriteFile("two", contents);
    const int descriptors = OpenDescriptorCount();
    constexpr int kBlocksPerRead = static_cast<int>(kRead / kBlock);

    struct Case {
        const char *name;
        const std::string &file1;
        const std::string &file2;
        int failingRead; // the read injected to fail (1-based), or 0
        int reads;       // reads made in all
        const char *message;
        int monitorCalls; // blocks compared before the error
    } cases[] = {
        {"file1 a directory", directory, full, 0, 0, "Unknown [21]", 0},
        {"file2 a directory, after a short block", empty, directory, 0, 0, "Unknown [21]", 0},
        {"file2 a directory, after a full block", full, directory, 0, 0, "Unknown [21]", 0},
        {"both the same directory", directory, directory, 0, 0, "Unknown [21]", 0},
        {"file 1, first read", one, two, 1, 1, "An I/O error occurred [5]", 0},
        {"file 2, first read", one, two, 2, 2, "An I/O error occurred [5]", 0},
        {"file 1, second read", one, two, 3, 3, "An I/O error occurred [5]", kBlocksPerRead},
        {"file 1, after the second read's bytes", one, two, 4, 6, "An I/O error occurred [5]",
         kBlocksPerRead * 3 / 2},
        {"file 2, second read", one, two, 5, 5, "An I/O error occurred [5]", kBlocksPerRead},
        {"file 2, after the second read's bytes", one, two, 6, 6, "An I/O error occurred [5]",
         kBlocksPerRead * 3 / 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        jobject monitor = NewScriptedMonitor();
        {
            faults::FailCCall fault(faults::CFunction::kRead, c.failingRead, EIO);
            EXPECT_FALSE(Compare(c.file1, c.file2, monitor));
            if (c.failingRead != 0) {
                EXPECT_EQ(c.reads, fault.calls());
            }
        }
        ExpectException("java.io.IOException", c.message);
        EXPECT_EQ(c.monitorCalls, MonitorCalls(monitor));
        EXPECT_EQ(descriptors, OpenDescriptorCount());
    }
    EXPECT_TRUE(Compare(one, two, nullptr));
}

TEST_F(FileSystemCompareTest, FailedAllocationBeforeAnyFileIsOpened)
{
    // Missing files: had either been opened first, its error would be thrown instead.
    faults::FailAllocation fault(kCompareBufferSize);
    EXPECT_FALSE(Compare(dir_ / "missing1", dir_ / "missing2", nullptr));
    ExpectException("java.lang.OutOfMemoryError", "Cannot allocate buffers for comparison");
    EXPECT_TRUE(fault.fired()) << "the comparison made no allocation of its buffers' size";
}

TEST_F(FileSystemCompareTest, NullPaths)
{
    EXPECT_FALSE(natives::CompareByteByByte(nullptr, JStr("/x"), nullptr));
    ExpectException("java.lang.NullPointerException", "file1");
    EXPECT_FALSE(natives::CompareByteByByte(JStr("/x"), nullptr, nullptr));
    ExpectException("java.lang.NullPointerException", "file2");
}

} // namespace
