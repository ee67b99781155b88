// Setting times and permissions on real files (nSetFileInfo): which values the
// info mask selects, every bit of it set, times of a link itself, times before
// the epoch, permissions through a link, and the order of effects when a step
// fails. The permission map itself is FileRecordsTest's.
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

// lutimes fails with this errno for this path while armed; every other call
// goes to the C library.
std::string g_failingLutimesPath;
int g_failingLutimesErrno = 0;

} // namespace

extern "C" int lutimes(const char *path, const struct timeval times[2]) noexcept
{
    if (!g_failingLutimesPath.empty() && g_failingLutimesPath == path) {
        errno = g_failingLutimesErrno;
        return -1;
    }
    using Lutimes = int (*)(const char *, const struct timeval *);
    static const auto real = reinterpret_cast<Lutimes>(dlsym(RTLD_NEXT, "lutimes"));
    return real(path, times);
}

namespace {

using namespace jvmtest;

constexpr jint kModified = INFO_MODIFIED;
constexpr jint kAccessed = INFO_ACCESSED;
constexpr jint kBothTimes = INFO_MODIFIED | INFO_ACCESSED;
constexpr jint kOwnerReadWrite = ATTR_OWNER_READ | ATTR_OWNER_WRITE;
constexpr jint kAllPermissionBits = 0x0FFF0000;

class FileSystemAttributesSetTest : public JvmTest {
protected:
    void TearDown() override
    {
        g_failingLutimesPath.clear();
        JvmTest::TearDown();
    }

    // nSetFileInfo; the exception it threw, if any.
    static std::optional<ThrownException> Set(const std::string &path, jint mask, jlong modified,
                                              jlong accessed, jint attributes = 0)
    {
        natives::SetFileInfo(JStr(path.c_str()), mask, modified, accessed, 0, attributes);
        return TakeException();
    }

    static void ExpectSet(const std::string &path, jint mask, jlong modified, jlong accessed,
                          jint attributes = 0)
    {
        auto thrown = Set(path, mask, modified, accessed, attributes);
        EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
    }

    static struct stat LStat(const std::string &path)
    {
        struct stat st = {};
        EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
        return st;
    }

    static void SetTimes(const std::string &path, struct timespec accessed, struct timespec modified)
    {
        const struct timespec times[2] = {accessed, modified};
        ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW));
    }

    TempDir dir_;
};

void ExpectTime(struct timespec expected, struct timespec actual, const char *which)
{
    EXPECT_EQ(expected.tv_sec, actual.tv_sec) << which;
    EXPECT_EQ(expected.tv_nsec, actual.tv_nsec) << which;
}

TEST_F(FileSystemAttributesSetTest, BothTimesSetFromTheArguments)
{
    std::string path = dir_.WriteFile("f", "x");
    ExpectSet(path, kBothTimes, 1600000000123, 1500000000456);
    struct stat st = LStat(path);
    ExpectTime({1600000000, 123000000}, st.st_mtim, "modified");
    ExpectTime({1500000000, 456000000}, st.st_atim, "accessed");
}

TEST_F(FileSystemAttributesSetTest, OneTimeKeepsTheOtherAtItsWholeSecond)
{
    constexpr struct timespec kOldAccess = {1500000000, 700000000};
    constexpr struct timespec kOldModify = {1400000000, 300000000};
    std::string path = dir_.WriteFile("f", "x");

    SetTimes(path, kOldAccess, kOldModify);
    ExpectSet(path, kModified, 1600000000123, 42);
    struct stat st = LStat(path);
    ExpectTime({1600000000, 123000000}, st.st_mtim, "modified");
    ExpectTime({kOldAccess.tv_sec, 0}, st.st_atim, "accessed");

    SetTimes(path, kOldAccess, kOldModify);
    ExpectSet(path, kAccessed, 42, 1600000000123);
    st = LStat(path);
    ExpectTime({kOldModify.tv_sec, 0}, st.st_mtim, "modified");
    ExpectTime({1600000000, 123000000}, st.st_atim, "accessed");
}

struct PreEpochCase {
    jlong ms;
    struct timespec expected;
};

class PreEpochTimeTest : public FileSystemAttributesSetTest, public ::testing::WithParamInterface<PreEpochCase> {};

TEST_P(PreEpochTimeTest, IsSetExactly)
{
    std::string path = dir_.WriteFile("f", "x");
    ExpectSet(path, kBothTimes, GetParam().ms, GetParam().ms);
    struct stat st = LStat(path);
    ExpectTime(GetParam().expected, st.st_mtim, "modified");
    ExpectTime(GetParam().expected, st.st_atim, "accessed");
}

INSTANTIATE_TEST_SUITE_P(
    SubSecondParts, PreEpochTimeTest,
    ::testing::Values(PreEpochCase{-1, {-1, 999000000}}, PreEpochCase{-999, {-1, 1000000}},
                      PreEpochCase{-1000, {-1, 0}}, PreEpochCase{-1001, {-2, 999000000}},
                      PreEpochCase{-86400500, {-86401, 500000000}}));

TEST_F(FileSystemAttributesSetTest, MissingFileFailsWhenSettingTimes)
{
    for (jint mask : {kBothTimes, kBothTimes | INFO_ATTRIBUTES, kModified, kAccessed}) {
        auto thrown = Set(dir_ / "missing", mask, 1000, 1000);
        ASSERT_TRUE(thrown.has_value()) << "mask " << mask;
        EXPECT_EQ("java.io.IOException", thrown->className);
        EXPECT_EQ("Path does not exist [2]", thrown->message);
    }
}

TEST_F(FileSystemAttributesSetTest, LinkTimesLeaveTheTargetAlone)
{
    std::string target = dir_.WriteFile("target", "x");
    SetTimes(target, {1000000000, 0}, {1100000000, 0});
    std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));

    ExpectSet(link, kBothTimes, 1600000000250, 1500000000750);
    struct stat st = LStat(link);
    ExpectTime({1600000000, 250000000}, st.st_mtim, "link modified");
    ExpectTime({1500000000, 750000000}, st.st_atim, "link accessed");
    st = LStat(target);
    ExpectTime({1100000000, 0}, st.st_mtim, "target modified");
    ExpectTime({1000000000, 0}, st.st_atim, "target accessed");
}

TEST_F(FileSystemAttributesSetTest, FailureSettingTimesLeavesPermissionsAlone)
{
    std::string path = dir_.WriteFile("f", "x");
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    g_failingLutimesPath = path;
    g_failingLutimesErrno = EIO;

    auto thrown = Set(path, kBothTimes | INFO_ATTRIBUTES, 1000, 1000, 0);
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("An I/O error occurred [5]", thrown->message);
    EXPECT_EQ(0640u, LStat(path).st_mode & 07777);
}

TEST_F(FileSystemAttributesSetTest, FailureSettingPermissionsKeepsTheTimesSet)
{
    // chmod follows the link to a target that does not exist; lutimes sets the link itself.
    std::string link = dir_ / "dangling";
    ASSERT_EQ(0, symlink("nowhere", link.c_str()));

    auto thrown = Set(link, kBothTimes | INFO_ATTRIBUTES, 1600000000000, 1500000000000, kOwnerReadWrite);
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("Path does not exist [2]", thrown->message);
    // Only the modification time is checked: following the link in chmod may update its access time.
    ExpectTime({1600000000, 0}, LStat(link).st_mtim, "modified");
}

TEST_F(FileSystemAttributesSetTest, PermissionsOfALinkGoToItsTarget)
{
    std::string target = dir_.WriteFile("target", "x");
    ASSERT_EQ(0, chmod(target.c_str(), 0600));
    std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));

    ExpectSet(link, INFO_ATTRIBUTES, 0, 0, kOwnerReadWrite | ATTR_GROUP_READ | ATTR_OTHERS_READ);
    EXPECT_EQ(0644u, LStat(target).st_mode & 07777);
    EXPECT_EQ(0777u, LStat(link).st_mode & 07777);
}

TEST_F(FileSystemAttributesSetTest, MaskWithoutItsThreeBitsDoesNothing)
{
    constexpr struct timespec kAccess = {1500000000, 700000000};
    constexpr struct timespec kModify = {1400000000, 300000000};
    std::string path = dir_.WriteFile("f", "x");
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    SetTimes(path, kAccess, kModify);

    const jint otherBits = ~(INFO_ATTRIBUTES | INFO_MODIFIED | INFO_ACCESSED);
    for (jint mask : {0, otherBits}) {
        ExpectSet(path, mask, 1, 1, kAllPermissionBits);
        struct stat st = LStat(path);
        EXPECT_EQ(0640u, st.st_mode & 07777) << "mask " << mask;
        ExpectTime(kAccess, st.st_atim, "accessed");
        ExpectTime(kModify, st.st_mtim, "modified");
    }
    // Nothing is looked up either: a missing path is no error.
    ExpectSet(dir_ / "missing", 0, 1, 1, 0);
}

// Every bit of the mask set: both times and the permissions are set, the bits
// without a meaning are ignored; every attribute bit set gives all twelve
// permission bits and nothing more.
TEST_F(FileSystemAttributesSetTest, MaskWithEveryBitSet)
{
    constexpr jint kAllBits = -1;
    constexpr jlong kOldModified = 1000000000000; // 2001-09-09T01:46:40Z
    constexpr jlong kOldAccessed = 1000086400000; // a day later
    const std::string path = dir_.WriteFile("file", "contents");
    for (jint attributes : {kOwnerReadWrite, kAllBits}) {
        SCOPED_TRACE(attributes);
        auto thrown = Set(path, kAllBits, kOldModified, kOldAccessed, attributes);
        ASSERT_FALSE(thrown.has_value()) << thrown->message;
        const struct stat st = LStat(path);
        EXPECT_EQ(kOldModified / 1000, st.st_mtim.tv_sec);
        EXPECT_EQ(kOldAccessed / 1000, st.st_atim.tv_sec);
        EXPECT_EQ(attributes == kAllBits ? 07777u : 0600u, st.st_mode & 07777);
        EXPECT_TRUE(S_ISREG(st.st_mode));
    }
}

TEST_F(FileSystemAttributesSetTest, NullPath)
{
    natives::SetFileInfo(nullptr, kBothTimes, 0, 0, 0, 0);
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.NullPointerException", thrown->className);
    EXPECT_EQ("path", thrown->message);
}

} // namespace
