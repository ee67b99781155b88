// Helper threads that examine a directory's entries while the calling thread
// waits, shared by all listings of the process.
#ifndef BASEFS_EXAMINER_POOL_H
#define BASEFS_EXAMINER_POOL_H

#include <cstddef>

namespace basefs {

// One batch of independent pieces of work: run(context, i) for each i below
// count, in any order, on any thread. run never calls into the JVM.
struct ExaminerWork {
    void (*run)(void *context, size_t index);
    void *context;
    size_t count;
};

// The most helpers one directory's entries are examined by.
inline constexpr unsigned kMaxExaminers = 16;

// The fewest entries of a chunk handed to helpers on a local file system:
// below it the thread hand-over costs more than the calls it spreads.
inline constexpr size_t kLocalBreakEven = 64;

// Runs every piece of `work` with up to `helpers` pool threads besides the
// caller, returning once all are done, so no helper touches the work after.
// Where no thread could be started the caller does the whole work itself.
void runOnExaminers(const ExaminerWork &work, unsigned helpers);

// How many helpers examine the entries of the open directory `directoryFd`:
// many for network and FUSE file systems, where each request waits on a
// server; up to the CPUs the process may use on local ones; 0 for none.
// BASEFS_LIST_EXAMINERS=N forces N (tests use it to run the parallel path).
unsigned examinersFor(int directoryFd);

// The fewest entries of a chunk worth handing to helpers on a local file
// system; a network one gains from any count.
size_t examinersBreakEven(int directoryFd);

} // namespace basefs

#endif // BASEFS_EXAMINER_POOL_H
