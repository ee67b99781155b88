// The C library's file calls as the area files make them: each wrapper says
// whether EINTR is retried and why, and the stat family is reached in a way
// that loads on old C libraries. The area files make their file and directory
// calls through here; the C library's pure functions (strlen, memcmp,
// snprintf), malloc and the close calls of the holders are called by name.
#ifndef BASEFS_SYSTEM_CALLS_H
#define BASEFS_SYSTEM_CALLS_H

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/sendfile.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

namespace basefs {

// Repeats a call for as long as it fails with EINTR: for calls that can block
// (opening a FIFO, moving bytes) and so be interrupted by a signal whose
// handler was installed without SA_RESTART.
template <typename Call>
auto restartable(Call call) -> decltype(call())
{
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// The name in /proc of the open file fd, which leads to that file whatever
// happens to its names meanwhile.
class ProcFdPath {
public:
    explicit ProcFdPath(int fd) { std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd); }
    const char *get() const { return path_; }

private:
    char path_[sizeof "/proc/self/fd/" + 3 * sizeof(int)];
};

} // namespace basefs

// glibc 2.33 gave fstat64, lstat64 and fstatat64 new symbol versions, so a
// library that calls them by name does not load on an older C library (RHEL 8,
// Debian 11, Amazon Linux 2: systems the JDK runs on). On x86_64 and aarch64
// the C library's struct stat is the kernel's own and these wrappers make the
// system calls themselves through syscall(), which every glibc exports under
// its first version; lstat is newfstatat at the current directory, as the
// C library's own lstat is. Elsewhere they call the C library.
#if defined(__x86_64__) || defined(__aarch64__)
#define BASEFS_STAT_BY_SYSCALL 1
#else
#define BASEFS_STAT_BY_SYSCALL 0
#endif

namespace basefs::sys {

// Each returns what its C library namesake returns, with errno set on failure.
// syscall() reads every argument as a long: integers are widened here, so
// that no register keeps stale upper bits.

// ---- Examining files: EINTR is not listed as a possible error -------------

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

inline ssize_t readlink(const char *path, char *buffer, size_t size)
{
    return ::readlink(path, buffer, size);
}

// ---- Changing files: EINTR is not listed as a possible error -------------

// Sets the times of path itself, not of a link's target.
inline int lutimes(const char *path, const struct timeval times[2])
{
    return ::lutimes(path, times);
}

// Follows a symbolic link: the target gets the mode.
inline int chmod(const char *path, mode_t mode)
{
    return ::chmod(path, mode);
}

inline int symlink(const char *target, const char *linkPath)
{
    return ::symlink(target, linkPath);
}

// ---- Opening and reading directories: EINTR is not listed ------------------

inline DIR *opendir(const char *path)
{
    return ::opendir(path);
}

// Null with errno unchanged at the end of the directory, null with errno set
// on a read error: the caller clears errno first.
inline dirent *readdir(DIR *dir)
{
    return ::readdir(dir);
}

inline int dirfd(DIR *dir)
{
    return ::dirfd(dir);
}

// Takes over fd: closedir closes it.
inline DIR *fdopendir(int fd)
{
    return ::fdopendir(fd);
}

// ---- Relative to an open directory: as their namesakes above --------------------

inline int openat(int directoryFd, const char *path, int flags, mode_t mode = 0)
{
    return restartable([&] { return ::openat(directoryFd, path, flags, mode); });
}

inline int mkdirat(int directoryFd, const char *path, mode_t mode)
{
    return ::mkdirat(directoryFd, path, mode);
}

inline ssize_t readlinkat(int directoryFd, const char *path, char *buffer, size_t size)
{
    return ::readlinkat(directoryFd, path, buffer, size);
}

inline int symlinkat(const char *target, int directoryFd, const char *linkPath)
{
    return ::symlinkat(target, directoryFd, linkPath);
}

inline int unlinkat(int directoryFd, const char *path, int flags)
{
    return ::unlinkat(directoryFd, path, flags);
}

inline int fchmod(int fd, mode_t mode)
{
    return ::fchmod(fd, mode);
}

// fchmodat2(2) (Linux 6.6) with flags: the only call that changes the mode of a
// descriptor opened with O_PATH (AT_EMPTY_PATH). glibc 2.17 has no wrapper, so
// it goes through syscall(); a kernel or seccomp filter that does not know it
// answers ENOSYS, as this does where the number is not known.
#if !defined(SYS_fchmodat2) && (defined(__x86_64__) || defined(__aarch64__))
#define SYS_fchmodat2 452
#endif
inline int fchmodat2(int directoryFd, const char *path, mode_t mode, int flags)
{
#ifdef SYS_fchmodat2
    return static_cast<int>(::syscall(SYS_fchmodat2, static_cast<long>(directoryFd), path,
                                      static_cast<long>(mode), static_cast<long>(flags)));
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Clears O_NONBLOCK. FIONBIO rather than fcntl, which large-file builds
// bind to fcntl64, a glibc 2.28 symbol.
inline int clearNonBlocking(int fd)
{
    int nonBlocking = 0;
    return ::ioctl(fd, FIONBIO, &nonBlocking);
}

// ---- Opening files: retried, an open of a FIFO blocks until its peer comes ----

inline int open(const char *path, int flags, mode_t mode = 0)
{
    return restartable([&] { return ::open(path, flags, mode); });
}

// ---- Moving bytes: retried, each can block and be interrupted ----------------

inline ssize_t read(int fd, void *buffer, size_t count)
{
    return restartable([&] { return ::read(fd, buffer, count); });
}

inline ssize_t write(int fd, const void *buffer, size_t count)
{
    return restartable([&] { return ::write(fd, buffer, count); });
}

// sendfile(2) from the source's file position (null offset).
inline ssize_t sendfile(int destinationFd, int sourceFd, size_t count)
{
    return restartable([&] { return ::sendfile(destinationFd, sourceFd, nullptr, count); });
}

// copy_file_range(2) with both file positions (null offsets) and no flags.
// glibc exports it only from 2.27 on, so it is reached through syscall() on
// every processor; the system call came with Linux 4.5, and a kernel or a
// seccomp filter that does not know it answers ENOSYS, as this does where the
// headers give no number for it.
inline ssize_t copyFileRange(int sourceFd, int destinationFd, size_t count)
{
#ifdef SYS_copy_file_range
    return restartable([&] {
        return static_cast<ssize_t>(::syscall(SYS_copy_file_range, static_cast<long>(sourceFd), nullptr,
                                              static_cast<long>(destinationFd), nullptr, count, 0L));
    });
#else
    errno = ENOSYS;
    return -1;
#endif
}

// EINTR is not listed as a possible error.
inline off_t lseek(int fd, off_t offset, int whence)
{
    return ::lseek(fd, offset, whence);
}

// Retried: truncating a file on a network file system can block.
inline int ftruncate(int fd, off_t length)
{
    return restartable([&] { return ::ftruncate(fd, length); });
}

// ---- Accounts: the name service returns its error, EINTR included ------------

inline int getpwuid(uid_t id, struct passwd *entry, char *buffer, size_t size, struct passwd **found)
{
    return ::getpwuid_r(id, entry, buffer, size, found);
}

inline int getgrgid(gid_t id, struct group *entry, char *buffer, size_t size, struct group **found)
{
    return ::getgrgid_r(id, entry, buffer, size, found);
}

// -1 when the C library has no suggestion.
inline long sysconf(int name)
{
    return ::sysconf(name);
}

} // namespace basefs::sys

#endif // BASEFS_SYSTEM_CALLS_H
