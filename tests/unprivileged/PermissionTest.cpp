// Cases that need the kernel's permission checks; this process has dropped
// root before the tests run.
#include "JvmHarness.h"

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

} // namespace
