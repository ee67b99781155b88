// The transfer strategies of a copy over the seam of CopyTransfer.h: the
// method chain with its fallbacks, the read/write loop, and the walk over the
// data regions of a sparse source.

#include "CopyTransfer.h"

#include "SystemCalls.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace basefs {

const TransferCalls kSystemTransferCalls = {
    sys::copyFileRange, sys::sendfile, sys::read, sys::write, sys::lseek,
};

namespace {

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
    const ssize_t got = channel.calls.read(channel.source, buffer, std::min(count, kReadWriteBufferSize));
    if (got <= 0) {
        return got;
    }
    ssize_t written = 0;
    while (written < got) {
        const ssize_t wrote =
            channel.calls.write(channel.destination, buffer + written, static_cast<size_t>(got - written));
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

// One call of the channel's current method.
ssize_t transferOnce(CopyChannel &channel, size_t count)
{
    switch (channel.method) {
    case TransferMethod::kCopyFileRange:
        return channel.calls.copyFileRange(channel.source, channel.destination, count);
    case TransferMethod::kSendfile:
        return channel.calls.sendfile(channel.destination, channel.source, count);
    case TransferMethod::kReadWrite:
        break;
    }
    return readWrite(channel, count);
}

} // namespace

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

TransferMethod firstMethod(const struct stat &source, const struct stat &destination)
{
    return S_ISREG(source.st_mode) && S_ISREG(destination.st_mode) && source.st_size > 0
               ? TransferMethod::kCopyFileRange
               : TransferMethod::kSendfile;
}

bool mayHaveHoles(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_blocks * kStatBlockUnit < st.st_size;
}

// Holes are kept only from a regular source that has some (fewer blocks than
// its size needs, and a hole before its end) into an empty regular file:
// holes skipped in a longer destination would keep its old bytes, and other
// destinations cannot seek. The hole test moves the source's position, which
// is put back to its start.
SourceRegions findRegions(const CopyChannel &channel, const struct stat &sourceStat,
                          const struct stat &destinationStat)
{
    SourceRegions regions{false, sourceStat.st_size, 0, 0, false, false};
    if (!mayHaveHoles(sourceStat) || !S_ISREG(destinationStat.st_mode) || destinationStat.st_size != 0) {
        return regions;
    }
    // A file system without SEEK_HOLE answers EINVAL: the copy is dense.
    const off_t firstHole = channel.calls.lseek(channel.source, 0, SEEK_HOLE);
    if (firstHole < 0) {
        return regions;
    }
    // Seeking a regular file to its start cannot fail.
    static_cast<void>(channel.calls.lseek(channel.source, 0, SEEK_SET));
    regions.sparse = firstHole < sourceStat.st_size;
    regions.dataEnd = regions.sparse ? firstHole : 0;
    return regions;
}

namespace {

// Looks up the data region at or after `position` (below the reported size).
// With no data left the rest is one hole up to the reported size. Returns
// false with errno set when the lookup fails.
bool findNextRegion(const CopyChannel &channel, off_t position, SourceRegions *regions)
{
    const off_t dataStart = channel.calls.lseek(channel.source, position, SEEK_DATA);
    if (dataStart < 0) {
        if (errno != ENXIO) {
            return false;
        }
        regions->dataStart = regions->size;
        regions->dataEnd = regions->size;
        regions->noDataLeft = true;
        return true;
    }
    const off_t dataEnd = channel.calls.lseek(channel.source, dataStart, SEEK_HOLE);
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
    return channel.calls.lseek(channel.source, position, SEEK_SET) == position &&
           channel.calls.lseek(channel.destination, position, SEEK_SET) == position;
}

} // namespace

size_t requestSize(off_t position, StepLimit limit, off_t reportedSize)
{
    // position + count past kMaxOffset is refused with EINVAL.
    const off_t room = kMaxOffset - position;
    off_t wanted = static_cast<off_t>(kMaxTransferSize);
    if (limit.has_value()) {
        wanted = *limit - position;
    } else if (position < reportedSize) {
        wanted = reportedSize - position;
    }
    return static_cast<size_t>(std::min(wanted, room));
}

StepEnd copyStep(CopyChannel &channel, SourceRegions &regions, StepLimit stepEnd, off_t *position)
{
    for (;;) {
        // No file reaches past the largest offset: nothing more can be asked.
        if (*position == kMaxOffset) {
            return StepEnd::kEndOfSource;
        }
        if (stepEnd.has_value() && *position >= *stepEnd) {
            return StepEnd::kComplete;
        }
        StepLimit limit = stepEnd;
        if (regions.sparse && *position < regions.size) {
            if (*position >= regions.dataEnd && !findNextRegion(channel, *position, &regions)) {
                return StepEnd::kFailed;
            }
            if (*position < regions.dataStart) {
                // The whole hole, also past the step's end: a step never ends inside one.
                *position = regions.dataStart;
                regions.seekPending = true;
                if (regions.noDataLeft) {
                    return StepEnd::kEndOfSource;
                }
                continue;
            }
            limit = stepEnd.has_value() ? std::min(*stepEnd, regions.dataEnd) : regions.dataEnd;
            if (*limit <= *position) {
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
}

} // namespace basefs
