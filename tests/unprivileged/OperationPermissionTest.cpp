// Copy and compare where the kernel refuses access; this process has dropped
// root before the tests run.
#include "JvmHarness.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace jvmtest;

class OperationPermissionTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        ASSERT_NE(0u, geteuid()) << "permission cases must not run as root";
    }

    void ExpectNoPermission()
    {
        auto thrown = TakeException();
        ASSERT_TRUE(thrown.has_value());
        EXPECT_EQ("java.io.IOException", thrown->className);
        EXPECT_EQ("No permissions [13]", thrown->message);
    }

    jlong Copy(const std::string &src, const std::string &dst)
    {
        return natives::CopyFileCallback(JStr(src.c_str()), JStr(dst.c_str()), 0, nullptr);
    }

    TempDir dir_;
};

TEST_F(OperationPermissionTest, CopyToAnUnwritableDestination)
{
    std::string source = dir_.WriteFile("source", "data");
    std::string readOnlyFile = dir_.WriteFile("read-only", "keep");
    ASSERT_EQ(0, chmod(readOnlyFile.c_str(), 0444));
    std::string lockedDirectory = dir_ / "locked";
    ASSERT_EQ(0, mkdir(lockedDirectory.c_str(), 0555));

    EXPECT_EQ(0, Copy(source, readOnlyFile));
    ExpectNoPermission();
    EXPECT_EQ("keep", ReadFileContents(readOnlyFile));

    EXPECT_EQ(0, Copy(source, lockedDirectory + "/new"));
    ExpectNoPermission();
    EXPECT_NE(0, access((lockedDirectory + "/new").c_str(), F_OK));
}

TEST_F(OperationPermissionTest, UnreadableSourceCreatesNothing)
{
    std::string source = dir_.WriteFile("source", "secret");
    ASSERT_EQ(0, chmod(source.c_str(), 0));
    std::string destination = dir_ / "destination";

    EXPECT_EQ(0, Copy(source, destination));
    ExpectNoPermission();
    EXPECT_NE(0, access(destination.c_str(), F_OK));
}

TEST_F(OperationPermissionTest, CompareAnUnreadableFile)
{
    std::string readable = dir_.WriteFile("readable", "same");
    std::string unreadable = dir_.WriteFile("unreadable", "same");
    ASSERT_EQ(0, chmod(unreadable.c_str(), 0));

    for (bool unreadableFirst : {true, false}) {
        SCOPED_TRACE(unreadableFirst ? "file1" : "file2");
        const std::string &file1 = unreadableFirst ? unreadable : readable;
        const std::string &file2 = unreadableFirst ? readable : unreadable;
        EXPECT_FALSE(natives::CompareByteByByte(JStr(file1.c_str()), JStr(file2.c_str()), nullptr));
        ExpectNoPermission();
    }
}

} // namespace
