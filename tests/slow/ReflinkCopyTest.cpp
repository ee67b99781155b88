// A 512 MiB copy on a file system that shares extents (XFS made with
// reflink=1, btrfs): copy_file_range makes it a reflink, so the copy adds
// next to nothing to the space used. Each file system lives in an image file
// mounted through a loop device; where the tools are missing or mounting is
// refused (no root, no loop devices), the test says so and skips.
#include "JvmHarness.h"

#include <fcntl.h>
#include <sys/stat.h>
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
// Room for the source and file system overhead; the image file is sparse.
constexpr jlong kImageSize = 1280 * kMiB;
constexpr uint64_t kMostAdded = 16 * kMiB;
constexpr size_t kChunk = 8 * kMiB;

struct FileSystemCase {
    const char *name;
    const char *mkfs;     // the command that makes the file system, without the image path
    const char *mkfsTool; // looked up first
};

// Runs a shell command quietly; true when it succeeded.
bool Shell(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

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
        if (!Shell(std::string("command -v ") + c.mkfsTool)) {
            Skip(std::string(c.mkfsTool) + " is not installed");
            return;
        }
        ASSERT_EQ(0, mkdir(mountPoint_.c_str(), 0755));
        const int fd = open(image_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_LE(0, fd);
        ASSERT_EQ(0, ftruncate(fd, kImageSize));
        close(fd);
        ASSERT_TRUE(Shell(std::string(c.mkfs) + " " + image_)) << c.mkfs;
        // A loop mount detaches its loop device when it is unmounted.
        if (!Shell("mount -o loop " + image_ + " " + mountPoint_)) {
            Skip("mounting a loop device is refused here");
            return;
        }
        mounted_ = true;
        ASSERT_TRUE(WriteSource(source_)) << "cannot write the source";
    }

    void TearDown() override
    {
        if (mounted_) {
            EXPECT_TRUE(Shell("umount " + mountPoint_)) << "cannot unmount " << mountPoint_;
        }
        // Whatever is left attached to the image, on any path.
        Shell("losetup -j " + image_ + " | cut -d: -f1 | xargs -r -n1 losetup -d");
        unlink(image_.c_str());
        rmdir(mountPoint_.c_str());
        JvmTest::TearDown();
    }

    void Skip(const std::string &why)
    {
        std::printf("ReflinkCopyTest (%s) SKIPPED: %s\n", GetParam().name, why.c_str());
        GTEST_SKIP() << why;
    }

    TempDir dir_;
    std::string image_ = dir_ / "image";
    std::string mountPoint_ = dir_ / "mnt";
    std::string source_ = mountPoint_ + "/source";
    bool mounted_ = false;
};

TEST_P(ReflinkCopyTest, CopySharesTheSourceExtents)
{
    for (bool withMonitor : {false, true}) {
        SCOPED_TRACE(withMonitor ? "with monitor" : "without monitor");
        const std::string destination = mountPoint_ + (withMonitor ? "/copy-m" : "/copy");
        const uint64_t before = SpaceUsed(mountPoint_);
        jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
        EXPECT_EQ(kSourceSize, natives::CopyFileCallback(JStr(source_.c_str()), JStr(destination.c_str()), 0,
                                                         monitor));
        EXPECT_FALSE(TakeException().has_value());
        const uint64_t added = SpaceUsed(mountPoint_) - before;
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
    ::testing::Values(FileSystemCase{"xfs", "mkfs.xfs -q -f -m reflink=1", "mkfs.xfs"},
                      FileSystemCase{"btrfs", "mkfs.btrfs -q -f", "mkfs.btrfs"}),
    [](const ::testing::TestParamInfo<FileSystemCase> &info) { return std::string(info.param.name); });

} // namespace
