// Test harness: one JVM per test executable, created through the invocation
// API with -Xcheck:jni before any test runs, and small helpers to call the
// library's Java-declared native methods and to read back results and
// exceptions in one line each.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <optional>
#include <string>
#include <vector>

namespace jvmtest {

struct JvmConfig {
    std::string classPath;        // jars and directories, ':'-separated
    bool initialize = true;       // call nInitStatic before the tests
    bool dropPrivileges = false;  // run the tests as an unprivileged user
};

// Creates the JVM, prepares the library as configured and runs every test.
int RunTests(int argc, char **argv, const JvmConfig &config);

// The environment of the thread that runs the tests.
JNIEnv *Env();
JavaVM *Vm();

// Number of -Xcheck:jni warnings the JVM has printed so far, and their text.
int JniWarningCount();
std::string JniWarningText();

struct ThrownException {
    std::string className;  // binary name with dots, e.g. "java.io.IOException"
    std::string message;    // empty when the message is null
};

// Takes (and clears) the pending exception of env, if any.
std::optional<ThrownException> TakeException(JNIEnv *env = Env());

// Java strings from UTF-16 (exact) or from plain ASCII/BMP modified UTF-8.
jstring JStr(const char *modifiedUtf8, JNIEnv *env = Env());
jstring JStr16(const std::u16string &utf16, JNIEnv *env = Env());
std::string StdStr(jstring string, JNIEnv *env = Env());
std::u16string StdStr16(jstring string, JNIEnv *env = Env());

// A file record read back through the host class's accessors.
struct Record {
    std::string name;
    jint attributes = 0;
    jlong size = 0;
    jlong modified = 0;
    bool extended = false;  // a FileInfoEx
    jlong accessed = 0;
    jlong created = 0;
    jint owner = 0;
    jint group = 0;
};
Record ReadRecord(jobject info, JNIEnv *env = Env());
jstring RecordName(jobject info, JNIEnv *env = Env());

// The native methods of com.quenvira.internal.io.BaseFileSystem, called
// through their Java declarations so that the binding is exercised too.
namespace natives {
void InitStatic(JNIEnv *env = Env());
jobject GetFileInfo(jstring path, jstring name, jint infoMask, JNIEnv *env = Env());
jobjectArray ListFileInfos(jstring path, jint infoMask, jobject monitor, jint checkInterval,
                           JNIEnv *env = Env());
void SetFileInfo(jstring path, jint infoMask, jlong modified, jlong accessed, jlong created,
                 jint attributes, JNIEnv *env = Env());
jstring ReadSymbolicLink(jstring path, JNIEnv *env = Env());
void CreateSymbolicLink(jstring linkPath, jstring targetPath, JNIEnv *env = Env());
jlong CopyFileCallback(jstring src, jstring dst, jint flags, jobject monitor, JNIEnv *env = Env());
jboolean CompareByteByByte(jstring file1, jstring file2, jobject monitor, JNIEnv *env = Env());
jobject GetUser(jobject owner, jint uid, JNIEnv *env = Env());
jobject GetGroup(jobject owner, jint gid, JNIEnv *env = Env());
} // namespace natives

// Whether this executable's listings make their records in compiled Java:
// the library's record-making class is on its class path (FileRecordsBatchTest
// checks that the library chose accordingly).
bool RecordsMadeInJava(JNIEnv *env = Env());

// A scripted monitor (com.quenvira.test.ScriptedMonitor) for listing, copy and
// compare: it answers "stop" from call number stopAtCall on and throws
// IllegalStateException("monitor failed") at call number throwAtCall (1-based; 0 never).
jobject NewScriptedMonitor(int stopAtCall = 0, int throwAtCall = 0, JNIEnv *env = Env());
int MonitorCalls(jobject monitor, JNIEnv *env = Env());
std::vector<jlong> MonitorBytesReported(jobject monitor, JNIEnv *env = Env());

// Base fixture: a local frame per test, and a failure when the test left an
// exception pending or made the JVM print a -Xcheck:jni warning.
class JvmTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    JNIEnv *env() const { return Env(); }
    // The call just made threw nothing (the pending exception, if any, is taken).
    void ExpectNoException();
    // The call just made threw exactly this (taken, so the test goes on clean).
    void ExpectException(const char *className, const char *message);
    // Declares warnings the test provoked on purpose; returns how many there were.
    int AcknowledgeJniWarnings();

private:
    int warningsAtStart_ = 0;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away. path() ends without '/'.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    // Creates a file holding `contents`, or of `size` bytes of a repeating pattern.
    std::string WriteFile(const std::string &name, const std::string &contents) const;
    std::string WriteFileOfSize(const std::string &name, size_t size) const;

private:
    std::string path_;
};

std::string ReadFileContents(const std::string &path);

// Number of open file descriptors of this process: the entries of
// /proc/self/fd, not counting the one used to read it. Made of raw system
// calls, so no C library function a test stands in for is ever involved.
int OpenDescriptorCount();

// The count of open descriptors as soon as it is `expected` or less, or after
// a second of waiting if it never is. Threads of the JVM open and close
// descriptors of their own now and then, so a count can be one too high for a
// moment; a leaked descriptor stays.
int SettledDescriptorCount(int expected);

} // namespace jvmtest
