// Where two files differ: the byte and line, or the file that ended first, as
// cmp reports them, found in the comparison's own pass: the monitor asked as
// often as nCompareByteByByte asks it, the same exceptions.
#include "CompareReader.h"
#include "JvmHarness.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>

namespace {

using namespace jvmtest;

constexpr size_t kBlock = basefs::kCompareBlockSize;

// Text whose every tenth byte is a newline.
std::string Lines(size_t size)
{
    std::string text(size, 'x');
    for (size_t i = 9; i < size; i += 10) {
        text[i] = '\n';
    }
    return text;
}

std::string WithByteChanged(std::string text, size_t at)
{
    text[at] ^= 1;
    return text;
}

long Newlines(const std::string &text, size_t length)
{
    return static_cast<long>(std::count(text.begin(), text.begin() + static_cast<long>(length), '\n'));
}

// ended, bytes, newlines, endsWithNewline; or nothing for equal files.
using Where = std::optional<std::array<long, 4>>;

class FileComparisonTest : public JvmTest {
protected:
    Where FirstDifference(const std::string &first, const std::string &second, jobject monitor)
    {
        JNIEnv *env = Env();
        jclass comparison = env->FindClass("com/quenvira/internal/io/FileComparison");
        jmethodID method = env->GetStaticMethodID(comparison, "firstDifference",
            "(Ljava/lang/String;Ljava/lang/String;Lorg/eclipse/core/runtime/IProgressMonitor;)[J");
        auto result = static_cast<jlongArray>(env->CallStaticObjectMethod(comparison, method,
            JStr(first.c_str()), JStr(second.c_str()), monitor));
        if (env->ExceptionCheck() || result == nullptr) {
            return std::nullopt; // the exception stays pending for TakeException
        }
        std::array<jlong, 4> fields{};
        EXPECT_EQ(4, env->GetArrayLength(result));
        env->GetLongArrayRegion(result, 0, 4, fields.data());
        return std::array<long, 4>{static_cast<long>(fields[0]), static_cast<long>(fields[1]),
                                   static_cast<long>(fields[2]), static_cast<long>(fields[3])};
    }

    TempDir dir_;
};

struct DifferenceCase {
    const char *name;
    std::string first;
    std::string second;
    Where expected;
};

class FileComparisonCaseTest : public FileComparisonTest, public ::testing::WithParamInterface<DifferenceCase> {};

TEST_P(FileComparisonCaseTest, WhereAndMonitorCallsAsTheComparison)
{
    const DifferenceCase &c = GetParam();
    const std::string first = dir_.WriteFile("first", c.first);
    const std::string second = dir_.WriteFile("second", c.second);

    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(c.expected, FirstDifference(first, second, monitor));
    EXPECT_FALSE(TakeException().has_value());
    jobject comparisonMonitor = NewScriptedMonitor();
    EXPECT_EQ(!c.expected.has_value(),
              natives::CompareByteByByte(JStr(first.c_str()), JStr(second.c_str()), comparisonMonitor) == JNI_TRUE);
    EXPECT_EQ(MonitorCalls(comparisonMonitor), MonitorCalls(monitor));
    EXPECT_EQ(c.expected, FirstDifference(first, second, nullptr));
}

const std::string kTwoBlocks = Lines(2 * kBlock + 3);
const size_t kInSecondBlock = kBlock + 5;
const std::string kPrefix = Lines(kBlock) + "ab\n";
const std::string kPastARead = Lines(basefs::kCompareReadSize + kBlock + 7);

INSTANTIATE_TEST_SUITE_P(
    Contents, FileComparisonCaseTest,
    ::testing::Values(
        DifferenceCase{"Equal", kTwoBlocks, kTwoBlocks, std::nullopt},
        DifferenceCase{"BothEmpty", "", "", std::nullopt},
        DifferenceCase{"FirstByte", "abc", "xbc", std::array<long, 4>{-1, 1, 0, 0}},
        DifferenceCase{"InTheSecondBlock", kTwoBlocks, WithByteChanged(kTwoBlocks, kInSecondBlock),
                       std::array<long, 4>{-1, static_cast<long>(kInSecondBlock) + 1,
                                           Newlines(kTwoBlocks, kInSecondBlock), 0}},
        DifferenceCase{"LastByteOfAFullBlock", Lines(kBlock), WithByteChanged(Lines(kBlock), kBlock - 1),
                       std::array<long, 4>{-1, static_cast<long>(kBlock), Newlines(Lines(kBlock), kBlock - 1), 0}},
        DifferenceCase{"FirstEndsPastABlockWithANewline", kPrefix, kPrefix + "more",
                       std::array<long, 4>{0, static_cast<long>(kPrefix.size()), Newlines(kPrefix, kPrefix.size()),
                                           1}},
        DifferenceCase{"SecondEndsInsideALine", "a\nbc", "a\nb", std::array<long, 4>{1, 3, 1, 0}},
        DifferenceCase{"FirstIsEmpty", "", "x", std::array<long, 4>{0, 0, 0, 0}},
        DifferenceCase{"LastBytePastARead", kPastARead, WithByteChanged(kPastARead, kPastARead.size() - 1),
                       std::array<long, 4>{-1, static_cast<long>(kPastARead.size()),
                                           Newlines(kPastARead, kPastARead.size() - 1), 0}}),
    [](const ::testing::TestParamInfo<DifferenceCase> &info) { return info.param.name; });

TEST_F(FileComparisonTest, CancelledOrFailingAsTheComparison)
{
    const std::string file = dir_.WriteFile("file", Lines(3 * kBlock));
    jobject cancelling = NewScriptedMonitor(2, 0);
    EXPECT_EQ(std::nullopt, FirstDifference(file, file, cancelling));
    EXPECT_FALSE(TakeException().has_value());
    EXPECT_EQ(2, MonitorCalls(cancelling));

    // A missing file and a directory, in either position: the comparison's exception.
    const std::string directory = dir_ / "directory";
    ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    const std::string missing = dir_ / "missing";
    const int descriptors = OpenDescriptorCount();
    for (const auto &[one, other] : {std::pair{missing, file}, std::pair{file, missing}, std::pair{directory, file},
                                     std::pair{file, directory}}) {
        SCOPED_TRACE(one + " " + other);
        EXPECT_EQ(JNI_FALSE, natives::CompareByteByByte(JStr(one.c_str()), JStr(other.c_str()), nullptr));
        const std::optional<ThrownException> expected = TakeException();
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(std::nullopt, FirstDifference(one, other, nullptr));
        const std::optional<ThrownException> thrown = TakeException();
        ASSERT_TRUE(thrown.has_value());
        EXPECT_EQ(expected->className, thrown->className);
        EXPECT_EQ(expected->message, thrown->message);
    }
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

} // namespace
