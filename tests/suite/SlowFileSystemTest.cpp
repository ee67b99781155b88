// Listings on a FUSE file system that waits in every request (the build's
// basefs-slowfs over a local directory), where the entries are examined by
// many helpers at once: the same records as the local directory in the same
// order, a stop mid-listing, and entries changing under the listing. Skipped,
// saying why, where the build has no libfuse3, the machine no /dev/fuse, or
// the mount is refused (not root).
#include "ChangingEntries.h"
#include "EntryPointFixture.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char **environ;

namespace {

using namespace jvmtest;

constexpr long kFuseMagic = 0x65735546;
constexpr const char *kLatencyMicros = "300";
constexpr jint kExtendedMask = INFO_ACCESSED | INFO_OWNER | INFO_GROUP;

class SlowFileSystemTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        const std::string program = BASEFS_SLOWFS_PATH;
        if (program.empty()) {
            GTEST_SKIP() << "built without libfuse3 (Debian: libfuse3-dev)";
        }
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            GTEST_SKIP() << "no usable /dev/fuse on this machine";
        }
        ASSERT_EQ(0, mkdir(Source().c_str(), 0755));
        ASSERT_EQ(0, mkdir(MountPoint().c_str(), 0755));
        const std::string source = Source();
        const std::string mountPoint = MountPoint();
        char *const argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>(source.c_str()),
                              const_cast<char *>(mountPoint.c_str()), const_cast<char *>(kLatencyMicros), nullptr};
        ASSERT_EQ(0, posix_spawn(&server_, program.c_str(), nullptr, nullptr, argv, environ));
        if (!AwaitMount()) {
            GTEST_SKIP() << "the FUSE file system could not be mounted here";
        }
    }

    void TearDown() override
    {
        if (mounted_) {
            umount2(MountPoint().c_str(), MNT_DETACH);
        }
        if (server_ > 0) {
            int status = 0;
            for (int waited = 0; waited < 500 && waitpid(server_, &status, WNOHANG) == 0; ++waited) {
                usleep(10000);
            }
            if (waitpid(server_, &status, WNOHANG) == 0) {
                kill(server_, SIGKILL);
                waitpid(server_, &status, 0);
            }
        }
        JvmTest::TearDown();
    }

    std::string Source() const { return dir_ / "source"; }
    std::string MountPoint() const { return dir_ / "mounted"; }

    // Waits up to ten seconds for the mount, unless the server ends first.
    bool AwaitMount()
    {
        for (int waited = 0; waited < 1000; ++waited) {
            struct statfs fs;
            if (statfs(MountPoint().c_str(), &fs) == 0 && fs.f_type == kFuseMagic) {
                mounted_ = true;
                return true;
            }
            int status = 0;
            if (waitpid(server_, &status, WNOHANG) == server_) {
                server_ = 0;
                return false;
            }
            usleep(10000);
        }
        return false;
    }

    TempDir dir_;
    pid_t server_ = 0;
    bool mounted_ = false;
};

// The library's helper threads alive in this process now.
int ExaminerThreads()
{
    int count = 0;
    DIR *tasks = opendir("/proc/self/task");
    while (const dirent *task = tasks != nullptr ? readdir(tasks) : nullptr) {
        const std::string comm = ReadFileContents(std::string("/proc/self/task/") + task->d_name + "/comm");
        count += comm == "basefs-examiner\n" ? 1 : 0;
    }
    if (tasks != nullptr) {
        closedir(tasks);
    }
    return count;
}

void ExpectSameRecords(const std::vector<Record> &expected, const std::vector<Record> &actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Record &e = expected[i];
        const Record &a = actual[i];
        EXPECT_EQ(e.name, a.name) << "at " << i;
        EXPECT_EQ(e.attributes, a.attributes) << e.name;
        EXPECT_EQ(e.size, a.size) << e.name;
        EXPECT_EQ(e.modified, a.modified) << e.name;
        EXPECT_EQ(e.extended, a.extended) << e.name;
        EXPECT_EQ(e.owner, a.owner) << e.name;
        EXPECT_EQ(e.group, a.group) << e.name;
    }
}

TEST_F(SlowFileSystemTest, RecordsAreThoseOfTheLocalDirectoryInItsOrder)
{
    for (int i = 0; i < 600; ++i) {
        const std::string path = Source() + "/f" + std::to_string(i);
        if (i % 50 == 1) {
            ASSERT_EQ(0, mkdir(path.c_str(), 0750));
        } else if (i % 50 == 2) {
            ASSERT_EQ(0, symlink("f0", path.c_str()));
        } else {
            const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0640);
            ASSERT_LE(0, fd);
            ASSERT_EQ(0, ftruncate(fd, i % 7));
            close(fd);
        }
    }
    for (jint mask : {0, kExtendedMask}) {
        ExpectSameRecords(ListedRecords(Source(), mask), ListedRecords(MountPoint(), mask));
    }
    // Each examination waits on the server: many were in flight at once.
    EXPECT_GE(ExaminerThreads(), 16);
}

TEST_F(SlowFileSystemTest, StopMidListingKeepsTheRecordsBeforeIt)
{
    for (int i = 0; i < 400; ++i) {
        const std::string path = Source() + "/f" + std::to_string(i);
        close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    }
    const std::vector<Record> all = ListedRecords(MountPoint());
    ASSERT_EQ(400u, all.size());
    jobject monitor = NewScriptedMonitor(3, 0);
    const std::vector<Record> stopped = ListedRecords(MountPoint(), 0, monitor, 50);
    EXPECT_EQ(3, MonitorCalls(monitor));
    ASSERT_EQ(150u, stopped.size());
    for (size_t i = 0; i < stopped.size(); ++i) {
        EXPECT_EQ(all[i].name, stopped[i].name) << "at " << i;
    }
}

TEST_F(SlowFileSystemTest, EntriesChangingUnderTheListingKeepTheirOwnRecords)
{
    ChangingEntries entries(Source(), 800);
    entries.Start();
    for (int listings = 0; listings < 2 || (entries.Changing() && listings < 20); ++listings) {
        entries.ExpectConsistent(ListedRecords(MountPoint()));
        if (HasFatalFailure()) {
            break;
        }
    }
}

} // namespace
