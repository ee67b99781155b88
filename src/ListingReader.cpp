// The reading side of a listing: the entries read from the directory and
// examined, one at a time for the first ones, then a chunk at a time on the
// pool's helpers, each handed on in the directory's order.

#include "ListingState.h"
#include "SystemCalls.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace basefs {

namespace {

// Examines and lists one entry, then makes the cancel check. Returns false
// with an exception pending.
bool listEntry(Listing &listing, const dirent *entry)
{
    const size_t nameLength = std::strlen(entry->d_name);
    struct stat status;
    const bool examined = listing.examiner.examine(entry->d_name, nameLength, &status);
    return listExamined(listing, entry, nameLength, examined ? &status : nullptr);
}

// The entries counted since the last check once `more` are listed; 0 where
// a check comes at or before the last of them.
jint sinceCheckAfter(const Listing &listing, size_t more)
{
    const jint since = listing.entriesSinceCheck + static_cast<jint>(more);
    return listing.monitor != nullptr && since >= listing.checkInterval ? 0 : since;
}

// A stop takes effect at the next read, whose error is still reported.
ListingEnd endAfterStop(Listing &listing)
{
    errno = 0;
    if (sys::readdir(listing.dir) == nullptr && errno != 0) {
        listing.readError = errno;
        return ListingEnd::ReadError;
    }
    return ListingEnd::Complete;
}

// Two chunks: while the records of one are made, the other is read and examined.
struct ChunkPipeline {
    explicit ChunkPipeline(EntryChunk *pair) : chunks(pair) {}

    EntryChunk *chunks;
    ExaminerJob jobs[2];
    long started[2] = {0, 0};
    unsigned helpers[2] = {0, 0};

    // Reads chunk `which` with room up to the next check, `since` entries
    // after the last one, and starts examining it.
    ChunkRead readAndStart(Listing &listing, size_t which, jint since)
    {
        EntryChunk &chunk = chunks[which];
        const ChunkRead read = readChunk(
            listing.dir, chunk, chunkRoom(listing.monitor != nullptr, listing.checkInterval, since));
        started[which] = monotonicNanos();
        helpers[which] = chunk.startExamining(listing.examiner, listing.helpers, listing.policy.breakEven, jobs[which]);
        return read;
    }

    // Waits until chunk `which` is examined, and sets the helpers of the chunks after it.
    void finish(Listing &listing, size_t which)
    {
        jobs[which].finish();
        listing.helpers = listing.policy.helpersAfter(monotonicNanos() - started[which],
                                                      chunks[which].count, helpers[which] + 1);
    }
};

// readEntries with the entries read a chunk at a time and examined together;
// the next chunk is read and examined while the records of one are made,
// unless the monitor is asked between them (what it does may change the
// entries). The records, their order and the checks stay those of serial.
ListingEnd readEntriesInChunks(Listing &listing, EntryChunk *chunks)
{
    if (listing.stopRequested) {
        return endAfterStop(listing);
    }
    ChunkPipeline pipeline(chunks);
    size_t current = 0;
    ChunkRead read = pipeline.readAndStart(listing, current, listing.entriesSinceCheck);
    for (;;) {
        const EntryChunk &chunk = chunks[current];
        const size_t next = 1 - current;
        const jint sinceAfter = sinceCheckAfter(listing, chunk.count);
        const bool readAhead = !read.ended && (listing.monitor == nullptr || sinceAfter != 0);
        ChunkRead nextRead;
        if (readAhead) {
            nextRead = pipeline.readAndStart(listing, next, sinceAfter);
        }
        pipeline.finish(listing, current);
        for (size_t i = 0; i < chunk.count; ++i) {
            const struct stat *st = chunk.examined[i] ? &chunk.status[i] : nullptr;
            if (!listExamined(listing, &chunk.entries[i], chunk.nameLengths[i], st)) {
                return ListingEnd::ExceptionPending;
            }
        }
        if (read.ended) {
            listing.readError = read.error;
            return read.error == 0 ? ListingEnd::Complete : ListingEnd::ReadError;
        }
        if (!readAhead) {
            if (listing.stopRequested) {
                return endAfterStop(listing);
            }
            nextRead = pipeline.readAndStart(listing, next, listing.entriesSinceCheck);
        }
        current = next;
        read = nextRead;
    }
}

} // namespace

ListingEnd readEntries(Listing &listing)
{
    // The first entries go serially: a small directory is listed exactly as
    // without helpers, and only a larger one reads ahead, with as many
    // helpers as the time these took calls for.
    size_t listed = 0;
    bool chunked = listing.policy.waiting > 0;
    const long start = monotonicNanos();
    for (;;) {
        if (chunked && listed >= listing.policy.breakEven) {
            // Without memory for the chunks the listing goes on serially.
            const ChunkHolder chunks(static_cast<EntryChunk *>(std::malloc(2 * sizeof(EntryChunk))));
            if (chunks.get() != nullptr) {
                listing.helpers = listing.policy.helpersAfter(monotonicNanos() - start, listed, 1);
                return readEntriesInChunks(listing, chunks.get());
            }
            chunked = false;
        }
        // readdir leaves errno alone at the end of the directory.
        errno = 0;
        const dirent *entry = sys::readdir(listing.dir);
        if (entry == nullptr) {
            listing.readError = errno;
            return listing.readError == 0 ? ListingEnd::Complete : ListingEnd::ReadError;
        }
        if (listing.stopRequested) {
            return ListingEnd::Complete;
        }
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        if (!listEntry(listing, entry)) {
            return ListingEnd::ExceptionPending;
        }
        ++listed;
    }
}


} // namespace basefs
