// Temporary directories and files of the tests, and the count of this
// process's open descriptors.
#include "JvmHarness.h"
#include "HarnessInternals.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace jvmtest {
namespace {

using detail::Fail;

constexpr int kMaxOpenDescriptorsForWalk = 16;
constexpr size_t kDirectoryReadSize = 4096;
// Enough of a descriptor's target to tell /proc and /sys from the rest.
constexpr size_t kTargetPrefixSize = 16;
constexpr int kSettleSteps = 50;
constexpr useconds_t kSettleStepMicros = 20000;

// Whether a listed descriptor is left out of the count: one of the JVM's own
// passing reads of /proc or /sys (its compiler threads read the cgroup's
// memory limit now and then), which the library never opens and which would
// make counts differ at random. A descriptor whose link can no longer be read
// was closed between the directory read and this look: such a passing read
// was seen, and an open one (a leak) is never missed this way.
bool IsPassingDescriptor(int dir, const char *name)
{
    char target[kTargetPrefixSize + 1] = {};
    const long length = syscall(SYS_readlinkat, dir, name, target, kTargetPrefixSize);
    if (length <= 0) {
        return true;
    }
    return std::strncmp(target, "/proc/", 6) == 0 || std::strncmp(target, "/sys/", 5) == 0;
}

} // namespace

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/basefs-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        const int error = errno;
        Fail(("cannot make a temporary directory " + pattern + ": " + std::strerror(error)).c_str());
    }
    path_ = buffer.data();
}

TempDir::~TempDir()
{
    // Make every directory writable and searchable first: tests take permissions away.
    nftw(path_.c_str(),
         [](const char *path, const struct stat *, int type, struct FTW *) {
             if (type == FTW_D || type == FTW_DNR) {
                 chmod(path, S_IRWXU);
             }
             return 0;
         },
         kMaxOpenDescriptorsForWalk, FTW_PHYS);
    nftw(path_.c_str(),
         [](const char *path, const struct stat *, int, struct FTW *) {
             remove(path); // best effort: keep removing the rest
             return 0;
         },
         kMaxOpenDescriptorsForWalk, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::WriteFile(const std::string &name, const std::string &contents) const
{
    std::string path = *this / name;
    std::ofstream out(path, std::ios::binary);
    out << contents;
    if (!out) {
        Fail("cannot write a test file");
    }
    return path;
}

std::string TempDir::WriteFileOfSize(const std::string &name, size_t size) const
{
    std::string contents(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        contents[i] = static_cast<char>('a' + i % 23);
    }
    return WriteFile(name, contents);
}

std::string ReadFileContents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

int OpenDescriptorCount()
{
    const int dirFd = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, "/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd < 0) {
        ADD_FAILURE() << "cannot open /proc/self/fd";
        return -1;
    }
    // Neither "." and "..", nor the descriptor reading the directory, nor the
    // JVM's own passing reads of /proc and /sys are counted.
    int count = 0;
    char buffer[kDirectoryReadSize];
    for (;;) {
        const long length = syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
        if (length <= 0) {
            EXPECT_EQ(0, length) << "cannot read /proc/self/fd";
            break;
        }
        for (long offset = 0; offset < length;) {
            // The kernel's records have the layout of glibc's dirent64.
            unsigned short recordLength = 0;
            std::memcpy(&recordLength, buffer + offset + offsetof(struct dirent64, d_reclen),
                        sizeof recordLength);
            const char *name = buffer + offset + offsetof(struct dirent64, d_name);
            offset += recordLength;
            if (name[0] != '.' && std::atoi(name) != dirFd && !IsPassingDescriptor(dirFd, name)) {
                ++count;
            }
        }
    }
    syscall(SYS_close, dirFd);
    return count;
}

int SettledDescriptorCount(int expected)
{
    int count = OpenDescriptorCount();
    for (int step = 0; step < kSettleSteps && count > expected; ++step) {
        usleep(kSettleStepMicros);
        count = OpenDescriptorCount();
    }
    return count;
}

} // namespace jvmtest
