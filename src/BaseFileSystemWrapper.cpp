// The bridge core: the cache of host classes and method identifiers and the
// one-time initialisation that fills it, the exported helpers that throw
// named Java exceptions and copy object arrays, and the error table behind
// the IOExceptions of every entry point.

#include "FileRecords.h"
#include "JniBridge.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"
#include "com_quenvira_io_FileInfo.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

// The encodings exchanged with the Java side are declared in both languages;
// javac's headers carry the Java values, so the two can never drift apart.
#define BASEFS_SAME_AS_JAVA(constant, javaConstant) \
    static_assert((constant) == (javaConstant), #constant " differs from its Java declaration")
BASEFS_SAME_AS_JAVA(INFO_ATTRIBUTES, com_quenvira_internal_io_BaseFileSystem_INFO_ATTRIBUTES);
BASEFS_SAME_AS_JAVA(INFO_MODIFIED, com_quenvira_internal_io_BaseFileSystem_INFO_MODIFIED);
BASEFS_SAME_AS_JAVA(INFO_ACCESSED, com_quenvira_internal_io_BaseFileSystem_INFO_ACCESSED);
BASEFS_SAME_AS_JAVA(INFO_EXTENDED, com_quenvira_internal_io_BaseFileSystem_INFO_EXTENDED);
BASEFS_SAME_AS_JAVA(INFO_OWNER, com_quenvira_internal_io_BaseFileSystem_INFO_OWNER);
BASEFS_SAME_AS_JAVA(INFO_GROUP, com_quenvira_internal_io_BaseFileSystem_INFO_GROUP);
BASEFS_SAME_AS_JAVA(COPY_EXCLUSIVE, com_quenvira_internal_io_BaseFileSystem_COPY_EXCLUSIVE);
BASEFS_SAME_AS_JAVA(ATTR_DIRECTORY, com_quenvira_io_FileInfo_ATTR_DIRECTORY);
BASEFS_SAME_AS_JAVA(ATTR_HIDDEN, com_quenvira_io_FileInfo_ATTR_HIDDEN);
BASEFS_SAME_AS_JAVA(ATTR_SYMLINK, com_quenvira_io_FileInfo_ATTR_SYMLINK);
BASEFS_SAME_AS_JAVA(ATTR_OWNER_READ, com_quenvira_io_FileInfo_ATTR_OWNER_READ);
BASEFS_SAME_AS_JAVA(ATTR_OWNER_WRITE, com_quenvira_io_FileInfo_ATTR_OWNER_WRITE);
BASEFS_SAME_AS_JAVA(ATTR_OWNER_EXECUTE, com_quenvira_io_FileInfo_ATTR_OWNER_EXECUTE);
BASEFS_SAME_AS_JAVA(ATTR_GROUP_READ, com_quenvira_io_FileInfo_ATTR_GROUP_READ);
BASEFS_SAME_AS_JAVA(ATTR_GROUP_WRITE, com_quenvira_io_FileInfo_ATTR_GROUP_WRITE);
BASEFS_SAME_AS_JAVA(ATTR_GROUP_EXECUTE, com_quenvira_io_FileInfo_ATTR_GROUP_EXECUTE);
BASEFS_SAME_AS_JAVA(ATTR_OTHERS_READ, com_quenvira_io_FileInfo_ATTR_OTHERS_READ);
BASEFS_SAME_AS_JAVA(ATTR_OTHERS_WRITE, com_quenvira_io_FileInfo_ATTR_OTHERS_WRITE);
BASEFS_SAME_AS_JAVA(ATTR_OTHERS_EXECUTE, com_quenvira_io_FileInfo_ATTR_OTHERS_EXECUTE);
BASEFS_SAME_AS_JAVA(ATTR_SET_UID, com_quenvira_io_FileInfo_ATTR_SET_UID);
BASEFS_SAME_AS_JAVA(ATTR_SET_GID, com_quenvira_io_FileInfo_ATTR_SET_GID);
BASEFS_SAME_AS_JAVA(ATTR_STICKY, com_quenvira_io_FileInfo_ATTR_STICKY);
#undef BASEFS_SAME_AS_JAVA

namespace {

// Large enough for the longest description and any int.
constexpr size_t kErrorMessageSize = 512;
struct ErrorDescription {
    int error;
    const char *description;
};

const ErrorDescription kErrorDescriptions[] = {
    {EPERM, "The effective UID does not match the owner of the file, and the process is not privileged"},
    {ENOENT, "Path does not exist"},
    {EINTR, "A signal was caught during call of method"},
    {EIO, "An I/O error occurred"},
    {EBADF, "The file descriptor fd is not valid"},
    {ENOMEM, "No kernel memory"},
    {EACCES, "No permissions"},
    {EFAULT, "Path points outside your accessible address space"},
    {EEXIST, "Path already exists"},
    {ENOTDIR, "Not a directory"},
    {EINVAL, "Invalid argument"},
    {ENFILE, "The maximum allowable number of files is currently open in the system"},
    {EMFILE, "The maximum number of files was open already in the calling process"},
    {ENOSPC, "No space is left on the file system"},
    {EROFS, "The named file resides on a read-only file system"},
    {ENAMETOOLONG, "Too long path"},
    {ELOOP, "Too many symbolic links in path"},
    {EDQUOT, "No space for new user's quota"},
    {ECANCELED, "Operation canceled"},
};

const char *describeError(int error)
{
    for (const ErrorDescription &entry : kErrorDescriptions) {
        if (entry.error == error) {
            return entry.description;
        }
    }
    return "Unknown";
}

} // namespace

extern "C" {

jint g_InitRes = INIT_NOT_RUN;
jclass g_ClassFileInfo = nullptr;
jmethodID g_MethodFileInfoConstruct = nullptr;
jclass g_ClassFileInfoEx = nullptr;
jmethodID g_MethodFileInfoExConstruct = nullptr;
jclass g_ClassMonitorOrg = nullptr;
jmethodID g_MethodMonitorCancel = nullptr;
jclass g_ClassMonitorSync = nullptr;
jmethodID g_MethodMonitorProgressSync = nullptr;
jclass g_ClassUrlEx = nullptr;
jmethodID g_MethodUrlExConstruct = nullptr;
jclass g_ClassPrincipal = nullptr;
jmethodID g_MethodPrincipalConstruct = nullptr;

void JNU_ThrowByName(JNIEnv *env, const char *className, const char *message)
{
    // The first exception of a call is the one the caller must see.
    if (env->ExceptionCheck()) {
        return;
    }
    jclass cls = env->FindClass(className);
    if (cls == nullptr) {
        return; // the JVM's NoClassDefFoundError is pending
    }
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

void JNU_ThrowNullPointerException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/NullPointerException", message);
}

void JNU_ThrowIllegalArgumentException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/IllegalArgumentException", message);
}

void JNU_ThrowIllegalStateException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/IllegalStateException", message);
}

void JNU_ThrowOutOfMemoryError(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/OutOfMemoryError", message);
}

void JNU_ThrowIOException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/io/IOException", message);
}

void JNU_ThrowInterruptedIOException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/io/InterruptedIOException", message);
}

void JNU_ThrowUnsupportedOperationException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/UnsupportedOperationException", message);
}

jint JNU_CopyObjectArray(JNIEnv *env, jobjectArray dst, jobjectArray src, jint count)
{
    // Room for the one element reference alive at a time.
    if (env->EnsureLocalCapacity(1) < 0) {
        JNU_ThrowOutOfMemoryError(env, "To allocate array for copy");
        return 0;
    }
    for (jint i = 0; i < count; ++i) {
        jobject element = env->GetObjectArrayElement(src, i);
        // A null element is either a real null or an index past the end of src.
        if (element == nullptr && env->ExceptionCheck()) {
            return 0;
        }
        env->SetObjectArrayElement(dst, i, element);
        env->DeleteLocalRef(element);
        // An index past the end of dst or an element dst cannot hold.
        if (env->ExceptionCheck()) {
            return 0;
        }
    }
    return 1;
}

void throwExceptionFromError(JNIEnv *env, int error, const char *)
{
    char message[kErrorMessageSize];
    std::snprintf(message, sizeof message, "%s [%d]", describeError(error), error);
    JNU_ThrowIOException(env, message);
}

void throwExceptionFromErrNo(JNIEnv *env, const char *path)
{
    throwExceptionFromError(env, errno, path);
}

} // extern "C"

namespace {

// Resolves one host class and one of its methods into a pair of globals.
// Returns false with an exception pending (the JVM's own when it has one),
// except when NewGlobalRef fails, which throws nothing.
bool JNI_InitMethodID(JNIEnv *env, const char *className, const char *methodName,
                      const char *signature, jclass *outClass, jmethodID *outMethod)
{
    if (env->EnsureLocalCapacity(1) < 0) {
        return false; // the JVM's OutOfMemoryError is pending
    }
    jclass cls = env->FindClass(className);
    if (cls == nullptr) {
        JNU_ThrowIllegalStateException(env, "Cannot find class");
        return false;
    }
    jmethodID method = env->GetMethodID(cls, methodName, signature);
    if (method == nullptr) {
        JNU_ThrowIllegalStateException(env, "Cannot find method");
        return false;
    }
    auto global = static_cast<jclass>(env->NewGlobalRef(cls));
    if (global == nullptr) {
        return false;
    }
    env->DeleteLocalRef(cls);
    *outClass = global;
    *outMethod = method;
    return true;
}

struct HostMember {
    const char *className;
    const char *methodName;
    const char *signature;
    jclass *outClass;
    jmethodID *outMethod;
};

// Resolved in this order; the first failure stops initialisation.
const HostMember kHostMembers[] = {
    {"com/quenvira/io/FileInfo", "<init>", "(Ljava/lang/String;IJJ)V",
     &g_ClassFileInfo, &g_MethodFileInfoConstruct},
    {"com/quenvira/io/FileInfoEx", "<init>", "(Ljava/lang/String;IJJJJII)V",
     &g_ClassFileInfoEx, &g_MethodFileInfoExConstruct},
    {"org/eclipse/core/runtime/IProgressMonitor", "isCanceled", "()Z",
     &g_ClassMonitorOrg, &g_MethodMonitorCancel},
    {"com/quenvira/interfaces/ISyncProgressMonitor", "bytesTransferred", "(J)Z",
     &g_ClassMonitorSync, &g_MethodMonitorProgressSync},
    {"com/quenvira/io/UrlEx", "<init>", "(Ljava/lang/String;J)V",
     &g_ClassUrlEx, &g_MethodUrlExConstruct},
    {"com/quenvira/io/Principal", "<init>", "(Ljava/lang/Object;Ljava/lang/String;)V",
     &g_ClassPrincipal, &g_MethodPrincipalConstruct},
};

// ---- Running the initialisation once -----------------------------------------

// Claimed by the one thread that runs the initialisation. pthread_once and
// std::call_once would bind the library to a glibc 2.34 symbol.
int g_initClaimed = 0;
// The environment of the thread running the initialisation, one per Java
// thread: a host class's static initialiser that calls nInitStatic again on
// that thread must not wait for itself. (No thread_local: its accesses bind
// the library to the dynamic loader as well as the C library.)
JNIEnv *g_initializingEnv = nullptr;
// How long a thread that lost the claim sleeps between looks at the outcome.
constexpr long kInitWaitNanoseconds = 100 * 1000;

bool claimInitialization()
{
    int unclaimed = 0;
    return __atomic_compare_exchange_n(&g_initClaimed, &unclaimed, 1, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_ACQUIRE);
}

// Resolves every host member, the array helpers and, last, how listings make
// their records. Returns false at the first failure, with its exception
// pending (none when NewGlobalRef failed).
bool resolveCache(JNIEnv *env)
{
    for (const HostMember &member : kHostMembers) {
        if (!JNI_InitMethodID(env, member.className, member.methodName, member.signature,
                              member.outClass, member.outMethod)) {
            return false;
        }
    }
    return basefs::initArrayHelpers(env) && basefs::initRecordMaker(env);
}

// Returns once the thread that claimed the initialisation has stored its
// outcome. The waiting thread is in native code, so it holds up no safepoint.
void awaitInitialization()
{
    const struct timespec pause = {0, kInitWaitNanoseconds};
    while (__atomic_load_n(&g_InitRes, __ATOMIC_ACQUIRE) == INIT_NOT_RUN) {
        nanosleep(&pause, nullptr);
    }
}

} // namespace


extern "C" JNIEXPORT void JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nInitStatic(JNIEnv *env, jclass)
{
    // Runs at most once per process; a failed initialisation is never retried.
    // Only the thread that runs it carries the exception of a failure.
    if (__atomic_load_n(&g_initializingEnv, __ATOMIC_ACQUIRE) == env ||
        __atomic_load_n(&g_InitRes, __ATOMIC_ACQUIRE) != INIT_NOT_RUN) {
        return;
    }
    if (!claimInitialization()) {
        awaitInitialization();
        return;
    }
    __atomic_store_n(&g_initializingEnv, env, __ATOMIC_RELEASE);
    const bool ready = resolveCache(env);
    __atomic_store_n(&g_initializingEnv, nullptr, __ATOMIC_RELEASE);
    // Pairs with the acquire loads of ensureInitialized and of the waiting threads.
    __atomic_store_n(&g_InitRes, ready ? INIT_READY : INIT_FAILED, __ATOMIC_RELEASE);
}
