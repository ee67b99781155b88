// Copying a file, with every transfer method (copy_file_range, sendfile,
// read/write: the better ones refused through the stand-ins of
// CLibraryFaults): steps and progress reports, stopping, cutting the
// destination, failed transfers, sparse sources up to the largest size on
// tmpfs.
#include "FileSystemCopyFixture.h"

namespace {

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

} // namespace
