// Copying a file in the kernel: steps and progress reports, stopping, cutting
// the destination, failed transfers (injected by standing in for sendfile64,
// which the library calls), the creation mode and the failures before a copy.
#include "CLibraryFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

// The entry point itself: called directly, its result survives a pending
// exception, which a Java caller never sees.
extern "C" JNIEXPORT jlong JNICALL Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(
    JNIEnv *env, jclass cls, jstring src, jstring dst, jint copyFlags, jobject monitor);

namespace {

using namespace jvmtest;

constexpr jlong kMiB = 1024 * 1024;
constexpr jlong kTwoAndAHalfMiB = 2 * kMiB + kMiB / 2;

mode_t ModeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
    return st.st_mode & 07777;
}

class CopyFileTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        g_sendfile = SendfileScript{};
        source_ = dir_.WriteFileOfSize("source", kTwoAndAHalfMiB);
        sourceContents_ = ReadFileContents(source_);
    }
    void TearDown() override
    {
        g_sendfile = SendfileScript{};
        JvmTest::TearDown();
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

    TempDir dir_;
    std::string source_;
    std::string sourceContents_;
    std::string destination_ = dir_ / "destination";
};

TEST_F(CopyFileTest, StepsOfOneMiBEachReportedAsAFullStep)
{
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, monitor));
    ExpectNoException();
    EXPECT_EQ(std::vector<jlong>({kMiB, kMiB, kMiB}), MonitorBytesReported(monitor));
    EXPECT_EQ(3, g_sendfile.calls);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_F(CopyFileTest, WithoutMonitorOneTransferAsksForEverything)
{
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, nullptr));
    ExpectNoException();
    EXPECT_EQ(std::vector<size_t>({static_cast<size_t>(kTwoAndAHalfMiB)}), g_sendfile.requested);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_F(CopyFileTest, EmptySourceMakesNoTransfer)
{
    std::string empty = dir_.WriteFile("empty", "");
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        std::string destination = dir_ / (withMonitor ? "copy-m" : "copy");
        jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
        EXPECT_EQ(0, Copy(empty, destination, monitor));
        ExpectNoException();
        EXPECT_EQ(0, access(destination.c_str(), F_OK));
        EXPECT_EQ("", ReadFileContents(destination));
        if (monitor != nullptr) {
            EXPECT_EQ(0, MonitorCalls(monitor));
        }
    }
    EXPECT_EQ(0, g_sendfile.calls);
}

TEST_F(CopyFileTest, FullCopyCutsALongerDestinationToTheSource)
{
    std::string empty = dir_.WriteFile("empty", "");
    std::string longer(3 * kMiB, 'z');
    struct Case {
        const char *name;
        const std::string *source;
        bool withMonitor;
    } cases[] = {{"with monitor", &source_, true},
                 {"without monitor", &source_, false},
                 {"empty source", &empty, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        dir_.WriteFile("destination", longer);
        Copy(*c.source, destination_, c.withMonitor ? NewScriptedMonitor() : nullptr);
        ExpectNoException();
        EXPECT_TRUE(ReadFileContents(destination_) == ReadFileContents(*c.source));
    }
}

TEST_F(CopyFileTest, MonitorStopsAfterTheFirstStep)
{
    dir_.WriteFile("destination", std::string(3 * kMiB, 'z'));
    jobject monitor = NewScriptedMonitor(1, 0);
    EXPECT_EQ(kMiB, Copy(source_, destination_, monitor));
    ExpectNoException();
    EXPECT_EQ(1, MonitorCalls(monitor));
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB));
}

TEST_F(CopyFileTest, MonitorThatThrowsEndsTheCopyWithItsException)
{
    jobject monitor = NewScriptedMonitor(0, 1);
    EXPECT_EQ(kMiB, CopyDirect(source_, destination_, monitor));
    ExpectException("java.lang.IllegalStateException", "monitor failed");
    EXPECT_EQ(1, g_sendfile.calls);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB));
}

TEST_F(CopyFileTest, FileCopiedOntoItselfStaysWhole)
{
    std::string hardLink = dir_ / "hard-link";
    ASSERT_EQ(0, link(source_.c_str(), hardLink.c_str()));
    EXPECT_EQ(kMiB, Copy(source_, source_, NewScriptedMonitor(1, 0)));
    ExpectNoException();
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, hardLink, nullptr));
    ExpectNoException();
    EXPECT_TRUE(ReadFileContents(source_) == sourceContents_);
}

TEST_F(CopyFileTest, FailedTransferReportsItsErrorAndTheBytesBefore)
{
    faults::FailCCall fault(faults::CFunction::kSendfile64, 3, ENOSPC);
    jobject monitor = NewScriptedMonitor();
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(2 * kMiB, CopyDirect(source_, destination_, monitor));
    ExpectException("java.io.IOException", "No space is left on the file system [28]");
    EXPECT_EQ(2, MonitorCalls(monitor));
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, 2 * kMiB));
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(CopyFileTest, FirstTransferFailingLeavesAnExistingDestinationUntouched)
{
    std::string previous(3 * kMiB, 'z');
    dir_.WriteFile("destination", previous);
    faults::FailCCall fault(faults::CFunction::kSendfile64, 1, EIO);
    EXPECT_EQ(0, Copy(source_, destination_, nullptr));
    ExpectException("java.io.IOException", "An I/O error occurred [5]");
    EXPECT_TRUE(ReadFileContents(destination_) == previous);
}

TEST_F(CopyFileTest, DirectorySourceIsRefusedBeforeAnyTransfer)
{
    std::string directory = dir_ / "directory";
    ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    dir_.WriteFile("directory/entry", "x");
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(0, Copy(directory, destination_, NewScriptedMonitor()));
    ExpectException("java.io.IOException", "Invalid argument [22]");
    EXPECT_EQ(0, g_sendfile.calls);
    EXPECT_NE(0, access(destination_.c_str(), F_OK));
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(CopyFileTest, InterruptedTransferIsRepeated)
{
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        g_sendfile = SendfileScript{};
        g_sendfile.interruptAtCall = 1;
        EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, withMonitor ? NewScriptedMonitor() : nullptr));
        ExpectNoException();
        EXPECT_EQ(withMonitor ? 4 : 2, g_sendfile.calls);
        EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
    }
}

TEST_F(CopyFileTest, TransferMovingNothingEndsTheCopyQuietly)
{
    // As when the source shrank after it was examined.
    g_sendfile.emptyAtCall = 2;
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(kMiB, Copy(source_, destination_, monitor));
    ExpectNoException();
    EXPECT_EQ(1, MonitorCalls(monitor));
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB));
}

TEST_F(CopyFileTest, WithoutMonitorShortTransfersGoOnToTheEnd)
{
    // As the kernel does above about 2 GiB, each transfer here moves at most 1 MiB.
    g_sendfile.maxPerCall = kMiB;
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, nullptr));
    ExpectNoException();
    const std::vector<size_t> remaining = {static_cast<size_t>(kTwoAndAHalfMiB),
                                           static_cast<size_t>(kTwoAndAHalfMiB - kMiB),
                                           static_cast<size_t>(kMiB / 2)};
    EXPECT_EQ(remaining, g_sendfile.requested);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_F(CopyFileTest, ExclusiveCopyRefusesAnExistingDestination)
{
    dir_.WriteFile("destination", "keep");
    EXPECT_EQ(0, Copy(source_, destination_, nullptr, COPY_EXCLUSIVE));
    ExpectException("java.io.IOException", "Path already exists [17]");
    EXPECT_EQ("keep", ReadFileContents(destination_));
    EXPECT_EQ(0, g_sendfile.calls);

    std::string fresh = dir_ / "fresh";
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, fresh, nullptr, COPY_EXCLUSIVE));
    ExpectNoException();
}

TEST_F(CopyFileTest, NewDestinationTakesTheSourceModeLessTheUmask)
{
    ASSERT_EQ(0, chmod(source_.c_str(), 0777));
    const mode_t previousMask = umask(022);
    Copy(source_, destination_, nullptr);
    umask(previousMask);
    ExpectNoException();
    EXPECT_EQ(0755u, ModeOf(destination_));

    // An existing destination keeps its own mode.
    std::string existing = dir_.WriteFile("existing", "");
    ASSERT_EQ(0, chmod(existing.c_str(), 0600));
    Copy(source_, existing, nullptr);
    ExpectNoException();
    EXPECT_EQ(0600u, ModeOf(existing));
}

TEST_F(CopyFileTest, MissingSourceCreatesNothing)
{
    const int descriptors = OpenDescriptorCount();
    EXPECT_EQ(0, Copy(dir_ / "missing", destination_, NewScriptedMonitor()));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_NE(0, access(destination_.c_str(), F_OK));

    EXPECT_EQ(0, Copy(source_, dir_ / "missing-directory/destination", nullptr));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(CopyFileTest, NullPaths)
{
    EXPECT_EQ(0, natives::CopyFileCallback(nullptr, JStr(destination_.c_str()), 0, nullptr));
    ExpectException("java.lang.NullPointerException", "src path");
    EXPECT_EQ(0, natives::CopyFileCallback(JStr(source_.c_str()), nullptr, 0, nullptr));
    ExpectException("java.lang.NullPointerException", "dst path");
}

TEST_F(CopyFileTest, CopyToDevNull)
{
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, "/dev/null", monitor));
    ExpectNoException();
    EXPECT_EQ(3, MonitorCalls(monitor));
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, "/dev/null", nullptr));
    ExpectNoException();
}

} // namespace
