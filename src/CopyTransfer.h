// How a copy moves its bytes, without JNI: the transfer seam (the table of
// calls the strategies make, filled with the real calls in production and
// directly by tests), the choice of transfer method and its fallbacks, the
// data regions of a sparse source, and one step of the copy over them.
#ifndef BASEFS_COPY_TRANSFER_H
#define BASEFS_COPY_TRANSFER_H

#include "Holders.h"

#include <cstddef>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

namespace basefs {

// 1 MiB steps give the monitor a chance to stop a long copy.
inline constexpr off_t kCopyStepSize = 1024 * 1024;
// The read/write method moves one step per read, as the others do per call.
inline constexpr size_t kReadWriteBufferSize = static_cast<size_t>(kCopyStepSize);
// The most one sendfile or copy_file_range call moves on Linux (MAX_RW_COUNT).
inline constexpr size_t kMaxTransferSize = 0x7ffff000;
// st_blocks counts units of this many bytes.
inline constexpr off_t kStatBlockUnit = 512;
// The largest file offset: the kernel refuses a transfer whose end would pass it.
inline constexpr off_t kMaxOffset = std::numeric_limits<off_t>::max();

// The calls the transfer strategies make, each as its namesake in
// SystemCalls.h does it: the result, or -1 with errno set; an interrupted
// call is already repeated.
struct TransferCalls {
    ssize_t (*copyFileRange)(int sourceFd, int destinationFd, size_t count);
    ssize_t (*sendfile)(int destinationFd, int sourceFd, size_t count);
    ssize_t (*read)(int fd, void *buffer, size_t count);
    ssize_t (*write)(int fd, const void *buffer, size_t count);
    off_t (*lseek)(int fd, off_t offset, int whence);
};

// The C library's calls: what every copy of the library uses.
extern const TransferCalls kSystemTransferCalls;

// Ways of moving bytes from the source's file position to the destination's,
// best first. The first transfer picks one; once a byte has moved it is kept.
enum class TransferMethod {
    kCopyFileRange, // the file system's own copy: a reflink, a server-side or an in-kernel copy
    kSendfile,      // in the kernel through the page cache
    kReadWrite,     // through a buffer of this process: any file that reads and writes
};

// The open pair of one copy, the calls that move its bytes and the method
// in use.
struct CopyChannel : NonCopyable {
    CopyChannel(const TransferCalls &transferCalls, int destinationFd, int sourceFd, TransferMethod first)
        : calls(transferCalls), destination(destinationFd), source(sourceFd), method(first) {}

    const TransferCalls &calls;
    int destination;
    int source;
    TransferMethod method;
    bool settled = false;         // a byte has moved: no more falling back
    HeapBuffer<char> buffer{0};   // read/write only, made at its first use
    bool outOfMemory = false;     // the read/write buffer could not be made
    int deferredError = 0;        // a write failed after part of its bytes moved
};

// The best method worth trying first: copy_file_range works between regular
// files only, and a reported size of 0 may hide contents it would not see.
TransferMethod firstMethod(const struct stat &source, const struct stat &destination);

// Moves up to `count` bytes from the source's file position to the
// destination's. Until a byte has moved, a method the kernel refuses for this
// pair gives way to the next one. Returns the bytes moved, 0 at the end of the
// source, or -1 with errno set (or the channel's outOfMemory).
ssize_t transfer(CopyChannel &channel, size_t count);

// Where the source's data lies. A sparse source is copied region by region
// and its holes are skipped in the destination, below its reported size;
// from there on, and for any other source, the copy is dense.
struct SourceRegions {
    bool sparse;
    off_t size;       // the reported size
    off_t dataStart;  // the data region [dataStart, dataEnd) at or after the position
    off_t dataEnd;
    bool seekPending; // a hole was skipped: both file positions are behind
    bool noDataLeft;  // a hole runs from the position to the reported size
};

// Whether a regular file may have holes: fewer blocks than its size needs.
bool mayHaveHoles(const struct stat &st);

// The regions of the channel's source, from its start. The source itself is
// never a destination here: a file copied onto itself is not copied.
SourceRegions findRegions(const CopyChannel &channel, const struct stat &source, const struct stat &destination);

enum class StepEnd {
    kComplete,    // the step reached its end
    kEndOfSource, // a transfer moved nothing, a hole reached the reported size, or the largest offset was reached
    kFailed,      // errno set, or the channel's outOfMemory
};

// Where a step ends, if anywhere: no value means the step goes on until the
// source ends. Any off_t is a real size or offset, so none can say "no end".
using StepLimit = std::optional<off_t>;
inline constexpr StepLimit kNoStepEnd = std::nullopt;

// The bytes one transfer asks for on the way to `limit`. With no limit: the
// rest up to the reported size while the copy is below it, past it (a
// pseudo-file, a device, a FIFO, a source that grew) the most one call moves.
// Never more than is left below the largest offset: 0 at kMaxOffset.
size_t requestSize(off_t position, StepLimit limit, off_t reportedSize);

// Copies the source from *position up to `stepEnd`: data regions through the
// channel, holes skipped. A step whose end falls inside a hole ends at that
// hole's end instead, so that holes cost no steps; a hole that reaches the
// reported size ends the copy there. Ends early at the end of the source or at
// a failure; *position follows the source bytes copied, holes included.
StepEnd copyStep(CopyChannel &channel, SourceRegions &regions, StepLimit stepEnd, off_t *position);

} // namespace basefs

#endif // BASEFS_COPY_TRANSFER_H
