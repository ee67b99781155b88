// The bridge core: the class cache, the error table, the throw helpers and
// the array copy helper, also where the JVM refuses it local references.
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <cerrno>

namespace {

using jvmtest::JvmTest;
using jvmtest::JStr;
using jvmtest::TakeException;

class BaseFileSystemWrapperTest : public JvmTest {};

TEST_F(BaseFileSystemWrapperTest, InitialisationCachedEveryHostClassAndMember)
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

TEST_F(BaseFileSystemWrapperTest, SecondInitialisationChangesNothing)
{
    jclass fileInfo = g_ClassFileInfo;
    jmethodID principal = g_MethodPrincipalConstruct;
    jvmtest::natives::InitStatic();
    EXPECT_FALSE(TakeException().has_value());
    EXPECT_EQ(INIT_READY, g_InitRes);
    EXPECT_EQ(fileInfo, g_ClassFileInfo);
    EXPECT_EQ(principal, g_MethodPrincipalConstruct);
}

struct ErrorCase {
    int error;
    const char *message;
};

class ErrorTableTest : public JvmTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorTableTest, ThrowsIOExceptionWithDescriptionAndNumber)
{
    throwExceptionFromError(env(), GetParam().error, "/ignored/path");
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.io.IOException", thrown->className);
    EXPECT_EQ(GetParam().message, thrown->message);
}

INSTANTIATE_TEST_SUITE_P(
    KnownAndUnknownNumbers, ErrorTableTest,
    ::testing::Values(
        ErrorCase{1, "The effective UID does not match the owner of the file, and the process is not privileged [1]"},
        ErrorCase{2, "Path does not exist [2]"}, ErrorCase{4, "A signal was caught during call of method [4]"},
        ErrorCase{5, "An I/O error occurred [5]"}, ErrorCase{9, "The file descriptor fd is not valid [9]"},
        ErrorCase{12, "No kernel memory [12]"}, ErrorCase{13, "No permissions [13]"},
        ErrorCase{14, "Path points outside your accessible address space [14]"},
        ErrorCase{17, "Path already exists [17]"}, ErrorCase{20, "Not a directory [20]"},
        ErrorCase{22, "Invalid argument [22]"},
        ErrorCase{23, "The maximum allowable number of files is currently open in the system [23]"},
        ErrorCase{24, "The maximum number of files was open already in the calling process [24]"},
        ErrorCase{28, "No space is left on the file system [28]"},
        ErrorCase{30, "The named file resides on a read-only file system [30]"},
        ErrorCase{36, "Too long path [36]"}, ErrorCase{40, "Too many symbolic links in path [40]"},
        ErrorCase{122, "No space for new user's quota [122]"}, ErrorCase{125, "Operation canceled [125]"},
        ErrorCase{0, "Unknown [0]"}, ErrorCase{3, "Unknown [3]"}, ErrorCase{126, "Unknown [126]"},
        ErrorCase{-1, "Unknown [-1]"}, ErrorCase{-2147483647 - 1, "Unknown [-2147483648]"},
        ErrorCase{2147483647, "Unknown [2147483647]"}));

TEST_F(BaseFileSystemWrapperTest, ThrowFromErrNoUsesTheCurrentErrorNumber)
{
    errno = ENOTDIR;
    throwExceptionFromErrNo(env(), nullptr);
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("Not a directory [20]", thrown->message);
}

struct HelperCase {
    void (*helper)(JNIEnv *, const char *);
    const char *className;
};

class ThrowHelperTest : public JvmTest, public ::testing::WithParamInterface<HelperCase> {};

TEST_P(ThrowHelperTest, ThrowsItsClassWithTheMessage)
{
    GetParam().helper(env(), "the message");
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ(GetParam().className, thrown->className);
    EXPECT_EQ("the message", thrown->message);
}

TEST_P(ThrowHelperTest, LeavesAnEarlierExceptionInPlace)
{
    JNU_ThrowByName(env(), "java/lang/ArithmeticException", "first");
    GetParam().helper(env(), "second");
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.ArithmeticException", thrown->className);
    EXPECT_EQ("first", thrown->message);
}


INSTANTIATE_TEST_SUITE_P(
    EveryHelper, ThrowHelperTest,
    ::testing::Values(HelperCase{JNU_ThrowNullPointerException, "java.lang.NullPointerException"},
                      HelperCase{JNU_ThrowIllegalArgumentException, "java.lang.IllegalArgumentException"},
                      HelperCase{JNU_ThrowIllegalStateException, "java.lang.IllegalStateException"},
                      HelperCase{JNU_ThrowOutOfMemoryError, "java.lang.OutOfMemoryError"},
                      HelperCase{JNU_ThrowIOException, "java.io.IOException"},
                      HelperCase{JNU_ThrowInterruptedIOException, "java.io.InterruptedIOException"},
                      HelperCase{JNU_ThrowUnsupportedOperationException,
                                 "java.lang.UnsupportedOperationException"}));

TEST_F(BaseFileSystemWrapperTest, ErrorTranslationLeavesAnEarlierExceptionInPlace)
{
    JNU_ThrowByName(env(), "java/lang/ArithmeticException", "first");
    throwExceptionFromError(env(), ENOENT, "/x");
    errno = EIO;
    throwExceptionFromErrNo(env(), "/x");
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.ArithmeticException", thrown->className);
}

TEST_F(BaseFileSystemWrapperTest, UnknownClassLeavesTheJvmsErrorPending)
{
    JNU_ThrowByName(env(), "com/quenvira/NoSuchException", "lost");
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.NoClassDefFoundError", thrown->className);
}

// The harness fails every test that makes -Xcheck:jni complain; this shows
// that it notices a complaint at all.
TEST_F(BaseFileSystemWrapperTest, HarnessSeesCheckJniWarnings)
{
    JNU_ThrowIllegalStateException(env(), "pending");
    jclass cls = env()->FindClass("java/lang/String"); // a JNI call with an exception pending
    env()->DeleteLocalRef(cls);
    TakeException();
    EXPECT_GE(AcknowledgeJniWarnings(), 1);
}

TEST_F(BaseFileSystemWrapperTest, CopyObjectArrayStopsAtTheFirstFailure)
{
    jclass objectClass = env()->FindClass("java/lang/Object");
    jclass stringClass = env()->FindClass("java/lang/String");
    ASSERT_NE(nullptr, objectClass);
    ASSERT_NE(nullptr, stringClass);
    // {"a", null, new Object()}
    jobjectArray src = env()->NewObjectArray(3, objectClass, nullptr);
    env()->SetObjectArrayElement(src, 0, JStr("a"));
    env()->SetObjectArrayElement(src, 2, env()->AllocObject(objectClass));
    ASSERT_FALSE(TakeException().has_value());

    struct Case {
        jclass dstClass;
        jsize dstLength;
        jint count;
        jint result;
        int copied;             // leading elements that arrive in dst
        const char *exception;  // or null
    } cases[] = {
        {objectClass, 3, 3, 1, 3, nullptr},
        {objectClass, 3, 0, 1, 0, nullptr},
        {objectClass, 3, -1, 1, 0, nullptr},
        {objectClass, 4, 4, 0, 3, "java.lang.ArrayIndexOutOfBoundsException"}, // src too short
        {objectClass, 2, 3, 0, 2, "java.lang.ArrayIndexOutOfBoundsException"}, // dst too short
        {stringClass, 3, 3, 0, 2, "java.lang.ArrayStoreException"},            // dst cannot hold Object
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "count " << c.count << ", dst length " << c.dstLength);
        jobjectArray dst = env()->NewObjectArray(c.dstLength, c.dstClass, nullptr);
        EXPECT_EQ(c.result, JNU_CopyObjectArray(env(), dst, src, c.count));
        auto thrown = TakeException();
        EXPECT_EQ(c.exception != nullptr, thrown.has_value());
        if (c.exception != nullptr && thrown.has_value()) {
            EXPECT_EQ(c.exception, thrown->className);
        }
        for (jsize i = 0; i < c.dstLength; ++i) {
            jobject expected = i < c.copied ? env()->GetObjectArrayElement(src, i) : nullptr;
            jobject actual = env()->GetObjectArrayElement(dst, i);
            EXPECT_TRUE(env()->IsSameObject(expected, actual)) << "element " << i;
            env()->DeleteLocalRef(actual);
            env()->DeleteLocalRef(expected);
        }
        env()->DeleteLocalRef(dst);
    }
}

TEST_F(BaseFileSystemWrapperTest, EnsureLocalCapacityFailingInCopyObjectArray)
{
    jclass stringClass = env()->FindClass("java/lang/String");
    jobjectArray src = env()->NewObjectArray(3, stringClass, JStr("element"));
    jobjectArray dst = env()->NewObjectArray(3, stringClass, nullptr);
    ASSERT_FALSE(TakeException().has_value());
    {
        jvmtest::faults::FailJniCall fault(jvmtest::faults::JniFunction::kEnsureLocalCapacity, 1);
        EXPECT_EQ(0, JNU_CopyObjectArray(env(), dst, src, 3));
        EXPECT_TRUE(fault.fired());
    }
    ExpectException("java.lang.OutOfMemoryError", "To allocate array for copy");
    for (jsize i = 0; i < 3; ++i) {
        EXPECT_EQ(nullptr, env()->GetObjectArrayElement(dst, i)) << "element " << i << " copied";
    }
}

} // namespace
