// The monitor check of the prologue every entry point starts with: a monitor
// of the wrong class, and the null checks of the paths before it. The typed
// Java declarations keep such a call from compiling, so these tests call the
// exported entry points directly, as native code or reflection-free bytecode
// could. The library must refuse the object before it touches any file:
// calling the cached interface method on it is a fatal error under
// -Xcheck:jni and undefined behaviour without. (The path conversions are
// JniBridgePathsTest's.)
#include "JvmHarness.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

using namespace jvmtest;

constexpr size_t kInotifyReadSize = 4096;

// Opens and creations in one directory (the directory itself included), as
// the kernel reports them through inotify while the operation runs.
class OpenWatch {
public:
    explicit OpenWatch(const std::string &directory) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        EXPECT_LE(0, fd_);
        EXPECT_LE(0, inotify_add_watch(fd_, directory.c_str(), IN_OPEN | IN_CREATE));
    }
    ~OpenWatch() { close(fd_); }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;

    // Events reported since the previous call. Events are queued by the
    // system call that causes them, so none is still on its way.
    int Events()
    {
        alignas(inotify_event) char buffer[kInotifyReadSize];
        int count = 0;
        for (;;) {
            const ssize_t length = read(fd_, buffer, sizeof buffer);
            if (length <= 0) {
                return count;
            }
            for (ssize_t offset = 0; offset < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                ++count;
            }
        }
    }

private:
    int fd_;
};

// One way of making an object that is not the monitor an entry point needs.
struct WrongMonitor {
    const char *what;
    std::function<jobject(JNIEnv *)> make;
};

jobject CallStatic(JNIEnv *env, const char *className, const char *method, const char *signature)
{
    jclass cls = env->FindClass(className);
    jobject result = env->CallStaticObjectMethod(cls, env->GetStaticMethodID(cls, method, signature));
    EXPECT_FALSE(env->ExceptionCheck()) << className << "." << method;
    env->DeleteLocalRef(cls);
    return result;
}

const WrongMonitor kNotAMonitor[] = {
    {"a String", [](JNIEnv *env) { return static_cast<jobject>(env->NewStringUTF("not a monitor")); }},
    {"a plain Object",
     [](JNIEnv *env) {
         jclass cls = env->FindClass("java/lang/Object");
         jobject object = env->AllocObject(cls);
         env->DeleteLocalRef(cls);
         return object;
     }},
    {"an array", [](JNIEnv *env) { return static_cast<jobject>(env->NewIntArray(1)); }},
};

// The monitor of the other kind: an IProgressMonitor given to the copy and an
// ISyncProgressMonitor given to the listing and the comparison.
jobject CancelOnlyMonitor(JNIEnv *env)
{
    return CallStatic(env, "com/quenvira/test/Monitors", "neverCanceled",
                      "()Lorg/eclipse/core/runtime/IProgressMonitor;");
}
jobject ProgressOnlyMonitor(JNIEnv *env)
{
    return CallStatic(env, "com/quenvira/test/Monitors", "alwaysContinue",
                      "()Lcom/quenvira/interfaces/ISyncProgressMonitor;");
}

class JniBridgeTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        // Two identical files larger than one comparison block, and a
        // directory with entries, so that every operation would reach its
        // monitor.
        dir_.WriteFileOfSize("first", kSize);
        dir_.WriteFileOfSize("second", kSize);
    }

    void ExpectInvalidMonitor()
    {
        auto thrown = TakeException();
        ASSERT_TRUE(thrown.has_value());
        EXPECT_EQ("java.lang.IllegalArgumentException", thrown->className);
        EXPECT_EQ("Invalid progress monitor", thrown->message);
    }

    jobjectArray List(jobject monitor)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos(env(), nullptr, JStr(Dir().c_str()), 0,
                                                                           monitor, 1);
    }
    jlong Copy(jobject monitor)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(
            env(), nullptr, JStr(First().c_str()), JStr(Destination().c_str()), 0, monitor);
    }
    jboolean Compare(jobject monitor)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(
            env(), nullptr, JStr(First().c_str()), JStr((dir_ / "second").c_str()), monitor);
    }

    std::string Dir() const { return dir_.path() + "/"; }
    std::string First() const { return dir_ / "first"; }
    std::string Destination() const { return dir_ / "destination"; }

    static constexpr size_t kSize = 3 * 64 * 1024;
    TempDir dir_;
};

TEST_F(JniBridgeTest, ListingRefusesAnObjectThatIsNoCancelCheck)
{
    std::vector<WrongMonitor> wrong(std::begin(kNotAMonitor), std::end(kNotAMonitor));
    wrong.push_back({"an ISyncProgressMonitor", ProgressOnlyMonitor});
    for (const WrongMonitor &monitor : wrong) {
        SCOPED_TRACE(monitor.what);
        OpenWatch watch(dir_.path());
        EXPECT_EQ(nullptr, List(monitor.make(env())));
        ExpectInvalidMonitor();
        EXPECT_EQ(0, watch.Events()) << "the directory was opened";
    }
}

TEST_F(JniBridgeTest, CopyRefusesAnObjectThatIsNoProgressMonitor)
{
    std::vector<WrongMonitor> wrong(std::begin(kNotAMonitor), std::end(kNotAMonitor));
    wrong.push_back({"an IProgressMonitor", CancelOnlyMonitor});
    for (const WrongMonitor &monitor : wrong) {
        SCOPED_TRACE(monitor.what);
        OpenWatch watch(dir_.path());
        EXPECT_EQ(0, Copy(monitor.make(env())));
        ExpectInvalidMonitor();
        EXPECT_EQ(0, watch.Events()) << "the source was opened or the destination created";
        EXPECT_NE(0, access(Destination().c_str(), F_OK));
    }
}

TEST_F(JniBridgeTest, ComparisonRefusesAnObjectThatIsNoCancelCheck)
{
    std::vector<WrongMonitor> wrong(std::begin(kNotAMonitor), std::end(kNotAMonitor));
    wrong.push_back({"an ISyncProgressMonitor", ProgressOnlyMonitor});
    for (const WrongMonitor &monitor : wrong) {
        SCOPED_TRACE(monitor.what);
        OpenWatch watch(dir_.path());
        EXPECT_FALSE(Compare(monitor.make(env())));
        ExpectInvalidMonitor();
        EXPECT_EQ(0, watch.Events()) << "a file was opened";
    }
}

// The same calls with a monitor of the right kind open their files (so the
// watch above can see it) and ask the monitor.
TEST_F(JniBridgeTest, MonitorsOfTheRightKindAreUsed)
{
    OpenWatch watch(dir_.path());
    jobject cancelCheck = CancelOnlyMonitor(env());
    jobjectArray listed = List(cancelCheck);
    ExpectNoException();
    ASSERT_NE(nullptr, listed);
    EXPECT_EQ(2, env()->GetArrayLength(listed));
    EXPECT_LT(0, watch.Events());

    EXPECT_EQ(static_cast<jlong>(kSize), Copy(ProgressOnlyMonitor(env())));
    ExpectNoException();
    EXPECT_LT(0, watch.Events());

    EXPECT_TRUE(Compare(cancelCheck));
    ExpectNoException();
    EXPECT_LT(0, watch.Events());

    // A monitor implementing both interfaces suits all three.
    jobject both = NewScriptedMonitor();
    EXPECT_NE(nullptr, List(both));
    ExpectNoException();
    EXPECT_EQ(static_cast<jlong>(kSize), Copy(both));
    ExpectNoException();
    EXPECT_TRUE(Compare(both));
    ExpectNoException();
    EXPECT_LT(0, MonitorCalls(both));
}

// The null tests of the paths come first, as for every other argument.
TEST_F(JniBridgeTest, NullPathsAreReportedBeforeTheMonitor)
{
    jobject wrong = env()->NewStringUTF("not a monitor");
    struct Case {
        const char *message;
        std::function<void()> call;
    } cases[] = {
        {"path", [&] { EXPECT_EQ(nullptr, Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos(
                                              env(), nullptr, nullptr, 0, wrong, 1)); }},
        {"src path", [&] { EXPECT_EQ(0, Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(
                                            env(), nullptr, nullptr, JStr("x"), 0, wrong)); }},
        {"dst path", [&] { EXPECT_EQ(0, Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(
                                            env(), nullptr, JStr("x"), nullptr, 0, wrong)); }},
        {"file1", [&] { EXPECT_FALSE(Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(
                                         env(), nullptr, nullptr, JStr("x"), wrong)); }},
        {"file2", [&] { EXPECT_FALSE(Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(
                                         env(), nullptr, JStr("x"), nullptr, wrong)); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        c.call();
        auto thrown = TakeException();
        ASSERT_TRUE(thrown.has_value());
        EXPECT_EQ("java.lang.NullPointerException", thrown->className);
        EXPECT_EQ(c.message, thrown->message);
    }
}

} // namespace
