// The fixture of the copy's tests: a source and a destination in a fresh
// directory, the direct call of the entry point, and the same cases with each
// transfer method.
#pragma once

#include "CLibraryFaults.h"
#include "EntryPointFixture.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

// The entry point itself: called directly, its result survives a pending
// exception, which a Java caller never sees.
extern "C" JNIEXPORT jlong JNICALL Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(
    JNIEnv *env, jclass cls, jstring src, jstring dst, jint copyFlags, jobject monitor);

namespace {

using namespace jvmtest;

constexpr jlong kMiB = 1024 * 1024;
constexpr jlong kTwoAndAHalfMiB = 2 * kMiB + kMiB / 2;
// What a transfer asks for once the copy is past the reported size.
constexpr size_t kMaxTransfer = basefs::kMaxTransferSize;


[[maybe_unused]] const char *MethodName(TransferMethod method)
{
    switch (method) {
    case TransferMethod::kCopyFileRange:
        return "CopyFileRange";
    case TransferMethod::kSendfile:
        return "Sendfile";
    case TransferMethod::kReadWrite:
        break;
    }
    return "ReadWrite";
}

class FileSystemCopyTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        source_ = dir_.WriteFileOfSize("source", kTwoAndAHalfMiB);
        sourceContents_ = ReadFileContents(source_);
    }

    jlong Copy(const std::string &src, const std::string &dst, jobject monitor, jint flags = 0)
    {
        return natives::CopyFileCallback(JStr(src.c_str()), JStr(dst.c_str()), flags, monitor);
    }

    // The result the library returns along with an exception.
    jlong CopyDirect(const std::string &src, const std::string &dst, jobject monitor, jint flags = 0)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(
            env(), nullptr, JStr(src.c_str()), JStr(dst.c_str()), flags, monitor);
    }

    // Every script starts afresh, the best method allowed.
    UseTransferMethod best_{TransferMethod::kCopyFileRange};
    TempDir dir_;
    std::string source_;
    std::string sourceContents_;
    std::string destination_ = dir_ / "destination";
};

// The same cases with each transfer method: the same bytes, results, monitor
// calls and cut rule.
class CopyMethodTest : public FileSystemCopyTest, public ::testing::WithParamInterface<TransferMethod> {
protected:
    TransferScript &Script() { return ScriptOf(GetParam()); }
    // The call that fails a transfer: for read/write, the write.
    faults::CFunction FailingFunction()
    {
        switch (GetParam()) {
        case TransferMethod::kCopyFileRange:
            return faults::CFunction::kCopyFileRange;
        case TransferMethod::kSendfile:
            return faults::CFunction::kSendfile64;
        case TransferMethod::kReadWrite:
            break;
        }
        return faults::CFunction::kWrite;
    }
    // What the method's own call is asked for when a transfer asks for
    // `count`: read/write reads at most one 1 MiB buffer.
    size_t Asked(size_t count)
    {
        return GetParam() == TransferMethod::kReadWrite ? std::min<size_t>(count, kMiB) : count;
    }

    UseTransferMethod method_{GetParam()};
};

} // namespace
