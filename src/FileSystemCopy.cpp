// Copying a file: opening the pair and creating the destination, the
// file copied onto itself, the steps the monitor hears, and cutting the
// destination to what was copied. How the bytes move is CopyTransfer's.

#include "FileSystemCopy.h"

#include "CopyTransfer.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

static_assert(basefs::kCopyStepSize == com_quenvira_internal_io_BaseFileSystem_COPY_STEP_SIZE,
              "kCopyStepSize differs from its Java declaration");

namespace {

// ---- The pair of files -----------------------------------------------------


// Examines what opening `path` gave: `opened`, a descriptor, or -1 with errno
// set by the open. Returns the descriptor, or -1 with an IOException pending
// (and nothing left open).
int examineOpened(JNIEnv *env, int opened, const char *path, struct stat *st)
{
    basefs::UniqueFd fd(opened);
    if (fd.get() < 0 || basefs::sys::fstat(fd.get(), st) != 0) {
        throwExceptionFromErrNo(env, path);
        return -1;
    }
    return fd.release();
}

} // namespace

namespace basefs {

namespace {

// The open of an existing destination and the exclusive creation of a new one
// are tried this many times while a file appears and goes between them.
constexpr int kDestinationOpenAttempts = 2;

} // namespace

int openDestination(int directoryFd, const char *path, bool exclusive, mode_t mode, int extraFlags)
{
    const int write = O_WRONLY | O_CLOEXEC | extraFlags;
    const int create = write | O_CREAT | O_EXCL;
    if (exclusive) {
        return sys::openat(directoryFd, path, create, mode);
    }
    int fd = -1;
    for (int attempt = 0; attempt < kDestinationOpenAttempts; ++attempt) {
        fd = sys::openat(directoryFd, path, write);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        fd = sys::openat(directoryFd, path, create, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return fd;
}

} // namespace basefs

namespace {

bool isSameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the destination must be cut to the `copied` bytes once the copy has
// ended (never the source itself, which is not copied): only a regular file,
// and only when the copy changed it (an existing destination stays untouched
// when the first transfer failed) or copied the whole, possibly empty, source
// (`reachedEnd`: a transfer found its end; its reported size may be 0 with
// contents).
bool shouldCutDestination(const struct stat &destination, off_t copied, bool reachedEnd)
{
    return S_ISREG(destination.st_mode) && (copied > 0 || reachedEnd);
}

// Cuts the destination to `length` bytes. Throws an IOException for a failure
// unless an exception is already pending.
void cutDestination(JNIEnv *env, int destination, off_t length, const char *destinationPath)
{
    if (basefs::sys::ftruncate(destination, length) != 0) {
        throwExceptionFromErrNo(env, destinationPath);
    }
}

// ---- The steps and the monitor ----------------------------------------------

// What the monitor hears for a step that spanned `spanned` source bytes: the
// step size, also for a shorter last step; a step that ended at the end of a
// hole past its own end says the whole span, so that its holes, however
// large, cost one call and the reports still add up to the size.
jlong stepReport(off_t spanned)
{
    return static_cast<jlong>(std::max(spanned, basefs::kCopyStepSize));
}

// Tells the monitor that one step of `spanned` bytes is done. Returns false
// when the copy must stop: the monitor answered false, or its exception is
// pending.
bool reportStep(JNIEnv *env, jobject monitor, off_t spanned)
{
    const jboolean goOn = env->CallBooleanMethod(monitor, g_MethodMonitorProgressSync, stepReport(spanned));
    return !env->ExceptionCheck() && goOn == JNI_TRUE;
}

// Where a step that starts at `position` ends: one step size on, never past
// the largest offset.
off_t stepEndFrom(off_t position)
{
    return position + std::min(basefs::kCopyStepSize, basefs::kMaxOffset - position);
}

// Throws what ended a step with kFailed, unless an exception is pending.
void throwTransferFailure(JNIEnv *env, const basefs::CopyChannel &channel, const char *destinationPath)
{
    if (channel.outOfMemory) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for copy");
        return;
    }
    throwExceptionFromErrNo(env, destinationPath);
}

// Where a step of a file copied onto itself ends when a real copy's would be
// `stepEnd`: at the end of the hole that holds the step's last byte, as a
// copy that skips holes ends it. A failed lookup (no SEEK_DATA here) keeps
// the step as it is; no data left ends it at the size.
off_t ownStepEnd(int fd, off_t stepEnd, off_t size)
{
    const off_t nextData = basefs::sys::lseek(fd, stepEnd - 1, SEEK_DATA);
    if (nextData < 0) {
        return errno == ENXIO ? size : stepEnd;
    }
    return std::max(stepEnd, std::min(nextData, size));
}

// A file copied onto itself (the same path, a hard link, a symbolic link)
// already holds its contents: writing them again would only fill its holes.
// No byte moves, but the monitor hears the steps of a real copy, holes
// skipped alike, and may stop it. Returns the bytes "copied": the size, or
// those up to the stop.
off_t copyOntoItself(JNIEnv *env, int fd, const struct stat &st, jobject monitor)
{
    if (monitor == nullptr) {
        return st.st_size;
    }
    const bool holes = basefs::mayHaveHoles(st);
    off_t position = 0;
    while (position < st.st_size) {
        const off_t stepStart = position;
        position = std::min(stepEndFrom(stepStart), st.st_size);
        if (holes && position < st.st_size) {
            position = ownStepEnd(fd, position, st.st_size);
        }
        if (!reportStep(env, monitor, position - stepStart)) {
            break;
        }
    }
    return position;
}

// Copies the source from its start to its end: until a transfer moves nothing,
// a hole reaches the end, a transfer fails, or the monitor stops the copy.
// With a monitor the source goes in 1 MiB steps, each reported once something
// of it was copied, a step ending inside a hole going on to the hole's end;
// without one each transfer asks for all that is left. Returns the source
// bytes copied, holes included, and sets *reachedEnd when the copy found the
// end; an exception for a failed transfer or the monitor's exception may be
// pending.
off_t copyContents(JNIEnv *env, basefs::CopyChannel &channel, basefs::SourceRegions &regions, jobject monitor,
                   const char *destinationPath, bool *reachedEnd)
{
    off_t position = 0;
    *reachedEnd = false;
    for (;;) {
        const off_t stepStart = position;
        const basefs::StepLimit stepEnd = monitor != nullptr ? basefs::StepLimit(stepEndFrom(stepStart))
                                                             : basefs::kNoStepEnd;
        const basefs::StepEnd end = basefs::copyStep(channel, regions, stepEnd, &position);
        if (end == basefs::StepEnd::kFailed) {
            throwTransferFailure(env, channel, destinationPath);
            break;
        }
        if (monitor != nullptr && position > stepStart && !reportStep(env, monitor, position - stepStart)) {
            break;
        }
        if (end == basefs::StepEnd::kEndOfSource) {
            *reachedEnd = true;
            break;
        }
    }
    return position;
}

} // namespace

namespace basefs {

jlong copyOpenFiles(JNIEnv *env, int source, const struct stat &sourceStat, int destination,
                    const struct stat &destinationStat, jobject monitor, const char *destinationPath)
{
    if (isSameFile(sourceStat, destinationStat)) {
        return copyOntoItself(env, source, sourceStat, monitor);
    }
    CopyChannel channel(kSystemTransferCalls, destination, source, firstMethod(sourceStat, destinationStat));
    SourceRegions regions = findRegions(channel, sourceStat, destinationStat);
    bool reachedEnd = false;
    const off_t copied = copyContents(env, channel, regions, monitor, destinationPath, &reachedEnd);
    if (shouldCutDestination(destinationStat, copied, reachedEnd)) {
        cutDestination(env, destination, copied, destinationPath);
    }
    return copied;
}

} // namespace basefs

extern "C" JNIEXPORT jlong JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(JNIEnv *env, jclass, jstring src,
                                                               jstring dst, jint copyFlags,
                                                               jobject monitor)
{
    const basefs::EntryPrologue<2> entry(env, {{src, "src path"}, {dst, "dst path"}},
                                          {monitor, &g_ClassMonitorSync});
    if (!entry.ok()) {
        return 0;
    }
    const basefs::JavaPath &srcChars = entry.path(0);
    const basefs::JavaPath &dstChars = entry.path(1);

    struct stat sourceStat;
    basefs::UniqueFd source(
        examineOpened(env, basefs::sys::open(srcChars.get(), O_RDONLY | O_CLOEXEC), srcChars.get(), &sourceStat));
    if (source.get() < 0) {
        return 0;
    }
    // A directory opens for reading but has no contents to copy. Refused with
    // EINVAL, as sendfile refused it, before a destination exists.
    if (S_ISDIR(sourceStat.st_mode)) {
        throwExceptionFromError(env, EINVAL, srcChars.get());
        return 0;
    }

    const bool exclusive = (copyFlags & COPY_EXCLUSIVE) != 0;
    struct stat destinationStat;
    const mode_t mode = sourceStat.st_mode & basefs::kModePermissionMask;
    basefs::UniqueFd destination(examineOpened(
        env, basefs::openDestination(AT_FDCWD, dstChars.get(), exclusive, mode, 0), dstChars.get(), &destinationStat));
    if (destination.get() < 0) {
        return 0;
    }

    return basefs::copyOpenFiles(env, source.get(), sourceStat, destination.get(), destinationStat, monitor,
                                 dstChars.get());
}
