// File content operations: copying to the end of the source with progress
// (copy_file_range, sendfile or read/write; holes kept), and byte-by-byte
// comparison.

#include "FileSystemInternal.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 1 MiB steps give the monitor a chance to stop a long copy.
constexpr off_t kCopyStepSize = 1024 * 1024;
// The read/write method moves one step per read, as the others do per call.
constexpr size_t kReadWriteBufferSize = static_cast<size_t>(kCopyStepSize);
// The most one sendfile or copy_file_range call moves on Linux (MAX_RW_COUNT).
constexpr size_t kMaxTransferSize = 0x7ffff000;
// The part of the source's mode a new destination inherits, as cp gives it:
// the nine permission bits, never set-user-ID, set-group-ID or sticky (a
// set-ID program copied by root would run as root for whoever may start it).
constexpr mode_t kModePermissionMask = 0777;
constexpr size_t kCompareBlockSize = 64 * 1024;

// ---- Copy: the destination -------------------------------------------------

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
    if (basefs::restartable([&] { return ftruncate(destination, length); }) != 0) {
        throwExceptionFromErrNo(env, destinationPath);
    }
}

// ---- Copy: the transfer seam -------------------------------------------------
//
// Everything that decides how bytes move lives here: which transfer method a
// pair of files allows, and which parts of a sparse source hold data. The
// copy loop below only asks for the next step of the source.

// Ways of moving bytes from the source's file position to the destination's,
// best first. The first transfer picks one; once a byte has moved it is kept.
enum class TransferMethod {
    kCopyFileRange, // the file system's own copy: a reflink, a server-side or an in-kernel copy
    kSendfile,      // in the kernel through the page cache
    kReadWrite,     // through a buffer of this process: any file that reads and writes
};

// The open pair of one copy and the method that moves its bytes.
struct CopyChannel : basefs::NonCopyable {
    CopyChannel(int destinationFd, int sourceFd, TransferMethod first)
        : destination(destinationFd), source(sourceFd), method(first) {}

    int destination;
    int source;
    TransferMethod method;
    bool settled = false;               // a byte has moved: no more falling back
    basefs::HeapBuffer<char> buffer{0}; // read/write only, made at its first use
    bool outOfMemory = false;           // the read/write buffer could not be made
    int deferredError = 0;              // a write failed after part of its bytes moved
};

// copy_file_range refusing a pair, as kernels answer: ENOSYS before Linux 4.5
// or under a seccomp filter, EPERM under older container seccomp profiles,
// EXDEV across file systems (before 5.3, and again from 5.19 unless the file
// system copies between its own instances), EINVAL for files that are not
// regular or for overlapping ranges of one file, EOPNOTSUPP where the file
// system declines; EBADF and ETXTBSY as coreutils' cp also reads them, and
// the kernel-internal ENOTSUPP (524) that NFS leaked on some 5.x kernels.
bool copyFileRangeRefused(int error)
{
    constexpr int kKernelNotSupported = 524;
    return error == ENOSYS || error == EPERM || error == EXDEV || error == EINVAL ||
           error == EOPNOTSUPP || error == EBADF || error == ETXTBSY || error == kKernelNotSupported;
}

// Whether the result of a first transfer (nothing moved yet) means that its
// method does not serve this pair: an error the method answers for files it
// cannot handle, or copy_file_range moving nothing where data was expected
// (kernels 5.3 to 5.18 answered 0 for pseudo-files whatever their contents).
bool methodRefused(TransferMethod method, ssize_t moved, int error)
{
    switch (method) {
    case TransferMethod::kCopyFileRange:
        return moved == 0 || copyFileRangeRefused(error);
    case TransferMethod::kSendfile:
        // Sources without a page-cache read (/proc/self/status) and destinations
        // without a splice write (/dev/full, /dev/kmsg, /proc/sys) answer EINVAL.
        return moved < 0 && (error == EINVAL || error == ENOSYS);
    case TransferMethod::kReadWrite:
        break;
    }
    return false;
}

TransferMethod nextMethod(TransferMethod method)
{
    return method == TransferMethod::kCopyFileRange ? TransferMethod::kSendfile
                                                    : TransferMethod::kReadWrite;
}

// Reads up to `count` bytes into the channel's buffer and writes all that was
// read. A write that fails after part of the bytes moved returns that part and
// leaves its error in channel.deferredError. Returns the bytes moved, 0 at the
// end of the source, or -1 with errno set.
ssize_t readWrite(CopyChannel &channel, size_t count)
{
    if (channel.buffer.get() == nullptr) {
        channel.buffer.reset(kReadWriteBufferSize);
        if (channel.buffer.get() == nullptr) {
            channel.outOfMemory = true;
            errno = ENOMEM;
            return -1;
        }
    }
    char *const buffer = channel.buffer.get();
    const ssize_t got = basefs::restartable(
        [&] { return read(channel.source, buffer, std::min(count, kReadWriteBufferSize)); });
    if (got <= 0) {
        return got;
    }
    ssize_t written = 0;
    while (written < got) {
        const ssize_t wrote = basefs::restartable(
            [&] { return write(channel.destination, buffer + written, static_cast<size_t>(got - written)); });
        if (wrote <= 0) {
            // A device that takes nothing more and says nothing is full.
            const int error = wrote < 0 ? errno : ENOSPC;
            if (written == 0) {
                errno = error;
                return -1;
            }
            channel.deferredError = error;
            break;
        }
        written += wrote;
    }
    return written;
}

// One call of the channel's current method; each repeats on EINTR.
ssize_t transferOnce(CopyChannel &channel, size_t count)
{
    switch (channel.method) {
    case TransferMethod::kCopyFileRange:
        return basefs::restartable(
            [&] { return basefs::sys::copyFileRange(channel.source, channel.destination, count); });
    case TransferMethod::kSendfile:
        // Null offset: both file positions, as the other methods use them.
        return basefs::restartable([&] { return sendfile(channel.destination, channel.source, nullptr, count); });
    case TransferMethod::kReadWrite:
        break;
    }
    return readWrite(channel, count);
}

// Moves up to `count` bytes from the source's file position to the
// destination's. Until a byte has moved, a method the kernel refuses for this
// pair gives way to the next one. Returns the bytes moved, 0 at the end of the
// source, or -1 with errno set.
ssize_t transfer(CopyChannel &channel, size_t count)
{
    for (;;) {
        const ssize_t moved = transferOnce(channel, count);
        const int error = errno;
        if (moved > 0) {
            channel.settled = true;
            return moved;
        }
        if (channel.settled || !methodRefused(channel.method, moved, error)) {
            errno = error;
            return moved;
        }
        channel.method = nextMethod(channel.method);
    }
}

// The best method worth trying first: copy_file_range works between regular
// files only, and a reported size of 0 may hide contents it would not see.
TransferMethod firstMethod(const struct stat &source, const struct stat &destination)
{
    return S_ISREG(source.st_mode) && S_ISREG(destination.st_mode) && source.st_size > 0
               ? TransferMethod::kCopyFileRange
               : TransferMethod::kSendfile;
}

// Where the source's data lies. A sparse source is copied region by region
// and its holes are skipped in the destination, below its reported size;
// from there on, and for any other source, the copy is dense.
struct SourceRegions {
    bool sparse;
    off_t size;       // the reported size
    off_t dataStart;  // the data region [dataStart, dataEnd) at or after the position
    off_t dataEnd;
    bool seekPending; // a hole was skipped: both file positions are behind
};

// Holes are kept only from a regular source that has some (fewer blocks than
// its size needs, and a hole before its end) into an empty regular file:
// holes skipped in a longer destination would keep its old bytes, and other
// destinations cannot seek. The source itself is never a destination here:
// a file copied onto itself is not copied. The test moves the
// source's position, which is put back to its start.
SourceRegions findRegions(int source, const struct stat &sourceStat, const struct stat &destinationStat)
{
    constexpr off_t kBlockUnit = 512; // st_blocks counts 512-byte units
    SourceRegions regions{false, sourceStat.st_size, 0, 0, false};
    if (!S_ISREG(sourceStat.st_mode) || !S_ISREG(destinationStat.st_mode) || destinationStat.st_size != 0 ||
        sourceStat.st_blocks * kBlockUnit >= sourceStat.st_size) {
        return regions;
    }
    // A file system without SEEK_HOLE answers EINVAL: the copy is dense.
    const off_t firstHole = lseek(source, 0, SEEK_HOLE);
    if (firstHole < 0) {
        return regions;
    }
    // Seeking a regular file to its start cannot fail.
    static_cast<void>(lseek(source, 0, SEEK_SET));
    regions.sparse = firstHole < sourceStat.st_size;
    regions.dataEnd = regions.sparse ? firstHole : 0;
    return regions;
}

// Looks up the data region at or after `position` (below the reported size).
// With no data left the rest is one hole up to the reported size. Returns
// false with errno set when the lookup fails.
bool findNextRegion(int source, off_t position, SourceRegions *regions)
{
    const off_t dataStart = lseek(source, position, SEEK_DATA);
    if (dataStart < 0) {
        if (errno != ENXIO) {
            return false;
        }
        regions->dataStart = regions->size;
        regions->dataEnd = regions->size;
        return true;
    }
    const off_t dataEnd = lseek(source, dataStart, SEEK_HOLE);
    if (dataEnd < 0) {
        return false;
    }
    regions->dataStart = dataStart;
    regions->dataEnd = dataEnd;
    return true;
}

// Puts both file positions at `position`, after a skipped hole.
bool seekBoth(const CopyChannel &channel, off_t position)
{
    return lseek(channel.source, position, SEEK_SET) == position &&
           lseek(channel.destination, position, SEEK_SET) == position;
}

enum class StepEnd {
    kComplete,    // the step reached its end
    kEndOfSource, // a transfer moved nothing: the source ended
    kFailed,      // errno set, or the channel's outOfMemory
};

constexpr off_t kNoStepEnd = std::numeric_limits<off_t>::max();

// The bytes one transfer asks for on the way to `limit` (kNoStepEnd: as many
// as are left). The reported size sizes a request until the copy reaches it;
// past it (a pseudo-file, a device, a FIFO, a source that grew) the most one
// call moves.
size_t requestSize(off_t position, off_t limit, off_t reportedSize)
{
    if (limit != kNoStepEnd) {
        return static_cast<size_t>(limit - position);
    }
    return position < reportedSize ? static_cast<size_t>(reportedSize - position) : kMaxTransferSize;
}

// Copies the source from *position up to `stepEnd`: data regions through the
// channel, holes skipped. Ends early at the end of the source or at a failure;
// *position follows the source bytes copied, holes included.
StepEnd copyStep(CopyChannel &channel, SourceRegions &regions, off_t stepEnd, off_t *position)
{
    while (*position < stepEnd) {
        off_t limit = stepEnd;
        if (regions.sparse && *position < regions.size) {
            if (*position >= regions.dataEnd && !findNextRegion(channel.source, *position, &regions)) {
                return StepEnd::kFailed;
            }
            if (*position < regions.dataStart) {
                *position = std::min(regions.dataStart, stepEnd);
                regions.seekPending = true;
                continue;
            }
            limit = std::min(stepEnd, regions.dataEnd);
            if (limit <= *position) {
                // The source changed under the lookups: dense from here.
                regions.sparse = false;
                continue;
            }
        }
        if (regions.seekPending) {
            if (!seekBoth(channel, *position)) {
                return StepEnd::kFailed;
            }
            regions.seekPending = false;
        }
        const ssize_t moved = transfer(channel, requestSize(*position, limit, regions.size));
        if (moved < 0) {
            return StepEnd::kFailed;
        }
        if (moved == 0) {
            return StepEnd::kEndOfSource;
        }
        *position += moved;
        if (channel.deferredError != 0) {
            errno = channel.deferredError;
            return StepEnd::kFailed;
        }
    }
    return StepEnd::kComplete;
}

// ---- Copy --------------------------------------------------------------------

// Tells the monitor that one step is done. Returns false when the copy must
// stop: the monitor answered false, or its exception is pending.
bool reportStep(JNIEnv *env, jobject monitor)
{
    // The step size is reported, also for a shorter last step.
    const jboolean goOn = env->CallBooleanMethod(monitor, g_MethodMonitorProgressSync,
                                                 static_cast<jlong>(kCopyStepSize));
    return !env->ExceptionCheck() && goOn == JNI_TRUE;
}

// Throws what ended a step with kFailed, unless an exception is pending.
void throwTransferFailure(JNIEnv *env, const CopyChannel &channel, const char *destinationPath)
{
    if (channel.outOfMemory) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for copy");
        return;
    }
    throwExceptionFromErrNo(env, destinationPath);
}

// A file copied onto itself (the same path, a hard link, a symbolic link)
// already holds its contents: writing them again would only fill its holes.
// No byte moves, but the monitor hears the steps of a real copy and may stop
// it. Returns the bytes "copied": the size, or those up to the stop.
off_t copyOntoItself(JNIEnv *env, off_t size, jobject monitor)
{
    if (monitor == nullptr) {
        return size;
    }
    off_t position = 0;
    while (position < size) {
        position += std::min(kCopyStepSize, size - position);
        if (!reportStep(env, monitor)) {
            break;
        }
    }
    return position;
}

// Copies the source from its start to its end: until a transfer moves nothing,
// a transfer fails, or the monitor stops the copy. With a monitor the source
// goes in 1 MiB steps, holes included, each reported once something of it was
// copied; without one each transfer asks for all that is left. Returns the
// source bytes copied, holes included, and sets *reachedEnd when a transfer
// found the end; an exception for a failed transfer or the monitor's exception
// may be pending.
off_t copyContents(JNIEnv *env, CopyChannel &channel, SourceRegions &regions, jobject monitor,
                   const char *destinationPath, bool *reachedEnd)
{
    off_t position = 0;
    *reachedEnd = false;
    for (;;) {
        const off_t stepStart = position;
        const off_t stepEnd = monitor != nullptr ? stepStart + kCopyStepSize : kNoStepEnd;
        const StepEnd end = copyStep(channel, regions, stepEnd, &position);
        if (end == StepEnd::kFailed) {
            throwTransferFailure(env, channel, destinationPath);
            break;
        }
        if (monitor != nullptr && position > stepStart && !reportStep(env, monitor)) {
            break;
        }
        if (end == StepEnd::kEndOfSource) {
            *reachedEnd = true;
            break;
        }
    }
    return position;
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
    // EINVAL, as sendfile refused it, before a destination exists.
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

    if (isSameFile(sourceStat, destinationStat)) {
        return copyOntoItself(env, sourceStat.st_size, monitor);
    }
    CopyChannel channel(destination.get(), source.get(), firstMethod(sourceStat, destinationStat));
    SourceRegions regions = findRegions(source.get(), sourceStat, destinationStat);
    bool reachedEnd = false;
    const off_t copied = copyContents(env, channel, regions, monitor, dstChars.get(), &reachedEnd);
    if (shouldCutDestination(destinationStat, copied, reachedEnd)) {
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

    // On the heap: 128 KiB in this frame could run past the end of a deep Java
    // thread's stack. One block each, not one allocation of both: 128 KiB is
    // glibc's mmap threshold, so until the threshold has risen every call got
    // a fresh mapping (32 zero-filled pages to fault in, a munmap, and blocks
    // 16 bytes past a page boundary, a placement a C probe read about 8 %
    // slower into); 64 KiB blocks come from the arena, placed and reused as
    // the C loop's are.
    basefs::HeapBuffer<unsigned char> block1(kCompareBlockSize);
    basefs::HeapBuffer<unsigned char> block2(kCompareBlockSize);
    if (block1.get() == nullptr || block2.get() == nullptr) {
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

    const CompareInput input1{stream1.get(), file1Chars.get(), block1.get()};
    const CompareInput input2{stream2.get(), file2Chars.get(), block2.get()};
    return compareStreams(env, input1, input2, monitor) ? JNI_TRUE : JNI_FALSE;
}
