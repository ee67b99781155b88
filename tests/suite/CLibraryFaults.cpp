#include "CLibraryFaults.h"

#include "SystemCalls.h" // the number of fchmodat2 where the headers lack it

#include <dirent.h>
#include <dlfcn.h>
#include <grp.h>
#include <pwd.h>
#include <sys/sendfile.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// Where the malloc and free stand-ins forward. Under AddressSanitizer the heap
// is the sanitizer's (its free and its leak check know only its blocks), so
// they forward to its functions, which g++'s sanitizer runtime exports under
// these names; otherwise to the C library's.
#if defined(__SANITIZE_ADDRESS__)
extern "C" void *__interceptor_malloc(size_t size);
extern "C" void __interceptor_free(void *pointer);
#define BASEFS_TEST_REAL_MALLOC __interceptor_malloc
#define BASEFS_TEST_REAL_FREE __interceptor_free
#else
extern "C" void *__libc_malloc(size_t size);
extern "C" void __libc_free(void *pointer);
#define BASEFS_TEST_REAL_MALLOC __libc_malloc
#define BASEFS_TEST_REAL_FREE __libc_free
#endif

namespace {

using jvmtest::faults::CFunction;

struct ArmedCall {
    bool armed;
    int failAtCall;
    int error;
    int calls;
};

// Plain data, so that reading it needs no initialisation (malloc reads its
// neighbours below before anything else has run on a thread).
thread_local ArmedCall t_armed[static_cast<int>(CFunction::kCount)];

ArmedCall &Armed(CFunction function) { return t_armed[static_cast<int>(function)]; }

// Whether this call must fail; sets errno to the armed error when it must.
bool ShouldFail(CFunction function)
{
    ArmedCall &armed = Armed(function);
    if (!armed.armed || ++armed.calls != armed.failAtCall) {
        return false;
    }
    errno = armed.error;
    return true;
}

// The allocation to fail and the allocations to follow, of this thread.
thread_local size_t t_failAllocationSize = 0;
constexpr int kWatchSlots = 64;
thread_local size_t t_watchedSize = 0;
thread_local int t_watchedMade = 0;
thread_local void *t_watched[kWatchSlots];

// Name service modules make lookups of their own (nss-systemd calls
// getgrgid_r again); only the library's own calls are scripted and recorded.
thread_local bool t_inRealLookup = false;

struct InRealLookup {
    InRealLookup() { t_inRealLookup = true; }
    ~InRealLookup() { t_inRealLookup = false; }
};

template <typename Function>
Function Real(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Whether the code at `address` (a return address) is the library's.
bool IsLibraryCode(void *address)
{
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr &&
           std::strstr(info.dli_fname, "libbasefs") != nullptr;
}

// What a scripted transfer call does before (or instead of) the real one:
// returns true with *result set when the call ends here; else *count may
// have been lowered.
bool Scripted(TransferScript &script, size_t *count, long *result)
{
    if (script.refuseWith != 0) {
        ++script.refused;
        errno = script.refuseWith;
        *result = -1;
        return true;
    }
    const int call = ++script.calls;
    script.requested.push_back(*count);
    if (call == script.interruptAtCall) {
        errno = EINTR;
        *result = -1;
        return true;
    }
    if (call == script.emptyAtCall) {
        *result = 0;
        return true;
    }
    if (script.maxPerCall != 0 && *count > script.maxPerCall) {
        *count = script.maxPerCall;
    }
    return false;
}

} // namespace

// ---- The stand-ins ----------------------------------------------------------

extern "C" void *malloc(size_t size) noexcept
{
    if (t_failAllocationSize != 0 && size == t_failAllocationSize) {
        t_failAllocationSize = 0;
        return nullptr;
    }
    void *pointer = BASEFS_TEST_REAL_MALLOC(size);
    if (t_watchedSize != 0 && size == t_watchedSize && pointer != nullptr) {
        ++t_watchedMade;
        for (void *&slot : t_watched) {
            if (slot == nullptr) {
                slot = pointer;
                break;
            }
        }
    }
    return pointer;
}

extern "C" void free(void *pointer) noexcept
{
    if (t_watchedSize != 0 && pointer != nullptr) {
        for (void *&slot : t_watched) {
            if (slot == pointer) {
                slot = nullptr;
                break;
            }
        }
    }
    BASEFS_TEST_REAL_FREE(pointer);
}

extern "C" struct dirent64 *readdir64(DIR *dir)
{
    static const auto real = Real<struct dirent64 *(*)(DIR *)>("readdir64");
    if (ShouldFail(CFunction::kReaddir64)) {
        return nullptr;
    }
    return real(dir);
}

// The library makes its stat calls through syscall() (newfstatat, with
// AT_FDCWD for lstat). A stat call of the JVM's own goes through the C
// library's functions and never reaches here.
extern "C" long syscall(long number, ...) noexcept
{
    static const auto real = Real<long (*)(long, ...)>("syscall");
    // Every system call takes at most six arguments, each passed as a long.
    constexpr int kMaxArguments = 6;
    long arguments[kMaxArguments];
    va_list list;
    va_start(list, number);
    for (long &argument : arguments) {
        argument = va_arg(list, long);
    }
    va_end(list);
    if (number == SYS_newfstatat) {
        const bool atCurrentDirectory = static_cast<int>(arguments[0]) == AT_FDCWD;
        if (ShouldFail(atCurrentDirectory ? CFunction::kLstat : CFunction::kFstatat)) {
            return -1;
        }
    }
#ifdef SYS_fchmodat2
    if (number == SYS_fchmodat2 && ShouldFail(CFunction::kFchmodat2)) {
        return -1;
    }
#endif
    // copy_file_range(fd_in, off_in, fd_out, off_out, len, flags): only the
    // library makes it.
    if (number == SYS_copy_file_range) {
        if (ShouldFail(CFunction::kCopyFileRange)) {
            return -1;
        }
        size_t count = static_cast<size_t>(arguments[4]);
        long result = 0;
        if (Scripted(g_copyFileRange, &count, &result)) {
            return result;
        }
        arguments[4] = static_cast<long>(count);
    }
    return real(number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4],
                arguments[5]);
}

extern "C" size_t fread(void *buffer, size_t size, size_t count, FILE *stream)
{
    static const auto real = Real<size_t (*)(void *, size_t, size_t, FILE *)>("fread");
    if (ShouldFail(CFunction::kFread)) {
        // What glibc does when read() fails: the stream's error indicator.
        stream->_flags |= _IO_ERR_SEEN;
        return 0;
    }
    return real(buffer, size, count, stream);
}

extern "C" ssize_t sendfile64(int outFd, int inFd, off64_t *offset, size_t count) noexcept
{
    static const auto real = Real<ssize_t (*)(int, int, off64_t *, size_t)>("sendfile64");
    if (ShouldFail(CFunction::kSendfile64)) {
        return -1;
    }
    long result = 0;
    if (Scripted(g_sendfile, &count, &result)) {
        return result;
    }
    return real(outFd, inFd, offset, count);
}

extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    static const auto real = Real<ssize_t (*)(int, void *, size_t)>("read");
    if (!IsLibraryCode(__builtin_return_address(0))) {
        return real(fd, buffer, count);
    }
    if (ShouldFail(CFunction::kRead)) {
        return -1;
    }
    long result = 0;
    if (Scripted(g_read, &count, &result)) {
        return result;
    }
    return real(fd, buffer, count);
}

extern "C" ssize_t write(int fd, const void *buffer, size_t count)
{
    static const auto real = Real<ssize_t (*)(int, const void *, size_t)>("write");
    if (!IsLibraryCode(__builtin_return_address(0))) {
        return real(fd, buffer, count);
    }
    if (ShouldFail(CFunction::kWrite)) {
        return -1;
    }
    long result = 0;
    if (Scripted(g_write, &count, &result)) {
        return result;
    }
    return real(fd, buffer, count);
}

namespace {

// The scripted answer of the library's open or openat: -1 with errno set, or
// 0 where the real call is made.
int ScriptedOpen(int flags)
{
    g_open.flags.push_back(flags);
    const size_t call = g_open.flags.size();
    if (call <= g_open.failWith.size() && g_open.failWith[call - 1] != 0) {
        errno = g_open.failWith[call - 1];
        return -1;
    }
    return 0;
}

// The mode argument, there only when the open may create a file.
#define BASEFS_OPEN_MODE(mode, flags)                                        \
    if (((flags) & O_CREAT) != 0 || ((flags) & O_TMPFILE) == O_TMPFILE) {    \
        va_list list;                                                        \
        va_start(list, flags);                                               \
        (mode) = static_cast<mode_t>(va_arg(list, int));                     \
        va_end(list);                                                        \
    }

} // namespace

extern "C" int open64(const char *path, int flags, ...)
{
    static const auto real = Real<int (*)(const char *, int, ...)>("open64");
    mode_t mode = 0;
    BASEFS_OPEN_MODE(mode, flags);
    if (IsLibraryCode(__builtin_return_address(0)) && ScriptedOpen(flags) != 0) {
        return -1;
    }
    return real(path, flags, mode);
}

extern "C" int openat64(int directoryFd, const char *path, int flags, ...)
{
    static const auto real = Real<int (*)(int, const char *, int, ...)>("openat64");
    mode_t mode = 0;
    BASEFS_OPEN_MODE(mode, flags);
    if (IsLibraryCode(__builtin_return_address(0)) && ScriptedOpen(flags) != 0) {
        return -1;
    }
    return real(directoryFd, path, flags, mode);
}

extern "C" int getpwuid_r(uid_t uid, struct passwd *entry, char *buffer, size_t size, struct passwd **found)
{
    static const auto real =
        Real<int (*)(uid_t, struct passwd *, char *, size_t, struct passwd **)>("getpwuid_r");
    if (t_inRealLookup) {
        return real(uid, entry, buffer, size, found);
    }
    if (int error = g_userScript.Intercept(uid, size); error != 0) {
        *found = nullptr;
        return error;
    }
    InRealLookup guard;
    return real(uid, entry, buffer, size, found);
}

extern "C" int getgrgid_r(gid_t gid, struct group *entry, char *buffer, size_t size, struct group **found)
{
    static const auto real =
        Real<int (*)(gid_t, struct group *, char *, size_t, struct group **)>("getgrgid_r");
    if (t_inRealLookup) {
        return real(gid, entry, buffer, size, found);
    }
    if (int error = g_groupScript.Intercept(gid, size); error != 0) {
        *found = nullptr;
        return error;
    }
    InRealLookup guard;
    return real(gid, entry, buffer, size, found);
}

// ---- Arming -----------------------------------------------------------------

namespace jvmtest::faults {

FailCCall::FailCCall(CFunction function, int failAtCall, int error) : function_(function)
{
    Armed(function) = ArmedCall{true, failAtCall, error, 0};
}

FailCCall::~FailCCall() { Armed(function_) = ArmedCall{}; }

int FailCCall::calls() const { return Armed(function_).calls; }

FailAllocation::FailAllocation(size_t size) { t_failAllocationSize = size; }

FailAllocation::~FailAllocation() { t_failAllocationSize = 0; }

bool FailAllocation::fired() const { return t_failAllocationSize == 0; }

WatchAllocations::WatchAllocations(size_t size)
{
    for (void *&slot : t_watched) {
        slot = nullptr;
    }
    t_watchedMade = 0;
    t_watchedSize = size;
}

WatchAllocations::~WatchAllocations() { t_watchedSize = 0; }

int WatchAllocations::made() const { return t_watchedMade; }

int WatchAllocations::live() const
{
    int live = 0;
    for (void *slot : t_watched) {
        live += slot != nullptr ? 1 : 0;
    }
    return live;
}

} // namespace jvmtest::faults
