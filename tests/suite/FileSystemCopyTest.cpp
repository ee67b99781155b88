// Copying a file: steps and progress reports, stopping, cutting the
// destination and failed transfers, each with every transfer method
// (copy_file_range, sendfile, read/write: the better ones refused through the
// stand-ins of CLibraryFaults); the choice of method, pseudo-files, devices,
// FIFOs and sparse sources, up to the largest size on tmpfs; the destination
// opened or created exclusively (also racing another process's creation), the
// creation mode, the copy flags, and the failures before a copy.
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


const char *MethodName(TransferMethod method)
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

INSTANTIATE_TEST_SUITE_P(Methods, CopyMethodTest,
                         ::testing::Values(TransferMethod::kCopyFileRange, TransferMethod::kSendfile,
                                           TransferMethod::kReadWrite),
                         [](const ::testing::TestParamInfo<TransferMethod> &info) { return MethodName(info.param); });

TEST_P(CopyMethodTest, StepsOfOneMiBEachReportedAsAFullStep)
{
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, monitor));
    ExpectNoException();
    EXPECT_EQ(std::vector<jlong>({kMiB, kMiB, kMiB}), MonitorBytesReported(monitor));
    // The fourth finds the end of the file.
    EXPECT_EQ(4, Script().calls);
    EXPECT_EQ(4, TransferCalls());
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_P(CopyMethodTest, WithoutMonitorEachTransferAsksForAllThatIsLeft)
{
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, nullptr));
    ExpectNoException();
    // Past the reported size, the most one call moves.
    const std::vector<size_t> asked =
        GetParam() == TransferMethod::kReadWrite
            ? std::vector<size_t>({kMiB, kMiB, kMiB / 2, kMiB})
            : std::vector<size_t>({static_cast<size_t>(kTwoAndAHalfMiB), kMaxTransfer});
    EXPECT_EQ(asked, Script().requested);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_P(CopyMethodTest, EmptySourceMakesOneTransferThatFindsTheEnd)
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
    // copy_file_range is not tried for a reported size of 0.
    EXPECT_EQ(2, TransferCalls());
    EXPECT_EQ(0, g_copyFileRange.calls);
}

TEST_P(CopyMethodTest, FullCopyCutsALongerDestinationToTheSource)
{
    std::string empty = dir_.WriteFile("empty", "");
    // Over a longer destination a sparse source is copied densely: its holes
    // must not keep the destination's old bytes.
    std::string sparse = dir_ / "sparse";
    {
        const int fd = open(sparse.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_LE(0, fd);
        ASSERT_EQ(1, pwrite(fd, "s", 1, kMiB + 5));
        ASSERT_EQ(0, ftruncate(fd, 2 * kMiB));
        close(fd);
    }
    std::string longer(3 * kMiB, 'z');
    struct Case {
        const char *name;
        const std::string *source;
        bool withMonitor;
    } cases[] = {{"with monitor", &source_, true},
                 {"without monitor", &source_, false},
                 {"empty source", &empty, false},
                 {"sparse source", &sparse, false},
                 {"sparse source with monitor", &sparse, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        dir_.WriteFile("destination", longer);
        Copy(*c.source, destination_, c.withMonitor ? NewScriptedMonitor() : nullptr);
        ExpectNoException();
        EXPECT_TRUE(ReadFileContents(destination_) == ReadFileContents(*c.source));
    }
}

TEST_P(CopyMethodTest, MonitorStopsAfterTheFirstStep)
{
    dir_.WriteFile("destination", std::string(3 * kMiB, 'z'));
    jobject monitor = NewScriptedMonitor(1, 0);
    EXPECT_EQ(kMiB, Copy(source_, destination_, monitor));
    ExpectNoException();
    EXPECT_EQ(1, MonitorCalls(monitor));
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB));
}

TEST_P(CopyMethodTest, MonitorThatThrowsEndsTheCopyWithItsException)
{
    jobject monitor = NewScriptedMonitor(0, 1);
    EXPECT_EQ(kMiB, CopyDirect(source_, destination_, monitor));
    ExpectException("java.lang.IllegalStateException", "monitor failed");
    EXPECT_EQ(1, Script().calls);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB));
}

TEST_P(CopyMethodTest, FileCopiedOntoItselfStaysWhole)
{
    // No byte moves; the monitor hears the steps of a real copy and may stop it.
    std::string hardLink = dir_ / "hard-link";
    ASSERT_EQ(0, link(source_.c_str(), hardLink.c_str()));
    std::string symbolicLink = dir_ / "symbolic-link";
    ASSERT_EQ(0, symlink("source", symbolicLink.c_str()));
    EXPECT_EQ(kMiB, Copy(source_, source_, NewScriptedMonitor(1, 0)));
    ExpectNoException();
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, hardLink, nullptr));
    ExpectNoException();
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(symbolicLink, source_, monitor));
    ExpectNoException();
    EXPECT_EQ(std::vector<jlong>({kMiB, kMiB, kMiB}), MonitorBytesReported(monitor));
    EXPECT_EQ(0, TransferCalls());
    EXPECT_TRUE(ReadFileContents(source_) == sourceContents_);
}

TEST_P(CopyMethodTest, FailedTransferReportsItsErrorAndTheBytesBefore)
{
    // ENOSPC as a transfer's error; EINVAL, a refusal at a first transfer, is
    // the copy's failure once bytes have moved.
    for (int error : {ENOSPC, EINVAL}) {
        SCOPED_TRACE(strerror(error));
        faults::FailCCall fault(FailingFunction(), 3, error);
        jobject monitor = NewScriptedMonitor();
        const int descriptors = OpenDescriptorCount();

        EXPECT_EQ(2 * kMiB, CopyDirect(source_, destination_, monitor));
        ExpectException("java.io.IOException", error == ENOSPC ? "No space is left on the file system [28]"
                                                               : "Invalid argument [22]");
        EXPECT_EQ(2, MonitorCalls(monitor));
        EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, 2 * kMiB));
        EXPECT_EQ(descriptors, SettledDescriptorCount(descriptors));
    }
}

TEST_P(CopyMethodTest, FirstTransferFailingLeavesAnExistingDestinationUntouched)
{
    std::string previous(3 * kMiB, 'z');
    dir_.WriteFile("destination", previous);
    faults::FailCCall fault(FailingFunction(), 1, EIO);
    EXPECT_EQ(0, Copy(source_, destination_, nullptr));
    ExpectException("java.io.IOException", "An I/O error occurred [5]");
    EXPECT_TRUE(ReadFileContents(destination_) == previous);
}

TEST_P(CopyMethodTest, InterruptedTransferIsRepeated)
{
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        UseTransferMethod fresh(GetParam());
        Script().interruptAtCall = 1;
        EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, withMonitor ? NewScriptedMonitor() : nullptr));
        ExpectNoException();
        // The interrupted call, the copying ones and the one that finds the end.
        const int copying = withMonitor || GetParam() == TransferMethod::kReadWrite ? 3 : 1;
        EXPECT_EQ(1 + copying + 1, Script().calls);
        EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
    }
}

TEST_P(CopyMethodTest, TransferMovingNothingEndsTheCopyQuietly)
{
    // As when the source shrank after it was examined.
    Script().emptyAtCall = 2;
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(kMiB, Copy(source_, destination_, monitor));
    ExpectNoException();
    EXPECT_EQ(1, MonitorCalls(monitor));
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB));
}

TEST_P(CopyMethodTest, WithoutMonitorShortTransfersGoOnToTheEnd)
{
    // As the kernel does above about 2 GiB, each transfer here moves at most 1 MiB.
    Script().maxPerCall = kMiB;
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, nullptr));
    ExpectNoException();
    const std::vector<size_t> remaining = {Asked(kTwoAndAHalfMiB), Asked(kTwoAndAHalfMiB - kMiB),
                                           Asked(kMiB / 2), Asked(kMaxTransfer)};
    EXPECT_EQ(remaining, Script().requested);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_P(CopyMethodTest, CopyToDevNull)
{
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, "/dev/null", monitor));
    ExpectNoException();
    EXPECT_EQ(3, MonitorCalls(monitor));
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, "/dev/null", nullptr));
    ExpectNoException();
}

// A 256 MiB file holding three small data regions and ending in a hole.
class SparseSource {
public:
    static constexpr jlong kSize = 256 * kMiB;

    explicit SparseSource(const std::string &path) : path_(path)
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_LE(0, fd);
        const std::string data(64 * 1024, 'd');
        for (jlong offset : {jlong{0}, 100 * kMiB + 12345, 200 * kMiB}) {
            EXPECT_EQ(static_cast<ssize_t>(data.size()), pwrite(fd, data.data(), data.size(), offset));
        }
        EXPECT_EQ(0, ftruncate(fd, kSize));
        close(fd);
    }

    // Whether this file system keeps the holes of the source at all.
    bool HasHoles() const { return Blocks(path_) * basefs::kStatBlockUnit < kSize; }

    static blkcnt_t Blocks(const std::string &path)
    {
        struct stat st {};
        EXPECT_EQ(0, stat(path.c_str(), &st));
        return st.st_blocks;
    }

private:
    std::string path_;
};

// Whether two files hold the same bytes, read 1 MiB at a time.
bool SameContents(const std::string &a, const std::string &b)
{
    FILE *one = fopen(a.c_str(), "re");
    FILE *two = fopen(b.c_str(), "re");
    bool same = one != nullptr && two != nullptr;
    std::vector<char> block1(kMiB);
    std::vector<char> block2(kMiB);
    while (same) {
        const size_t n1 = fread(block1.data(), 1, block1.size(), one);
        const size_t n2 = fread(block2.data(), 1, block2.size(), two);
        same = n1 == n2 && std::memcmp(block1.data(), block2.data(), n1) == 0;
        if (n1 < block1.size()) {
            break;
        }
    }
    if (two != nullptr) {
        fclose(two);
    }
    if (one != nullptr) {
        fclose(one);
    }
    return same;
}

TEST_P(CopyMethodTest, SparseSourceKeepsItsHoles)
{
    const std::string path = dir_ / "sparse";
    SparseSource sparse(path);
    if (!sparse.HasHoles()) {
        GTEST_SKIP() << "the file system of " << dir_.path() << " does not keep holes";
    }
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        std::string destination = dir_ / (withMonitor ? "copy-m" : "copy");
        jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
        EXPECT_EQ(SparseSource::kSize, Copy(path, destination, monitor));
        ExpectNoException();
        struct stat st {};
        ASSERT_EQ(0, stat(destination.c_str(), &st));
        EXPECT_EQ(SparseSource::kSize, st.st_size);
        EXPECT_LE(st.st_blocks, SparseSource::Blocks(path));
        EXPECT_TRUE(SameContents(path, destination));
        // Onto itself, through its path or a link: no hole is filled.
        const blkcnt_t blocksBefore = SparseSource::Blocks(path);
        const std::string link = destination + "-link";
        ASSERT_EQ(0, symlink(path.c_str(), link.c_str()));
        jobject ownMonitor = withMonitor ? NewScriptedMonitor() : nullptr;
        EXPECT_EQ(SparseSource::kSize, Copy(path, link, ownMonitor));
        ExpectNoException();
        EXPECT_EQ(SparseSource::kSize, Copy(path, path, nullptr));
        ExpectNoException();
        EXPECT_EQ(blocksBefore, SparseSource::Blocks(path));
        if (monitor != nullptr) {
            // A step ending in a hole goes on to its end and reports the whole
            // span: one call per data region, adding up to the size, so a
            // progress bar completes.
            const std::vector<jlong> reported = MonitorBytesReported(monitor);
            ASSERT_EQ(3u, reported.size());
            EXPECT_LT(100 * kMiB, reported[0]);
            EXPECT_EQ(200 * kMiB, reported[0] + reported[1]);
            EXPECT_EQ(SparseSource::kSize - 200 * kMiB, reported[2]);
            // Onto itself, the same steps.
            EXPECT_EQ(reported, MonitorBytesReported(ownMonitor));
        }
    }
}

// A directory of its own on /dev/shm, removed with its files: tmpfs takes
// files of up to 2^63-1 bytes, where ext4 refuses more than 16 TiB.
class ShmDir {
public:
    ShmDir()
    {
        char pattern[] = "/dev/shm/basefs-test-XXXXXX";
        struct statfs fs {};
        if (mkdtemp(pattern) != nullptr) {
            path_ = pattern;
            tmpfs_ = statfs(pattern, &fs) == 0 && fs.f_type == TMPFS_MAGIC;
        }
    }
    ~ShmDir()
    {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ShmDir(const ShmDir &) = delete;
    ShmDir &operator=(const ShmDir &) = delete;

    bool IsTmpfs() const { return tmpfs_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
    bool tmpfs_ = false;
};

constexpr jlong kMaxOffset = std::numeric_limits<off_t>::max();

// Makes a file of `size` bytes holding one 'x' at each of `bytes` and holes
// elsewhere.
void MakeSparse(const std::string &path, jlong size, const std::vector<jlong> &bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_LE(0, fd) << path;
    EXPECT_EQ(0, ftruncate(fd, size));
    for (jlong offset : bytes) {
        EXPECT_EQ(1, pwrite(fd, "x", 1, offset));
    }
    close(fd);
}

// The first data at or after `offset` of the file at `path`.
jlong NextData(const std::string &path, jlong offset)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const off_t data = lseek(fd, offset, SEEK_DATA);
    close(fd);
    return data;
}

// Whether the file at `path` has `size` bytes, with an 'x' at each of `bytes`.
void ExpectSparseCopy(const std::string &path, jlong size, const std::vector<jlong> &bytes)
{
    struct stat st {};
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(size, st.st_size);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    for (jlong offset : bytes) {
        char byte = 0;
        EXPECT_EQ(1, pread(fd, &byte, 1, offset)) << offset;
        EXPECT_EQ('x', byte) << offset;
    }
    close(fd);
}

TEST_P(CopyMethodTest, SparseFilesUpToTheLargestSize)
{
    ShmDir shm;
    if (!shm.IsTmpfs()) {
        GTEST_SKIP() << "no tmpfs at /dev/shm";
    }
    // tmpfs finds no data in the very last page below 2^63 with SEEK_DATA:
    // the data near the top lies below it.
    const jlong nearTop = kMaxOffset - 2 * kMiB;
    const jlong justUnder = kMaxOffset - kMiB;
    using Reports = std::vector<jlong> (*)(jlong size, jlong nextData);
    struct Case {
        const char *name;
        jlong size;
        std::vector<jlong> bytes;
        int transfers; // that moved data or found the end
        Reports reports; // nextData: the first data after the first step
    } cases[] = {
        // A hole to the end ends the copy, with one report for all of it.
        {"2^63-1 bytes, no data", kMaxOffset, {}, 0, [](jlong size, jlong) { return std::vector<jlong>{size}; }},
        {"2^63-1 bytes, data at the start and near the top", kMaxOffset, {0, nearTop}, 2,
         [](jlong size, jlong nextData) { return std::vector<jlong>{nextData, size - nextData}; }},
        // The request after the last data stays below the largest offset.
        {"2^63-1-1000 bytes, data at the start", kMaxOffset - 1000, {0}, 1,
         [](jlong size, jlong) { return std::vector<jlong>{size}; }},
        {"2^63-1-2^20 bytes, data in the last byte", justUnder, {justUnder - 1}, 2,
         [](jlong, jlong nextData) { return std::vector<jlong>{nextData, kMiB}; }},
    };
    int index = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = shm / ("source" + std::to_string(index));
        MakeSparse(source, c.size, c.bytes);
        const std::vector<jlong> reports = c.reports(c.size, NextData(source, kMiB));
        for (bool withMonitor : {false, true}) {
            SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
            const std::string destination = shm / ("copy" + std::to_string(index++));
            jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
            const int transfersBefore = TransferCalls();
            EXPECT_EQ(c.size, CopyDirect(source, destination, monitor));
            ExpectNoException();
            EXPECT_EQ(c.transfers, TransferCalls() - transfersBefore);
            ExpectSparseCopy(destination, c.size, c.bytes);
            EXPECT_EQ(SparseSource::Blocks(source), SparseSource::Blocks(destination));
            if (monitor != nullptr) {
                EXPECT_EQ(reports, MonitorBytesReported(monitor));
            }
            // Onto itself: the same steps, and nothing moved.
            jobject ownMonitor = withMonitor ? NewScriptedMonitor() : nullptr;
            const int ownBefore = TransferCalls();
            EXPECT_EQ(c.size, CopyDirect(destination, destination, ownMonitor));
            ExpectNoException();
            EXPECT_EQ(ownBefore, TransferCalls());
            if (ownMonitor != nullptr) {
                EXPECT_EQ(reports, MonitorBytesReported(ownMonitor));
            }
            unlink(destination.c_str());
        }
        unlink(source.c_str());
    }
}

// ---- Choosing the method ------------------------------------------------------

TEST_F(FileSystemCopyTest, MethodRefusedAtTheFirstTransferGivesWayToTheNext)
{
    struct Case {
        const char *name;
        int copyFileRangeRefusal; // 0: not refused
        int sendfileRefusal;
        TransferMethod used;
    } cases[] = {
        {"copy_file_range", 0, 0, TransferMethod::kCopyFileRange},
        {"EXDEV", EXDEV, 0, TransferMethod::kSendfile},
        {"EINVAL", EINVAL, 0, TransferMethod::kSendfile},
        {"EOPNOTSUPP", EOPNOTSUPP, 0, TransferMethod::kSendfile},
        {"ENOSYS", ENOSYS, 0, TransferMethod::kSendfile},
        {"EPERM (seccomp)", EPERM, 0, TransferMethod::kSendfile},
        {"sendfile EINVAL", EXDEV, EINVAL, TransferMethod::kReadWrite},
        {"sendfile ENOSYS", ENOSYS, ENOSYS, TransferMethod::kReadWrite},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UseTransferMethod fresh(TransferMethod::kCopyFileRange);
        g_copyFileRange.refuseWith = c.copyFileRangeRefusal;
        g_sendfile.refuseWith = c.sendfileRefusal;
        unlink(destination_.c_str());
        EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, NewScriptedMonitor()));
        ExpectNoException();
        EXPECT_EQ(4, ScriptOf(c.used).calls);
        EXPECT_EQ(4, TransferCalls());
        EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
    }
}

TEST_F(FileSystemCopyTest, CopyFileRangeMovingNothingAtFirstGivesWayToSendfile)
{
    // Kernels 5.3 to 5.18 answered 0 for pseudo-files whatever they held.
    g_copyFileRange.emptyAtCall = 1;
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, destination_, nullptr));
    ExpectNoException();
    EXPECT_EQ(1, g_copyFileRange.calls);
    EXPECT_EQ(2, g_sendfile.calls);
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
}

TEST_F(FileSystemCopyTest, WriteFailingAfterPartOfAReadReportsTheBytesWritten)
{
    UseTransferMethod method(TransferMethod::kReadWrite);
    g_write.maxPerCall = kMiB / 2;
    faults::FailCCall fault(faults::CFunction::kWrite, 2, ENOSPC);
    jobject monitor = NewScriptedMonitor();
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(kMiB / 2, CopyDirect(source_, destination_, monitor));
    ExpectException("java.io.IOException", "No space is left on the file system [28]");
    EXPECT_EQ(0, MonitorCalls(monitor));
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_.substr(0, kMiB / 2));
    EXPECT_EQ(descriptors, SettledDescriptorCount(descriptors));
}

TEST_F(FileSystemCopyTest, ReadWriteBufferThatCannotBeMadeThrowsOutOfMemory)
{
    UseTransferMethod method(TransferMethod::kReadWrite);
    faults::FailAllocation fault(kMiB);
    EXPECT_EQ(0, CopyDirect(source_, destination_, nullptr));
    ExpectException("java.lang.OutOfMemoryError", "Cannot allocate buffer for copy");
    EXPECT_TRUE(fault.fired());
}

// ---- Sources and destinations without a size ---------------------------------

TEST_F(FileSystemCopyTest, PseudoFilesAreCopiedToTheirEnd)
{
    // fstat reports 0 bytes for each; /proc/self/status cannot be sent with
    // sendfile, so it goes through read/write.
    struct Case {
        const char *path;
        const char *startsWith;
    } cases[] = {{"/proc/cpuinfo", ""}, {"/proc/self/mounts", ""}, {"/proc/self/status", "Name:"}};
    for (const Case &c : cases) {
        for (bool withMonitor : {true, false}) {
            SCOPED_TRACE(std::string(c.path) + (withMonitor ? " with monitor" : " without monitor"));
            jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
            const jlong copied = Copy(c.path, destination_, monitor);
            ExpectNoException();
            const std::string contents = ReadFileContents(destination_);
            EXPECT_LT(0u, contents.size());
            EXPECT_EQ(static_cast<jlong>(contents.size()), copied);
            EXPECT_EQ(0u, contents.rfind(c.startsWith, 0));
            EXPECT_EQ('\n', contents.back());
            if (monitor != nullptr) {
                EXPECT_EQ(1, MonitorCalls(monitor));
            }
        }
    }
    // Unchanging contents are copied exactly.
    const std::string mounts = ReadFileContents("/proc/self/mounts");
    EXPECT_EQ(static_cast<jlong>(mounts.size()), Copy("/proc/self/mounts", destination_, nullptr));
    EXPECT_EQ(mounts, ReadFileContents(destination_));
}

TEST_F(FileSystemCopyTest, FifoIsCopiedUntilItsWriterCloses)
{
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string data = sourceContents_.substr(0, kMiB + 123);
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        std::thread writer([&] {
            const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
            size_t written = 0;
            while (fd >= 0 && written < data.size()) {
                const ssize_t n = ::write(fd, data.data() + written, std::min<size_t>(data.size() - written, 4096));
                if (n <= 0) {
                    break;
                }
                written += static_cast<size_t>(n);
            }
            close(fd);
        });
        jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
        EXPECT_EQ(static_cast<jlong>(data.size()), Copy(fifo, destination_, monitor));
        writer.join();
        ExpectNoException();
        EXPECT_TRUE(ReadFileContents(destination_) == data);
        if (monitor != nullptr) {
            EXPECT_EQ(2, MonitorCalls(monitor));
        }
    }
}

TEST_F(FileSystemCopyTest, SourceWithoutAnEndCopiesUntilTheMonitorStops)
{
    EXPECT_EQ(3 * kMiB, Copy("/dev/zero", destination_, NewScriptedMonitor(3, 0)));
    ExpectNoException();
    EXPECT_TRUE(ReadFileContents(destination_) == std::string(3 * kMiB, '\0'));
}

TEST_F(FileSystemCopyTest, PseudoFileFailingAtFirstLeavesAnExistingDestinationUntouched)
{
    dir_.WriteFile("destination", "keep");
    UseTransferMethod method(TransferMethod::kSendfile);
    faults::FailCCall fault(faults::CFunction::kSendfile64, 1, EIO);
    EXPECT_EQ(0, Copy("/proc/cpuinfo", destination_, nullptr));
    ExpectException("java.io.IOException", "An I/O error occurred [5]");
    EXPECT_EQ("keep", ReadFileContents(destination_));
}

TEST_F(FileSystemCopyTest, CopyToAFullDeviceReportsNoSpace)
{
    // sendfile refuses /dev/full; the write that follows finds it full.
    for (bool withMonitor : {true, false}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        EXPECT_EQ(0, CopyDirect(source_, "/dev/full", withMonitor ? NewScriptedMonitor() : nullptr));
        ExpectException("java.io.IOException", "No space is left on the file system [28]");
    }
}

// ---- Before the copy ------------------------------------------------------------

TEST_F(FileSystemCopyTest, DirectorySourceIsRefusedBeforeAnyTransfer)
{
    std::string directory = dir_ / "directory";
    ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    dir_.WriteFile("directory/entry", "x");
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(0, Copy(directory, destination_, NewScriptedMonitor()));
    ExpectException("java.io.IOException", "Invalid argument [22]");
    EXPECT_EQ(0, TransferCalls());
    EXPECT_NE(0, access(destination_.c_str(), F_OK));
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(FileSystemCopyTest, ExclusiveCopyRefusesAnExistingDestination)
{
    dir_.WriteFile("destination", "keep");
    EXPECT_EQ(0, Copy(source_, destination_, nullptr, COPY_EXCLUSIVE));
    ExpectException("java.io.IOException", "Path already exists [17]");
    EXPECT_EQ("keep", ReadFileContents(destination_));
    EXPECT_EQ(0, TransferCalls());

    std::string fresh = dir_ / "fresh";
    EXPECT_EQ(kTwoAndAHalfMiB, Copy(source_, fresh, nullptr, COPY_EXCLUSIVE));
    ExpectNoException();
}

TEST_F(FileSystemCopyTest, NewDestinationTakesTheSourceModeLessTheUmask)
{
    // Permission bits only, as cp gives them: a set-ID program copied by root
    // (this suite runs as root) must not run as root for its user.
    const struct {
        mode_t source;
        mode_t expected;
    } cases[] = {{0777, 0755}, {06755, 0755}, {07777, 0755}, {01644, 0644}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source);
        ASSERT_EQ(0, chmod(source_.c_str(), c.source));
        ASSERT_EQ(c.source, ModeOf(source_));
        unlink(destination_.c_str());
        const mode_t previousMask = umask(022);
        Copy(source_, destination_, nullptr);
        umask(previousMask);
        ExpectNoException();
        EXPECT_EQ(c.expected, ModeOf(destination_));
    }

    // An existing destination keeps its own mode.
    std::string existing = dir_.WriteFile("existing", "");
    ASSERT_EQ(0, chmod(existing.c_str(), 0600));
    Copy(source_, existing, nullptr);
    ExpectNoException();
    EXPECT_EQ(0600u, ModeOf(existing));
}

TEST_F(FileSystemCopyTest, DestinationIsOpenedIfItExistsElseCreatedExclusively)
{
    // Nothing is ever created where a symbolic link points: a link planted
    // as the destination could aim root's copy at /etc/cron.d.
    const std::string other = dir_ / "other";
    ASSERT_EQ(0, mkdir(other.c_str(), 0755));
    const std::string target = other + "/target";
    enum class Kind { kNew, kExisting, kLinkToExisting, kDanglingLink, kLinkToDanglingLink };
    struct Case {
        const char *name;
        Kind kind;
        jint flags;
        bool refused; // "Path already exists [17]"
    } cases[] = {
        {"new", Kind::kNew, 0, false},
        {"existing", Kind::kExisting, 0, false},
        {"link to an existing file", Kind::kLinkToExisting, 0, false},
        {"dangling link", Kind::kDanglingLink, 0, true},
        {"link to a dangling link", Kind::kLinkToDanglingLink, 0, true},
        {"dangling link, exclusive", Kind::kDanglingLink, COPY_EXCLUSIVE, true},
        {"new, exclusive", Kind::kNew, COPY_EXCLUSIVE, false},
    };
    ASSERT_EQ(0, chmod(source_.c_str(), 0754));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unlink(destination_.c_str());
        unlink(target.c_str());
        unlink((other + "/link").c_str());
        struct stat before {};
        switch (c.kind) {
        case Kind::kNew:
            break;
        case Kind::kExisting:
            dir_.WriteFile("destination", "old");
            ASSERT_EQ(0, chmod(destination_.c_str(), 0600));
            ASSERT_EQ(0, stat(destination_.c_str(), &before));
            break;
        case Kind::kLinkToExisting:
            dir_.WriteFile("other/target", "old");
            ASSERT_EQ(0, chmod(target.c_str(), 0600));
            ASSERT_EQ(0, stat(target.c_str(), &before));
            ASSERT_EQ(0, symlink(target.c_str(), destination_.c_str()));
            break;
        case Kind::kDanglingLink:
            ASSERT_EQ(0, symlink(target.c_str(), destination_.c_str()));
            break;
        case Kind::kLinkToDanglingLink:
            ASSERT_EQ(0, symlink(target.c_str(), (other + "/link").c_str()));
            ASSERT_EQ(0, symlink((other + "/link").c_str(), destination_.c_str()));
            break;
        }
        const mode_t previousMask = umask(022);
        const jlong copied = CopyDirect(source_, destination_, nullptr, c.flags);
        umask(previousMask);
        if (c.refused) {
            EXPECT_EQ(0, copied);
            ExpectException("java.io.IOException", "Path already exists [17]");
            EXPECT_NE(0, access(target.c_str(), F_OK));
            continue;
        }
        EXPECT_EQ(kTwoAndAHalfMiB, copied);
        ExpectNoException();
        EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
        struct stat after {};
        ASSERT_EQ(0, stat(destination_.c_str(), &after));
        if (c.kind == Kind::kNew) {
            EXPECT_EQ(0754u, after.st_mode & 07777);
        } else {
            // The same file, written in place, keeping its own mode.
            EXPECT_EQ(before.st_ino, after.st_ino);
            EXPECT_EQ(0600u, after.st_mode & 07777);
        }
        struct stat link {};
        ASSERT_EQ(0, lstat(destination_.c_str(), &link));
        EXPECT_EQ(c.kind == Kind::kLinkToExisting, S_ISLNK(link.st_mode));
    }
}

TEST_F(FileSystemCopyTest, DestinationOpenRacingACreation)
{
    const int descriptors = OpenDescriptorCount();
    // The destination is opened as it is and else created exclusively, each
    // pair tried twice; what another process does between the opens is
    // scripted as their answers. No open ever truncates.
    constexpr int kShown = O_ACCMODE | O_CREAT | O_EXCL | O_TRUNC;
    constexpr int kSource = O_RDONLY;
    constexpr int kExisting = O_WRONLY;
    constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL;
    struct Case {
        const char *name;
        bool exists;
        jint flags;
        std::vector<int> failWith; // the answers of the opens, in order (0: the real one)
        std::vector<int> opens;
        const char *message; // null: copied
    } cases[] = {
        {"created and removed again between the opens, twice", false, 0, {0, ENOENT, EEXIST, ENOENT, EEXIST},
         {kSource, kExisting, kCreate, kExisting, kCreate}, "Path already exists [17]"},
        {"created and removed again once", false, 0, {0, 0, EEXIST},
         {kSource, kExisting, kCreate, kExisting, kCreate}, nullptr},
        {"created after the first open looked", true, 0, {0, ENOENT},
         {kSource, kExisting, kCreate, kExisting}, nullptr},
        {"new", false, 0, {}, {kSource, kExisting, kCreate}, nullptr},
        {"existing", true, 0, {}, {kSource, kExisting}, nullptr},
        {"exclusive, new", false, COPY_EXCLUSIVE, {}, {kSource, kCreate}, nullptr},
        {"exclusive, existing", true, COPY_EXCLUSIVE, {}, {kSource, kCreate}, "Path already exists [17]"},
    };
    const std::string copy = dir_ / "copy";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unlink(copy.c_str());
        if (c.exists) {
            dir_.WriteFile("copy", "old");
        }
        g_open = OpenScript{c.failWith, {}};
        const jlong copied = CopyDirect(source_, copy, nullptr, c.flags);
        std::vector<int> opens;
        for (int flags : g_open.flags) {
            opens.push_back(flags & kShown);
        }
        g_open = OpenScript{};
        EXPECT_EQ(c.opens, opens);
        if (c.message != nullptr) {
            EXPECT_EQ(0, copied);
            ExpectException("java.io.IOException", c.message);
            EXPECT_EQ(c.exists, Exists(copy));
            if (c.exists) {
                EXPECT_EQ("old", ReadFileContents(copy));
            }
        } else {
            EXPECT_EQ(kTwoAndAHalfMiB, copied);
            EXPECT_FALSE(TakeException().has_value());
            EXPECT_TRUE(ReadFileContents(copy) == sourceContents_);
        }
        EXPECT_EQ(descriptors, OpenDescriptorCount()) << "descriptors left open";
    }
}

// A directory has no contents to copy: the copy refuses it before a
// destination exists, also where the system reports a directory size of 0
// (/proc), which would otherwise "copy" it as an empty file; the open refuses
// a directory as the destination.
TEST_F(FileSystemCopyTest, DirectoryAsEitherFile)
{
    const std::string directory = dir_ / "directory";
    ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    dir_.WriteFile("directory/entry", "e");
    struct stat proc {};
    ASSERT_EQ(0, lstat("/proc/sys", &proc));
    ASSERT_EQ(0, proc.st_size);
    const struct {
        const char *name;
        std::string src;
        std::string dst;
        const char *message;
    } cases[] = {
        {"from a directory", directory, destination_, "Invalid argument [22]"},
        {"from a directory of size 0", "/proc/sys", destination_, "Invalid argument [22]"},
        {"onto a directory", source_, directory, "Unknown [21]"}, // EISDIR has no description of its own
        {"a directory onto itself", directory, directory, "Invalid argument [22]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(0, CopyDirect(c.src, c.dst, nullptr));
        ExpectException("java.io.IOException", c.message);
        EXPECT_FALSE(Exists(destination_));
    }
    EXPECT_EQ("e", ReadFileContents(directory + "/entry"));
}

// Of the copy flags only COPY_EXCLUSIVE has a meaning.
TEST_F(FileSystemCopyTest, FlagsWithEveryBitSet)
{
    const std::string existing = dir_.WriteFile("existing", "old");
    EXPECT_EQ(0, CopyDirect(source_, existing, nullptr, -1));
    ExpectException("java.io.IOException", "Path already exists [17]");
    EXPECT_EQ(kTwoAndAHalfMiB, CopyDirect(source_, destination_, nullptr, -1));
    ExpectNoException();
    EXPECT_EQ(kTwoAndAHalfMiB, CopyDirect(source_, existing, nullptr, ~COPY_EXCLUSIVE));
    ExpectNoException();
    EXPECT_TRUE(ReadFileContents(destination_) == sourceContents_);
    EXPECT_TRUE(ReadFileContents(existing) == sourceContents_);
}

TEST_F(FileSystemCopyTest, MissingSourceCreatesNothing)
{
    const int descriptors = OpenDescriptorCount();
    EXPECT_EQ(0, Copy(dir_ / "missing", destination_, NewScriptedMonitor()));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_NE(0, access(destination_.c_str(), F_OK));

    EXPECT_EQ(0, Copy(source_, dir_ / "missing-directory/destination", nullptr));
    ExpectException("java.io.IOException", "Path does not exist [2]");
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(FileSystemCopyTest, NullPaths)
{
    EXPECT_EQ(0, natives::CopyFileCallback(nullptr, JStr(destination_.c_str()), 0, nullptr));
    ExpectException("java.lang.NullPointerException", "src path");
    EXPECT_EQ(0, natives::CopyFileCallback(JStr(source_.c_str()), nullptr, 0, nullptr));
    ExpectException("java.lang.NullPointerException", "dst path");
}

} // namespace
