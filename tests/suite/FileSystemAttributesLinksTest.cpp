// Reading and creating symbolic links: target texts of every length the kernel
// allows, links whose lstat size is not their length (/proc, a link replaced
// between lstat and readlink), the 32768-byte limit, and the failures, a
// target that cannot be made into a string among them.
#include "EntryPoints.h"
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace {

// While armed for a path, readlink on that path runs this instead of the C
// library's; every other call goes to the C library.
std::string g_hookedReadlinkPath;
std::function<ssize_t(const char *, char *, size_t)> g_readlinkHook;

using Readlink = ssize_t (*)(const char *, char *, size_t);

Readlink RealReadlink()
{
    static const auto real = reinterpret_cast<Readlink>(dlsym(RTLD_NEXT, "readlink"));
    return real;
}

} // namespace

extern "C" ssize_t readlink(const char *path, char *buffer, size_t size) noexcept
{
    if (!g_hookedReadlinkPath.empty() && g_hookedReadlinkPath == path) {
        return g_readlinkHook(path, buffer, size);
    }
    return RealReadlink()(path, buffer, size);
}

namespace {

using namespace jvmtest;

constexpr size_t kLinkLimit = 32768;
// Linux keeps link targets below PATH_MAX.
constexpr size_t kLongestKernelTarget = 4095;

class FileSystemAttributesLinksTest : public JvmTest {
protected:
    void TearDown() override
    {
        g_hookedReadlinkPath.clear();
        g_readlinkHook = nullptr;
        JvmTest::TearDown();
    }

    // nReadSymbolicLink, expecting success.
    static std::string Read(const std::string &path)
    {
        jstring target = natives::ReadSymbolicLink(JStr(path.c_str()));
        auto thrown = TakeException();
        EXPECT_FALSE(thrown.has_value()) << path << ": " << thrown->className << ": " << thrown->message;
        EXPECT_NE(nullptr, target);
        return StdStr(target);
    }

    // nReadSymbolicLink, expecting null and an exception.
    static ThrownException ReadFailure(jstring path)
    {
        EXPECT_EQ(nullptr, natives::ReadSymbolicLink(path));
        auto thrown = TakeException();
        EXPECT_TRUE(thrown.has_value());
        return thrown.value_or(ThrownException{});
    }

    static std::optional<ThrownException> Create(jstring link, jstring target)
    {
        natives::CreateSymbolicLink(link, target);
        return TakeException();
    }

    // readlink(2) as this process sees it.
    static std::string SystemReadlink(const std::string &path)
    {
        std::string buffer(kLinkLimit, '\0');
        ssize_t length = RealReadlink()(path.c_str(), buffer.data(), buffer.size());
        EXPECT_GT(length, 0) << path;
        buffer.resize(static_cast<size_t>(std::max<ssize_t>(length, 0)));
        return buffer;
    }

    TempDir dir_;
};

// "a/" repeated, cut to the given length.
std::string TargetOfLength(size_t length)
{
    std::string target;
    while (target.size() < length) {
        target += "a/";
    }
    target.resize(length);
    return target;
}

TEST_F(FileSystemAttributesLinksTest, ReadsTheTargetText)
{
    const std::string targets[] = {
        "t", "../up/./down", "/absolute/path", "with space", "\xC3\xBC\xE2\x82\xAC" /* u-umlaut, euro */,
        TargetOfLength(64), TargetOfLength(kLongestKernelTarget),
    };
    int n = 0;
    for (const std::string &target : targets) {
        std::string link = dir_ / ("link" + std::to_string(n++));
        ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
        EXPECT_EQ(target, Read(link)) << "target of " << target.size() << " bytes";
    }
}

TEST_F(FileSystemAttributesLinksTest, ProcLinksReadAsTheKernelReportsThem)
{
    // lstat reports 0 or 64 for these, whatever the target's length.
    int fd = open(dir_.WriteFile("open-file", "x").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string links[] = {"/proc/self/exe", "/proc/self/cwd", "/proc/self/fd/" + std::to_string(fd)};
    for (const std::string &link : links) {
        EXPECT_EQ(SystemReadlink(link), Read(link)) << link;
    }
    EXPECT_EQ(dir_ / "open-file", Read("/proc/self/fd/" + std::to_string(fd)));
    close(fd);
}

TEST_F(FileSystemAttributesLinksTest, LinkReplacedBeforeReadlinkIsReadAsItIsThen)
{
    // lstat sees the first target; readlink the second, longer or shorter one.
    const std::pair<std::string, std::string> changes[] = {{"ab", TargetOfLength(300)},
                                                           {TargetOfLength(300), "x"}};
    for (const auto &change : changes) {
        // Named references, not a structured binding: clang 14 cannot capture one.
        const std::string &before = change.first;
        const std::string &after = change.second;
        std::string link = dir_ / "changing";
        unlink(link.c_str());
        ASSERT_EQ(0, symlink(before.c_str(), link.c_str()));
        g_hookedReadlinkPath = link;
        g_readlinkHook = [&](const char *path, char *buffer, size_t size) {
            std::string replacement = dir_ / "replacement";
            EXPECT_EQ(0, symlink(after.c_str(), replacement.c_str()));
            EXPECT_EQ(0, rename(replacement.c_str(), path));
            return RealReadlink()(path, buffer, size);
        };
        EXPECT_EQ(after, Read(link));
    }
}

TEST_F(FileSystemAttributesLinksTest, TargetsAreAcceptedUpToTheLimit)
{
    // No file system lets a real target reach the limit, so readlink reports one.
    std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink("short", link.c_str()));
    for (size_t length : {kLinkLimit, kLinkLimit + 1}) {
        g_hookedReadlinkPath = link;
        g_readlinkHook = [length](const char *, char *buffer, size_t size) {
            size_t filled = std::min(length, size);
            std::memset(buffer, 'z', filled);
            return static_cast<ssize_t>(filled);
        };
        if (length == kLinkLimit) {
            EXPECT_EQ(std::string(kLinkLimit, 'z'), Read(link));
        } else {
            ThrownException thrown = ReadFailure(JStr(link.c_str()));
            EXPECT_EQ("java.io.IOException", thrown.className);
            EXPECT_EQ("Link size is too big", thrown.message);
        }
    }
}

struct NotALinkCase {
    size_t size;
    const char *message;
};

class NotALinkTest : public FileSystemAttributesLinksTest, public ::testing::WithParamInterface<NotALinkCase> {};

TEST_P(NotALinkTest, RegularFileIsRefusedBySizeFirst)
{
    std::string path = dir_.WriteFileOfSize("file", GetParam().size);
    ThrownException thrown = ReadFailure(JStr(path.c_str()));
    EXPECT_EQ("java.io.IOException", thrown.className);
    EXPECT_EQ(GetParam().message, thrown.message);
}

INSTANTIATE_TEST_SUITE_P(Sizes, NotALinkTest,
                         ::testing::Values(NotALinkCase{100, "The file is not a symbolic link"},
                                           NotALinkCase{kLinkLimit, "The file is not a symbolic link"},
                                           NotALinkCase{kLinkLimit + 1, "Link size is too big"},
                                           NotALinkCase{40000, "Link size is too big"}));

TEST_F(FileSystemAttributesLinksTest, ReadFailures)
{
    std::string file = dir_.WriteFile("file", "x");
    const std::pair<std::string, const char *> cases[] = {
        {dir_.path(), "The file is not a symbolic link"},
        {dir_ / "missing", "Path does not exist [2]"},
        {file + "/below", "Not a directory [20]"},
    };
    for (const auto &[path, message] : cases) {
        ThrownException thrown = ReadFailure(JStr(path.c_str()));
        EXPECT_EQ("java.io.IOException", thrown.className) << path;
        EXPECT_EQ(message, thrown.message) << path;
    }
    ThrownException thrown = ReadFailure(nullptr);
    EXPECT_EQ("java.lang.NullPointerException", thrown.className);
    EXPECT_EQ("path", thrown.message);
}

TEST_F(FileSystemAttributesLinksTest, TargetThatCannotBeMadeIntoAString)
{
    const std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink("file", link.c_str()));
    jstring linkPath = JStr(link.c_str());
    const int descriptors = OpenDescriptorCount();
    {
        faults::FailJniCall fault(faults::JniFunction::kNewString, 1);
        EXPECT_EQ(nullptr, direct::ReadSymbolicLink(linkPath));
        EXPECT_TRUE(fault.fired());
    }
    ExpectException("java.lang.OutOfMemoryError", faults::kInjectedMessage);
    EXPECT_EQ(descriptors, OpenDescriptorCount()) << "descriptors left open";
}

TEST_F(FileSystemAttributesLinksTest, CreatesALinkWithTheTextAsGiven)
{
    // The target is not examined: it need not exist.
    std::string link = dir_ / "link";
    auto thrown = Create(JStr(link.c_str()), JStr("does/not/../exist"));
    ASSERT_FALSE(thrown.has_value()) << thrown->message;
    struct stat st = {};
    ASSERT_EQ(0, lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("does/not/../exist", SystemReadlink(link));
    EXPECT_EQ("does/not/../exist", Read(link));
}

TEST_F(FileSystemAttributesLinksTest, CreateFailures)
{
    std::string existing = dir_.WriteFile("existing", "x");
    const std::pair<std::string, const char *> cases[] = {
        {existing, "Path already exists [17]"},
        {dir_ / "missing-directory/link", "Path does not exist [2]"},
    };
    for (const auto &[link, message] : cases) {
        auto thrown = Create(JStr(link.c_str()), JStr("target"));
        ASSERT_TRUE(thrown.has_value()) << link;
        EXPECT_EQ("java.io.IOException", thrown->className);
        EXPECT_EQ(message, thrown->message);
    }
    EXPECT_EQ("x", ReadFileContents(existing));
}

TEST_F(FileSystemAttributesLinksTest, CreateNullArgumentsInOrder)
{
    std::string link = dir_ / "link";
    const std::tuple<jstring, jstring, const char *> cases[] = {
        {nullptr, nullptr, "path to link"},
        {JStr(link.c_str()), nullptr, "path to target"},
        {nullptr, JStr("target"), "path to link"},
    };
    for (const auto &[linkPath, targetPath, message] : cases) {
        auto thrown = Create(linkPath, targetPath);
        ASSERT_TRUE(thrown.has_value());
        EXPECT_EQ("java.lang.NullPointerException", thrown->className);
        EXPECT_EQ(message, thrown->message);
    }
    struct stat st = {};
    EXPECT_NE(0, lstat(link.c_str(), &st));
}

} // namespace
