// The exceptions: the error table, the throw helpers, each leaving an earlier
// exception in place, and the error number of each handed to LastError.
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <cerrno>
#include <functional>
#include <string>

namespace {

using jvmtest::JvmTest;
using jvmtest::JStr;
using jvmtest::TakeException;

class JavaExceptionsTest : public JvmTest {};

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

TEST_F(JavaExceptionsTest, ThrowFromErrNoUsesTheCurrentErrorNumber)
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

TEST_F(JavaExceptionsTest, ErrorTranslationLeavesAnEarlierExceptionInPlace)
{
    JNU_ThrowByName(env(), "java/lang/ArithmeticException", "first");
    throwExceptionFromError(env(), ENOENT, "/x");
    errno = EIO;
    throwExceptionFromErrNo(env(), "/x");
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.ArithmeticException", thrown->className);
}

TEST_F(JavaExceptionsTest, UnknownClassLeavesTheJvmsErrorPending)
{
    JNU_ThrowByName(env(), "com/quenvira/NoSuchException", "lost");
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.lang.NoClassDefFoundError", thrown->className);
}

// The harness fails every test that makes -Xcheck:jni complain; this shows
// that it notices a complaint at all.
TEST_F(JavaExceptionsTest, HarnessSeesCheckJniWarnings)
{
    JNU_ThrowIllegalStateException(env(), "pending");
    jclass cls = env()->FindClass("java/lang/String"); // a JNI call with an exception pending
    env()->DeleteLocalRef(cls);
    TakeException();
    EXPECT_GE(AcknowledgeJniWarnings(), 1);
}

// Each exception the library throws comes with its error number as data, for
// the exception itself and as long as it is the thread's last; its message is
// the one hosts have always seen.
TEST_F(JavaExceptionsTest, LastErrorGivesTheNumberOfTheLibrarysLastException)
{
    jclass lastError = env()->FindClass("com/quenvira/internal/io/LastError");
    ASSERT_NE(nullptr, lastError);
    const jmethodID numberOf = env()->GetStaticMethodID(lastError, "numberOf", "(Ljava/io/IOException;)I");
    const jmethodID text = env()->GetStaticMethodID(lastError, "text", "(I)Ljava/lang/String;");
    const jmethodID getMessage =
        env()->GetMethodID(env()->FindClass("java/lang/Throwable"), "getMessage", "()Ljava/lang/String;");
    ASSERT_TRUE(numberOf != nullptr && text != nullptr && getMessage != nullptr);
    // Each upcall checked at once, as -Xcheck:jni requires.
    const auto number = [&](jthrowable thrown) {
        const jint value = env()->CallStaticIntMethod(lastError, numberOf, thrown);
        EXPECT_FALSE(env()->ExceptionCheck());
        return value;
    };
    const auto string = [&](jobject value) {
        EXPECT_FALSE(env()->ExceptionCheck());
        return jvmtest::StdStr(static_cast<jstring>(value));
    };
    struct Case {
        const char *name;
        std::function<void()> fail;
        int number;
        const char *message;
    } cases[] = {
        {"a missing file", [] { jvmtest::natives::GetFileInfo(JStr("/nonexistent/x"), JStr("x"), 0); }, ENOENT,
         "Path does not exist [2]"},
        {"no link", [] { jvmtest::natives::ReadSymbolicLink(JStr("/")); }, EINVAL,
         "The file is not a symbolic link"},
        {"a number without a description", [this] { throwExceptionFromError(env(), 150, nullptr); }, 150,
         "Unknown [150]"},
        {"a message without a number", [this] { JNU_ThrowIOException(env(), "plain"); }, 0, "plain"},
    };
    jthrowable previous = nullptr;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.fail();
        jthrowable thrown = env()->ExceptionOccurred();
        ASSERT_NE(nullptr, thrown);
        env()->ExceptionClear();
        EXPECT_EQ(c.message, string(env()->CallObjectMethod(thrown, getMessage)));
        EXPECT_EQ(c.number, number(thrown));
        if (previous != nullptr) {
            EXPECT_EQ(0, number(previous)) << "no longer the last";
        }
        previous = thrown;
    }
    EXPECT_EQ("No such file or directory", string(env()->CallStaticObjectMethod(lastError, text, ENOENT)));
}

} // namespace
