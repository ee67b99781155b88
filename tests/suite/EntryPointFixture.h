// The fixture of the fault cases, which call the entry points directly (see
// EntryPoints.h) so that the result each returns along with its exception is
// seen: a file to work on, the exception taken in one line, and the open
// descriptors counted against those held when the case started.
#pragma once

#include "CLibraryFaults.h"
#include "EntryPoints.h"
#include "JniFaults.h"
#include "JvmHarness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace jvmtest {

inline constexpr const char *kIOException = "java.io.IOException";
inline constexpr const char *kOutOfMemoryError = "java.lang.OutOfMemoryError";

inline bool Exists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

inline mode_t ModeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st.st_mode & 07777;
}

// Empty files name0 ... name<count-1> in directory.
inline void CreateFiles(const std::string &directory, int count, const std::string &name = "f")
{
    for (int i = 0; i < count; ++i) {
        const std::string path = directory + "/" + name + std::to_string(i);
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_LE(0, fd) << path;
        close(fd);
    }
}

// The records of a listing array, in its order.
inline std::vector<Record> RecordsOf(jobjectArray array, JNIEnv *env = Env())
{
    std::vector<Record> records;
    for (jsize i = 0; array != nullptr && i < env->GetArrayLength(array); ++i) {
        jobject info = env->GetObjectArrayElement(array, i);
        records.push_back(ReadRecord(info));
        env->DeleteLocalRef(info);
    }
    return records;
}

// The records nListFileInfos gives for `path`, expecting nothing thrown.
inline std::vector<Record> ListedRecords(const std::string &path, jint mask = 0, jobject monitor = nullptr,
                                         jint checkInterval = 0)
{
    jobjectArray array = natives::ListFileInfos(JStr(path.c_str()), mask, monitor, checkInterval);
    EXPECT_FALSE(TakeException().has_value()) << path;
    std::vector<Record> records = RecordsOf(array);
    Env()->DeleteLocalRef(array);
    return records;
}

class EntryPointFaultTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        file_ = dir_.WriteFile("file", "contents");
        ASSERT_EQ(0, chmod(file_.c_str(), 0644));
        // The JVM keeps the jar of the test classes open once it has loaded one.
        env()->DeleteLocalRef(NewScriptedMonitor());
        descriptors_ = OpenDescriptorCount();
    }

    void TearDown() override
    {
        g_userScript.Reset();
        g_groupScript.Reset();
        JvmTest::TearDown();
    }

    static jstring J(const std::string &text) { return JStr(text.c_str()); }

    // Takes the pending exception: its class, and its message unless null.
    static void ExpectThrown(const char *className, const char *message = nullptr)
    {
        auto thrown = TakeException();
        ASSERT_TRUE(thrown.has_value()) << "nothing thrown; expected " << className;
        EXPECT_EQ(className, thrown->className) << thrown->message;
        if (message != nullptr) {
            EXPECT_EQ(message, thrown->message);
        }
    }
    static void ExpectInjectedOutOfMemory() { ExpectThrown(kOutOfMemoryError, faults::kInjectedMessage); }

    void ExpectNoDescriptorLeft() { EXPECT_EQ(descriptors_, OpenDescriptorCount()) << "descriptors left open"; }

    // The records of a listing that succeeded.
    std::vector<Record> Records(jobjectArray array)
    {
        EXPECT_NE(nullptr, array);
        return RecordsOf(array);
    }

    TempDir dir_;
    std::string file_;
    int descriptors_ = 0;
};

} // namespace jvmtest
