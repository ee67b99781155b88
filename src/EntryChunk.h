// Entries read ahead from a directory and examined together, on helper
// threads where that pays, before their records are made in order.
#ifndef BASEFS_ENTRY_CHUNK_H
#define BASEFS_ENTRY_CHUNK_H

#include "ExaminerPool.h"
#include "SystemCalls.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace basefs {

inline bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Examines the entries of one open directory relative to its descriptor, so
// that each record describes the entry of this very directory whether or not
// the caller's path ends with a separator, and the kernel does not walk the
// whole path again for every entry. Safe to use from several threads.
class EntryExaminer {
public:
    // prefixLength: the bytes of the directory's path with its separator, 0
    // where entries are known by their names alone.
    EntryExaminer(size_t prefixLength, int directoryFd) : prefixLength_(prefixLength), directoryFd_(directoryFd) {}

    // The status of the entry `name` itself (a link is not followed); false
    // when it cannot be examined.
    bool examine(const char *name, size_t nameLength, struct stat *st) const
    {
        // The entry's full path (the directory, a separator, the name) is the
        // name the caller would use for it; one the kernel would refuse is
        // refused here too, although the short name alone could be examined.
        if (prefixLength_ >= PATH_MAX || nameLength >= PATH_MAX - prefixLength_) {
            return false;
        }
        return sys::fstatat(directoryFd_, name, st, AT_SYMLINK_NOFOLLOW) == 0;
    }

private:
    size_t prefixLength_; // the directory path with its separator
    int directoryFd_;
};

// Up to kCapacity entries copied out of readdir's buffer (which the next
// read overwrites), with each one's status once examined.
struct EntryChunk {
    static constexpr size_t kCapacity = 256;
    dirent entries[kCapacity];
    size_t nameLengths[kCapacity];
    struct stat status[kCapacity];
    bool examined[kCapacity];
    size_t count;
    const EntryExaminer *examiner; // while being examined

    // Copies `entry` in; the caller keeps count below kCapacity.
    void add(const dirent *entry);
    // Starts examining every entry: by up to `helpers` threads as `job`
    // (whose finish() completes it) when the chunk holds at least breakEven
    // entries, else on the calling thread before it returns. Returns the
    // helpers asked for (0: the caller alone).
    unsigned startExamining(const EntryExaminer &examiner, unsigned helpers, size_t breakEven, ExaminerJob &job);
};

// What reading a chunk came to.
struct ChunkRead {
    bool ended = false; // the directory's end, or a read error
    int error = 0;      // readdir's error number; 0 at the end
};

// Reads entries of `dir` into `chunk`, "." and ".." left out, until it holds
// `room` or the directory ends.
ChunkRead readChunk(DIR *dir, EntryChunk &chunk, size_t room);

// Owns the two chunks of a listing (one read while the other is examined),
// allocated together with malloc.
class ChunkHolder {
public:
    explicit ChunkHolder(EntryChunk *chunk) : chunk_(chunk) {}
    ChunkHolder(const ChunkHolder &) = delete;
    ChunkHolder &operator=(const ChunkHolder &) = delete;
    ~ChunkHolder() { std::free(chunk_); }
    EntryChunk *get() const { return chunk_; }

private:
    EntryChunk *chunk_;
};

// How many entries the next chunk may hold: no more than reach the next
// cancel check, so the monitor is asked after the same entries as serially.
inline size_t chunkRoom(bool monitored, int checkInterval, int entriesSinceCheck)
{
    if (!monitored) {
        return EntryChunk::kCapacity;
    }
    // In long: an interval of INT_MIN less the entries since would overflow an int.
    const long left = static_cast<long>(checkInterval) - entriesSinceCheck;
    if (left < 1) {
        return 1;
    }
    return static_cast<size_t>(left) < EntryChunk::kCapacity ? static_cast<size_t>(left) : EntryChunk::kCapacity;
}

} // namespace basefs

#endif // BASEFS_ENTRY_CHUNK_H
