// The class cache: every host class and member resolved once, a second
// initialisation changing nothing.
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <cerrno>

namespace {

using jvmtest::JvmTest;
using jvmtest::JStr;
using jvmtest::TakeException;

class ClassCacheTest : public JvmTest {};

TEST_F(ClassCacheTest, InitialisationCachedEveryHostClassAndMember)
{
    EXPECT_EQ(INIT_READY, g_InitRes);
    const void *cached[] = {g_ClassFileInfo,    g_MethodFileInfoConstruct,  g_ClassFileInfoEx,
                            g_MethodFileInfoExConstruct, g_ClassMonitorOrg, g_MethodMonitorCancel,
                            g_ClassMonitorSync, g_MethodMonitorProgressSync, g_ClassUrlEx,
                            g_MethodUrlExConstruct, g_ClassPrincipal, g_MethodPrincipalConstruct};
    for (const void *value : cached) {
        EXPECT_NE(nullptr, value);
    }
    EXPECT_EQ(JNIGlobalRefType, env()->GetObjectRefType(g_ClassFileInfo));
    EXPECT_EQ(JNIGlobalRefType, env()->GetObjectRefType(g_ClassPrincipal));
}

TEST_F(ClassCacheTest, SecondInitialisationChangesNothing)
{
    jclass fileInfo = g_ClassFileInfo;
    jmethodID principal = g_MethodPrincipalConstruct;
    jvmtest::natives::InitStatic();
    EXPECT_FALSE(TakeException().has_value());
    EXPECT_EQ(INIT_READY, g_InitRes);
    EXPECT_EQ(fileInfo, g_ClassFileInfo);
    EXPECT_EQ(principal, g_MethodPrincipalConstruct);
}

} // namespace
