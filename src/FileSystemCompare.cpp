// Comparing two files byte by byte, in blocks, with a monitor that may stop
// the comparison.

#include "CompareReader.h"
#include "FileSystemCompare.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <cstring>

static_assert(basefs::kCompareBlockSize == com_quenvira_internal_io_BaseFileSystem_COMPARE_BLOCK_SIZE,
              "kCompareBlockSize differs from its Java declaration");

namespace {

// One of the two files being compared: its reader, its path for error
// messages, and its current block.
struct CompareInput {
    basefs::CompareReader reader;
    const char *path;
    const unsigned char *block;
};

// How reading one pair of blocks ended.
enum class BlockRead {
    kFailed,   // the answer is false: lengths differ, or a read error was thrown
    kMore,     // equal lengths, and both files may have more after them
    kLast,     // equal lengths, and these are the last blocks of both files
};

size_t readBlock(CompareInput &input)
{
    return input.reader.next(&input.block);
}

// Whether a short block ended in a read error rather than at end of file.
// Throws the read error when it did.
bool throwIfReadFailed(JNIEnv *env, const CompareInput &input)
{
    if (!input.reader.failed()) {
        return false;
    }
    throwExceptionFromError(env, input.reader.error(), input.path);
    return true;
}

// Reads the next block of each file, *count receiving the length of file 1's.
// Returns kFailed without reading file 2 when file 1's read fails, and when
// the two lengths differ (a file that is a prefix of the other).
BlockRead readBlocks(JNIEnv *env, CompareInput &file1, CompareInput &file2, size_t *count)
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
    const size_t count2 = readBlock(file2);
    if (count2 == basefs::kCompareBlockSize) {
        return BlockRead::kFailed; // file 2 is longer
    }
    if (throwIfReadFailed(env, file2) || count2 != count1) {
        return BlockRead::kFailed;
    }
    return BlockRead::kLast;
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
bool compareFiles(JNIEnv *env, CompareInput &file1, CompareInput &file2, jobject monitor)
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

    // On the heap: 2 MiB in this frame would run past the end of a Java
    // thread's stack. One allocation serves both files.
    basefs::HeapBuffer<unsigned char> buffers(2 * basefs::kCompareReadSize);
    if (buffers.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffers for comparison");
        return JNI_FALSE;
    }

    const basefs::UniqueFd fd1(basefs::openForComparison(file1Chars.get()));
    if (fd1.get() < 0) {
        throwExceptionFromErrNo(env, file1Chars.get());
        return JNI_FALSE;
    }
    const basefs::UniqueFd fd2(basefs::openForComparison(file2Chars.get()));
    if (fd2.get() < 0) {
        throwExceptionFromErrNo(env, file2Chars.get());
        return JNI_FALSE;
    }

    CompareInput input1{{fd1.get(), buffers.get()}, file1Chars.get(), nullptr};
    CompareInput input2{{fd2.get(), buffers.get() + basefs::kCompareReadSize}, file2Chars.get(), nullptr};
    return compareFiles(env, input1, input2, monitor) ? JNI_TRUE : JNI_FALSE;
}
