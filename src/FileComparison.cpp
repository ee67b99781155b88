// Where two files differ: the byte-by-byte comparison, in the same blocks and
// with the monitor asked as often, that also keeps the count of lines, so that
// a caller who must say where two files differ reads them once.

#include "CompareReader.h"
#include "FileSystemCompare.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_FileComparison.h"

#include <algorithm>
#include <cstring>

namespace {

// One file: its reader, its path for error messages, its current block.
struct Side {
    basefs::CompareReader reader;
    const char *path;
    const unsigned char *block;
};

// The first difference, as FileComparison's fields order it.
struct Difference {
    jlong ended;           // -1 a byte differs, else the side that ended first
    jlong bytes;           // the 1-based number of the differing byte, or the shorter side's length
    jlong newlines;        // before the differing byte, or in the shorter side
    jlong endsWithNewline; // 1 when the shorter side ends with a newline
};

// Reads the side's next block; -1 with the read error thrown.
long readBlock(JNIEnv *env, Side &side)
{
    const size_t count = side.reader.next(&side.block);
    if (count < basefs::kCompareBlockSize && side.reader.failed()) {
        throwExceptionFromError(env, side.reader.error(), side.path);
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
bool findDifference(JNIEnv *env, Side &first, Side &second, jobject monitor, Difference *found)
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
    // On the heap, as the comparison's: a Java thread's stack may not hold them.
    basefs::HeapBuffer<unsigned char> buffers(2 * basefs::kCompareReadSize);
    if (buffers.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffers for comparison");
        return nullptr;
    }
    // Both opened before either is read, as the comparison opens them.
    const basefs::UniqueFd fd1(basefs::openForComparison(entry.path(0).get()));
    if (fd1.get() < 0) {
        throwExceptionFromErrNo(env, entry.path(0).get());
        return nullptr;
    }
    const basefs::UniqueFd fd2(basefs::openForComparison(entry.path(1).get()));
    if (fd2.get() < 0) {
        throwExceptionFromErrNo(env, entry.path(1).get());
        return nullptr;
    }
    Side side1{{fd1.get(), buffers.get()}, entry.path(0).get(), nullptr};
    Side side2{{fd2.get(), buffers.get() + basefs::kCompareReadSize}, entry.path(1).get(), nullptr};
    Difference difference{};
    if (!findDifference(env, side1, side2, monitor, &difference)) {
        return nullptr;
    }
    return toJava(env, difference);
}
