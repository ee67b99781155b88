// The walk by descriptors: a listing through a descriptor and the identities
// it gives; every act refused once the name it acts on was swapped after the
// listing looked, with nothing outside the tree changed; and a bounded race
// against a real second user swapping names while the walk acts.
#include "EntryPointFixture.h"

#include "com_quenvira_internal_io_OpenDirectory.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

using namespace jvmtest;

constexpr const char *kReplaced = "com.quenvira.internal.io.ReplacedFileException";
constexpr uid_t kOtherUser = 65534; // "nobody"

struct Identity {
    jlong device = 0;
    jlong inode = 0;
};

Identity IdentityOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return {static_cast<jlong>(st.st_dev), static_cast<jlong>(st.st_ino)};
}

class OpenDirectoryTest : public EntryPointFaultTest {
protected:
    void SetUp() override
    {
        EntryPointFaultTest::SetUp();
        // Outside the tree, root's alone: what a swapped-in link leads to.
        victimDir_ = dir_ / "victim";
        ASSERT_EQ(0, mkdir(victimDir_.c_str(), 0700));
        victimFile_ = dir_.WriteFile("victim/secret", "secret");
        ASSERT_EQ(0, chmod(victimFile_.c_str(), 0600));
        tree_ = dir_ / "tree";
        ASSERT_EQ(0, mkdir(tree_.c_str(), 0755));
        ASSERT_EQ(0, mkdir((tree_ + "/d").c_str(), 0755));
        dir_.WriteFile("tree/d/inner", "inner");
        dir_.WriteFile("tree/f", "data");
        ASSERT_EQ(0, mkdir((dir_ / "out").c_str(), 0755));
    }

    void TearDown() override
    {
        EXPECT_EQ(0700u, ModeOf(victimDir_));
        EXPECT_EQ(0600u, ModeOf(victimFile_));
        EXPECT_EQ(descriptors_, SettledDescriptorCount(descriptors_)) << "descriptors left open";
        EntryPointFaultTest::TearDown();
    }

public:
    // Opens a directory by path; -1 with the exception pending.
    int Open(const std::string &path, bool followLast = true)
    {
        return Opened(Java_com_quenvira_internal_io_OpenDirectory_nOpen(env(), nullptr, J(path), followLast));
    }

    int OpenChild(int fd, const std::string &name, Identity seen)
    {
        return Opened(Java_com_quenvira_internal_io_OpenDirectory_nOpenDirectory(env(), nullptr, fd, J(name),
                                                                                 seen.device, seen.inode));
    }

    // The records' names and the identities of a listing through fd, in its order.
    std::vector<std::pair<std::string, Identity>> List(int fd)
    {
        jobjectArray identities = env()->NewObjectArray(1, env()->FindClass("[J"), nullptr);
        jobjectArray records = Java_com_quenvira_internal_io_OpenDirectory_nList(env(), nullptr, fd, 0, identities);
        std::vector<std::pair<std::string, Identity>> entries;
        if (records == nullptr) {
            return entries;
        }
        auto values = static_cast<jlongArray>(env()->GetObjectArrayElement(identities, 0));
        EXPECT_EQ(2 * env()->GetArrayLength(records), env()->GetArrayLength(values));
        std::vector<jlong> ids(static_cast<size_t>(env()->GetArrayLength(values)));
        env()->GetLongArrayRegion(values, 0, env()->GetArrayLength(values), ids.data());
        for (const Record &record : Records(records)) {
            const size_t i = entries.size();
            entries.push_back({record.name, {ids[2 * i], ids[2 * i + 1]}});
        }
        return entries;
    }

    void ChangeMode(int fd, const std::string &name, Identity seen, jint mode)
    {
        Java_com_quenvira_internal_io_OpenDirectory_nChangeMode(env(), nullptr, fd, J(name), seen.device, seen.inode,
                                                                mode);
    }

    jlong CopyFile(int fd, const std::string &name, Identity seen, int targetFd, const std::string &targetName)
    {
        return Java_com_quenvira_internal_io_OpenDirectory_nCopyFile(env(), nullptr, fd, J(name), seen.device,
                                                                     seen.inode, targetFd, J(targetName),
                                                                     COPY_EXCLUSIVE, nullptr);
    }

    static void Close(int fd) { Java_com_quenvira_internal_io_OpenDirectory_nClose(nullptr, nullptr, fd); }

    std::string victimDir_;
    std::string victimFile_;
    std::string tree_;

    // The descriptor of an open that succeeded, else -1.
    int Opened(jlongArray result)
    {
        if (result == nullptr) {
            return -1;
        }
        jlong values[3] = {};
        env()->GetLongArrayRegion(result, 0, 3, values);
        return static_cast<int>(values[0]);
    }
};

// The records are the listing's own, in the same order, each with the
// identity lstat gives its name.
TEST_F(OpenDirectoryTest, ListingGivesTheRecordsOfThePathListingWithEachIdentity)
{
    ASSERT_EQ(0, symlink(victimFile_.c_str(), (tree_ + "/link").c_str()));
    const int fd = Open(tree_);
    ASSERT_LE(0, fd);
    const auto entries = List(fd);
    ExpectNoException();
    const std::vector<Record> byPath = Records(direct::ListFileInfos(J(tree_)));
    ASSERT_EQ(byPath.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(byPath[i].name, entries[i].first);
        const Identity expected = IdentityOf(tree_ + "/" + entries[i].first);
        EXPECT_EQ(expected.device, entries[i].second.device) << entries[i].first;
        EXPECT_EQ(expected.inode, entries[i].second.inode) << entries[i].first;
    }
    // A second listing of the same descriptor starts from the beginning again.
    EXPECT_EQ(entries.size(), List(fd).size());
    Close(fd);
}

// Each act, after the listing looked and another user then swapped the name:
// refused as replaced, nothing outside the tree changed or copied.
TEST_F(OpenDirectoryTest, ActsOnANameSwappedAfterTheListingAreRefused)
{
    struct Case {
        const char *name;
        const char *entry;                      // what the listing saw
        std::function<void(const std::string &)> swap; // puts something else at that path
        std::function<void(OpenDirectoryTest &, int, Identity, int)> act;
    };
    const auto linkTo = [](const std::string &target) {
        return [target](const std::string &path) {
            ASSERT_EQ(0, rename(path.c_str(), (path + ".away").c_str()));
            ASSERT_EQ(0, symlink(target.c_str(), path.c_str()));
        };
    };
    const auto otherFile = [](const std::string &path) {
        ASSERT_EQ(0, rename(path.c_str(), (path + ".away").c_str()));
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_LE(0, fd);
        close(fd);
    };
    const auto otherDirectory = [](const std::string &path) {
        ASSERT_EQ(0, rename(path.c_str(), (path + ".away").c_str()));
        ASSERT_EQ(0, mkdir(path.c_str(), 0755));
    };
    const auto fifo = [](const std::string &path) {
        ASSERT_EQ(0, rename(path.c_str(), (path + ".away").c_str()));
        ASSERT_EQ(0, mkfifo(path.c_str(), 0644));
    };
    const auto descend = [](OpenDirectoryTest &test, int fd, Identity seen, int) {
        EXPECT_EQ(-1, test.OpenChild(fd, "d", seen));
    };
    const auto changeDirectory = [](OpenDirectoryTest &test, int fd, Identity seen, int) {
        test.ChangeMode(fd, "d", seen, 0777);
    };
    const auto changeFile = [](OpenDirectoryTest &test, int fd, Identity seen, int) {
        test.ChangeMode(fd, "f", seen, 0777);
    };
    const auto copy = [](OpenDirectoryTest &test, int fd, Identity seen, int out) {
        EXPECT_EQ(0, test.CopyFile(fd, "f", seen, out, "f"));
    };
    const Case cases[] = {
        {"descend into a link to a directory", "d", linkTo(victimDir_), descend},
        {"descend into another directory", "d", otherDirectory, descend},
        {"change a link to a directory", "d", linkTo(victimDir_), changeDirectory},
        {"change another directory", "d", otherDirectory, changeDirectory},
        {"change a link to a file", "f", linkTo(victimFile_), changeFile},
        {"change another file", "f", otherFile, changeFile},
        {"copy a link to a file", "f", linkTo(victimFile_), copy},
        {"copy a link to /dev/zero", "f", linkTo("/dev/zero"), copy},
        {"copy a FIFO, without waiting for a writer", "f", fifo, copy},
        {"copy another file", "f", otherFile, copy},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tree_ + "/" + c.entry;
        const Identity seen = IdentityOf(path);
        const mode_t modeBefore = ModeOf(path);
        c.swap(path);
        const int fd = Open(tree_);
        const int out = Open(dir_ / "out");
        ASSERT_LE(0, fd);
        ASSERT_LE(0, out);
        c.act(*this, fd, seen, out);
        ExpectThrown(kReplaced, "File was replaced while in use");
        EXPECT_FALSE(Exists(dir_ / "out/f")) << "a destination was made";
        EXPECT_EQ(modeBefore, ModeOf(path + ".away")) << "the file listed was changed";
        Close(fd);
        Close(out);
        // The tree as it was, for the next case.
        ASSERT_EQ(0, remove(path.c_str()));
        ASSERT_EQ(0, rename((path + ".away").c_str(), path.c_str()));
    }
}

// Unswapped, each act does its work through the descriptors; a mode is set
// where the kernel has no fchmodat2 just as where it has.
TEST_F(OpenDirectoryTest, ActsOnTheFileListedDoTheirWork)
{
    for (const int fchmodat2Error : {0, ENOSYS}) {
        SCOPED_TRACE(fchmodat2Error);
        const int fd = Open(tree_);
        ASSERT_LE(0, fd);
        const auto change = [&](const char *name, Identity seen, jint mode) {
            faults::FailCCall noFchmodat2(faults::CFunction::kFchmodat2, fchmodat2Error != 0 ? 1 : 0,
                                          fchmodat2Error);
            ChangeMode(fd, name, seen, mode);
            ExpectNoException();
            EXPECT_EQ(static_cast<mode_t>(mode), ModeOf(tree_ + "/" + name));
        };
        change("f", IdentityOf(tree_ + "/f"), 04711);
        // A directory its owner may not read is changed before it is opened.
        change("d", IdentityOf(tree_ + "/d"), 0);
        change("d", {}, 0755); // identity unknown: the type alone is checked
        ASSERT_EQ(0, chmod((tree_ + "/f").c_str(), 0644));
        Close(fd);
    }
    const int fd = Open(tree_);
    const int out = Open(dir_ / "out");
    const int inner = OpenChild(fd, "d", IdentityOf(tree_ + "/d"));
    ASSERT_LE(0, inner);
    ASSERT_EQ(1u, List(inner).size());
    EXPECT_EQ(4, CopyFile(fd, "f", IdentityOf(tree_ + "/f"), out, "copy"));
    ExpectNoException();
    EXPECT_EQ("data", ReadFileContents(dir_ / "out/copy"));
    // Exclusive: an existing destination is not written.
    EXPECT_EQ(0, CopyFile(fd, "f", IdentityOf(tree_ + "/f"), out, "copy"));
    ExpectThrown(kIOException, "Path already exists [17]");
    // A made directory carries permission bits only.
    const int made = Opened(
        Java_com_quenvira_internal_io_OpenDirectory_nMakeDirectory(env(), nullptr, out, J("made"), 07777));
    ASSERT_LE(0, made);
    EXPECT_EQ(0u, ModeOf(dir_ / "out/made") & 07000);
    Java_com_quenvira_internal_io_OpenDirectory_nMakeLink(env(), nullptr, made, J("link"), J("../copy"));
    ExpectNoException();
    jstring text = Java_com_quenvira_internal_io_OpenDirectory_nReadLink(env(), nullptr, made, J("link"));
    ExpectNoException();
    EXPECT_EQ("../copy", StdStr(text));
    Java_com_quenvira_internal_io_OpenDirectory_nRemove(env(), nullptr, made, J("link"));
    ExpectNoException();
    EXPECT_FALSE(Exists(dir_ / "out/made/link"));
    for (const int held : {fd, out, inner, made}) {
        Close(held);
    }
}

// The last component of the top-level path is followed only when asked.
TEST_F(OpenDirectoryTest, TopLevelLinkIsFollowedOnlyWhenAsked)
{
    ASSERT_EQ(0, symlink("tree", (dir_ / "alias").c_str()));
    const int followed = Open(dir_ / "alias", true);
    ASSERT_LE(0, followed);
    Close(followed);
    EXPECT_EQ(-1, Open(dir_ / "alias", false));
    ExpectThrown(kIOException);
}

// A real second user swaps a directory with a link to root's directory and a
// file with a link to root's file, over and over, while the walk changes the
// modes of the tree and copies its file: however the race falls, nothing of
// root's changes and no copy holds root's secret.
TEST_F(OpenDirectoryTest, SecondUserSwappingNamesNeverRedirectsTheWalk)
{
    constexpr int kRounds = 400;
    ASSERT_EQ(0, chmod(dir_.path().c_str(), 0711));
    ASSERT_EQ(0, symlink(victimDir_.c_str(), (tree_ + "/x").c_str()));
    ASSERT_EQ(0, symlink(victimFile_.c_str(), (tree_ + "/y").c_str()));
    for (const char *name : {"", "/d", "/d/inner", "/f", "/x", "/y"}) {
        ASSERT_EQ(0, lchown((tree_ + name).c_str(), kOtherUser, kOtherUser)) << name;
    }
    const std::string d = tree_ + "/d", x = tree_ + "/x", f = tree_ + "/f", y = tree_ + "/y";
    // Killed however the test ends.
    struct Child {
        pid_t pid;
        ~Child()
        {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } swapper{fork()};
    ASSERT_LE(0, swapper.pid);
    if (swapper.pid == 0) {
        // The child: nothing but system calls, as the other user, until killed.
        if (setgroups(0, nullptr) != 0 || setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
            setresuid(kOtherUser, kOtherUser, kOtherUser) != 0) {
            _exit(2);
        }
        for (long i = 0; i < 100000000; ++i) {
            renameat2(AT_FDCWD, d.c_str(), AT_FDCWD, x.c_str(), RENAME_EXCHANGE);
            renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, y.c_str(), RENAME_EXCHANGE);
        }
        _exit(0);
    }
    int refused = 0;
    for (int round = 0; round < kRounds; ++round) {
        // The round's strings, arrays and records go with its frame.
        ASSERT_EQ(0, env()->PushLocalFrame(256));
        struct Frame {
            JNIEnv *env;
            ~Frame() { env->PopLocalFrame(nullptr); }
        } frame{env()};
        const int fd = Open(tree_);
        const int out = Open(dir_ / "out");
        ASSERT_LE(0, fd);
        ASSERT_LE(0, out);
        for (const auto &[name, seen] : List(fd)) {
            ChangeMode(fd, name, seen, 0777);
            refused += TakeException().has_value() ? 1 : 0;
            const int child = OpenChild(fd, name, seen);
            if (child >= 0) {
                for (const auto &[innerName, innerSeen] : List(child)) {
                    ChangeMode(child, innerName, innerSeen, 0777);
                    refused += TakeException().has_value() ? 1 : 0;
                }
                Close(child);
            }
            refused += TakeException().has_value() ? 1 : 0;
            CopyFile(fd, name, seen, out, "copy");
            TakeException();
            if (Exists(dir_ / "out/copy")) {
                ASSERT_NE("secret", ReadFileContents(dir_ / "out/copy")) << "round " << round;
                ASSERT_EQ(0, unlink((dir_ / "out/copy").c_str()));
            }
        }
        Close(fd);
        Close(out);
        ASSERT_EQ(0700u, ModeOf(victimDir_)) << "round " << round;
        ASSERT_EQ(0600u, ModeOf(victimFile_)) << "round " << round;
    }
    kill(swapper.pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(swapper.pid, waitpid(swapper.pid, &status, 0));
    swapper.pid = 0;
    EXPECT_TRUE(WIFSIGNALED(status)) << "the swapper ended early with status " << WEXITSTATUS(status);
    // The race was real: some acts met a swapped name and were refused.
    EXPECT_LT(0, refused);
}

} // namespace
