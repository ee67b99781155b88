// One file's metadata: the attribute word, the record class chosen by the
// info mask, the values each record carries, and the failures.
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace jvmtest;

constexpr jint kAllPermissions = ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE | ATTR_GROUP_READ |
                                 ATTR_GROUP_WRITE | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_WRITE |
                                 ATTR_OTHERS_EXECUTE;

class FileInfoTest : public JvmTest {
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

TEST_F(FileInfoTest, RegularFile)
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

TEST_F(FileInfoTest, RecordNameIsTheCallersOwnString)
{
    std::string path = dir_.WriteFile("f", "");
    jstring name = JStr("any name");
    jobject info = natives::GetFileInfo(JStr(path.c_str()), name, 0x78);
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(env()->IsSameObject(name, RecordName(info)));
}

TEST_F(FileInfoTest, HiddenDirectoryHasNoSize)
{
    std::string path = dir_ / ".config";
    ASSERT_EQ(0, mkdir(path.c_str(), 0755));
    Record record = Info(path, ".config", 0);
    EXPECT_EQ(ATTR_DIRECTORY | ATTR_HIDDEN | ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE |
                  ATTR_GROUP_READ | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_EXECUTE,
              record.attributes);
    EXPECT_EQ(0, record.size);
}

TEST_F(FileInfoTest, SymbolicLinkToDirectoryIsTheLinkItself)
{
    std::string target = dir_ / "target-directory";
    ASSERT_EQ(0, mkdir(target.c_str(), 0700));
    std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));

    Record record = Info(link, "link", 0);
    EXPECT_EQ(ATTR_SYMLINK | kAllPermissions, record.attributes);
    EXPECT_EQ(static_cast<jlong>(target.size()), record.size);
}

TEST_F(FileInfoTest, HiddenBitComesFromTheNameNotThePath)
{
    std::string path = dir_.WriteFile(".x", "");
    EXPECT_EQ(0, Info(path, "x", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(0, Info(path, "", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(ATTR_HIDDEN, Info(path, ".x", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(ATTR_HIDDEN, Info(dir_ / ".", "..", 0).attributes & ATTR_HIDDEN);
}

TEST_F(FileInfoTest, OtherFileTypesCarryNoTypeBit)
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

class PermissionMapTest : public FileInfoTest, public ::testing::WithParamInterface<ModeCase> {};

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

class InfoMaskTest : public FileInfoTest, public ::testing::WithParamInterface<MaskCase> {};

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

TEST_F(FileInfoTest, MissingPath)
{
    ThrownException thrown = Failure(JStr((dir_ / "missing").c_str()), JStr("missing"));
    EXPECT_EQ("java.io.IOException", thrown.className);
    EXPECT_EQ("Path does not exist [2]", thrown.message);
}

TEST_F(FileInfoTest, PathThroughANonDirectory)
{
    std::string file = dir_.WriteFile("file", "");
    ThrownException thrown = Failure(JStr((file + "/x").c_str()), JStr("x"));
    EXPECT_EQ("Not a directory [20]", thrown.message);
}

TEST_F(FileInfoTest, NullArgumentsInOrder)
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
