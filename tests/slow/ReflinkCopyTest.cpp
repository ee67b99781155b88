// A 512 MiB copy on a file system that shares extents (XFS made with
// reflink=1, btrfs): copy_file_range makes it a reflink, so the copy adds
// next to nothing to the space used. ctest mounts both file systems before
// these tests run and unmounts them after (tests/slow/reflink_mounts.sh, the
// basefs_reflink_mounts fixture) and names the folder that holds the mounts
// in BASEFS_REFLINK_MOUNTS. A file system that is not mounted there (no root,
// no loop devices, the tools missing, or the test run outside ctest) is
// skipped, saying why.
#include "JvmHarness.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace jvmtest;

constexpr jlong kMiB = 1024 * 1024;
constexpr jlong kSourceSize = 512 * kMiB;
constexpr uint64_t kMostAdded = 16 * kMiB;
constexpr size_t kChunk = 8 * kMiB;

struct FileSystemCase {
    const char *name;   // also the folder it is mounted on, under BASEFS_REFLINK_MOUNTS
    int64_t magic;      // statfs's f_type of that file system
};

// The blocks in use on the file system of `path`, in bytes, once written out.
uint64_t SpaceUsed(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_LE(0, fd);
    EXPECT_EQ(0, syncfs(fd));
    struct statvfs fs {};
    EXPECT_EQ(0, fstatvfs(fd, &fs));
    close(fd);
    return static_cast<uint64_t>(fs.f_blocks - fs.f_bfree) * fs.f_frsize;
}

bool WriteSource(const std::string &path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::vector<uint64_t> chunk(kChunk / sizeof(uint64_t));
    bool ok = true;
    for (uint64_t offset = 0; ok && offset < static_cast<uint64_t>(kSourceSize); offset += kChunk) {
        for (size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = (offset / sizeof(uint64_t) + i) * 0x9E3779B97F4A7C15ull;
        }
        ok = pwrite(fd, chunk.data(), kChunk, static_cast<off_t>(offset)) == static_cast<ssize_t>(kChunk);
    }
    return close(fd) == 0 && ok;
}

bool SameContents(const std::string &a, const std::string &b)
{
    const int one = open(a.c_str(), O_RDONLY | O_CLOEXEC);
    const int two = open(b.c_str(), O_RDONLY | O_CLOEXEC);
    bool same = one >= 0 && two >= 0;
    std::vector<char> block1(kChunk);
    std::vector<char> block2(kChunk);
    while (same) {
        const ssize_t n1 = read(one, block1.data(), kChunk);
        const ssize_t n2 = read(two, block2.data(), kChunk);
        same = n1 >= 0 && n1 == n2 && std::memcmp(block1.data(), block2.data(), static_cast<size_t>(n1)) == 0;
        if (n1 <= 0) {
            break;
        }
    }
    close(one);
    close(two);
    return same;
}

class ReflinkCopyTest : public JvmTest, public ::testing::WithParamInterface<FileSystemCase> {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        const FileSystemCase &c = GetParam();
        const char *mounts = std::getenv("BASEFS_REFLINK_MOUNTS");
        if (mounts == nullptr || *mounts == '\0') {
            Skip("BASEFS_REFLINK_MOUNTS is not set: ctest sets it and mounts the file systems there");
            return;
        }
        const std::string mountPoint = std::string(mounts) + "/" + c.name;
        struct statfs fs {};
        if (statfs(mountPoint.c_str(), &fs) != 0 || static_cast<int64_t>(fs.f_type) != c.magic) {
            Skip("no " + std::string(c.name) + " is mounted on " + mountPoint +
                 " (the output of the basefs_reflink_mounts_setup test says why)");
            return;
        }
        // A folder of this test's own on the mounted file system.
        std::string pattern = mountPoint + "/test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern.data())) << "cannot make a folder on " << mountPoint;
        root_ = pattern;
        source_ = root_ + "/source";
        ASSERT_TRUE(WriteSource(source_)) << "cannot write the source";
    }

    void TearDown() override
    {
        if (!root_.empty()) {
            for (const char *name : {"/source", "/copy", "/copy-m"}) {
                unlink((root_ + name).c_str());
            }
            EXPECT_EQ(0, rmdir(root_.c_str())) << "cannot remove " << root_;
        }
        JvmTest::TearDown();
    }

    void Skip(const std::string &why)
    {
        std::printf("ReflinkCopyTest (%s) SKIPPED: %s\n", GetParam().name, why.c_str());
        GTEST_SKIP() << why;
    }

    std::string root_;
    std::string source_;
};

TEST_P(ReflinkCopyTest, CopySharesTheSourceExtents)
{
    for (bool withMonitor : {false, true}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        const std::string destination = root_ + (withMonitor ? "/copy-m" : "/copy");
        const uint64_t before = SpaceUsed(root_);
        jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
        EXPECT_EQ(kSourceSize, natives::CopyFileCallback(JStr(source_.c_str()), JStr(destination.c_str()), 0,
                                                         monitor));
        EXPECT_FALSE(TakeException().has_value());
        const uint64_t added = SpaceUsed(root_) - before;
        std::printf("ReflinkCopyTest (%s, %s): the copy added %llu KiB\n", GetParam().name,
                    withMonitor ? "with monitor" : "without monitor", static_cast<unsigned long long>(added / 1024));
        EXPECT_LT(added, kMostAdded);
        EXPECT_TRUE(SameContents(source_, destination));
        if (monitor != nullptr) {
            EXPECT_EQ(kSourceSize / kMiB, MonitorCalls(monitor));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, ReflinkCopyTest,
    ::testing::Values(FileSystemCase{"xfs", XFS_SUPER_MAGIC}, FileSystemCase{"btrfs", BTRFS_SUPER_MAGIC}),
    [](const ::testing::TestParamInfo<FileSystemCase> &info) { return std::string(info.param.name); });

} // namespace
