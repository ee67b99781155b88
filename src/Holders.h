// RAII holders of C library resources: a file descriptor, a stream, a
// directory stream and a heap buffer, each released on scope exit, so that
// every return path of a caller releases what it holds.
#ifndef BASEFS_HOLDERS_H
#define BASEFS_HOLDERS_H

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

namespace basefs {

// Neither copyable nor movable: every holder owns exactly one resource for
// exactly one scope.
struct NonCopyable {
    NonCopyable() = default;
    NonCopyable(const NonCopyable &) = delete;
    NonCopyable &operator=(const NonCopyable &) = delete;
};

// A file descriptor closed on scope exit. close() is not retried on EINTR:
// on Linux the descriptor is released whatever close() returns.
class UniqueFd : NonCopyable {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Hands the descriptor to the caller, who closes it.
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// A C stream closed on scope exit.
class UniqueFile : NonCopyable {
public:
    explicit UniqueFile(FILE *file) : file_(file) {}
    ~UniqueFile()
    {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    FILE *get() const { return file_; }

private:
    FILE *file_;
};

// A directory stream closed on scope exit, or earlier through close().
class UniqueDir : NonCopyable {
public:
    explicit UniqueDir(DIR *dir) : dir_(dir) {}
    ~UniqueDir() { close(); }
    DIR *get() const { return dir_; }
    void close()
    {
        if (dir_ != nullptr) {
            ::closedir(dir_);
            dir_ = nullptr;
        }
    }

private:
    DIR *dir_;
};

// A malloc'ed buffer freed on scope exit; a count of 0 allocates nothing.
template <typename T>
class HeapBuffer : NonCopyable {
public:
    explicit HeapBuffer(size_t count) : data_(allocate(count)) {}
    ~HeapBuffer() { std::free(data_); }
    T *get() const { return data_; }
    // Frees the buffer and allocates one of `count` elements in its place.
    void reset(size_t count)
    {
        std::free(data_);
        data_ = allocate(count);
    }

private:
    static T *allocate(size_t count)
    {
        return count > 0 ? static_cast<T *>(std::malloc(count * sizeof(T))) : nullptr;
    }

    T *data_;
};

} // namespace basefs

#endif // BASEFS_HOLDERS_H
