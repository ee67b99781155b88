// Entries examined in chunks, on the pool's helpers where that pays.

#include "EntryChunk.h"
#include "ExaminerPool.h"

#include <cstring>

namespace {

struct ChunkWork {
    const basefs::EntryExaminer *examiner;
    basefs::EntryChunk *chunk;
};

// One entry's examination; runs on a helper, so touches nothing but its slot.
void examineOne(void *context, size_t index)
{
    auto *work = static_cast<ChunkWork *>(context);
    basefs::EntryChunk &chunk = *work->chunk;
    chunk.examined[index] = work->examiner->examine(chunk.entries[index].d_name, chunk.nameLengths[index],
                                                    &chunk.status[index]);
}

} // namespace

namespace basefs {

void EntryChunk::add(const dirent *entry)
{
    const size_t length = std::strlen(entry->d_name);
    dirent &copy = entries[count];
    copy.d_ino = entry->d_ino;
    copy.d_type = entry->d_type;
    std::memcpy(copy.d_name, entry->d_name, length + 1);
    nameLengths[count] = length;
    ++count;
}

unsigned EntryChunk::examineAll(const EntryExaminer &examiner, unsigned helpers, size_t breakEven)
{
    ChunkWork context{&examiner, this};
    if (helpers == 0 || count < breakEven) {
        for (size_t i = 0; i < count; ++i) {
            examineOne(&context, i);
        }
        return 0;
    }
    const ExaminerWork work{examineOne, &context, count};
    runOnExaminers(work, helpers);
    return helpers;
}

} // namespace basefs
