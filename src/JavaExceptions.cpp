// The exceptions of the library: the helpers that throw named Java
// exceptions, the error table behind the IOException of every failed system
// call, and the error number of each exception handed to LastError as data,
// so that the library's own callers need not read it back from the message.

#include "JavaExceptions.h"
#include "JniBridge.h"

#include "com_quenvira_internal_io_LastError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Large enough for the longest description and any int.
constexpr size_t kErrorMessageSize = 512;
struct ErrorDescription {
    int error;
    const char *description;
};

// The descriptions hosts have always seen in their messages, some worded for
// one call only: fixed, as hosts may match them.
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

// Tells LastError, where it serves, of the exception about to be thrown and
// its number. Returns false with an exception pending when that failed.
bool recordFailure(JNIEnv *env, jthrowable thrown, int number)
{
    // The class cache is complete once the initialisation has succeeded; before, nothing is told.
    if (__atomic_load_n(&g_InitRes, __ATOMIC_ACQUIRE) != INIT_READY || basefs::g_ClassLastError == nullptr) {
        return true;
    }
    env->CallStaticVoidMethod(basefs::g_ClassLastError, basefs::g_MethodRecordFailure, thrown,
                              static_cast<jint>(number));
    return !env->ExceptionCheck();
}

} // namespace

namespace basefs {

jclass g_ClassLastError = nullptr;
jmethodID g_MethodRecordFailure = nullptr;

void throwWithNumber(JNIEnv *env, const char *className, const char *message, int number)
{
    // The first exception of a call is the one the caller must see.
    if (env->ExceptionCheck()) {
        return;
    }
    LocalRef<jclass> cls(env, env->FindClass(className));
    if (cls.get() == nullptr) {
        return; // the JVM's NoClassDefFoundError is pending
    }
    // Made as ThrowNew makes it, through the (String) constructor, so that it can be told first.
    const jmethodID construct = env->GetMethodID(cls.get(), "<init>", "(Ljava/lang/String;)V");
    if (construct == nullptr) {
        return;
    }
    LocalRef<jstring> text(env, env->NewStringUTF(message));
    if (text.get() == nullptr) {
        return;
    }
    LocalRef<jthrowable> thrown(env, static_cast<jthrowable>(env->NewObject(cls.get(), construct, text.get())));
    if (thrown.get() == nullptr || !recordFailure(env, thrown.get(), number)) {
        return;
    }
    env->Throw(thrown.get());
}

} // namespace basefs

extern "C" {

void JNU_ThrowByName(JNIEnv *env, const char *className, const char *message)
{
    basefs::throwWithNumber(env, className, message, 0);
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

void throwExceptionFromError(JNIEnv *env, int error, const char *)
{
    char message[kErrorMessageSize];
    std::snprintf(message, sizeof message, "%s [%d]", describeError(error), error);
    basefs::throwWithNumber(env, "java/io/IOException", message, error);
}

void throwExceptionFromErrNo(JNIEnv *env, const char *path)
{
    throwExceptionFromError(env, errno, path);
}

JNIEXPORT jstring JNICALL Java_com_quenvira_internal_io_LastError_nText(JNIEnv *env, jclass, jint number)
{
    char buffer[256];
    // The GNU strerror_r: the text may be its own, or written into the buffer.
    const char *text = strerror_r(number, buffer, sizeof buffer);
    return env->NewStringUTF(text);
}

} // extern "C"
