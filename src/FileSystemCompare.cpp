// Comparing two files byte by byte, in blocks, with a monitor that may stop
// the comparison.

#include "FileSystemCompare.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <cstdio>
#include <cstring>

static_assert(basefs::kCompareBlockSize == com_quenvira_internal_io_BaseFileSystem_COMPARE_BLOCK_SIZE,
              "kCompareBlockSize differs from its Java declaration");

namespace {

// One of the two files being compared: its stream, its path for error
// messages, and the buffer for its current block.
struct CompareInput {
    FILE *stream;
    const char *path;
    unsigned char *block;
};

// How reading one pair of blocks ended.
enum class BlockRead {
    kFailed,   // the answer is false: lengths differ, or a read error was thrown
    kMore,     // equal lengths, and both files may have more after them
    kLast,     // equal lengths, and these are the last blocks of both files
};

size_t readBlock(const CompareInput &input)
{
    return basefs::sys::readStream(input.stream, input.block, basefs::kCompareBlockSize);
}

// Whether a short read ended in an error rather than at end of file; end of
// file is tested first. Throws the read error (errno of the failed read) when
// it did.
bool throwIfReadFailed(JNIEnv *env, const CompareInput &input)
{
    if (std::feof(input.stream) || !std::ferror(input.stream)) {
        return false;
    }
    throwExceptionFromErrNo(env, input.path);
    return true;
}

// Reads the next block of each file, *count receiving the length of file 1's.
// Returns kFailed without reading file 2 when file 1's read fails, and when
// the two lengths differ (a file that is a prefix of the other).
BlockRead readBlocks(JNIEnv *env, const CompareInput &file1, const CompareInput &file2,
                     size_t *count)
{
    const size_t count1 = readBlock(file1);
    *count = count1;
    if (count1 == basefs::kCompareBlockSize) {
        const size_t count2 = readBlock(file2);
        if (count2 != basefs::kCompareBlockSize) {
            throwIfReadFailed(env, file2);
            return BlockRead::kFailed;
        }
        return BlockRead::kMore;
    }

    if (throwIfReadFailed(env, file1)) {
        return BlockRead::kFailed;
    }
    const bool moreInFile1 = !std::feof(file1.stream);
    const size_t count2 = readBlock(file2);
    if (count2 == basefs::kCompareBlockSize) {
        return BlockRead::kFailed; // file 2 is longer
    }
    if (std::feof(file2.stream)) {
        if (count2 != count1) {
            return BlockRead::kFailed;
        }
        return BlockRead::kLast;
    }
    if (throwIfReadFailed(env, file2) || count2 != count1) {
        return BlockRead::kFailed;
    }
    return moreInFile1 ? BlockRead::kMore : BlockRead::kLast;
}

// Asks the monitor whether to stop. Returns true when the comparison must end:
// the monitor cancelled it, or its exception is pending.
bool isCanceled(JNIEnv *env, jobject monitor)
{
    const jboolean canceled = env->CallBooleanMethod(monitor, g_MethodMonitorCancel);
    return env->ExceptionCheck() || canceled == JNI_TRUE;
}

// Compares the two open files block by block. True only for identical
// contents; false for a difference, a cancellation, a read error or the
// monitor's exception (both pending).
bool compareStreams(JNIEnv *env, const CompareInput &file1, const CompareInput &file2,
                    jobject monitor)
{
    for (;;) {
        size_t count = 0;
        const BlockRead read = readBlocks(env, file1, file2, &count);
        if (read == BlockRead::kFailed) {
            return false;
        }
        const bool equal = std::memcmp(file1.block, file2.block, count) == 0;
        if (monitor != nullptr && isCanceled(env, monitor)) {
            return false;
        }
        if (!equal) {
            return false;
        }
        if (read == BlockRead::kLast) {
            return true;
        }
    }
}

} // namespace

extern "C" JNIEXPORT jboolean JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(JNIEnv *env, jclass, jstring file1,
                                                                jstring file2, jobject monitor)
{
    const basefs::EntryPrologue<2> entry(env, {{file1, "file1"}, {file2, "file2"}},
                                          {monitor, &g_ClassMonitorOrg});
    if (!entry.ok()) {
        return JNI_FALSE;
    }
    const basefs::JavaPath &file1Chars = entry.path(0);
    const basefs::JavaPath &file2Chars = entry.path(1);

    // On the heap: 128 KiB in this frame could run past the end of a deep Java
    // thread's stack. One block each, below glibc's mmap threshold, so that
    // calls reuse arena blocks (docs/benchmark.md: the compare's buffers).
    basefs::HeapBuffer<unsigned char> block1(basefs::kCompareBlockSize);
    basefs::HeapBuffer<unsigned char> block2(basefs::kCompareBlockSize);
    if (block1.get() == nullptr || block2.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffers for comparison");
        return JNI_FALSE;
    }

    basefs::UniqueFile stream1(basefs::sys::openStreamForReading(file1Chars.get()));
    if (stream1.get() == nullptr) {
        throwExceptionFromErrNo(env, file1Chars.get());
        return JNI_FALSE;
    }
    basefs::UniqueFile stream2(basefs::sys::openStreamForReading(file2Chars.get()));
    if (stream2.get() == nullptr) {
        throwExceptionFromErrNo(env, file2Chars.get());
        return JNI_FALSE;
    }

    const CompareInput input1{stream1.get(), file1Chars.get(), block1.get()};
    const CompareInput input2{stream2.get(), file2Chars.get(), block2.get()};
    return compareStreams(env, input1, input2, monitor) ? JNI_TRUE : JNI_FALSE;
}
