// Before nInitStatic every entry point only throws "Not initialized", without
// looking at its arguments (they are all null or zero here).
#include "JvmHarness.h"

#include "FileSystemCommon.h"

namespace {

using namespace jvmtest;

class UninitializedTest : public JvmTest {
protected:
    void ExpectNotInitialized()
    {
        auto thrown = TakeException();
        ASSERT_TRUE(thrown.has_value());
        EXPECT_EQ("java.lang.IllegalStateException", thrown->className);
        EXPECT_EQ("Not initialized", thrown->message);
        EXPECT_EQ(INIT_NOT_RUN, g_InitRes);
    }
};

TEST_F(UninitializedTest, GetFileInfo)
{
    EXPECT_EQ(nullptr, natives::GetFileInfo(nullptr, nullptr, 0));
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, SetFileInfo)
{
    natives::SetFileInfo(nullptr, 0, 0, 0, 0, 0);
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, ReadSymbolicLink)
{
    EXPECT_EQ(nullptr, natives::ReadSymbolicLink(nullptr));
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, CreateSymbolicLink)
{
    natives::CreateSymbolicLink(nullptr, nullptr);
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, GetUser)
{
    EXPECT_EQ(nullptr, natives::GetUser(nullptr, 0));
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, GetGroup)
{
    EXPECT_EQ(nullptr, natives::GetGroup(nullptr, 0));
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, CopyFileCallback)
{
    EXPECT_EQ(0, natives::CopyFileCallback(nullptr, nullptr, 0, nullptr));
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, CompareByteByByte)
{
    EXPECT_FALSE(natives::CompareByteByByte(nullptr, nullptr, nullptr));
    ExpectNotInitialized();
}

TEST_F(UninitializedTest, ListFileInfos)
{
    EXPECT_EQ(nullptr, natives::ListFileInfos(nullptr, 0, nullptr, 0));
    ExpectNotInitialized();
}

} // namespace
