// Stand-ins for the C library functions the library calls, defined once for
// the whole basefs_tests executable: the library resolves these names through
// the executable first (nm -D libbasefs.so lists them: readdir64, syscall,
// fread, sendfile64, read, write, open64, openat64, getpwuid_r, getgrgid_r, malloc,
// free). Each forwards to the real function unless a test armed a failure on
// its own thread; calls of the JVM's threads always go through. read, write
// and the opens, which the JVM calls all the time, are scripted only when the
// library called them.
#pragma once

#include "CopyTransfer.h"

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace jvmtest::faults {

// The stand-ins that fail on request, and how a failure looks to the caller.
enum class CFunction {
    kReaddir64,  // null, errno set
    kFstatat,    // -1, errno set (newfstatat relative to an open directory)
    kLstat,      // -1, errno set (newfstatat at the current directory)
    kFread,      // 0 with the stream's error indicator set, errno set
    kSendfile64, // -1, errno set
    kCopyFileRange, // -1, errno set (syscall SYS_copy_file_range)
    kFchmodat2,  // -1, errno set (syscall SYS_fchmodat2)
    kRead,       // -1, errno set (the library's calls only)
    kWrite,      // -1, errno set (the library's calls only)
    kCount,
};

// While it exists, the failAtCall-th call (1-based; 0 never) of `function`
// made on the constructing thread from now on fails with `error`; the calls
// are counted either way.
class FailCCall {
public:
    FailCCall(CFunction function, int failAtCall, int error);
    ~FailCCall();
    FailCCall(const FailCCall &) = delete;
    FailCCall &operator=(const FailCCall &) = delete;

    int calls() const;

private:
    CFunction function_;
};

// While it exists, the next malloc of exactly `size` bytes on this thread
// returns null.
class FailAllocation {
public:
    explicit FailAllocation(size_t size);
    ~FailAllocation();
    FailAllocation(const FailAllocation &) = delete;
    FailAllocation &operator=(const FailAllocation &) = delete;

    bool fired() const;
};

// While it exists, follows the mallocs of exactly `size` bytes made on this
// thread until they are freed (on any thread).
class WatchAllocations {
public:
    explicit WatchAllocations(size_t size);
    ~WatchAllocations();
    WatchAllocations(const WatchAllocations &) = delete;
    WatchAllocations &operator=(const WatchAllocations &) = delete;

    int made() const;
    int live() const; // made and not freed yet
};

} // namespace jvmtest::faults

// ---- Scripts of the copy and user/group tests (CLibraryScripts.cpp) -------

// What the stand-in of one transfer call (copy_file_range, sendfile64, or the
// library's read) does at chosen calls of this thread (1-based; 0 never),
// beyond the failure FailCCall injects.
struct TransferScript {
    int refuseWith = 0;       // every call fails with this error, as a kernel refusing the method
    int refused = 0;          // calls refused so far; not counted below
    int calls = 0;
    int interruptAtCall = 0;  // fails with EINTR without moving anything
    int emptyAtCall = 0;      // moves nothing, as at an early end of file
    size_t maxPerCall = 0;    // moves at most this many bytes per call (0: no limit)
    std::vector<size_t> requested;
};

extern thread_local TransferScript g_copyFileRange;
extern thread_local TransferScript g_sendfile;
extern thread_local TransferScript g_read;
extern thread_local TransferScript g_write; // maxPerCall only

// What the stand-in of open64 does with the library's opens on this thread:
// the n-th (1-based) fails with failWith[n-1] unless that is 0 or missing;
// the flags of every open are recorded, failed or not.
struct OpenScript {
    std::vector<int> failWith;
    std::vector<int> flags;
};

extern thread_local OpenScript g_open;

using basefs::TransferMethod;

// While it exists, the copies of this thread use `method`: the kernel's answer
// to the better ones is scripted as a refusal (EXDEV for copy_file_range,
// EINVAL for sendfile). Every script starts afresh, and again on destruction.
// The library in the JVM moves bytes over the C library's own table, so its
// copies are steered through the calls that table makes; CopyTransferTest
// picks a method directly, over a table of its own.
class UseTransferMethod {
public:
    explicit UseTransferMethod(TransferMethod method);
    ~UseTransferMethod();
    UseTransferMethod(const UseTransferMethod &) = delete;
    UseTransferMethod &operator=(const UseTransferMethod &) = delete;
};

// The script of the call that moves the bytes in `method`: copy_file_range,
// sendfile64 or read.
TransferScript &ScriptOf(TransferMethod method);

// Calls of the three transfer stand-ins that went on to the kernel or were
// scripted, refusals not counted.
int TransferCalls();

// One call that reached an interposed user or group lookup.
struct LookupCall {
    uint32_t id;
    size_t bufferSize;
};

// Records the lookups made by the thread that armed it and fails the first
// `failures` of them with `error`; every other call goes to the C library.
class LookupScript {
public:
    void Arm(int failures, int error);
    void Reset();
    // The error this call must fail with, or 0 to forward it.
    int Intercept(uint32_t id, size_t bufferSize);
    std::vector<LookupCall> Calls();

private:
    std::mutex mutex_;
    bool armed_ = false;
    pthread_t thread_{};
    int failuresLeft_ = 0;
    int error_ = 0;
    std::vector<LookupCall> calls_;
};

extern LookupScript g_userScript;
extern LookupScript g_groupScript;
