// Where two files differ: the byte-by-byte comparison, in the same blocks and
// with the monitor asked as often, that also keeps the count of lines, so that
// a caller who must say where two files differ reads them once.

#include "FileSystemCompare.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_FileComparison.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// One file: its stream, its path for error messages, its current block.
struct Side {
    FILE *stream;
    const char *path;
    unsigned char *block;
};

// The first difference, as FileComparison's fields order it.
struct Difference {
    jlong ended;           // -1 a byte differs, else the side that ended first
    jlong bytes;           // the 1-based number of the differing byte, or the shorter side's length
    jlong newlines;        // before the differing byte, or in the shorter side
    jlong endsWithNewline; // 1 when the shorter side ends with a newline
};

// Reads the side's next block; -1 with the read error thrown.
long readBlock(JNIEnv *env, const Side &side)
{
    const size_t count = basefs::sys::readStream(side.stream, side.block, basefs::kCompareBlockSize);
    if (count < basefs::kCompareBlockSize && !std::feof(side.stream) && std::ferror(side.stream)) {
        throwExceptionFromErrNo(env, side.path);
        return -1;
    }
    return static_cast<long>(count);
}

jlong countNewlines(const unsigned char *bytes, size_t length)
{
    jlong count = 0;
    const unsigned char *end = bytes + length;
    for (const void *at = bytes; (at = std::memchr(at, '\n', end - static_cast<const unsigned char *>(at))) != nullptr;
         at = static_cast<const unsigned char *>(at) + 1) {
        ++count;
    }
    return count;
}

// Asks the monitor whether to stop: true when it cancelled or threw.
bool isCanceled(JNIEnv *env, jobject monitor)
{
    const jboolean canceled = env->CallBooleanMethod(monitor, g_MethodMonitorCancel);
    return env->ExceptionCheck() || canceled == JNI_TRUE;
}

// Compares the two open files block by block. True with *found set at the
// first difference; false for equal contents, a cancellation, a read error or
// the monitor's exception (the last two pending). The monitor is asked after
// each pair of blocks of equal length, as nCompareByteByByte asks it.
bool findDifference(JNIEnv *env, const Side &first, const Side &second, jobject monitor, Difference *found)
{
    jlong offset = 0;
    jlong newlines = 0;
    bool lastIsNewline = false;
    for (;;) {
        const long length1 = readBlock(env, first);
        if (length1 < 0) {
            return false;
        }
        const long length2 = readBlock(env, second);
        if (length2 < 0) {
            return false;
        }
        const size_t common = static_cast<size_t>(std::min(length1, length2));
        const bool equal = std::memcmp(first.block, second.block, common) == 0;
        if (length1 == length2 && monitor != nullptr && isCanceled(env, monitor)) {
            return false;
        }
        if (!equal) {
            const size_t at = std::mismatch(first.block, first.block + common, second.block).first - first.block;
            *found = {-1, offset + static_cast<jlong>(at) + 1, newlines + countNewlines(first.block, at), 0};
            return true;
        }
        newlines += countNewlines(first.block, common);
        offset += static_cast<jlong>(common);
        if (common > 0) {
            lastIsNewline = first.block[common - 1] == '\n';
        }
        if (length1 != length2) {
            *found = {length1 < length2 ? 0 : 1, offset, newlines, lastIsNewline ? 1 : 0};
            return true;
        }
        if (static_cast<size_t>(length1) < basefs::kCompareBlockSize) {
            return false;
        }
    }
}

jlongArray toJava(JNIEnv *env, const Difference &difference)
{
    const jlong fields[] = {difference.ended, difference.bytes, difference.newlines, difference.endsWithNewline};
    static_assert(sizeof fields / sizeof fields[0] == com_quenvira_internal_io_FileComparison_FIELDS,
                  "the fields differ from their Java declaration");
    jlongArray array = env->NewLongArray(com_quenvira_internal_io_FileComparison_FIELDS);
    if (array != nullptr) {
        env->SetLongArrayRegion(array, 0, com_quenvira_internal_io_FileComparison_FIELDS, fields);
    }
    return array;
}

} // namespace

extern "C" JNIEXPORT jlongArray JNICALL
Java_com_quenvira_internal_io_FileComparison_nFirstDifference(JNIEnv *env, jclass, jstring first, jstring second,
                                                              jobject monitor)
{
    const basefs::EntryPrologue<2> entry(env, {{first, "first"}, {second, "second"}},
                                          {monitor, &g_ClassMonitorOrg});
    if (!entry.ok()) {
        return nullptr;
    }
    // On the heap, as the comparison's: a deep Java thread's stack may not hold them.
    basefs::HeapBuffer<unsigned char> block1(basefs::kCompareBlockSize);
    basefs::HeapBuffer<unsigned char> block2(basefs::kCompareBlockSize);
    if (block1.get() == nullptr || block2.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffers for comparison");
        return nullptr;
    }
    // Both opened before either is read, as the comparison opens them.
    basefs::UniqueFile stream1(basefs::sys::openStreamForReading(entry.path(0).get()));
    if (stream1.get() == nullptr) {
        throwExceptionFromErrNo(env, entry.path(0).get());
        return nullptr;
    }
    basefs::UniqueFile stream2(basefs::sys::openStreamForReading(entry.path(1).get()));
    if (stream2.get() == nullptr) {
        throwExceptionFromErrNo(env, entry.path(1).get());
        return nullptr;
    }
    Difference difference{};
    if (!findDifference(env, {stream1.get(), entry.path(0).get(), block1.get()},
                        {stream2.get(), entry.path(1).get(), block2.get()}, monitor, &difference)) {
        return nullptr;
    }
    return toJava(env, difference);
}
