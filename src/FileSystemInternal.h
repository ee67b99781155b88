// Private helpers shared by the library's source files: the initialisation
// guard, RAII holders for JNI strings and local references and for C library
// resources, and the EINTR retry helper. Nothing here is exported.
#ifndef BASEFS_FILE_SYSTEM_INTERNAL_H
#define BASEFS_FILE_SYSTEM_INTERNAL_H

#include "FileSystemCommon.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace basefs {

// Throws IllegalStateException "Not initialized" and returns false unless
// nInitStatic has completed successfully. Every entry point but nInitStatic
// calls this before looking at its arguments.
bool ensureInitialized(JNIEnv *env);

// One permission bit of a file mode and its bit in the attribute word; the map
// is one-to-one and is read both ways.
struct PermissionBit {
    mode_t mode;
    jint attribute;
};

inline constexpr PermissionBit kPermissionBits[] = {
    {S_IRUSR, ATTR_OWNER_READ},   {S_IWUSR, ATTR_OWNER_WRITE},  {S_IXUSR, ATTR_OWNER_EXECUTE},
    {S_IRGRP, ATTR_GROUP_READ},   {S_IWGRP, ATTR_GROUP_WRITE},  {S_IXGRP, ATTR_GROUP_EXECUTE},
    {S_IROTH, ATTR_OTHERS_READ},  {S_IWOTH, ATTR_OTHERS_WRITE}, {S_IXOTH, ATTR_OTHERS_EXECUTE},
    {S_ISUID, ATTR_SET_UID},      {S_ISGID, ATTR_SET_GID},      {S_ISVTX, ATTR_STICKY},
};

// The attribute-word bits of the twelve permission bits of a file mode.
jint attributesFromMode(mode_t mode);

// The twelve permission bits of a file mode taken from an attribute word; the
// type, hidden and all other attribute bits are ignored.
mode_t modeFromAttributes(jint attributes);

// Repeats a system call for as long as it fails with EINTR.
template <typename Call>
auto restartable(Call call) -> decltype(call())
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// Neither copyable nor movable: every holder below owns exactly one resource
// for exactly one scope.
struct NonCopyable {
    NonCopyable() = default;
    NonCopyable(const NonCopyable &) = delete;
    NonCopyable &operator=(const NonCopyable &) = delete;
};

// The modified-UTF-8 characters of a Java string, released on scope exit.
// On failure get() is null and the JVM's exception is pending.
class UtfChars : NonCopyable {
public:
    UtfChars(JNIEnv *env, jstring string)
        : env_(env), string_(string), chars_(env->GetStringUTFChars(string, nullptr)) {}
    ~UtfChars()
    {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(string_, chars_);
        }
    }
    const char *get() const { return chars_; }

private:
    JNIEnv *env_;
    jstring string_;
    const char *chars_;
};

// A JNI local reference deleted on scope exit (unless released to the caller).
template <typename T>
class LocalRef : NonCopyable {
public:
    LocalRef(JNIEnv *env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() { reset(); }
    T get() const { return ref_; }
    T release()
    {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }
    void reset(T ref = nullptr)
    {
        if (ref_ != nullptr) {
            env_->DeleteLocalRef(ref_);
        }
        ref_ = ref;
    }

private:
    JNIEnv *env_;
    T ref_;
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

// A malloc'ed buffer freed on scope exit.
template <typename T>
class HeapBuffer : NonCopyable {
public:
    explicit HeapBuffer(size_t count) : data_(static_cast<T *>(std::malloc(count * sizeof(T)))) {}
    ~HeapBuffer() { std::free(data_); }
    T *get() const { return data_; }

private:
    T *data_;
};

} // namespace basefs

#endif // BASEFS_FILE_SYSTEM_INTERNAL_H
