// A small pool of helper threads, created on first need and bounded, that
// examine entries for listings. No helper ever calls into the JVM.

#include "ExaminerPool.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <new>
#include <cstdlib>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/vfs.h>
#include <time.h>

// glibc 2.34 moved the thread functions into libc under new versions; the
// library binds the old ones so that it loads on older systems too.
#if defined(__x86_64__)
__asm__(".symver pthread_create,pthread_create@GLIBC_2.2.5");
__asm__(".symver pthread_detach,pthread_detach@GLIBC_2.2.5");
__asm__(".symver pthread_attr_setstacksize,pthread_attr_setstacksize@GLIBC_2.2.5");
#elif defined(__aarch64__)
__asm__(".symver pthread_create,pthread_create@GLIBC_2.17");
__asm__(".symver pthread_detach,pthread_detach@GLIBC_2.17");
__asm__(".symver pthread_attr_setstacksize,pthread_attr_setstacksize@GLIBC_2.17");
#endif

namespace {

// A helper's stack: it only makes system calls; the default would reserve 8 MiB each.
constexpr size_t kHelperStackBytes = 256 * 1024;
// A helper without work for this long ends; the next listing that needs one starts it again.
constexpr long kDefaultIdleMillis = 10000;

struct Pool {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t workReady = PTHREAD_COND_INITIALIZER;
    pthread_cond_t jobDone = PTHREAD_COND_INITIALIZER;
    basefs::ExaminerJob *queue = nullptr;
    unsigned threads = 0;
    long idleMillis = kDefaultIdleMillis;
    bool forkHandlerSet = false;
};

Pool g_pool;

// Claims and runs pieces of `job` until none is left.
void workOn(basefs::ExaminerJob::Shared &job)
{
    const size_t count = job.work.count;
    for (;;) {
        const size_t index = job.next.fetch_add(1, std::memory_order_relaxed);
        if (index >= count) {
            return;
        }
        job.work.run(job.work.context, index);
        job.done.fetch_add(1, std::memory_order_acq_rel);
    }
}

bool allClaimed(const basefs::ExaminerJob::Shared &job)
{
    return job.next.load(std::memory_order_relaxed) >= job.work.count;
}

// Takes `job` off the queue. Called with the lock held.
void unqueue(basefs::ExaminerJob *job)
{
    basefs::ExaminerJob **link = &g_pool.queue;
    while (*link != nullptr && *link != job) {
        link = &(*link)->shared.following;
    }
    if (*link == job) {
        *link = job->shared.following;
    }
    job->shared.queued = false;
}

// The first queued job with pieces left and room for one more helper; jobs
// with every piece claimed leave the queue. Called with the lock held.
basefs::ExaminerJob *jobWithRoom()
{
    basefs::ExaminerJob *job = g_pool.queue;
    while (job != nullptr) {
        basefs::ExaminerJob *following = job->shared.following;
        if (allClaimed(job->shared)) {
            unqueue(job);
        } else if (job->shared.helpersInside < job->shared.helpers) {
            return job;
        }
        job = following;
    }
    return nullptr;
}

// The moment `millis` after `from`, as pthread_cond_timedwait takes it.
struct timespec after(struct timespec from, long millis)
{
    from.tv_sec += millis / 1000;
    from.tv_nsec += (millis % 1000) * 1000000L;
    if (from.tv_nsec >= 1000000000L) {
        from.tv_sec += 1;
        from.tv_nsec -= 1000000000L;
    }
    return from;
}

// Waits for work with the lock held; false once the helper has been idle for
// the pool's idle time (read again at every wake-up) and should end.
bool awaitWork()
{
    struct timespec since;
    clock_gettime(CLOCK_REALTIME, &since);
    int result = 0;
    while (jobWithRoom() == nullptr && result != ETIMEDOUT) {
        const struct timespec deadline = after(since, g_pool.idleMillis);
        result = pthread_cond_timedwait(&g_pool.workReady, &g_pool.lock, &deadline);
    }
    return jobWithRoom() != nullptr;
}

void *helperMain(void *)
{
    // Named, so that a thread dump or top tells the library's threads apart.
    prctl(PR_SET_NAME, "basefs-examiner", 0, 0, 0);
    pthread_mutex_lock(&g_pool.lock);
    for (;;) {
        basefs::ExaminerJob *job = jobWithRoom();
        if (job == nullptr) {
            if (!awaitWork()) {
                break;
            }
            continue;
        }
        // The job stays alive while a helper is inside: its caller waits for none.
        basefs::ExaminerJob::Shared &shared = job->shared;
        ++shared.helpersInside;
        pthread_mutex_unlock(&g_pool.lock);
        workOn(shared);
        pthread_mutex_lock(&g_pool.lock);
        --shared.helpersInside;
        pthread_cond_broadcast(&g_pool.jobDone);
    }
    --g_pool.threads;
    pthread_mutex_unlock(&g_pool.lock);
    return nullptr;
}

// A child after fork has none of the parent's helpers: it starts afresh.
void resetInChild()
{
    new (&g_pool) Pool();
    g_pool.forkHandlerSet = true;
}

// Starts helpers until there are `wanted`, with every signal blocked so that
// none is delivered to a helper. Called with the lock held.
void startHelpers(unsigned wanted)
{
    if (!g_pool.forkHandlerSet) {
        g_pool.forkHandlerSet = pthread_atfork(nullptr, nullptr, resetInChild) == 0;
        if (!g_pool.forkHandlerSet) {
            return;
        }
    }
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    // sigprocmask sets the calling thread's mask; a new thread inherits it.
    if (sigprocmask(SIG_SETMASK, &all, &previous) != 0) {
        return;
    }
    pthread_attr_t attributes;
    const bool sized = pthread_attr_init(&attributes) == 0;
    if (sized) {
        pthread_attr_setstacksize(&attributes, kHelperStackBytes);
    }
    while (g_pool.threads < wanted) {
        pthread_t thread;
        if (pthread_create(&thread, sized ? &attributes : nullptr, helperMain, nullptr) != 0) {
            break;
        }
        pthread_detach(thread);
        ++g_pool.threads;
    }
    if (sized) {
        pthread_attr_destroy(&attributes);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

constexpr unsigned kNotForced = ~0u;
constexpr unsigned kNotRead = ~0u - 1;
// Read once; a race reads the same value twice. No function-local static:
// its guard would need the C++ runtime.
std::atomic<unsigned> g_forced{kNotRead};

unsigned readForcedExaminers()
{
    const char *value = std::getenv("BASEFS_LIST_EXAMINERS");
    if (value == nullptr || *value == '\0') {
        return kNotForced;
    }
    const unsigned long n = std::strtoul(value, nullptr, 10);
    return n > basefs::kMaxExaminers ? basefs::kMaxExaminers : static_cast<unsigned>(n);
}

unsigned forcedExaminers()
{
    unsigned forced = g_forced.load(std::memory_order_relaxed);
    if (forced == kNotRead) {
        forced = readForcedExaminers();
        g_forced.store(forced, std::memory_order_relaxed);
    }
    return forced;
}

bool isRemoteOrFuse(long type)
{
    switch (static_cast<unsigned long>(type) & 0xffffffffUL) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFE534D42UL: // SMB2
    case 0xFF534D42UL: // CIFS
    case 0x65735546UL: // FUSE (sshfs and the like)
    case 0x00C36400UL: // Ceph
    case 0x01021997UL: // 9p
    case 0x5346414FUL: // AFS
    case 0x19830326UL: // FhGFS/BeeGFS
    case 0x0BD00BD0UL: // Lustre
    case 0x47504653UL: // GPFS
        return true;
    default:
        return false;
    }
}

bool onRemoteFileSystem(int directoryFd)
{
    struct statfs fs;
    return fstatfs(directoryFd, &fs) == 0 && isRemoteOrFuse(fs.f_type);
}

} // namespace

namespace basefs {

void ExaminerJob::start(const ExaminerWork &work, unsigned helpers)
{
    shared.work = work;
    shared.next.store(0, std::memory_order_relaxed);
    shared.done.store(0, std::memory_order_relaxed);
    shared.helpers = helpers < kMaxExaminers ? helpers : kMaxExaminers;
    started_ = true;
    if (shared.helpers == 0 || work.count < 2) {
        return;
    }
    pthread_mutex_lock(&g_pool.lock);
    startHelpers(shared.helpers);
    if (g_pool.threads > 0) {
        ExaminerJob **tail = &g_pool.queue;
        while (*tail != nullptr) {
            tail = &(*tail)->shared.following;
        }
        shared.following = nullptr;
        shared.queued = true;
        *tail = this;
        // One wake-up per helper the job takes, not the whole pool.
        for (unsigned i = 0; i < shared.helpers && i < g_pool.threads; ++i) {
            pthread_cond_signal(&g_pool.workReady);
        }
    }
    pthread_mutex_unlock(&g_pool.lock);
}

void ExaminerJob::finish()
{
    if (!started_) {
        return;
    }
    workOn(shared);
    awaitHelpers();
}

void ExaminerJob::abandon()
{
    if (!started_) {
        return;
    }
    // Every piece not yet claimed is claimed here and counts as done unrun.
    const size_t count = shared.work.count;
    const size_t claimed = shared.next.exchange(count, std::memory_order_relaxed);
    if (claimed < count) {
        shared.done.fetch_add(count - claimed, std::memory_order_acq_rel);
    }
    awaitHelpers();
}

// Waits until every piece is done and no helper holds the job, and takes it
// off the queue: from then on no helper can reach it.
void ExaminerJob::awaitHelpers()
{
    started_ = false;
    pthread_mutex_lock(&g_pool.lock);
    while (shared.done.load(std::memory_order_acquire) < shared.work.count || shared.helpersInside > 0) {
        pthread_cond_wait(&g_pool.jobDone, &g_pool.lock);
    }
    if (shared.queued) {
        unqueue(this);
    }
    pthread_mutex_unlock(&g_pool.lock);
}

ExaminerPolicy examinerPolicyFor(int directoryFd)
{
    const unsigned forced = forcedExaminers();
    if (forced != kNotForced) {
        return {forced, forced, 2};
    }
    if (onRemoteFileSystem(directoryFd)) {
        return {kMaxExaminers, kMaxExaminers, 2};
    }
    unsigned cached = 0;
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1) {
        cached = static_cast<unsigned>(CPU_COUNT(&cpus) - 1);
    }
    return {cached < kDiskExaminers ? cached : kDiskExaminers, kDiskExaminers, kLocalBreakEven};
}

unsigned ExaminerPolicy::helpersAfter(long nanos, size_t examined, unsigned participants) const
{
    if (examined == 0) {
        return cached;
    }
    const long perExamination = nanos / static_cast<long>(examined) * static_cast<long>(participants);
    return perExamination > kSlowExaminationNanos ? waiting : cached;
}

long monotonicNanos()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000L + now.tv_nsec;
}

unsigned examinerThreads()
{
    pthread_mutex_lock(&g_pool.lock);
    const unsigned threads = g_pool.threads;
    pthread_mutex_unlock(&g_pool.lock);
    return threads;
}

void setExaminerIdleMillis(long millis)
{
    pthread_mutex_lock(&g_pool.lock);
    g_pool.idleMillis = millis;
    pthread_cond_broadcast(&g_pool.workReady);
    pthread_mutex_unlock(&g_pool.lock);
}

} // namespace basefs
