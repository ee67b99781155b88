// The embedded JVM (its creation, the count of its -Xcheck:jni warnings),
// the fixture, and reading exceptions, strings and records back; the natives'
// calls are NativeMethods.cpp's, files and descriptors TestFiles.cpp's.
#include "JvmHarness.h"
#include "HarnessInternals.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <mutex>
#include <unistd.h>

#include <atomic>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

// LeakSanitizer's suppressions, compiled in so that they hold whoever the
// process runs as (an unprivileged test process may not read the checkout):
// blocks the JVM itself allocates and keeps pointers to only in memory the
// leak check does not scan (metaspace, code cache, the Java heap). A pattern
// matches any frame of an allocation's stack, and the library's entry points
// run under libjvm's JavaCalls frames, so libjvm is suppressed by its
// allocation functions, never as a whole module. The library takes no JNI
// memory it has to give back (strings come through GetStringRegion), so
// nothing of its own goes through these.
extern "C" const char *__lsan_default_suppressions()
{
    return
        // HotSpot's C heap (AllocateHeap, NEW_C_HEAP_ARRAY, CHeapObj, ResourceObj::C_HEAP).
        "leak:os::malloc\n"
        "leak:os::realloc\n"
        "leak:os::strdup\n"
        // zlib streams of java.util.zip.Inflater, owned by Java objects (class path jars).
        "leak:libzip.so\n"
        "leak:libz.so\n"
        // Dependencies of a library the JVM loads with dlopen.
        "leak:_dl_map_object_deps\n";
}
#endif

namespace jvmtest {
namespace {

using detail::Checked;
using detail::Fail;
using detail::g_fileSystemClass;

constexpr jint kLocalFrameCapacity = 256;
constexpr uid_t kUnprivilegedId = 65534; // "nobody" on Debian
constexpr size_t kHookBufferSize = 8192;

JavaVM *g_vm = nullptr;
JNIEnv *g_env = nullptr;

std::atomic<int> g_jniWarnings{0};
std::mutex g_warningTextMutex;
std::string g_warningText;

// Everything the JVM prints passes through here, so -Xcheck:jni warnings are
// counted (and still printed).
jint JNICALL CountingVfprintf(FILE *stream, const char *format, va_list args)
{
    char buffer[kHookBufferSize];
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (std::strstr(buffer, "WARNING") != nullptr) {
        g_jniWarnings.fetch_add(1);
        std::lock_guard<std::mutex> lock(g_warningTextMutex);
        g_warningText += buffer;
    }
    std::fputs(buffer, stream);
    return length;
}

jclass FindGlobalClass(JNIEnv *env, const char *name)
{
    jclass local = env->FindClass(name);
    if (local == nullptr) {
        Fail(name);
    }
    auto global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return global;
}

jmethodID Method(JNIEnv *env, const char *className, const char *name, const char *signature)
{
    jclass cls = env->FindClass(className);
    if (cls == nullptr) {
        Fail(className);
    }
    jmethodID method = env->GetMethodID(cls, name, signature);
    env->DeleteLocalRef(cls);
    if (method == nullptr) {
        Fail(name);
    }
    return method;
}

void DropPrivileges()
{
    if (geteuid() != 0) {
        return; // already unprivileged
    }
    if (setgroups(0, nullptr) != 0 || setresgid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0 ||
        setresuid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0) {
        Fail("cannot drop privileges");
    }
}

// Fails the current test when a harness-internal call threw.
void ExpectNoException(JNIEnv *env, const char *what)
{
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
        ADD_FAILURE() << what << " threw";
    }
}

} // namespace

namespace detail {

jclass g_fileSystemClass = nullptr;

void Fail(const std::string &what)
{
    std::fprintf(stderr, "test harness: %s\n", what.c_str());
    if (g_env != nullptr && g_env->ExceptionCheck()) {
        g_env->ExceptionDescribe();
    }
    std::fflush(stderr);
    std::_Exit(2);
}

} // namespace detail

JNIEnv *Env() { return g_env; }
JavaVM *Vm() { return g_vm; }

int JniWarningCount() { return g_jniWarnings.load(); }

std::string JniWarningText()
{
    std::lock_guard<std::mutex> lock(g_warningTextMutex);
    return g_warningText;
}

int RunTests(int argc, char **argv, const JvmConfig &config)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The JDK decodes file names by the locale; without a UTF-8 one it would
    // turn every non-ASCII name into '?'.
    setenv("LC_ALL", "C.UTF-8", 1);

    std::string classPath = "-Djava.class.path=" + config.classPath;
    // The library this executable is linked with, by the property that names
    // it: the JVM then maps that same file, and white-box tests see the state
    // of the instance the entry points run in.
    std::string libraryPath = std::string("-Dcom.quenvira.basefs.library=") + BASEFS_LIBRARY_DIR + "/libbasefs.so";
    JavaVMOption options[] = {
        {const_cast<char *>("-Xcheck:jni"), nullptr},
        {const_cast<char *>(classPath.c_str()), nullptr},
        {const_cast<char *>(libraryPath.c_str()), nullptr},
        // JDK 24 and later print a warning (which fails the test) when a class on
        // the class path loads a library without it; JDK 17 accepts it too.
        {const_cast<char *>("--enable-native-access=ALL-UNNAMED"), nullptr},
        {const_cast<char *>("-XX:-CreateCoredumpOnCrash"), nullptr},
        {const_cast<char *>("vfprintf"), reinterpret_cast<void *>(&CountingVfprintf)},
    };
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = sizeof options / sizeof options[0];
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    if (JNI_CreateJavaVM(&g_vm, reinterpret_cast<void **>(&g_env), &args) != JNI_OK) {
        Fail("cannot create the JVM");
    }

    // Loading the class loads the library, as in an application.
    g_fileSystemClass = FindGlobalClass(g_env, "com/quenvira/internal/io/BaseFileSystem");
    // The JVM opens a jar when it first loads a class from it and keeps it
    // open: load from the test jar now, so that no test counting descriptors
    // sees it happen.
    jclass testClass = g_env->FindClass("com/quenvira/test/ScriptedMonitor");
    if (testClass == nullptr) {
        Fail("the test classes are not on the class path");
    }
    g_env->DeleteLocalRef(testClass);
    if (config.initialize) {
        natives::InitStatic();
        if (g_env->ExceptionCheck()) {
            Fail("nInitStatic failed");
        }
    }
    if (config.dropPrivileges) {
        DropPrivileges();
    }
    int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    // _Exit skips the leak check the sanitizer runs at exit: run it here, with
    // the JVM still up (its own blocks are suppressed by the build's settings).
    if (__lsan_do_recoverable_leak_check() != 0 && result == 0) {
        result = 1;
    }
#endif
    std::fflush(stdout);
    std::fflush(stderr);
    // The JVM's own threads are still running; leave without running static
    // destructors under them.
    std::_Exit(result);
}

std::optional<ThrownException> TakeException(JNIEnv *env)
{
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) {
        return std::nullopt;
    }
    env->ExceptionClear();
    static jmethodID getName = Method(env, "java/lang/Class", "getName", "()Ljava/lang/String;");
    static jmethodID getMessage = Method(env, "java/lang/Throwable", "getMessage", "()Ljava/lang/String;");
    ThrownException result;
    jclass cls = env->GetObjectClass(thrown);
    auto name = static_cast<jstring>(env->CallObjectMethod(cls, getName));
    ExpectNoException(env, "Class.getName");
    result.className = StdStr(name, env);
    auto message = static_cast<jstring>(env->CallObjectMethod(thrown, getMessage));
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
    } else if (message != nullptr) {
        result.message = StdStr(message, env);
    }
    env->DeleteLocalRef(message);
    env->DeleteLocalRef(name);
    env->DeleteLocalRef(cls);
    env->DeleteLocalRef(thrown);
    return result;
}

jstring JStr(const char *modifiedUtf8, JNIEnv *env) { return env->NewStringUTF(modifiedUtf8); }

jstring JStr16(const std::u16string &utf16, JNIEnv *env)
{
    return env->NewString(reinterpret_cast<const jchar *>(utf16.data()), static_cast<jsize>(utf16.size()));
}

std::u16string StdStr16(jstring string, JNIEnv *env)
{
    std::u16string result(static_cast<size_t>(env->GetStringLength(string)), u'\0');
    env->GetStringRegion(string, 0, static_cast<jsize>(result.size()), reinterpret_cast<jchar *>(result.data()));
    return result;
}

std::string StdStr(jstring string, JNIEnv *env)
{
    if (string == nullptr) {
        return "<null>";
    }
    const char *chars = env->GetStringUTFChars(string, nullptr);
    std::string result(chars);
    env->ReleaseStringUTFChars(string, chars);
    return result;
}

jstring RecordName(jobject info, JNIEnv *env)
{
    static jmethodID getName = Method(env, "com/quenvira/io/FileInfo", "getName", "()Ljava/lang/String;");
    auto name = static_cast<jstring>(env->CallObjectMethod(info, getName));
    ExpectNoException(env, "FileInfo.getName");
    return name;
}

Record ReadRecord(jobject info, JNIEnv *env)
{
    static jmethodID getAttributes = Method(env, "com/quenvira/io/FileInfo", "getAttributes", "()I");
    static jmethodID getSize = Method(env, "com/quenvira/io/FileInfo", "getSize", "()J");
    static jmethodID getModified = Method(env, "com/quenvira/io/FileInfo", "getModified", "()J");
    static jmethodID getAccessed = Method(env, "com/quenvira/io/FileInfoEx", "getAccessed", "()J");
    static jmethodID getCreated = Method(env, "com/quenvira/io/FileInfoEx", "getCreated", "()J");
    static jmethodID getOwner = Method(env, "com/quenvira/io/FileInfoEx", "getOwner", "()I");
    static jmethodID getGroup = Method(env, "com/quenvira/io/FileInfoEx", "getGroup", "()I");
    static jclass exClass = FindGlobalClass(env, "com/quenvira/io/FileInfoEx");

    Record record;
    jstring name = RecordName(info, env);
    record.name = StdStr(name, env);
    env->DeleteLocalRef(name);
    record.attributes = Checked(env, env->CallIntMethod(info, getAttributes));
    record.size = Checked(env, env->CallLongMethod(info, getSize));
    record.modified = Checked(env, env->CallLongMethod(info, getModified));
    ExpectNoException(env, "FileInfo accessors");
    record.extended = env->IsInstanceOf(info, exClass);
    if (record.extended) {
        record.accessed = Checked(env, env->CallLongMethod(info, getAccessed));
        record.created = Checked(env, env->CallLongMethod(info, getCreated));
        record.owner = Checked(env, env->CallIntMethod(info, getOwner));
        record.group = Checked(env, env->CallIntMethod(info, getGroup));
        ExpectNoException(env, "FileInfoEx accessors");
    }
    return record;
}

bool RecordsMadeInJava(JNIEnv *env)
{
    static const bool present = [env] {
        jclass maker = env->FindClass("com/quenvira/internal/io/ListingRecords");
        if (maker == nullptr) {
            env->ExceptionClear();
            return false;
        }
        env->DeleteLocalRef(maker);
        return true;
    }();
    return present;
}

jobject NewScriptedMonitor(int stopAtCall, int throwAtCall, JNIEnv *env)
{
    static jclass cls = FindGlobalClass(env, "com/quenvira/test/ScriptedMonitor");
    static jmethodID init = env->GetMethodID(cls, "<init>", "(II)V");
    jobject monitor = env->NewObject(cls, init, stopAtCall, throwAtCall);
    ExpectNoException(env, "new ScriptedMonitor");
    return monitor;
}

int MonitorCalls(jobject monitor, JNIEnv *env)
{
    static jmethodID calls = Method(env, "com/quenvira/test/ScriptedMonitor", "calls", "()I");
    int count = env->CallIntMethod(monitor, calls);
    ExpectNoException(env, "ScriptedMonitor.calls");
    return count;
}

std::vector<jlong> MonitorBytesReported(jobject monitor, JNIEnv *env)
{
    static jmethodID reported = Method(env, "com/quenvira/test/ScriptedMonitor", "bytesReported", "()[J");
    auto array = static_cast<jlongArray>(env->CallObjectMethod(monitor, reported));
    ExpectNoException(env, "ScriptedMonitor.bytesReported");
    std::vector<jlong> values(static_cast<size_t>(env->GetArrayLength(array)));
    env->GetLongArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
    env->DeleteLocalRef(array);
    return values;
}

void JvmTest::SetUp()
{
    warningsAtStart_ = JniWarningCount();
    ASSERT_EQ(0, env()->PushLocalFrame(kLocalFrameCapacity));
}

void JvmTest::TearDown()
{
    auto leftOver = TakeException();
    EXPECT_FALSE(leftOver.has_value()) << "exception left pending: " << leftOver->className << ": "
                                       << leftOver->message;
    env()->PopLocalFrame(nullptr);
    EXPECT_EQ(warningsAtStart_, JniWarningCount()) << "-Xcheck:jni reported:\n" << JniWarningText();
}

void JvmTest::ExpectNoException()
{
    auto thrown = TakeException();
    EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
}

void JvmTest::ExpectException(const char *className, const char *message)
{
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value()) << "expected " << className << ": " << message;
    EXPECT_EQ(className, thrown->className);
    EXPECT_EQ(message, thrown->message);
}

int JvmTest::AcknowledgeJniWarnings()
{
    int seen = JniWarningCount() - warningsAtStart_;
    warningsAtStart_ = JniWarningCount();
    return seen;
}

} // namespace jvmtest
