// A host class missing from the class path: initialisation fails once, for good.
#include "InitCalls.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

namespace {

using namespace jvmtest;

constexpr int kThreads = 16;

class FailedInitTest : public JvmTest {};

TEST_F(FailedInitTest, MissingLastClassFailsForGood)
{
    ASSERT_EQ(INIT_NOT_RUN, g_InitRes);
    // Many first calls at once: only the thread that ran the initialisation
    // carries its failure; the others return with the final state.
    std::optional<ThrownException> thrown;
    int threadsThatThrew = 0;
    for (const InitCallOutcome &outcome : CallInitStaticFromThreads(kThreads)) {
        ASSERT_TRUE(outcome.attached);
        EXPECT_EQ(INIT_FAILED, outcome.stateAfterReturn);
        if (outcome.thrown.has_value()) {
            ++threadsThatThrew;
            thrown = outcome.thrown;
        }
    }
    EXPECT_EQ(1, threadsThatThrew);
    ASSERT_TRUE(thrown.has_value());
    // The JVM's own error reaches the caller, not the library's IllegalStateException.
    EXPECT_EQ("java.lang.NoClassDefFoundError", thrown->className);
    EXPECT_EQ("com/quenvira/io/Principal", thrown->message);
    EXPECT_EQ(INIT_FAILED, g_InitRes);

    // What was resolved before the failure stays stored.
    EXPECT_NE(nullptr, g_ClassFileInfo);
    EXPECT_NE(nullptr, g_MethodFileInfoExConstruct);
    EXPECT_NE(nullptr, g_MethodMonitorCancel);
    EXPECT_NE(nullptr, g_MethodMonitorProgressSync);
    EXPECT_NE(nullptr, g_ClassUrlEx);
    EXPECT_EQ(nullptr, g_ClassPrincipal);
    EXPECT_EQ(nullptr, g_MethodPrincipalConstruct);

    EXPECT_EQ(nullptr, natives::GetFileInfo(JStr("/"), JStr(""), 0));
    thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.IllegalStateException", thrown->className);
    EXPECT_EQ("Not initialized", thrown->message);

    // Never retried: a second call throws nothing and changes nothing.
    natives::InitStatic();
    EXPECT_FALSE(TakeException().has_value());
    EXPECT_EQ(INIT_FAILED, g_InitRes);
    EXPECT_EQ(nullptr, natives::GetFileInfo(JStr("/"), JStr(""), 0));
    thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("Not initialized", thrown->message);
}

} // namespace
