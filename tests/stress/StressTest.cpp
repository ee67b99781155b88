// Load: eight Java threads, started by com.quenvira.test.StressRunner, each
// running rounds of mixed calls of every native method at once on a private
// tree and on files shared by all, every result checked on the Java side.
// Here: no failure, every call made, no -Xcheck:jni warning, and no
// descriptor left open.
#include "FileSystemCompare.h"
#include "JvmHarness.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <string>

namespace {

using namespace jvmtest;

constexpr jint kThreads = 8;
constexpr jint kRounds = 300;
constexpr size_t kBlock = basefs::kCompareBlockSize;
constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kNameBufferSize = 4096;

// Shared files: empty, shorter than a comparison block, exactly one block,
// several blocks, and more than one copy step.
const struct {
    const char *name;
    size_t size;
} kSharedFiles[] = {
    {"empty", 0}, {"small", 100}, {"block", kBlock}, {"medium", 3 * kBlock + 17}, {"large", kMiB + kMiB / 2},
};

std::string UserName(uid_t uid)
{
    struct passwd entry;
    struct passwd *found = nullptr;
    char buffer[kNameBufferSize];
    return getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr ? found->pw_name : "";
}

std::string GroupName(gid_t gid)
{
    struct group entry;
    struct group *found = nullptr;
    char buffer[kNameBufferSize];
    return getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr ? found->gr_name : "";
}

class StressTest : public JvmTest {
protected:
    jobject CallObject(jobject object, const char *method, const char *signature)
    {
        jclass cls = env()->GetObjectClass(object);
        jobject result = env()->CallObjectMethod(object, env()->GetMethodID(cls, method, signature));
        EXPECT_FALSE(env()->ExceptionCheck()) << method;
        env()->DeleteLocalRef(cls);
        return result;
    }

    jlong CallLong(jobject object, const char *method)
    {
        jclass cls = env()->GetObjectClass(object);
        jlong result = env()->CallLongMethod(object, env()->GetMethodID(cls, method, "()J"));
        EXPECT_FALSE(env()->ExceptionCheck()) << method;
        env()->DeleteLocalRef(cls);
        return result;
    }

    TempDir root_;
};

TEST_F(StressTest, EightThreadsOfMixedCallsWithEveryResultChecked)
{
    ASSERT_EQ(0, mkdir((root_ / "shared").c_str(), 0755));
    for (const auto &file : kSharedFiles) {
        root_.WriteFileOfSize(std::string("shared/") + file.name, file.size);
        if (file.size > 0) {
            // Same size, last byte different.
            std::string other = ReadFileContents(root_ / (std::string("shared/") + file.name));
            other.back() = static_cast<char>(other.back() ^ 0x55);
            root_.WriteFile(std::string("shared/") + file.name + ".diff", other);
        }
    }
    const std::string userName = UserName(0);
    const std::string groupName = GroupName(0);
    ASSERT_FALSE(userName.empty());
    ASSERT_FALSE(groupName.empty());

    jclass runnerClass = env()->FindClass("com/quenvira/test/StressRunner");
    ASSERT_NE(nullptr, runnerClass);
    jmethodID run = env()->GetStaticMethodID(
        runnerClass, "run",
        "(Ljava/lang/String;IILjava/lang/String;Ljava/lang/String;)Lcom/quenvira/test/StressRunner;");
    ASSERT_NE(nullptr, run);
    const jint callsPerRound =
        env()->GetStaticIntField(runnerClass, env()->GetStaticFieldID(runnerClass, "CALLS_PER_ROUND", "I"));

    // One short run first: it loads every class involved and lets the JDK
    // open the descriptors it keeps for good (NIO's socket pair).
    jobject warmUp = env()->CallStaticObjectMethod(runnerClass, run, JStr(root_.path().c_str()), 1, 1,
                                                   JStr(userName.c_str()), JStr(groupName.c_str()));
    auto thrown = TakeException();
    ASSERT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
    ASSERT_EQ(0, CallLong(warmUp, "failures"))
        << StdStr(static_cast<jstring>(CallObject(warmUp, "report", "()Ljava/lang/String;")));

    const int descriptors = OpenDescriptorCount();
    const int warnings = JniWarningCount();
    jobject result = env()->CallStaticObjectMethod(runnerClass, run, JStr(root_.path().c_str()), kThreads, kRounds,
                                                   JStr(userName.c_str()), JStr(groupName.c_str()));
    thrown = TakeException();
    ASSERT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
    ASSERT_NE(nullptr, result);

    EXPECT_EQ(0, CallLong(result, "failures"))
        << StdStr(static_cast<jstring>(CallObject(result, "report", "()Ljava/lang/String;")));
    EXPECT_EQ(static_cast<jlong>(kThreads) * kRounds * callsPerRound, CallLong(result, "calls"));
    EXPECT_LE(10000, CallLong(result, "calls"));
    EXPECT_EQ(warnings, JniWarningCount()) << JniWarningText();
    EXPECT_LE(SettledDescriptorCount(descriptors), descriptors);
}

} // namespace
