// File content operations: copying in the kernel with progress, and
// byte-by-byte comparison.

#include "FileSystemInternal.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>

namespace {

// 1 MiB steps give the monitor a chance to stop a long copy.
constexpr off_t kCopyStepSize = 1024 * 1024;
// Permission bits of a mode: the part a new destination inherits from the source.
constexpr mode_t kModePermissionMask = 07777;
constexpr size_t kCompareBlockSize = 64 * 1024;

// ---- Copy -----------------------------------------------------------------

// Moves up to `count` source bytes from *offset to the destination's file
// position and advances *offset; repeated when a signal interrupts it.
// Returns sendfile's result: the bytes moved, or -1 with errno set.
ssize_t transfer(int destination, int source, off_t *offset, off_t count)
{
    return basefs::restartable(
        [&] { return sendfile(destination, source, offset, static_cast<size_t>(count)); });
}

// Tells the monitor that one step is done. Returns false when the copy must
// stop: the monitor answered false, or its exception is pending.
bool reportStep(JNIEnv *env, jobject monitor)
{
    // The step size is reported, also for a shorter last step.
    const jboolean goOn = env->CallBooleanMethod(monitor, g_MethodMonitorProgressSync,
                                                 static_cast<jlong>(kCopyStepSize));
    return !env->ExceptionCheck() && goOn == JNI_TRUE;
}

// Copies the source from its start until `size` bytes are copied, a transfer
// fails or moves nothing (the source shrank), or the monitor stops the copy.
// Without a monitor each transfer asks for all the remaining bytes: the kernel
// moves at most about 2 GiB per call. Returns the bytes copied; an IOException
// for a failed transfer or the monitor's exception may be pending.
off_t copyContents(JNIEnv *env, int destination, int source, off_t size, jobject monitor,
                   const char *destinationPath)
{
    off_t offset = 0;
    while (offset < size) {
        const off_t remaining = size - offset;
        const off_t count = monitor != nullptr ? std::min(remaining, kCopyStepSize) : remaining;
        const ssize_t moved = transfer(destination, source, &offset, count);
        if (moved < 0) {
            throwExceptionFromErrNo(env, destinationPath);
            break;
        }
        if (moved == 0) {
            break;
        }
        if (monitor != nullptr && !reportStep(env, monitor)) {
            break;
        }
    }
    return offset;
}

bool isSameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the destination must be cut to the `copied` bytes once the copy has
// ended: only a regular file other than the source, and only when the copy
// changed it (an existing destination stays untouched when the first transfer
// failed) or copied the whole, possibly empty, source.
bool shouldCutDestination(const struct stat &source, const struct stat &destination,
                          off_t copied)
{
    return S_ISREG(destination.st_mode) && !isSameFile(source, destination) &&
           (copied > 0 || copied == source.st_size);
}

// Cuts the destination to `length` bytes. Throws an IOException for a failure
// unless an exception is already pending.
void cutDestination(JNIEnv *env, int destination, off_t length, const char *destinationPath)
{
    if (basefs::restartable([&] { return ftruncate(destination, length); }) != 0) {
        throwExceptionFromErrNo(env, destinationPath);
    }
}

// ---- Compare --------------------------------------------------------------

// One of the two files being compared: its stream, its path for error
// messages, and the buffer for its current block.
struct CompareInput {
    FILE *stream;
    const char *path;
    unsigned char *block;
};

// How reading one pair of blocks ended.
enum class BlockRead {
    kFailed,   // the answer is false: lengths differ, or a read error was thrown
    kMore,     // equal lengths, and both files may have more after them
    kLast,     // equal lengths, and these are the last blocks of both files
};

size_t readBlock(const CompareInput &input)
{
    return std::fread(input.block, 1, kCompareBlockSize, input.stream);
}

// Whether a short read ended in an error rather than at end of file; end of
// file is tested first. Throws the read error (errno of the failed read) when
// it did.
bool throwIfReadFailed(JNIEnv *env, const CompareInput &input)
{
    if (std::feof(input.stream) || !std::ferror(input.stream)) {
        return false;
    }
    throwExceptionFromErrNo(env, input.path);
    return true;
}

// Reads the next block of each file, *count receiving the length of file 1's.
// Returns kFailed without reading file 2 when file 1's read fails, and when
// the two lengths differ (a file that is a prefix of the other).
BlockRead readBlocks(JNIEnv *env, const CompareInput &file1, const CompareInput &file2,
                     size_t *count)
{
    const size_t count1 = readBlock(file1);
    *count = count1;
    if (count1 == kCompareBlockSize) {
        const size_t count2 = readBlock(file2);
        if (count2 != kCompareBlockSize) {
            throwIfReadFailed(env, file2);
            return BlockRead::kFailed;
        }
        return BlockRead::kMore;
    }

    if (throwIfReadFailed(env, file1)) {
        return BlockRead::kFailed;
    }
    const bool moreInFile1 = !std::feof(file1.stream);
    const size_t count2 = readBlock(file2);
    if (count2 == kCompareBlockSize) {
        return BlockRead::kFailed; // file 2 is longer
    }
    if (std::feof(file2.stream)) {
        if (count2 != count1) {
            return BlockRead::kFailed;
        }
        return BlockRead::kLast;
    }
    if (throwIfReadFailed(env, file2) || count2 != count1) {
        return BlockRead::kFailed;
    }
    return moreInFile1 ? BlockRead::kMore : BlockRead::kLast;
}

// Asks the monitor whether to stop. Returns true when the comparison must end:
// the monitor cancelled it, or its exception is pending.
bool isCanceled(JNIEnv *env, jobject monitor)
{
    const jboolean canceled = env->CallBooleanMethod(monitor, g_MethodMonitorCancel);
    return env->ExceptionCheck() || canceled == JNI_TRUE;
}

// Compares the two open files block by block. True only for identical
// contents; false for a difference, a cancellation, a read error or the
// monitor's exception (both pending).
bool compareStreams(JNIEnv *env, const CompareInput &file1, const CompareInput &file2,
                    jobject monitor)
{
    for (;;) {
        size_t count = 0;
        const BlockRead read = readBlocks(env, file1, file2, &count);
        if (read == BlockRead::kFailed) {
            return false;
        }
        const bool equal = std::memcmp(file1.block, file2.block, count) == 0;
        if (monitor != nullptr && isCanceled(env, monitor)) {
            return false;
        }
        if (!equal) {
            return false;
        }
        if (read == BlockRead::kLast) {
            return true;
        }
    }
}

} // namespace

extern "C" JNIEXPORT jlong JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(JNIEnv *env, jclass, jstring src,
                                                               jstring dst, jint copyFlags,
                                                               jobject monitor)
{
    if (!basefs::ensureInitialized(env)) {
        return 0;
    }
    if (src == nullptr) {
        JNU_ThrowNullPointerException(env, "src path");
        return 0;
    }
    if (dst == nullptr) {
        JNU_ThrowNullPointerException(env, "dst path");
        return 0;
    }
    if (!basefs::checkMonitor(env, monitor, g_ClassMonitorSync)) {
        return 0;
    }
    basefs::JavaPath srcChars(env, src);
    if (srcChars.get() == nullptr) {
        return 0;
    }
    basefs::JavaPath dstChars(env, dst);
    if (dstChars.get() == nullptr) {
        return 0;
    }

    basefs::UniqueFd source(basefs::restartable(
        [&] { return open(srcChars.get(), O_RDONLY | O_CLOEXEC); }));
    if (source.get() < 0) {
        throwExceptionFromErrNo(env, srcChars.get());
        return 0;
    }
    struct stat sourceStat;
    if (basefs::sys::fstat(source.get(), &sourceStat) != 0) {
        throwExceptionFromErrNo(env, srcChars.get());
        return 0;
    }
    // A directory opens for reading but has no contents to copy. Refused with
    // the error its first transfer would give, before a destination exists,
    // and also where its reported size is 0 (/proc) and no transfer would run.
    if (S_ISDIR(sourceStat.st_mode)) {
        throwExceptionFromError(env, EINVAL, srcChars.get());
        return 0;
    }

    const int exclusive = (copyFlags & COPY_EXCLUSIVE) != 0 ? O_EXCL : 0;
    basefs::UniqueFd destination(basefs::restartable([&] {
        return open(dstChars.get(), O_WRONLY | O_CREAT | O_CLOEXEC | exclusive,
                    sourceStat.st_mode & kModePermissionMask);
    }));
    if (destination.get() < 0) {
        throwExceptionFromErrNo(env, dstChars.get());
        return 0;
    }
    struct stat destinationStat;
    if (basefs::sys::fstat(destination.get(), &destinationStat) != 0) {
        throwExceptionFromErrNo(env, dstChars.get());
        return 0;
    }

    const off_t copied = copyContents(env, destination.get(), source.get(), sourceStat.st_size,
                                      monitor, dstChars.get());
    if (shouldCutDestination(sourceStat, destinationStat, copied)) {
        cutDestination(env, destination.get(), copied, dstChars.get());
    }
    return copied;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(JNIEnv *env, jclass, jstring file1,
                                                                jstring file2, jobject monitor)
{
    if (!basefs::ensureInitialized(env)) {
        return JNI_FALSE;
    }
    if (file1 == nullptr) {
        JNU_ThrowNullPointerException(env, "file1");
        return JNI_FALSE;
    }
    if (file2 == nullptr) {
        JNU_ThrowNullPointerException(env, "file2");
        return JNI_FALSE;
    }
    if (!basefs::checkMonitor(env, monitor, g_ClassMonitorOrg)) {
        return JNI_FALSE;
    }
    basefs::JavaPath file1Chars(env, file1);
    if (file1Chars.get() == nullptr) {
        return JNI_FALSE;
    }
    basefs::JavaPath file2Chars(env, file2);
    if (file2Chars.get() == nullptr) {
        return JNI_FALSE;
    }

    // Both blocks in one allocation: 128 KiB in this frame could run past the
    // end of a deep Java thread's stack.
    basefs::HeapBuffer<unsigned char> blocks(2 * kCompareBlockSize);
    if (blocks.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffers for comparison");
        return JNI_FALSE;
    }

    // "e": close-on-exec, so a process started meanwhile inherits no stream.
    basefs::UniqueFile stream1(std::fopen(file1Chars.get(), "re"));
    if (stream1.get() == nullptr) {
        throwExceptionFromErrNo(env, file1Chars.get());
        return JNI_FALSE;
    }
    basefs::UniqueFile stream2(std::fopen(file2Chars.get(), "re"));
    if (stream2.get() == nullptr) {
        throwExceptionFromErrNo(env, file2Chars.get());
        return JNI_FALSE;
    }

    const CompareInput input1{stream1.get(), file1Chars.get(), blocks.get()};
    const CompareInput input2{stream2.get(), file2Chars.get(), blocks.get() + kCompareBlockSize};
    return compareStreams(env, input1, input2, monitor) ? JNI_TRUE : JNI_FALSE;
}
