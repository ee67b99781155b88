// File attributes: one file's record (nGetFileInfo and the exported
// GetFileInfoFromStat, over FileRecords), the time conversions, setting times
// and permissions, and reading and creating symbolic links.

#include "FileRecords.h"
#include "JavaExceptions.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <cstdint>
#include <limits>
#include <sys/stat.h>
#include <sys/time.h>

namespace {

constexpr jlong kMillisPerSecond = 1000;
constexpr jlong kMicrosPerMilli = 1000;
constexpr double kNanosPerMilli = 1000000.0;
constexpr long kMicrosPerSecond = 1000000;
constexpr long kNanosPerMicro = 1000;
constexpr int kHalfWordBits = 32;
// 2^63: the first double that no longer fits in a jlong.
constexpr double kJavaTimeLimit = 9223372036854775808.0;

constexpr jint kTimeBits = INFO_MODIFIED | INFO_ACCESSED;

// Longest link target that is read; a target of exactly this length is accepted.
constexpr ssize_t kMaxLinkSize = 0x8000;
// One byte beyond the limit tells a target that fills the limit from a longer one.
constexpr size_t kLinkBufferSize = kMaxLinkSize + 1;

} // namespace


extern "C" {

jobject GetFileInfoFromStat(JNIEnv *env, const char *fullPath, jstring name,
                            const char *nameChars, jint infoMask, jboolean throwOnError)
{
    struct stat st;
    if (basefs::sys::lstat(fullPath, &st) != 0) {
        if (throwOnError) {
            throwExceptionFromErrNo(env, fullPath);
        }
        return nullptr;
    }
    return basefs::newFileInfo(env, st, name, nameChars[0] == '.', infoMask);
}

void javaTimeToTimeVal(jlong ms, struct timeval *tv)
{
    tv->tv_sec = ms / kMillisPerSecond;
    tv->tv_usec = (ms % kMillisPerSecond) * kMicrosPerMilli;
}

// Kept for host code, which may call it; the library does not. Behaviour fixed.
void javaTimeToTimeSpec(jlong ms, struct timespec *ts)
{
    ts->tv_sec = ms / kMillisPerSecond;
    ts->tv_nsec = static_cast<long>(static_cast<double>(ms % kMillisPerSecond) * kNanosPerMilli);
}

// Kept for host code, which may call it; the library does not. Behaviour fixed.
void timeSpecToTimeVal(const struct timespec *ts, struct timeval *tv)
{
    tv->tv_sec = ts->tv_sec;
    // Only the low 32 bits of the quotient are kept, read as a signed value.
    tv->tv_usec = static_cast<int32_t>(ts->tv_nsec / kNanosPerMicro);
}

// Kept for host code, which may call it; the library does not. Behaviour fixed.
jlong timeSpecToJavaTime(const struct timespec *ts, jboolean highHalves)
{
    int64_t seconds = ts->tv_sec;
    int64_t nanos = ts->tv_nsec;
    if (highHalves == 1) {
        seconds >>= kHalfWordBits;
        nanos >>= kHalfWordBits;
    }
    // The product wraps as the machine's multiply does, rather than being undefined.
    const auto millis = static_cast<int64_t>(static_cast<uint64_t>(seconds) * kMillisPerSecond);
    const double total = static_cast<double>(millis) + static_cast<double>(nanos) / kNanosPerMilli;
    if (total < 0) {
        return 0;
    }
    // Converting a double beyond the range of jlong is undefined; saturate as Java's (long) cast does.
    if (total >= kJavaTimeLimit) {
        return std::numeric_limits<jlong>::max();
    }
    return static_cast<jlong>(total);
}

} // extern "C"

namespace {

// Whether the Java string `name` begins with '.', read without converting the
// string. Returns false with GetStringRegion's exception pending when reading
// fails (*hidden is then false).
bool readHidden(JNIEnv *env, jstring name, bool *hidden)
{
    *hidden = false;
    if (env->GetStringLength(name) == 0) {
        return true;
    }
    char16_t first = 0;
    if (!basefs::readStringUnits(env, name, 1, &first)) {
        return false;
    }
    *hidden = first == '.';
    return true;
}

// A Java time as lutimes takes it. Truncating division gives a time before the
// epoch with a sub-second part a negative microsecond part, which the kernel
// refuses, so one second is borrowed: -1 ms becomes -1 s and 999000 us.
struct timeval kernelTimeVal(jlong ms)
{
    struct timeval tv;
    javaTimeToTimeVal(ms, &tv);
    if (tv.tv_usec < 0) {
        tv.tv_sec -= 1;
        tv.tv_usec += kMicrosPerSecond;
    }
    return tv;
}

struct timeval wholeSeconds(time_t seconds)
{
    struct timeval tv;
    tv.tv_sec = seconds;
    tv.tv_usec = 0;
    return tv;
}

// Sets the access and modification times of path itself (a link, not its
// target) as chosen by the time bits of infoMask, of which at least one is set.
// Returns false with an IOException pending when lstat or lutimes fails.
bool setTimes(JNIEnv *env, const char *path, jint infoMask, jlong modified, jlong accessed)
{
    const bool setAccessed = (infoMask & INFO_ACCESSED) != 0;
    const bool setModified = (infoMask & INFO_MODIFIED) != 0;
    struct stat st = {};
    // Only a time that stays unchanged needs the file's current value.
    if ((setAccessed != setModified) && basefs::sys::lstat(path, &st) != 0) {
        throwExceptionFromErrNo(env, path);
        return false;
    }
    const struct timeval times[2] = {
        setAccessed ? kernelTimeVal(accessed) : wholeSeconds(st.st_atime),
        setModified ? kernelTimeVal(modified) : wholeSeconds(st.st_mtime),
    };
    if (basefs::sys::lutimes(path, times) != 0) {
        throwExceptionFromErrNo(env, path);
        return false;
    }
    return true;
}

// The target text of the link at path, or null with an exception pending.
jstring readLinkTarget(JNIEnv *env, const char *path)
{
    struct stat st;
    if (basefs::sys::lstat(path, &st) != 0) {
        throwExceptionFromErrNo(env, path);
        return nullptr;
    }
    // Tested before the file type, so a large regular file is refused for its size.
    if (st.st_size > kMaxLinkSize) {
        JNU_ThrowIOException(env, "Link size is too big");
        return nullptr;
    }
    // The size lstat reports is not always the target's length (links under /proc
    // report 0 or 64, and a link can be replaced before readlink), so every link
    // is read into a buffer that holds any target the limit accepts.
    basefs::HeapBuffer<char> target(kLinkBufferSize);
    if (target.get() == nullptr) {
        // The message as hosts have always seen it, wording included.
        JNU_ThrowOutOfMemoryError(env, "Cannot allocated array for link target path");
        return nullptr;
    }
    const ssize_t length = basefs::sys::readlink(path, target.get(), kLinkBufferSize);
    if (length < 0) {
        const int error = errno;
        if (error == EINVAL) {
            basefs::throwWithNumber(env, "java/io/IOException", "The file is not a symbolic link", EINVAL);
        } else {
            throwExceptionFromError(env, error, path);
        }
        return nullptr;
    }
    if (length > kMaxLinkSize) {
        JNU_ThrowIOException(env, "Link size is too big");
        return nullptr;
    }
    return basefs::newJavaString(env, target.get(), static_cast<size_t>(length));
}

} // namespace

extern "C" JNIEXPORT jobject JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nGetFileInfo(JNIEnv *env, jclass, jstring path,
                                                          jstring name, jint infoMask)
{
    const basefs::EntryPrologue<1> entry(env, {{path, "path"}, {name, "name"}});
    if (!entry.ok()) {
        return nullptr;
    }
    // Only the name's first character matters (the hidden test); reading it
    // alone spares converting the whole name.
    bool hidden = false;
    if (!readHidden(env, name, &hidden)) {
        return nullptr;
    }
    const char *nameStart = hidden ? "." : "";
    return GetFileInfoFromStat(env, entry.path(0).get(), name, nameStart, infoMask, JNI_TRUE);
}

extern "C" JNIEXPORT void JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nSetFileInfo(JNIEnv *env, jclass, jstring path,
                                                          jint infoMask, jlong modified,
                                                          jlong accessed, jlong /* created */,
                                                          jint attributes)
{
    const basefs::EntryPrologue<1> entry(env, {{path, "path"}});
    if (!entry.ok()) {
        return;
    }
    const char *pathChars = entry.path(0).get();
    // Times first; when they cannot be set the permissions are left alone.
    if ((infoMask & kTimeBits) != 0 && !setTimes(env, pathChars, infoMask, modified, accessed)) {
        return;
    }
    if ((infoMask & INFO_ATTRIBUTES) != 0 &&
        basefs::sys::chmod(pathChars, basefs::modeFromAttributes(attributes)) != 0) {
        throwExceptionFromErrNo(env, pathChars);
    }
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nReadSymbolicLink(JNIEnv *env, jclass, jstring path)
{
    const basefs::EntryPrologue<1> entry(env, {{path, "path"}});
    if (!entry.ok()) {
        return nullptr;
    }
    return readLinkTarget(env, entry.path(0).get());
}

extern "C" JNIEXPORT void JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nCreateSymbolicLink(JNIEnv *env, jclass,
                                                                 jstring linkPath,
                                                                 jstring targetPath)
{
    const basefs::EntryPrologue<2> entry(env, {{linkPath, "path to link"}, {targetPath, "path to target"}});
    if (!entry.ok()) {
        return;
    }
    const char *linkChars = entry.path(0).get();
    // The target is stored as given; it need not exist.
    if (basefs::sys::symlink(entry.path(1).get(), linkChars) != 0) {
        throwExceptionFromErrNo(env, linkChars);
    }
}
