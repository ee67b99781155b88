// Helper threads that examine a directory's entries while the calling thread
// waits, shared by all listings of the process.
#ifndef BASEFS_EXAMINER_POOL_H
#define BASEFS_EXAMINER_POOL_H

#include <atomic>
#include <cstddef>

namespace basefs {

// One batch of independent pieces of work: run(context, i) for each i below
// count, in any order, on any thread. run never calls into the JVM.
struct ExaminerWork {
    void (*run)(void *context, size_t index);
    void *context;
    size_t count;
};

// The most helpers one directory's entries are examined by: on a network or
// FUSE file system each examination waits on a server, so 32 are in flight
// with the caller.
inline constexpr unsigned kMaxExaminers = 31;

// Helpers for a local directory whose examinations wait on the disk (a cold
// cache): more than the CPUs, since each mostly waits.
inline constexpr unsigned kDiskExaminers = 7;

// The entries of a local directory listed serially before any is handed to
// helpers: below it the hand-over costs more than the calls it spreads.
inline constexpr size_t kLocalBreakEven = 64;

// An examination taking longer than this on average waits on the disk.
inline constexpr long kSlowExaminationNanos = 5000;

// One batch handed to the pool. Once started it must be finished or
// abandoned before its work's context goes away; the destructor abandons.
class ExaminerJob {
public:
    ExaminerJob() = default;
    ExaminerJob(const ExaminerJob &) = delete;
    ExaminerJob &operator=(const ExaminerJob &) = delete;
    ~ExaminerJob() { abandon(); }

    // Queues `work` for up to `helpers` pool threads at once, starting them
    // where there are fewer. Where none can be started the pieces wait for finish().
    void start(const ExaminerWork &work, unsigned helpers);
    // Runs the pieces no helper has claimed on the calling thread, then waits
    // for those the helpers run: every piece has run when it returns.
    void finish();
    // Runs no more pieces and waits for those the helpers are running.
    void abandon();

    // The pool's view of the job: claimed by index; the rest under the pool's lock.
    struct Shared {
        ExaminerWork work{};
        std::atomic<size_t> next{0};
        std::atomic<size_t> done{0};
        unsigned helpers = 0;       // the most helpers inside at once
        unsigned helpersInside = 0;
        bool queued = false;
        ExaminerJob *following = nullptr;
    };
    Shared shared;

private:
    void awaitHelpers();
    bool started_ = false;
};

// How a directory's entries are examined.
struct ExaminerPolicy {
    unsigned cached;  // helpers while examinations are quick (the CPUs are the limit)
    unsigned waiting; // helpers while they wait on a disk or a server
    size_t breakEven; // entries listed serially before helpers start

    // The helpers for the next entries: `waiting` once an examination took
    // long on average (`nanos` for `examined` entries by `participants`
    // threads at once), else `cached`.
    unsigned helpersAfter(long nanos, size_t examined, unsigned participants) const;
};

// The monotonic clock in nanoseconds, for timing examinations.
long monotonicNanos();

// The policy for the open directory `directoryFd`, from its file system
// (fstatfs): many helpers from the start on network and FUSE file systems; on
// local ones up to the CPUs the process may use, more where examinations turn
// out slow. BASEFS_LIST_EXAMINERS=N forces N helpers from the second entry
// (tests use it to run the parallel path everywhere).
ExaminerPolicy examinerPolicyFor(int directoryFd);

// Helpers alive in the pool now, and how long one waits for work before it
// ends (tests).
unsigned examinerThreads();
void setExaminerIdleMillis(long millis);

} // namespace basefs

#endif // BASEFS_EXAMINER_POOL_H
