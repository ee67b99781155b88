// One file of a comparison: read through its descriptor in large blocks and
// handed out a comparison block at a time, short only at its end or at a read
// error, as fread hands out a stream. Both comparisons read through it.
#ifndef BASEFS_COMPARE_READER_H
#define BASEFS_COMPARE_READER_H

#include "FileSystemCompare.h"
#include "SystemCalls.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace basefs {

// Each file is read 1 MiB at a time: 16 comparison blocks per system call.
inline constexpr size_t kCompareReadSize = 1024 * 1024;
static_assert(kCompareReadSize % kCompareBlockSize == 0, "a read holds whole comparison blocks");

class CompareReader {
public:
    // `buffer` holds kCompareReadSize bytes and outlives the reader.
    CompareReader(int fd, unsigned char *buffer) : fd_(fd), buffer_(buffer) {}

    // The next comparison block of up to kCompareBlockSize bytes at *block. A
    // short block is the last: failed() then tells a read error from the end.
    size_t next(const unsigned char **block)
    {
        if (end_ - start_ < kCompareBlockSize && !ended_) {
            refill();
        }
        const size_t count = end_ - start_ < kCompareBlockSize ? end_ - start_ : kCompareBlockSize;
        *block = buffer_ + start_;
        start_ += count;
        return count;
    }

    // After a short block: whether it ended at a read error.
    bool failed() const { return error_ != 0 && start_ == end_; }
    // The errno of the failed read.
    int error() const { return error_; }

private:
    // Moves what is left to the front and reads until the buffer is full, the
    // file ends or a read fails; the bytes before a failure are kept.
    void refill()
    {
        const size_t left = end_ - start_;
        std::memmove(buffer_, buffer_ + start_, left);
        start_ = 0;
        end_ = left;
        while (end_ < kCompareReadSize) {
            const ssize_t count = sys::read(fd_, buffer_ + end_, kCompareReadSize - end_);
            if (count < 0) {
                error_ = errno;
                ended_ = true;
                return;
            }
            if (count == 0) {
                ended_ = true;
                return;
            }
            end_ += static_cast<size_t>(count);
        }
    }

    int fd_;
    unsigned char *buffer_;
    size_t start_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
    int error_ = 0;
};

// Opens a file of a comparison for reading; -1 with errno set when it cannot.
inline int openForComparison(const char *path)
{
    return sys::open(path, O_RDONLY | O_CLOEXEC, 0);
}

} // namespace basefs

#endif // BASEFS_COMPARE_READER_H
