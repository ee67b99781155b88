// The exported conversions between Java time and timeval / timespec: division
// truncating toward zero, the 32-bit truncation of timeSpecToTimeVal, and the
// double-precision arithmetic, high-half flag and clamping of timeSpecToJavaTime;
// and times past the range of Java milliseconds read from a real file system.
#include "JvmHarness.h"
#include "RecordChecks.h"

#include "FileSystemCommon.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

using namespace jvmtest;

constexpr jlong kMaxJlong = std::numeric_limits<jlong>::max();
constexpr jlong kMinJlong = std::numeric_limits<jlong>::min();

struct JavaTimeCase {
    jlong ms;
    int64_t seconds;
    int64_t micros;
    int64_t nanos;
};

class JavaTimeConversionTest : public ::testing::TestWithParam<JavaTimeCase> {};

TEST_P(JavaTimeConversionTest, ToTimeValAndTimeSpec)
{
    const JavaTimeCase &c = GetParam();
    struct timeval tv = {-7, -7};
    javaTimeToTimeVal(c.ms, &tv);
    EXPECT_EQ(c.seconds, tv.tv_sec);
    EXPECT_EQ(c.micros, tv.tv_usec);

    struct timespec ts = {-7, -7};
    javaTimeToTimeSpec(c.ms, &ts);
    EXPECT_EQ(c.seconds, ts.tv_sec);
    EXPECT_EQ(c.nanos, ts.tv_nsec);
}

INSTANTIATE_TEST_SUITE_P(
    PositiveNegativeAndSubSecond, JavaTimeConversionTest,
    ::testing::Values(JavaTimeCase{0, 0, 0, 0}, JavaTimeCase{1, 0, 1000, 1000000},
                      JavaTimeCase{999, 0, 999000, 999000000}, JavaTimeCase{1000, 1, 0, 0},
                      JavaTimeCase{1500, 1, 500000, 500000000},
                      JavaTimeCase{1600000000123, 1600000000, 123000, 123000000},
                      // Before the epoch the sub-second part is negative (truncation toward zero).
                      JavaTimeCase{-1, 0, -1000, -1000000}, JavaTimeCase{-999, 0, -999000, -999000000},
                      JavaTimeCase{-1000, -1, 0, 0}, JavaTimeCase{-1500, -1, -500000, -500000000},
                      JavaTimeCase{kMaxJlong, 9223372036854775, 807000, 807000000},
                      JavaTimeCase{kMinJlong, -9223372036854775, -808000, -808000000}));

struct TimeSpecToTimeValCase {
    int64_t seconds;
    int64_t nanos;
    int64_t micros;
};

class TimeSpecToTimeValTest : public ::testing::TestWithParam<TimeSpecToTimeValCase> {};

TEST_P(TimeSpecToTimeValTest, CopiesSecondsAndTruncatesMicroseconds)
{
    const TimeSpecToTimeValCase &c = GetParam();
    const struct timespec ts = {c.seconds, c.nanos};
    struct timeval tv = {-7, -7};
    timeSpecToTimeVal(&ts, &tv);
    EXPECT_EQ(c.seconds, tv.tv_sec);
    EXPECT_EQ(c.micros, tv.tv_usec);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TimeSpecToTimeValTest,
    ::testing::Values(TimeSpecToTimeValCase{1, 500000000, 500000}, TimeSpecToTimeValCase{0, 999, 0},
                      TimeSpecToTimeValCase{-1, -999999999, -999999},
                      TimeSpecToTimeValCase{-1600000000, 123456789, 123456},
                      // The quotient keeps only its low 32 bits, read as a signed value.
                      TimeSpecToTimeValCase{7, (int64_t{1} << 32) * 1000 + 5000, 5},
                      TimeSpecToTimeValCase{7, (int64_t{1} << 31) * 1000, -(int64_t{1} << 31)}));

struct TimeSpecToJavaTimeCase {
    int64_t seconds;
    int64_t nanos;
    jboolean flag;
    jlong ms;
};

class TimeSpecToJavaTimeTest : public ::testing::TestWithParam<TimeSpecToJavaTimeCase> {};

TEST_P(TimeSpecToJavaTimeTest, Converts)
{
    const TimeSpecToJavaTimeCase &c = GetParam();
    const struct timespec ts = {c.seconds, c.nanos};
    EXPECT_EQ(c.ms, timeSpecToJavaTime(&ts, c.flag));
}

// Seconds 5 in the upper half with all low bits set, 250 ms in the upper half of the nanoseconds.
constexpr int64_t kHighFiveSeconds = (int64_t{5} << 32) | 0xFFFFFFFF;
constexpr int64_t kHighQuarterSecond = int64_t{250000000} << 32;

INSTANTIATE_TEST_SUITE_P(
    Values, TimeSpecToJavaTimeTest,
    ::testing::Values(
        TimeSpecToJavaTimeCase{1, 500000000, 0, 1500}, TimeSpecToJavaTimeCase{0, 0, 0, 0},
        TimeSpecToJavaTimeCase{1, 123999999, 0, 1123}, TimeSpecToJavaTimeCase{1, -999999, 0, 999},
        // The double sum 1600000000123.999999 rounds up before truncation.
        TimeSpecToJavaTimeCase{1600000000, 123999999, 0, 1600000000124},
        // Negative results are 0.
        TimeSpecToJavaTimeCase{-5, 0, 0, 0}, TimeSpecToJavaTimeCase{-1, 999000000, 0, 0},
        // Past 2^53 the sum is rounded as a double: 9007199254741001 is not representable.
        TimeSpecToJavaTimeCase{9007199254741, 1000000, 0, 9007199254741000},
        // A sum that reaches 2^63 is clamped instead of overflowing.
        TimeSpecToJavaTimeCase{9223372036854775, 999999999, 0, kMaxJlong},
        // Flag 1 uses only the upper 32 bits of each field, sign-extended.
        TimeSpecToJavaTimeCase{kHighFiveSeconds, kHighQuarterSecond, 1, 5250},
        TimeSpecToJavaTimeCase{5, 250000000, 1, 0},
        TimeSpecToJavaTimeCase{-(int64_t{3} << 32), 0, 1, 0},
        // Any other flag value leaves the fields whole.
        TimeSpecToJavaTimeCase{5, 250000000, 2, 5250}, TimeSpecToJavaTimeCase{5, 250000000, 0xFF, 5250}));

class FarTimesTest : public JvmTest {
protected:
    TempDir dir_;
};

// tmpfs keeps 64-bit seconds, so it holds times beyond the range of Java
// milliseconds; ext4 would clamp them to the year 2446.
TEST_F(FarTimesTest, SaturateInRecordsAndListings)
{
    const std::string mountPoint = dir_ / "tmpfs";
    ASSERT_EQ(0, mkdir(mountPoint.c_str(), 0700));
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount(path.c_str()); }
    } unmount{mountPoint};

    constexpr jlong kMax = std::numeric_limits<jlong>::max();
    constexpr jlong kMin = std::numeric_limits<jlong>::min();
    constexpr time_t kLastWholeSecond = kMax / 1000;
    struct Case {
        time_t seconds;
        jlong expected;
    } cases[] = {
        {9300000000000000, kMax},             // touch -d @9300000000000000
        {kLastWholeSecond, kLastWholeSecond * 1000},
        {kLastWholeSecond + 1, kMax},
        {-kLastWholeSecond, -kLastWholeSecond * 1000},
        {-kLastWholeSecond - 1, kMin},        // what setting Long.MIN_VALUE stores
        {std::numeric_limits<time_t>::min() / 2, kMin},
    };
    const std::string path = dir_.WriteFile("tmpfs/f", "");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.seconds);
        SetTimes(path, c.seconds, c.seconds, 0);
        Record record = Info(path, "f", INFO_ACCESSED);
        EXPECT_EQ(c.expected, record.modified);
        EXPECT_EQ(c.expected, record.accessed);

        jobjectArray listing = natives::ListFileInfos(JStr((mountPoint + "/").c_str()), INFO_ACCESSED, nullptr, 0);
        ASSERT_NE(nullptr, listing);
        ASSERT_EQ(1, env()->GetArrayLength(listing));
        Record listed = ReadRecord(env()->GetObjectArrayElement(listing, 0));
        EXPECT_EQ(c.expected, listed.modified);
        EXPECT_EQ(c.expected, listed.accessed);
    }

    // The round trip through the library itself: Long.MIN_VALUE is stored as
    // one second further back with a positive fraction, and reads back as itself.
    natives::SetFileInfo(JStr(path.c_str()), INFO_MODIFIED, kMin, 0, 0, 0);
    ExpectNoException();
    EXPECT_EQ(kMin, Info(path, "f", 0).modified);
}

} // namespace
