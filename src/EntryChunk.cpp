// Entries examined in chunks, on the pool's helpers where that pays.

#include "EntryChunk.h"
#include "ExaminerPool.h"

#include <cerrno>
#include <cstring>

namespace {

// One entry's examination; runs on a helper, so touches nothing but its slot.
void examineOne(void *context, size_t index)
{
    basefs::EntryChunk &chunk = *static_cast<basefs::EntryChunk *>(context);
    chunk.examined[index] = chunk.examiner->examine(chunk.entries[index].d_name, chunk.nameLengths[index],
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

ChunkRead readChunk(DIR *dir, EntryChunk &chunk, size_t room)
{
    chunk.count = 0;
    while (chunk.count < room) {
        // readdir leaves errno alone at the end of the directory.
        errno = 0;
        const dirent *entry = sys::readdir(dir);
        if (entry == nullptr) {
            return ChunkRead{true, errno};
        }
        if (!isDotOrDotDot(entry->d_name)) {
            chunk.add(entry);
        }
    }
    return ChunkRead{};
}

unsigned EntryChunk::startExamining(const EntryExaminer &entryExaminer, unsigned helpers, size_t breakEven,
                                    ExaminerJob &job)
{
    examiner = &entryExaminer;
    if (helpers == 0 || count < breakEven) {
        for (size_t i = 0; i < count; ++i) {
            examineOne(this, i);
        }
        return 0;
    }
    job.start(ExaminerWork{examineOne, this, count}, helpers);
    return helpers;
}

} // namespace basefs
