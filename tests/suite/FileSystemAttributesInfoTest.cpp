// One file's metadata: the attribute word, the record class chosen by the
// info mask, the values each record carries, and the failures.
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace {

using namespace jvmtest;

constexpr jint kAllPermissions = ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE | ATTR_GROUP_READ |
                                 ATTR_GROUP_WRITE | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_WRITE |
                                 ATTR_OTHERS_EXECUTE;

class FileSystemAttributesInfoTest : public JvmTest {
protected:
    // nGetFileInfo, expecting success.
    Record Info(const std::string &path, const char *name, jint mask)
    {
        jobject info = natives::GetFileInfo(JStr(path.c_str()), JStr(name), mask);
        auto thrown = TakeException();
        EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
        EXPECT_NE(nullptr, info);
        return info != nullptr ? ReadRecord(info) : Record{};
    }

    // nGetFileInfo, expecting null and an exception.
    ThrownException Failure(jstring path, jstring name)
    {
        EXPECT_EQ(nullptr, natives::GetFileInfo(path, name, 0));
        auto thrown = TakeException();
        EXPECT_TRUE(thrown.has_value());
        return thrown.value_or(ThrownException{});
    }

    static void SetTimes(const std::string &path, time_t accessed, time_t modified, long nanos)
    {
        struct timespec times[2] = {{accessed, nanos}, {modified, nanos}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW));
    }

    TempDir dir_;
};

TEST_F(FileSystemAttributesInfoTest, RegularFile)
{
    std::string path = dir_.WriteFile("data.bin", std::string(1234, 'x'));
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    SetTimes(path, 1000000000, 1600000000, 999999999); // the fraction is dropped

    Record record = Info(path, "data.bin", 0);
    EXPECT_FALSE(record.extended);
    EXPECT_EQ("data.bin", record.name);
    EXPECT_EQ(ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_GROUP_READ, record.attributes);
    EXPECT_EQ(1234, record.size);
    EXPECT_EQ(1600000000000LL, record.modified);
}

TEST_F(FileSystemAttributesInfoTest, RecordNameIsTheCallersOwnString)
{
    std::string path = dir_.WriteFile("f", "");
    jstring name = JStr("any name");
    jobject info = natives::GetFileInfo(JStr(path.c_str()), name, 0x78);
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(env()->IsSameObject(name, RecordName(info)));
}

TEST_F(FileSystemAttributesInfoTest, HiddenDirectoryHasNoSize)
{
    std::string path = dir_ / ".config";
    ASSERT_EQ(0, mkdir(path.c_str(), 0755));
    Record record = Info(path, ".config", 0);
    EXPECT_EQ(ATTR_DIRECTORY | ATTR_HIDDEN | ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE |
                  ATTR_GROUP_READ | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_EXECUTE,
              record.attributes);
    EXPECT_EQ(0, record.size);
}

TEST_F(FileSystemAttributesInfoTest, SymbolicLinkToDirectoryIsTheLinkItself)
{
    std::string target = dir_ / "target-directory";
    ASSERT_EQ(0, mkdir(target.c_str(), 0700));
    std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));

    Record record = Info(link, "link", 0);
    EXPECT_EQ(ATTR_SYMLINK | kAllPermissions, record.attributes);
    EXPECT_EQ(static_cast<jlong>(target.size()), record.size);
}

TEST_F(FileSystemAttributesInfoTest, HiddenBitComesFromTheNameNotThePath)
{
    std::string path = dir_.WriteFile(".x", "");
    EXPECT_EQ(0, Info(path, "x", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(0, Info(path, "", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(ATTR_HIDDEN, Info(path, ".x", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(ATTR_HIDDEN, Info(dir_ / ".", "..", 0).attributes & ATTR_HIDDEN);
}

TEST_F(FileSystemAttributesInfoTest, OtherFileTypesCarryNoTypeBit)
{
    std::string fifo = dir_ / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(ATTR_OWNER_READ | ATTR_OWNER_WRITE, Info(fifo, "fifo", 0).attributes);
    // A character device: only its permission bits (0666).
    EXPECT_EQ(ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_GROUP_READ | ATTR_GROUP_WRITE | ATTR_OTHERS_READ |
                  ATTR_OTHERS_WRITE,
              Info("/dev/null", "null", 0).attributes);
}

struct ModeCase {
    mode_t mode;
    jint attributes;
};

class PermissionMapTest : public FileSystemAttributesInfoTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(PermissionMapTest, EachModeBitHasItsAttributeBit)
{
    std::string path = dir_.WriteFile("f", "");
    ASSERT_EQ(0, chmod(path.c_str(), GetParam().mode));
    EXPECT_EQ(GetParam().attributes, Info(path, "f", 0).attributes);
}

INSTANTIATE_TEST_SUITE_P(
    TwelveBits, PermissionMapTest,
    ::testing::Values(ModeCase{0, 0}, ModeCase{0400, ATTR_OWNER_READ}, ModeCase{0200, ATTR_OWNER_WRITE},
                      ModeCase{0100, ATTR_OWNER_EXECUTE}, ModeCase{040, ATTR_GROUP_READ},
                      ModeCase{020, ATTR_GROUP_WRITE}, ModeCase{010, ATTR_GROUP_EXECUTE},
                      ModeCase{04, ATTR_OTHERS_READ}, ModeCase{02, ATTR_OTHERS_WRITE},
                      ModeCase{01, ATTR_OTHERS_EXECUTE}, ModeCase{04000, ATTR_SET_UID},
                      ModeCase{02000, ATTR_SET_GID}, ModeCase{01000, ATTR_STICKY},
                      ModeCase{07777, kAllPermissions | ATTR_SET_UID | ATTR_SET_GID | ATTR_STICKY}));

struct MaskCase {
    jint mask;
    bool extended;
    bool accessed;
    bool owner;
    bool group;
};

class InfoMaskTest : public FileSystemAttributesInfoTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(InfoMaskTest, MaskChoosesTheRecordAndItsValues)
{
    constexpr uid_t kOwner = 0x80000001u; // reported as a negative int
    constexpr gid_t kGroup = 4321;
    std::string path = dir_.WriteFile("f", "abc");
    ASSERT_EQ(0, lchown(path.c_str(), kOwner, kGroup));
    SetTimes(path, 1500000000, 1600000000, 500000000);

    const MaskCase &c = GetParam();
    Record record = Info(path, "f", c.mask);
    EXPECT_EQ(c.extended, record.extended);
    EXPECT_EQ(1600000000000LL, record.modified);
    EXPECT_EQ(c.accessed ? 1500000000000LL : 0, record.accessed);
    EXPECT_EQ(0, record.created);
    EXPECT_EQ(c.owner ? static_cast<jint>(kOwner) : 0, record.owner);
    EXPECT_EQ(c.group ? static_cast<jint>(kGroup) : 0, record.group);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, InfoMaskTest,
    ::testing::Values(MaskCase{0x00, false, false, false, false}, MaskCase{0x01, false, false, false, false},
                      MaskCase{0x02, false, false, false, false}, MaskCase{0x04, false, false, false, false},
                      MaskCase{0x80, false, false, false, false}, MaskCase{0x08, true, true, false, false},
                      MaskCase{0x10, true, false, false, false}, MaskCase{0x20, true, false, true, false},
                      MaskCase{0x40, true, false, false, true}, MaskCase{0x60, true, false, true, true},
                      MaskCase{-1, true, true, true, true}));

// tmpfs keeps 64-bit seconds, so it holds times beyond the range of Java
// milliseconds; ext4 would clamp them to the year 2446.
TEST_F(FileSystemAttributesInfoTest, FarTimesSaturateInRecordsAndListings)
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

TEST_F(FileSystemAttributesInfoTest, MissingPath)
{
    ThrownException thrown = Failure(JStr((dir_ / "missing").c_str()), JStr("missing"));
    EXPECT_EQ("java.io.IOException", thrown.className);
    EXPECT_EQ("Path does not exist [2]", thrown.message);
}

TEST_F(FileSystemAttributesInfoTest, PathThroughANonDirectory)
{
    std::string file = dir_.WriteFile("file", "");
    ThrownException thrown = Failure(JStr((file + "/x").c_str()), JStr("x"));
    EXPECT_EQ("Not a directory [20]", thrown.message);
}

TEST_F(FileSystemAttributesInfoTest, NullArgumentsInOrder)
{
    ThrownException thrown = Failure(nullptr, nullptr);
    EXPECT_EQ("java.lang.NullPointerException", thrown.className);
    EXPECT_EQ("path", thrown.message);
    thrown = Failure(JStr("/"), nullptr);
    EXPECT_EQ("java.lang.NullPointerException", thrown.className);
    EXPECT_EQ("name", thrown.message);
    thrown = Failure(nullptr, JStr("x"));
    EXPECT_EQ("path", thrown.message);
}

} // namespace
