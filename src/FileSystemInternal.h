// Private helpers shared by the library's source files: the initialisation
// guard, RAII holders for JNI strings and local references and for C library
// resources, and the EINTR retry helper. Nothing here is exported.
#ifndef BASEFS_FILE_SYSTEM_INTERNAL_H
#define BASEFS_FILE_SYSTEM_INTERNAL_H

#include "FileSystemCommon.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// System calls that the area files reach through here, not by their C
// library names.
//
// glibc 2.33 gave fstat64, lstat64 and fstatat64 new symbol versions, so a
// library that calls them by name does not load on an older C library (RHEL 8,
// Debian 11, Amazon Linux 2: systems the JDK runs on). On x86_64 and aarch64
// the C library's struct stat is the kernel's own and these wrappers make the
// system calls themselves through syscall(), which every glibc exports under
// its first version; lstat is newfstatat at the current directory, as the
// C library's own lstat is. Elsewhere they call the C library.
// ---------------------------------------------------------------------------

#if defined(__x86_64__) || defined(__aarch64__)
#define BASEFS_STAT_BY_SYSCALL 1
#else
#define BASEFS_STAT_BY_SYSCALL 0
#endif

namespace basefs::sys {

// Each returns 0, or -1 with errno set, as its C library namesake does.
// syscall() reads every argument as a long: integers are widened here, so
// that no register keeps stale upper bits.

inline int fstat(int fd, struct stat *st)
{
#if BASEFS_STAT_BY_SYSCALL
    return static_cast<int>(::syscall(SYS_fstat, static_cast<long>(fd), st));
#else
    return ::fstat(fd, st);
#endif
}

inline int fstatat(int directoryFd, const char *path, struct stat *st, int flags)
{
#if BASEFS_STAT_BY_SYSCALL
    return static_cast<int>(::syscall(SYS_newfstatat, static_cast<long>(directoryFd), path, st,
                                      static_cast<long>(flags)));
#else
    return ::fstatat(directoryFd, path, st, flags);
#endif
}

inline int lstat(const char *path, struct stat *st)
{
    return sys::fstatat(AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW);
}

// copy_file_range(2) with both file positions (null offsets) and no flags.
// glibc exports it only from 2.27 on, so it is reached through syscall() on
// every processor; the system call came with Linux 4.5, and a kernel or a
// seccomp filter that does not know it answers ENOSYS, as this does where the
// headers give no number for it.
inline ssize_t copyFileRange(int sourceFd, int destinationFd, size_t count)
{
#ifdef SYS_copy_file_range
    return static_cast<ssize_t>(::syscall(SYS_copy_file_range, static_cast<long>(sourceFd), nullptr,
                                          static_cast<long>(destinationFd), nullptr, count, 0L));
#else
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace basefs::sys

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

// A new FileInfo (or FileInfoEx when infoMask asks for one) of the file whose
// status is st, named by the caller's own string object. Returns null with
// the JVM's exception pending when construction fails.
jobject newFileInfo(JNIEnv *env, const struct stat &st, jstring name, bool hidden, jint infoMask);

// Copies the first count elements of src into dst in one call. Returns false
// with an exception pending (an element dst cannot hold, an index past the end).
bool copyArrayElements(JNIEnv *env, jobjectArray dst, jobjectArray src, jsize count);

// Sets the first count elements of array to null in one call. Returns false
// with an exception pending.
bool clearArrayElements(JNIEnv *env, jobjectArray array, jsize count);

// The first capacity of a listing's working array, which doubles from there:
// directories of up to this many entries are listed without a growth (each
// costs two upcalls and a new array).
inline constexpr jsize kListingInitialCapacity = 256;

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

// A malloc'ed buffer freed on scope exit; a count of 0 allocates nothing.
template <typename T>
class HeapBuffer : NonCopyable {
public:
    explicit HeapBuffer(size_t count)
        : data_(count > 0 ? static_cast<T *>(std::malloc(count * sizeof(T))) : nullptr) {}
    ~HeapBuffer() { std::free(data_); }
    T *get() const { return data_; }
    // Frees the buffer and allocates one of `count` elements in its place.
    void reset(size_t count)
    {
        std::free(data_);
        data_ = count > 0 ? static_cast<T *>(std::malloc(count * sizeof(T))) : nullptr;
    }

private:
    T *data_;
};

// ---------------------------------------------------------------------------
// File names between Java strings and bytes.
//
// Linux names are bytes, in practice UTF-8, while JNI's own conversions speak
// modified UTF-8, which encodes characters outside the Basic Multilingual
// Plane as two 3-byte surrogates and cannot carry bytes that are not UTF-8.
// These two conversions keep every name intact both ways:
// - Java to bytes: as modified UTF-8 (U+0000 stays 0xC0 0x80, so a path is
//   never cut short), except that a surrogate pair becomes its 4-byte UTF-8
//   sequence and a lone U+DC80..U+DCFF becomes the single byte 0x80..0xFF.
// - Bytes to Java: UTF-8 (shortest form, no surrogates, at most U+10FFFF);
//   each byte of an invalid sequence, up to the first byte that cannot
//   continue it, becomes U+DC00 + byte. Bytes below 0x80 are never escaped.
// Encoding a decoded name gives back exactly its bytes.
// ---------------------------------------------------------------------------

// Worst case of the encoding: three bytes for one UTF-16 unit.
inline constexpr size_t kMaxBytesPerJavaChar = 3;

inline constexpr jchar kHighSurrogateFirst = 0xD800;
inline constexpr jchar kLowSurrogateFirst = 0xDC00;
inline constexpr jchar kLowSurrogateLast = 0xDFFF;
// Lone low surrogates U+DC80..U+DCFF stand for the raw bytes 0x80..0xFF.
inline constexpr jchar kEscapedByteFirst = 0xDC80;
inline constexpr jchar kEscapedByteLast = 0xDCFF;

inline bool isHighSurrogate(jchar c) { return c >= kHighSurrogateFirst && c < kLowSurrogateFirst; }
inline bool isLowSurrogate(jchar c) { return c >= kLowSurrogateFirst && c <= kLowSurrogateLast; }

// Encodes count UTF-16 units into out, which has room for
// count * kMaxBytesPerJavaChar + 1 bytes; NUL-terminates and returns the
// number of bytes before the NUL.
inline size_t encodeJavaChars(const jchar *chars, size_t count, char *out)
{
    char *const start = out;
    // Paths are mostly ASCII (U+0001..U+007F, one byte each): the run of
    // them is taken four units at a time before the general loop.
    size_t i = 0;
    while (i + 4 <= count) {
        std::uint64_t units;
        std::memcpy(&units, chars + i, sizeof units);
        // A unit above U+007F, or a unit U+0000 (lanes below 0x80 borrow only from a zero lane).
        if ((units & 0xFF80FF80FF80FF80u) != 0 ||
            ((units - 0x0001000100010001u) & ~units & 0x8000800080008000u) != 0) {
            break;
        }
#pragma GCC unroll 4
        for (size_t k = 0; k < 4; ++k) {
            out[i + k] = static_cast<char>(chars[i + k]);
        }
        i += 4;
    }
    out += i;
    for (; i < count; ++i) {
        const jchar c = chars[i];
        if (c != 0 && c < 0x80) {
            *out++ = static_cast<char>(c);
        } else if (c < 0x800) { // U+0000 included, as 0xC0 0x80
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (isHighSurrogate(c) && i + 1 < count && isLowSurrogate(chars[i + 1])) {
            const char32_t codePoint =
                0x10000 + ((static_cast<char32_t>(c - kHighSurrogateFirst) << 10) | (chars[i + 1] - kLowSurrogateFirst));
            *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
            *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
            ++i;
        } else if (c >= kEscapedByteFirst && c <= kEscapedByteLast) {
            *out++ = static_cast<char>(c - kLowSurrogateFirst);
        } else {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - start);
}

// Decodes count bytes into out, which has room for count UTF-16 units (no
// byte yields more than one); returns the number of units written.
inline size_t decodeNameBytes(const char *bytes, size_t count, jchar *out)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    jchar *const start = out;
    // Names are mostly ASCII: the run of bytes below 0x80 is taken eight at a
    // time before the general loop.
    size_t i = 0;
    while (i + 8 <= count) {
        std::uint64_t eight;
        std::memcpy(&eight, in + i, sizeof eight);
        if ((eight & 0x8080808080808080u) != 0) {
            break;
        }
#pragma GCC unroll 8
        for (size_t k = 0; k < 8; ++k) {
            out[i + k] = in[i + k];
        }
        i += 8;
    }
    out += i;
    while (i < count) {
        const unsigned char lead = in[i];
        if (lead < 0x80) {
            *out++ = lead;
            ++i;
            continue;
        }
        // Length and the range of the first continuation byte, which rules
        // out overlong forms, surrogates and code points above U+10FFFF.
        size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        char32_t codePoint = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : low;
            high = lead == 0xED ? 0x9F : high;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : low;
            high = lead == 0xF4 ? 0x8F : high;
        }
        size_t taken = 1;
        while (taken < length && i + taken < count) {
            const unsigned char next = in[i + taken];
            if (next < low || next > high) {
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
            low = 0x80;
            high = 0xBF;
            ++taken;
        }
        if (taken < length || length == 0) {
            // Escape what was taken; decoding resumes at the byte that broke the sequence.
            for (size_t k = 0; k < taken; ++k) {
                *out++ = static_cast<jchar>(kLowSurrogateFirst + in[i + k]);
            }
            i += taken;
            continue;
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            *out++ = static_cast<jchar>(kHighSurrogateFirst + (codePoint >> 10));
            *out++ = static_cast<jchar>(kLowSurrogateFirst + (codePoint & 0x3FF));
        } else {
            *out++ = static_cast<jchar>(codePoint);
        }
        i += length;
    }
    return static_cast<size_t>(out - start);
}

// The bytes of a Java string as a file name or path, converted as above and
// NUL-terminated. Strings of ordinary length use the buffers inside the
// object, which lives in the caller's frame; longer ones take one heap block.
// On failure get() is null and an exception is pending.
class JavaPath : NonCopyable {
public:
    JavaPath(JNIEnv *env, jstring string);
    ~JavaPath() { std::free(heap_); }
    const char *get() const { return bytes_; }
    size_t length() const { return length_; }

private:
    // 2.5 KiB in the frame: paths of up to 512 UTF-16 units need no allocation.
    static constexpr size_t kInlineChars = 512;
    jchar inlineChars_[kInlineChars];
    char inlineBytes_[kInlineChars * kMaxBytesPerJavaChar + 1];
    void *heap_ = nullptr;
    const char *bytes_ = nullptr;
    size_t length_ = 0;
};

// Copies the first count units (count >= 1) of string into units. Returns
// false with the JVM's exception pending when it could not be read (a region
// past the end), with no separate exception check when it was.
bool readStringUnits(JNIEnv *env, jstring string, jsize count, jchar *units);

// A new Java string holding the name or path of `count` bytes, converted as
// above. Returns null with an exception pending on failure.
jstring newJavaString(JNIEnv *env, const char *bytes, size_t count);

// Whether monitor may be called through the cached methods of monitorClass
// (g_ClassMonitorOrg or g_ClassMonitorSync): null or an instance of it.
// Otherwise throws IllegalArgumentException "Invalid progress monitor" and
// returns false; calling a method on an object of another class is undefined.
bool checkMonitor(JNIEnv *env, jobject monitor, jclass monitorClass);

} // namespace basefs

#endif // BASEFS_FILE_SYSTEM_INTERNAL_H
