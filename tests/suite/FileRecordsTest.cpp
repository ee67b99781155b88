// Records from a status or a directory entry: the fields (the permission map
// in both directions, what the info mask asks for) and the reduced record of
// an entry that cannot be examined. The batches and the choice of record maker
// are RecordBatchTest's.
#include "JvmHarness.h"
#include "RecordChecks.h"

#include "FileRecords.h"
#include "FileSystemCommon.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

namespace {

using namespace jvmtest;

class FileRecordsTest : public JvmTest {};

// ---- The fields ---------------------------------------------------------------------

TEST_F(FileRecordsTest, FallbackFieldsTypeTheEntryFromItsDirectoryEntryAlone)
{
    const struct {
        unsigned char type;
        jint attributes;
    } cases[] = {
        {DT_DIR, ATTR_DIRECTORY}, {DT_LNK, ATTR_SYMLINK}, {DT_REG, 0}, {DT_FIFO, 0}, {DT_UNKNOWN, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        const basefs::RecordFields fields = basefs::fallbackFields(c.type);
        EXPECT_EQ(c.attributes, fields.attributes);
        EXPECT_EQ(0, fields.size);
        EXPECT_EQ(0, fields.modified);
        EXPECT_EQ(0, fields.accessed);
        EXPECT_EQ(0, fields.owner);
        EXPECT_EQ(0, fields.group);
    }
}

// ---- The fields of real files ---------------------------------------------------

constexpr jint kAllPermissions = ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE | ATTR_GROUP_READ |
                                 ATTR_GROUP_WRITE | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_WRITE |
                                 ATTR_OTHERS_EXECUTE;
constexpr jint kOwnerReadWrite = ATTR_OWNER_READ | ATTR_OWNER_WRITE;
constexpr jint kAllPermissionBits = 0x0FFF0000;

class RecordFieldsTest : public FileRecordsTest {
protected:
    static mode_t ModeOf(const std::string &path)
    {
        struct stat st {};
        EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
        return st.st_mode & 07777;
    }

    TempDir dir_;
};

struct ModeCase {
    mode_t mode;
    jint attributes;
};

class PermissionMapTest : public RecordFieldsTest, public ::testing::WithParamInterface<ModeCase> {};

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

class InfoMaskTest : public RecordFieldsTest, public ::testing::WithParamInterface<MaskCase> {};

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

struct PermissionCase {
    jint attributes;
    mode_t mode;
};

class PermissionWordTest : public RecordFieldsTest, public ::testing::WithParamInterface<PermissionCase> {};

TEST_P(PermissionWordTest, MapsToTheModeAndBack)
{
    std::string path = dir_.WriteFile("f", "x");
    // Start from the opposite bits, so every bit must be both set and cleared.
    ASSERT_EQ(0, chmod(path.c_str(), ~GetParam().mode & 07777));

    natives::SetFileInfo(JStr(path.c_str()), INFO_ATTRIBUTES, 0, 0, 0, GetParam().attributes);
    ExpectNoException();
    EXPECT_EQ(GetParam().mode, ModeOf(path));

    jobject info = natives::GetFileInfo(JStr(path.c_str()), JStr("f"), 0);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(GetParam().attributes & kAllPermissionBits, ReadRecord(info).attributes);
}

INSTANTIATE_TEST_SUITE_P(
    Words, PermissionWordTest,
    ::testing::Values(
        PermissionCase{kOwnerReadWrite | ATTR_GROUP_READ | ATTR_OTHERS_READ, 0644}, PermissionCase{0, 0},
        PermissionCase{ATTR_SET_UID | ATTR_OWNER_READ | ATTR_OWNER_EXECUTE, 04500},
        PermissionCase{ATTR_SET_GID | ATTR_GROUP_READ | ATTR_GROUP_EXECUTE, 02050},
        PermissionCase{ATTR_STICKY | ATTR_OTHERS_WRITE | ATTR_OTHERS_EXECUTE, 01003},
        PermissionCase{kAllPermissionBits, 07777},
        // Type, hidden and unassigned bits set no mode bit.
        PermissionCase{static_cast<jint>(0xF000FFFF) | ATTR_OWNER_READ, 0400}));

// Every bit of the mask set: a listing's records are all extended and carry
// every value (as a single file's do: InfoMaskTest).
TEST_F(RecordFieldsTest, InfoMaskWithEveryBitSetInAListing)
{
    const std::string file = dir_.WriteFile("file", "contents");
    dir_.WriteFile("other", "");
    ASSERT_EQ(0, mkdir((dir_ / "subdir").c_str(), 0755));
    struct stat st {};
    ASSERT_EQ(0, lstat(file.c_str(), &st));
    jobjectArray listed = natives::ListFileInfos(JStr((dir_.path() + "/").c_str()), -1, nullptr, 0);
    ExpectNoException();
    ASSERT_NE(nullptr, listed);
    int seen = 0;
    for (jsize i = 0; i < env()->GetArrayLength(listed); ++i) {
        Record record = ReadRecord(env()->GetObjectArrayElement(listed, i));
        EXPECT_TRUE(record.extended) << record.name;
        if (record.name != "file") {
            continue;
        }
        ++seen;
        EXPECT_EQ(st.st_mtim.tv_sec * 1000, record.modified);
        EXPECT_EQ(st.st_atim.tv_sec * 1000, record.accessed);
        EXPECT_EQ(0, record.created);
        EXPECT_EQ(static_cast<jint>(st.st_uid), record.owner);
        EXPECT_EQ(static_cast<jint>(st.st_gid), record.group);
        EXPECT_EQ(8, record.size);
    }
    EXPECT_EQ(1, seen);
}

} // namespace
