// The system-call layer: the EINTR retry, and the stat family made through
// syscall() agreeing with the C library's own calls.
#include "JvmHarness.h"
#include "SystemCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

TEST(RestartableTest, RepeatsOnlyWhileTheCallIsInterrupted)
{
    struct Case {
        const char *name;
        int interruptions;
        int finalResult;
        int finalError;
        int expectedCalls;
    } cases[] = {
        {"success at once", 0, 7, 0, 1},
        {"two interruptions, then success", 2, 7, 0, 3},
        {"interrupted, then another error", 1, -1, EIO, 2},
        {"other error at once", 0, -1, ENOENT, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int calls = 0;
        const int result = basefs::restartable([&] {
            if (++calls <= c.interruptions) {
                errno = EINTR;
                return -1;
            }
            errno = c.finalError;
            return c.finalResult;
        });
        EXPECT_EQ(c.finalResult, result);
        EXPECT_EQ(c.expectedCalls, calls);
    }
}

bool SameStatus(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mode == b.st_mode && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

TEST(StatBySystemCallTest, AgreesWithTheCLibrary)
{
    jvmtest::TempDir dir;
    const std::string file = dir.WriteFile("file", "contents");
    const std::string link = dir / "link";
    ASSERT_EQ(0, symlink("file", link.c_str()));
    for (const std::string &path : {file, link, dir.path()}) {
        SCOPED_TRACE(path);
        struct stat expected {};
        struct stat actual {};
        ASSERT_EQ(0, ::lstat(path.c_str(), &expected));
        ASSERT_EQ(0, basefs::sys::lstat(path.c_str(), &actual));
        EXPECT_TRUE(SameStatus(expected, actual));

        const int directoryFd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_LE(0, directoryFd);
        const std::string name = path == dir.path() ? "." : path.substr(dir.path().size() + 1);
        ASSERT_EQ(0, basefs::sys::fstatat(directoryFd, name.c_str(), &actual, AT_SYMLINK_NOFOLLOW));
        close(directoryFd);
        EXPECT_TRUE(SameStatus(expected, actual));

        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC); // follows the link
        ASSERT_LE(0, fd);
        ASSERT_EQ(0, ::stat(path.c_str(), &expected));
        ASSERT_EQ(0, basefs::sys::fstat(fd, &actual));
        close(fd);
        EXPECT_TRUE(SameStatus(expected, actual));
    }
    struct stat st {};
    errno = 0;
    EXPECT_EQ(-1, basefs::sys::lstat((dir / "missing").c_str(), &st));
    EXPECT_EQ(ENOENT, errno);
}

} // namespace
