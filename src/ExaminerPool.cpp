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

// One batch being worked on: pieces are claimed by index, the last one done
// wakes the caller.
struct Job {
    const basefs::ExaminerWork *work;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    unsigned helpersInside = 0; // helpers still holding the job (under the lock)
    Job *following = nullptr; // the queue of waiting jobs
};

// A helper's stack: it only makes system calls; the default would reserve 8 MiB each.
constexpr size_t kHelperStackBytes = 256 * 1024;
// A helper without work for this long ends; the next listing that needs one starts it again.
constexpr long kDefaultIdleMillis = 10000;

struct Pool {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t workReady = PTHREAD_COND_INITIALIZER;
    pthread_cond_t jobDone = PTHREAD_COND_INITIALIZER;
    Job *queue = nullptr;
    unsigned threads = 0;
    long idleMillis = kDefaultIdleMillis;
    bool forkHandlerSet = false;
};

Pool g_pool;

// Claims and runs pieces of `job` until none is left; true when this call
// finished the last piece.
bool workOn(Job &job)
{
    const size_t count = job.work->count;
    bool finishedLast = false;
    for (;;) {
        const size_t index = job.next.fetch_add(1, std::memory_order_relaxed);
        if (index >= count) {
            return finishedLast;
        }
        job.work->run(job.work->context, index);
        finishedLast = job.done.fetch_add(1, std::memory_order_acq_rel) + 1 == count;
    }
}

// Takes the job at the head of the queue off it once all its pieces are claimed.
void dropClaimedHead()
{
    Job *head = g_pool.queue;
    if (head != nullptr && head->next.load(std::memory_order_relaxed) >= head->work->count) {
        g_pool.queue = head->following;
    }
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
    while (g_pool.queue == nullptr && result != ETIMEDOUT) {
        const struct timespec deadline = after(since, g_pool.idleMillis);
        result = pthread_cond_timedwait(&g_pool.workReady, &g_pool.lock, &deadline);
    }
    return g_pool.queue != nullptr;
}

void *helperMain(void *)
{
    // Named, so that a thread dump or top tells the library's threads apart.
    prctl(PR_SET_NAME, "basefs-examiner", 0, 0, 0);
    pthread_mutex_lock(&g_pool.lock);
    for (;;) {
        dropClaimedHead();
        Job *job = g_pool.queue;
        if (job == nullptr) {
            if (!awaitWork()) {
                break;
            }
            continue;
        }
        // The job stays alive while a helper is inside: its caller waits for none.
        ++job->helpersInside;
        pthread_mutex_unlock(&g_pool.lock);
        workOn(*job);
        pthread_mutex_lock(&g_pool.lock);
        --job->helpersInside;
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

void runOnExaminers(const ExaminerWork &work, unsigned helpers)
{
    if (helpers > kMaxExaminers) {
        helpers = kMaxExaminers;
    }
    Job job;
    job.work = &work;
    pthread_mutex_lock(&g_pool.lock);
    startHelpers(helpers);
    const bool shared = g_pool.threads > 0;
    if (shared) {
        Job **tail = &g_pool.queue;
        while (*tail != nullptr) {
            tail = &(*tail)->following;
        }
        *tail = &job;
        pthread_cond_broadcast(&g_pool.workReady);
    }
    pthread_mutex_unlock(&g_pool.lock);
    workOn(job);
    if (!shared) {
        return;
    }
    pthread_mutex_lock(&g_pool.lock);
    while (job.done.load(std::memory_order_acquire) < work.count || job.helpersInside > 0) {
        pthread_cond_wait(&g_pool.jobDone, &g_pool.lock);
    }
    // Every piece is claimed, so the job is off the queue or at its head.
    Job **link = &g_pool.queue;
    while (*link != nullptr && *link != &job) {
        link = &(*link)->following;
    }
    if (*link == &job) {
        *link = job.following;
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
