// The helper pool on its own, without a JVM, so that ThreadSanitizer can watch
// it (the tsan preset): every piece of a job runs exactly once whoever runs
// it, callers share the pool, helpers take no signal, end when idle, and a
// child forked while helpers work starts with a pool of its own.
#include "EntryChunk.h"
#include "ExaminerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A job whose pieces count how often each ran, and on which thread.
struct CountingJob {
    explicit CountingJob(size_t count) : runs(count), caller(pthread_self()) {}

    static void run(void *context, size_t index)
    {
        auto *job = static_cast<CountingJob *>(context);
        job->runs[index].fetch_add(1, std::memory_order_relaxed);
        if (!pthread_equal(pthread_self(), job->caller)) {
            job->onHelpers.fetch_add(1, std::memory_order_relaxed);
            sigset_t mask;
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            if (sigismember(&mask, SIGINT) != 1 || sigismember(&mask, SIGTERM) != 1) {
                job->signalsOpen.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if (job->pause) {
            usleep(200);
        }
    }

    // Runs the job with `helpers` and tells whether every piece ran once.
    bool runOnce(unsigned helpers)
    {
        basefs::ExaminerJob job;
        job.start(basefs::ExaminerWork{run, this, runs.size()}, helpers);
        job.finish();
        for (const auto &count : runs) {
            if (count.load() != 1) {
                return false;
            }
        }
        return true;
    }

    std::vector<std::atomic<int>> runs;
    pthread_t caller;
    bool pause = false;
    std::atomic<size_t> onHelpers{0};
    std::atomic<int> signalsOpen{0};
};

TEST(ExaminerPoolTest, EveryPieceRunsOnceWhateverTheHelpers)
{
    for (size_t count : {size_t{0}, size_t{1}, size_t{2}, size_t{257}, size_t{5000}}) {
        for (unsigned helpers : {0u, 1u, 4u, basefs::kMaxExaminers, basefs::kMaxExaminers + 10}) {
            CountingJob job(count);
            EXPECT_TRUE(job.runOnce(helpers)) << count << " pieces, " << helpers << " helpers";
        }
    }
    EXPECT_LE(basefs::examinerThreads(), basefs::kMaxExaminers);
}

TEST(ExaminerPoolTest, HelpersDoTheWorkOfPiecesThatWaitAndTakeNoSignal)
{
    CountingJob job(64);
    job.pause = true;
    EXPECT_TRUE(job.runOnce(8));
    EXPECT_GT(job.onHelpers.load(), 0u);
    EXPECT_EQ(0, job.signalsOpen.load()) << "a helper could take a signal";
}

TEST(ExaminerPoolTest, CallersOnManyThreadsShareThePool)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 6; ++t) {
        callers.emplace_back([&failures, t] {
            for (int round = 0; round < 100; ++round) {
                CountingJob job(static_cast<size_t>(1 + (round * 37 + t) % 300));
                if (!job.runOnce(static_cast<unsigned>(1 + t % 4))) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    for (auto &caller : callers) {
        caller.join();
    }
    EXPECT_EQ(0, failures.load());
}

// One caller with two jobs in flight finishes them in either order; an
// abandoned job runs no piece after abandon() returns.
TEST(ExaminerPoolTest, JobsInFlightTogetherAndAbandoned)
{
    CountingJob first(300);
    CountingJob second(300);
    first.pause = second.pause = true;
    basefs::ExaminerJob one;
    basefs::ExaminerJob two;
    one.start(basefs::ExaminerWork{CountingJob::run, &first, first.runs.size()}, 4);
    two.start(basefs::ExaminerWork{CountingJob::run, &second, second.runs.size()}, 4);
    two.finish();
    one.abandon();
    for (const auto &count : second.runs) {
        ASSERT_EQ(1, count.load());
    }
    std::vector<int> seen;
    for (const auto &count : first.runs) {
        ASSERT_LE(count.load(), 1);
        seen.push_back(count.load());
    }
    usleep(20000);
    for (size_t i = 0; i < first.runs.size(); ++i) {
        EXPECT_EQ(seen[i], first.runs[i].load()) << "piece " << i << " ran after abandon()";
    }
}

TEST(ExaminerPoolTest, IdleHelpersEndAndAreStartedAgain)
{
    basefs::setExaminerIdleMillis(20);
    CountingJob first(100);
    ASSERT_TRUE(first.runOnce(4));
    for (int waited = 0; waited < 500 && basefs::examinerThreads() > 0; ++waited) {
        usleep(10000);
    }
    EXPECT_EQ(0u, basefs::examinerThreads());
    basefs::setExaminerIdleMillis(10000);
    CountingJob second(100);
    second.pause = true;
    EXPECT_TRUE(second.runOnce(4));
    EXPECT_GT(second.onHelpers.load(), 0u);
}

// fork() while other threads run jobs: the child has none of the parent's
// helpers, so a job of its own must not wait for them. alarm() ends a child
// that hangs, which the parent sees as a signal.
TEST(ExaminerPoolTest, ChildForkedWhileHelpersWorkRunsItsOwnJobs)
{
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
        while (!stop.load()) {
            CountingJob job(200);
            job.runOnce(4);
        }
    });
    std::string failure;
    for (int i = 0; i < 20 && failure.empty(); ++i) {
        const pid_t child = fork();
        if (child == -1) {
            failure = "fork failed";
            break;
        }
        if (child == 0) {
            alarm(10);
            CountingJob job(300);
            job.pause = true;
            _exit(job.runOnce(4) ? 0 : 1);
        }
        int status = 0;
        if (waitpid(child, &status, 0) != child) {
            failure = "waitpid failed";
        } else if (!WIFEXITED(status)) {
            failure = "child ended by signal " + std::to_string(WTERMSIG(status));
        } else if (WEXITSTATUS(status) != 0) {
            failure = "a piece of the child's job did not run once";
        }
    }
    stop.store(true);
    busy.join();
    EXPECT_EQ("", failure);
}

// A chunk examined by helpers holds each entry's own status at its index.
TEST(EntryChunkTest, EachEntryGetsItsOwnStatusOrNone)
{
    char dirTemplate[] = "/tmp/basefs-pool-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dirTemplate));
    const std::string dir = dirTemplate;
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_LE(0, dirFd);
    auto *chunk = static_cast<basefs::EntryChunk *>(std::malloc(sizeof(basefs::EntryChunk)));
    ASSERT_NE(nullptr, chunk);
    chunk->count = 0;
    for (size_t i = 0; i < basefs::EntryChunk::kCapacity; ++i) {
        dirent entry{};
        const std::string name = "f" + std::to_string(i);
        snprintf(entry.d_name, sizeof entry.d_name, "%s", name.c_str());
        // Every third entry is never made: it cannot be examined.
        if (i % 3 != 0) {
            const int fd = openat(dirFd, entry.d_name, O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            ASSERT_LE(0, fd);
            ASSERT_EQ(0, ftruncate(fd, static_cast<off_t>(i)));
            close(fd);
        }
        chunk->add(&entry);
    }
    const basefs::EntryExaminer examiner(dir.size() + 1, dirFd);
    basefs::ExaminerJob job;
    EXPECT_EQ(6u, chunk->startExamining(examiner, 6, 2, job));
    job.finish();
    for (size_t i = 0; i < chunk->count; ++i) {
        ASSERT_EQ(i % 3 != 0, chunk->examined[i]) << i;
        if (chunk->examined[i]) {
            EXPECT_EQ(static_cast<off_t>(i), chunk->status[i].st_size) << i;
            EXPECT_EQ(0, unlinkat(dirFd, chunk->entries[i].d_name, 0));
        }
    }
    std::free(chunk);
    close(dirFd);
    EXPECT_EQ(0, rmdir(dir.c_str()));
}

} // namespace
