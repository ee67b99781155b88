// Cases that need the kernel's permission checks; this process has dropped
// root before the tests run.
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <map>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace jvmtest;

class PermissionTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        ASSERT_NE(0u, geteuid()) << "permission cases must not run as root";
    }
    TempDir dir_;
};

TEST_F(PermissionTest, FileInfoThroughAnUnsearchableDirectory)
{
    std::string locked = dir_ / "locked";
    ASSERT_EQ(0, mkdir(locked.c_str(), 0700));
    dir_.WriteFile("locked/file", "x");
    ASSERT_EQ(0, chmod(locked.c_str(), 0));

    EXPECT_EQ(nullptr, natives::GetFileInfo(JStr((locked + "/file").c_str()), JStr("file"), 0));
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.io.IOException", thrown->className);
    EXPECT_EQ("No permissions [13]", thrown->message);
}

TEST_F(PermissionTest, ListingAnUnreadableDirectory)
{
    std::string locked = dir_ / "locked";
    ASSERT_EQ(0, mkdir(locked.c_str(), 0300));

    EXPECT_EQ(nullptr, natives::ListFileInfos(JStr((locked + "/").c_str()), 0, nullptr, 0));
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.io.IOException", thrown->className);
    EXPECT_EQ("No permissions [13]", thrown->message);
}

TEST_F(PermissionTest, ListingEntriesThatCannotBeExamined)
{
    // Readable but not searchable: the names can be read, lstat on them fails.
    std::string unsearchable = dir_ / "unsearchable";
    ASSERT_EQ(0, mkdir(unsearchable.c_str(), 0700));
    dir_.WriteFile("unsearchable/file", "contents");
    ASSERT_EQ(0, mkdir((unsearchable + "/sub").c_str(), 0700));
    ASSERT_EQ(0, symlink("file", (unsearchable + "/link").c_str()));
    ASSERT_EQ(0, chmod(unsearchable.c_str(), 0400));

    // Even with a mask asking for FileInfoEx, the fallback record is a plain one.
    jobjectArray array = natives::ListFileInfos(JStr((unsearchable + "/").c_str()), INFO_OWNER, nullptr, 0);
    ASSERT_FALSE(TakeException().has_value());
    ASSERT_NE(nullptr, array);
    std::map<std::string, Record> records;
    for (jsize i = 0; i < env()->GetArrayLength(array); ++i) {
        Record record = ReadRecord(env()->GetObjectArrayElement(array, i));
        records[record.name] = record;
    }
    ASSERT_EQ(3u, records.size());
    const std::pair<const char *, jint> expected[] = {{"file", 0}, {"sub", ATTR_DIRECTORY}, {"link", ATTR_SYMLINK}};
    for (const auto &[name, attributes] : expected) {
        const Record &record = records[name];
        EXPECT_FALSE(record.extended) << name;
        EXPECT_EQ(attributes, record.attributes) << name;
        EXPECT_EQ(0, record.size) << name;
        EXPECT_EQ(0, record.modified) << name;
    }
}

} // namespace
