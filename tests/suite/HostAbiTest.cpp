// The helpers exported for host code alone: the array copy, also where the
// JVM refuses it local references.
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <cerrno>

namespace {

using jvmtest::JvmTest;
using jvmtest::JStr;
using jvmtest::TakeException;

class HostAbiTest : public JvmTest {};

TEST_F(HostAbiTest, CopyObjectArrayStopsAtTheFirstFailure)
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

TEST_F(HostAbiTest, EnsureLocalCapacityFailingInCopyObjectArray)
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
