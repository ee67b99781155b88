// Watcher: a tree of 10,000 directories changed in bursts by another process,
// every change reported once and in order per directory; moves in, out and
// within the tree; the root gone; wakeup and close from other threads; no
// thread started and no descriptor left behind.
#include "WatcherFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <iterator>
#include <map>
#include <thread>

namespace {

using namespace jvmtest;

std::string Dir(int top, int below)
{
    char name[32];
    std::snprintf(name, sizeof name, "d%02d/e%02d", top, below);
    return name;
}

void MakeTree(const std::string &root, int top, int below)
{
    for (int d = 0; d < top; ++d) {
        ASSERT_EQ(0, mkdir((root + "/" + Dir(d, 0)).substr(0, root.size() + 4).c_str(), 0755));
        for (int e = 0; e < below; ++e) {
            ASSERT_EQ(0, mkdir((root + "/" + Dir(d, e)).c_str(), 0755));
        }
    }
}

// One change the other process makes, and the events it must bring.
struct Change {
    enum Act { kWrite, kRename, kRemove, kChmod, kMakeDirs } act;
    std::string path, to;
};

void Perform(const std::string &root, const Change &change)
{
    const std::string path = root + "/" + change.path;
    switch (change.act) {
    case Change::kWrite: {
        const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        (void)!write(fd, "x", 1);
        close(fd);
        break;
    }
    case Change::kRename:
        rename(path.c_str(), (root + "/" + change.to).c_str());
        break;
    case Change::kRemove:
        unlink(path.c_str());
        break;
    case Change::kChmod:
        chmod(path.c_str(), 0600);
        break;
    case Change::kMakeDirs: // mkdir -p path/b/c, then files in c at once
        mkdir(path.c_str(), 0755);
        mkdir((path + "/b").c_str(), 0755);
        mkdir((path + "/b/c").c_str(), 0755);
        for (char f = '0'; f < '5'; ++f) {
            close(open((path + "/b/c/f" + f).c_str(), O_CREAT | O_WRONLY, 0644));
        }
        break;
    }
}

std::vector<std::string> Expected(const Change &change)
{
    switch (change.act) {
    case Change::kWrite:
        return {"CREATED " + change.path, "MODIFIED " + change.path};
    case Change::kRename: {
        const char *dir = change.path.find("/n") != std::string::npos ? " dir " : " ";
        return {std::string("MOVED_FROM") + dir + change.path, std::string("MOVED_TO") + dir + change.to};
    }
    case Change::kRemove:
        return {"DELETED " + change.path};
    case Change::kChmod:
        return {"ATTRIBUTES " + change.path};
    case Change::kMakeDirs: {
        std::vector<std::string> events{"CREATED dir " + change.path, "CREATED dir " + change.path + "/b",
                                        "CREATED dir " + change.path + "/b/c"};
        for (char f = '0'; f < '5'; ++f) {
            events.push_back("CREATED " + change.path + "/b/c/f" + f);
        }
        return events;
    }
    }
    return {};
}

// Ten bursts over the tree: files written, renamed across directories,
// changed and deleted; directory chains made at once, moved elsewhere in the
// next burst and written into there.
std::vector<std::vector<Change>> Bursts()
{
    std::vector<std::vector<Change>> bursts(11);
    for (int burst = 0; burst < 10; ++burst) {
        std::vector<Change> &changes = bursts[burst];
        for (int i = 0; i < 60; ++i) {
            const std::string here = Dir((burst * 7 + i) % 100, (i * 13) % 100);
            const std::string there = Dir((burst * 3 + i * 11) % 100, (i * 17 + burst) % 100);
            const std::string tag = std::to_string(burst) + "_" + std::to_string(i);
            changes.push_back({Change::kWrite, here + "/f" + tag, ""});
            changes.push_back({Change::kRename, here + "/f" + tag, there + "/g" + tag});
            changes.push_back({i % 3 == 0 ? Change::kRemove : Change::kChmod, there + "/g" + tag, ""});
            if (i % 10 == 0 && here != there) {
                changes.push_back({Change::kMakeDirs, here + "/n" + tag, ""});
                bursts[burst + 1].push_back({Change::kRename, here + "/n" + tag, there + "/n" + tag});
                bursts[burst + 1].push_back({Change::kWrite, there + "/n" + tag + "/b/c/late", ""});
            }
        }
    }
    return bursts;
}

std::string Parent(const std::string &path) { return path.substr(0, path.rfind('/')); }

TEST_F(WatcherTest, BurstsFromAnotherProcessAreEachReportedOnceInOrderPerDirectory)
{
    TempDir dir;
    MakeTree(dir.path(), 100, 100); // 10,000 directories below the root's 100
    const int threads = ThreadCount(), descriptors = OpenDescriptorCount();
    jobject watcher = Open(dir.path());
    ExpectNoException();
    ASSERT_NE(nullptr, watcher);
    const std::vector<std::vector<Change>> bursts = Bursts();
    // The child says when a burst is done; it goes on once everything the
    // burst brought has been read.
    int done[2], next[2];
    ASSERT_EQ(0, pipe(done));
    ASSERT_EQ(0, pipe(next));
    const pid_t child = fork();
    ASSERT_LE(0, child);
    if (child == 0) {
        char token = 0;
        for (const std::vector<Change> &burst : bursts) {
            for (const Change &change : burst) {
                Perform(dir.path(), change);
            }
            if (write(done[1], &token, 1) != 1 || read(next[0], &token, 1) != 1) {
                _exit(1);
            }
        }
        _exit(0);
    }
    close(done[1]);
    close(next[0]);
    std::vector<Seen> seen;
    for (char token; read(done[0], &token, 1) == 1;) {
        for (const Seen &event : Drain(watcher, 20)) {
            seen.push_back(event);
        }
        ASSERT_EQ(1, write(next[1], &token, 1));
    }
    close(done[0]);
    close(next[1]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ(threads, ThreadCount()) << "the watcher started a thread";
    Call(watcher, "close");
    ExpectNoException();
    EXPECT_EQ(descriptors, SettledDescriptorCount(descriptors));
    ASSERT_TRUE(WIFEXITED(status));

    if (std::any_of(seen.begin(), seen.end(), [](const Seen &e) { return e.kind == "OVERFLOW"; })) {
        SUCCEED() << "the kernel's queue overflowed, and that was reported";
        return;
    }
    std::vector<std::string> expected, reported;
    std::map<int, std::vector<std::string>> moves;
    for (const std::vector<Change> &burst : bursts) {
        for (const Change &change : burst) {
            for (const std::string &event : Expected(change)) {
                expected.push_back(event);
            }
        }
    }
    for (const Seen &event : seen) {
        reported.push_back(event.Text());
        if (event.kind.rfind("MOVED_", 0) == 0) {
            moves[event.cookie].push_back(event.kind + " " + event.path);
        }
    }
    // Order within each directory watched from the start: the sequence of its
    // events is the sequence its changes brought.
    std::map<std::string, std::vector<std::string>> expectedIn, reportedIn;
    for (const std::string &event : expected) {
        expectedIn[Parent(event.substr(event.rfind(' ') + 1))].push_back(event);
    }
    for (const std::string &event : reported) {
        reportedIn[Parent(event.substr(event.rfind(' ') + 1))].push_back(event);
    }
    for (int d = 0; d < 100; ++d) {
        for (int e = 0; e < 100; ++e) {
            ASSERT_EQ(expectedIn[Dir(d, e)], reportedIn[Dir(d, e)]) << Dir(d, e);
        }
    }
    std::sort(expected.begin(), expected.end());
    std::sort(reported.begin(), reported.end());
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), reported.begin(), reported.end(), std::back_inserter(missing));
    std::set_difference(reported.begin(), reported.end(), expected.begin(), expected.end(), std::back_inserter(extra));
    EXPECT_EQ(std::vector<std::string>{}, missing);
    EXPECT_EQ(std::vector<std::string>{}, extra);
    for (const auto &[cookie, halves] : moves) {
        EXPECT_NE(0, cookie);
        ASSERT_EQ(2u, halves.size()) << halves[0];
        EXPECT_EQ(0u, halves[0].rfind("MOVED_FROM", 0)) << halves[0];
    }
}

struct Scenario {
    const char *name;
    void (*act)(const std::string &root, const std::string &outside);
    std::vector<std::string> events;
};

const Scenario kScenarios[] = {
    {"a directory moved out is no longer watched",
     [](const std::string &root, const std::string &outside) {
         rename((root + "/a").c_str(), (outside + "/a").c_str());
         close(open((outside + "/a/late").c_str(), O_CREAT | O_WRONLY, 0644));
     },
     {"MOVED_FROM dir a"}},
    {"a directory moved in is watched, and what it holds is reported",
     [](const std::string &root, const std::string &outside) {
         mkdir((outside + "/in").c_str(), 0755);
         mkdir((outside + "/in/sub").c_str(), 0755);
         rename((outside + "/in").c_str(), (root + "/in").c_str());
         close(open((root + "/in/sub/late").c_str(), O_CREAT | O_WRONLY, 0644));
     },
     {"MOVED_TO dir in", "CREATED dir in/sub", "CREATED in/sub/late"}},
    {"a directory renamed within the tree reports under its new name",
     [](const std::string &root, const std::string &) {
         rename((root + "/a").c_str(), (root + "/b/renamed").c_str());
         close(open((root + "/b/renamed/late").c_str(), O_CREAT | O_WRONLY, 0644));
     },
     {"MOVED_FROM dir a", "MOVED_TO dir b/renamed", "CREATED b/renamed/late"}},
    {"a name that is not UTF-8 keeps its bytes as a listing's names do",
     [](const std::string &root, const std::string &) {
         close(open((root + "/b/x\xff").c_str(), O_CREAT | O_WRONLY, 0644));
     },
     {"CREATED b/x\xed\xb3\xbf"}},
    {"the root deleted is reported, and nothing after",
     [](const std::string &root, const std::string &) {
         rmdir((root + "/a").c_str());
         rmdir((root + "/b").c_str());
         rmdir(root.c_str());
     },
     {"DELETED dir a", "DELETED dir b", "ROOT_GONE dir "}},
};

TEST_F(WatcherTest, MovesAndTheRootGone)
{
    for (const Scenario &scenario : kScenarios) {
        SCOPED_TRACE(scenario.name);
        TempDir outside, dir;
        const std::string root = dir / "root";
        ASSERT_EQ(0, mkdir(root.c_str(), 0755));
        ASSERT_EQ(0, mkdir((root + "/a").c_str(), 0755));
        ASSERT_EQ(0, mkdir((root + "/b").c_str(), 0755));
        jobject watcher = Open(root);
        ExpectNoException();
        scenario.act(root, outside.path());
        std::vector<std::string> reported;
        for (const Seen &event : Drain(watcher, 100)) {
            reported.push_back(event.Text());
        }
        EXPECT_EQ(scenario.events, reported);
        Call(watcher, "close");
    }
}

TEST_F(WatcherTest, WakeupAndCloseFromAnotherThreadEndAWaitingPoll)
{
    TempDir dir;
    for (const char *method : {"wakeup", "close"}) {
        SCOPED_TRACE(method);
        jobject local = Open(dir.path());
        ExpectNoException();
        jobject watcher = env()->NewGlobalRef(local);
        std::thread other([&] {
            JNIEnv *env = nullptr;
            Vm()->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
            usleep(100000);
            Call(watcher, method, env);
            Vm()->DetachCurrentThread();
        });
        EXPECT_TRUE(Poll(watcher, -1).empty()); // returns once woken
        other.join();
        ExpectNoException();
        Call(watcher, "close");
        Call(watcher, "close");
        EXPECT_TRUE(Poll(watcher, -1).empty()); // closed: no wait
        ExpectNoException();
        env()->DeleteGlobalRef(watcher);
    }
}

// With one fanotify mark on the whole file system: the same changes below the
// root, nothing from beside it, and the root's own deletion.
TEST_F(WatcherTest, TheWholeFileSystemMarkReportsWhatIsBelowTheRootOnly)
{
    TempDir dir;
    const std::string root = dir / "root", beside = dir / "beside";
    ASSERT_EQ(0, mkdir(root.c_str(), 0755));
    ASSERT_EQ(0, mkdir(beside.c_str(), 0755));
    ASSERT_EQ(0, mkdir((root + "/a").c_str(), 0755));
    jobject watcher = Open(root, 1);
    ExpectNoException();
    const std::string reason = FallbackReason(watcher);
    if (!reason.empty()) {
        Call(watcher, "close");
        GTEST_SKIP() << reason;
    }
    const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> steps = {
        {[&] { close(open((beside + "/x").c_str(), O_CREAT | O_WRONLY, 0644)); }, {}},
        {[&] { close(open((root + "/a/f").c_str(), O_CREAT | O_WRONLY, 0644)); }, {"CREATED a/f"}},
        {[&] { chmod((root + "/a/f").c_str(), 0600); }, {"ATTRIBUTES a/f"}},
        {[&] { rename((root + "/a/f").c_str(), (root + "/g").c_str()); }, {"MOVED_FROM a/f", "MOVED_TO g"}},
        {[&] { mkdir((root + "/a/b").c_str(), 0755); }, {"CREATED dir a/b"}},
        {[&] { rename((root + "/g").c_str(), (beside + "/g").c_str()); }, {"MOVED_FROM g"}},
        {[&] { rmdir((root + "/a/b").c_str()); }, {"DELETED dir a/b"}},
        {[&] { rmdir((root + "/a").c_str()); }, {"DELETED dir a"}},
        {[&] { rmdir(root.c_str()); }, {"ROOT_GONE dir "}},
    };
    for (const auto &[act, events] : steps) {
        act();
        std::vector<std::string> reported;
        for (const Seen &event : Drain(watcher, 50)) {
            reported.push_back(event.Text());
        }
        EXPECT_EQ(events, reported);
    }
    Call(watcher, "close");
    ExpectNoException();
}

TEST_F(WatcherTest, ARootThatCannotBeWatchedThrows)
{
    TempDir dir;
    Open(dir / "missing");
    ExpectException("java.io.IOException", "Path does not exist [2]");
    Open(dir.WriteFile("file", "x"));
    const auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("java.io.IOException", thrown->className);
}

} // namespace
