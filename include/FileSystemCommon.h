/*
 * Public interface of the basefs native library: the exported helpers, the
 * cached host classes and method identifiers, and the bit encodings that the
 * Java side and the library exchange (attribute word, info mask, copy flags).
 *
 * The JNI entry points themselves are declared by the header that javac
 * generates from com.quenvira.internal.io.BaseFileSystem.
 */
#ifndef BASEFS_FILE_SYSTEM_COMMON_H
#define BASEFS_FILE_SYSTEM_COMMON_H

#include <jni.h>
#include <sys/time.h>
#include <time.h>

#define BASEFS_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Attribute word: file type, hidden flag and the twelve permission bits. */
enum {
    ATTR_DIRECTORY      = 0x00000001,
    ATTR_HIDDEN         = 0x00000020,
    ATTR_SYMLINK        = 0x00000040,
    ATTR_OWNER_READ     = 0x00010000,
    ATTR_OWNER_WRITE    = 0x00020000,
    ATTR_OWNER_EXECUTE  = 0x00040000,
    ATTR_GROUP_READ     = 0x00080000,
    ATTR_GROUP_WRITE    = 0x00100000,
    ATTR_GROUP_EXECUTE  = 0x00200000,
    ATTR_OTHERS_READ    = 0x00400000,
    ATTR_OTHERS_WRITE   = 0x00800000,
    ATTR_OTHERS_EXECUTE = 0x01000000,
    ATTR_SET_UID        = 0x02000000,
    ATTR_SET_GID        = 0x04000000,
    ATTR_STICKY         = 0x08000000
};

/* Info mask: which values a record carries, or which values to set. */
enum {
    INFO_ATTRIBUTES = 0x01,
    INFO_MODIFIED   = 0x04,
    INFO_ACCESSED   = 0x08,
    INFO_EXTENDED   = 0x10,
    INFO_OWNER      = 0x20,
    INFO_GROUP      = 0x40,
    /* Any of these asks for the extended record (FileInfoEx). */
    INFO_EXTENDED_RECORD_MASK = INFO_ACCESSED | INFO_EXTENDED | INFO_OWNER | INFO_GROUP
};

/* Copy flags of nCopyFileCallback. */
enum {
    COPY_EXCLUSIVE = 0x1
};

/* Initialisation state: 0 not yet run, 1 ready, -1 failed (never retried). */
enum {
    INIT_NOT_RUN = 0,
    INIT_READY   = 1,
    INIT_FAILED  = -1
};

/* Host classes (global references) and their members, written only by nInitStatic. */
BASEFS_EXPORT extern jint g_InitRes;
BASEFS_EXPORT extern jclass g_ClassFileInfo;
BASEFS_EXPORT extern jmethodID g_MethodFileInfoConstruct;
BASEFS_EXPORT extern jclass g_ClassFileInfoEx;
BASEFS_EXPORT extern jmethodID g_MethodFileInfoExConstruct;
BASEFS_EXPORT extern jclass g_ClassMonitorOrg;
BASEFS_EXPORT extern jmethodID g_MethodMonitorCancel;
BASEFS_EXPORT extern jclass g_ClassMonitorSync;
BASEFS_EXPORT extern jmethodID g_MethodMonitorProgressSync;
BASEFS_EXPORT extern jclass g_ClassUrlEx;
BASEFS_EXPORT extern jmethodID g_MethodUrlExConstruct;
BASEFS_EXPORT extern jclass g_ClassPrincipal;
BASEFS_EXPORT extern jmethodID g_MethodPrincipalConstruct;

/*
 * Exception helpers. Each throws nothing when an exception is already pending,
 * so the first exception raised during a call is the one the caller sees.
 */
BASEFS_EXPORT void JNU_ThrowByName(JNIEnv *env, const char *className, const char *message);
BASEFS_EXPORT void JNU_ThrowNullPointerException(JNIEnv *env, const char *message);
BASEFS_EXPORT void JNU_ThrowIllegalArgumentException(JNIEnv *env, const char *message);
BASEFS_EXPORT void JNU_ThrowIllegalStateException(JNIEnv *env, const char *message);
BASEFS_EXPORT void JNU_ThrowOutOfMemoryError(JNIEnv *env, const char *message);
BASEFS_EXPORT void JNU_ThrowIOException(JNIEnv *env, const char *message);
BASEFS_EXPORT void JNU_ThrowInterruptedIOException(JNIEnv *env, const char *message);
BASEFS_EXPORT void JNU_ThrowUnsupportedOperationException(JNIEnv *env, const char *message);

/*
 * Copies the first count elements of src into dst at the same indexes, deleting
 * each element's local reference as it goes. Returns 1 when all were copied
 * (also for a count of 0 or less), 0 with an exception pending otherwise.
 */
BASEFS_EXPORT jint JNU_CopyObjectArray(JNIEnv *env, jobjectArray dst, jobjectArray src, jint count);

/* Throws java.io.IOException "<description> [<error>]"; the path is not part of the message. */
BASEFS_EXPORT void throwExceptionFromError(JNIEnv *env, int error, const char *path);
/* The same for the current value of errno. */
BASEFS_EXPORT void throwExceptionFromErrNo(JNIEnv *env, const char *path);

/*
 * Examines fullPath with lstat and returns a new local reference to a FileInfo
 * (or a FileInfoEx when infoMask asks for one) named by the caller's own string
 * object `name`. Returns null when lstat fails (an IOException is thrown only
 * when throwOnError is true) or when construction fails (the JVM's exception is
 * pending).
 */
BASEFS_EXPORT jobject GetFileInfoFromStat(JNIEnv *env, const char *fullPath, jstring name,
                                          const char *nameChars, jint infoMask,
                                          jboolean throwOnError);

/*
 * Conversions between Java time (milliseconds since the epoch) and the C
 * library's time structures. Division truncates toward zero, so a time before
 * the epoch with a sub-second part gets a negative sub-second field.
 */
/* seconds = ms / 1000; microseconds = (ms % 1000) * 1000. */
BASEFS_EXPORT void javaTimeToTimeVal(jlong ms, struct timeval *tv);
/* seconds = ms / 1000; nanoseconds = (ms % 1000) * 1000000, computed in double precision. */
BASEFS_EXPORT void javaTimeToTimeSpec(jlong ms, struct timespec *ts);
/* Seconds copied; microseconds = nanoseconds / 1000, truncated to 32 bits and sign-extended. */
BASEFS_EXPORT void timeSpecToTimeVal(const struct timespec *ts, struct timeval *tv);
/*
 * seconds * 1000 + nanoseconds / 1000000.0 in double precision, truncated toward
 * zero; a negative result is 0. When highHalves is exactly 1, only the upper 32
 * bits of each field (sign-extended) are used.
 */
BASEFS_EXPORT jlong timeSpecToJavaTime(const struct timespec *ts, jboolean highHalves);

#ifdef __cplusplus
}
#endif

#endif /* BASEFS_FILE_SYSTEM_COMMON_H */
