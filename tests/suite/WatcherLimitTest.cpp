// The watch limit reached: each directory that could not be watched is
// reported, so that the caller rescans it, and the rest is watched. Runs
// where the limit is low: ctest's basefs_watch_limit lowers it in a user
// namespace of its own, leaving the machine's alone.
#include "WatcherFixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

namespace {

using namespace jvmtest;

long WatchLimit()
{
    long limit = 0;
    std::ifstream("/proc/sys/user/max_inotify_watches") >> limit;
    return limit;
}

TEST_F(WatcherTest, TheWatchLimitReachedIsReportedForEachDirectoryLeftUnwatched)
{
    const long limit = WatchLimit();
    if (limit <= 0 || limit > 64) {
        GTEST_SKIP() << "the watch limit is " << limit << ": ctest's basefs_watch_limit runs this under a lower one";
    }
    TempDir dir;
    const int directories = static_cast<int>(limit) + 10;
    for (int i = 0; i < directories; ++i) {
        ASSERT_EQ(0, mkdir((dir / ("d" + std::to_string(i))).c_str(), 0755));
    }
    jobject watcher = Open(dir.path());
    ExpectNoException();
    std::vector<Seen> first = Poll(watcher, 0);
    ExpectNoException();
    // The root and limit - 1 directories are watched; the others are named.
    ASSERT_EQ(static_cast<size_t>(directories + 1 - limit), first.size());
    for (const Seen &event : first) {
        EXPECT_EQ("WATCH_LIMIT", event.kind);
        EXPECT_TRUE(event.directory);
        EXPECT_EQ('d', event.path[0]) << event.path;
    }
    // A directory made later is reported, and so is its watch that failed.
    ASSERT_EQ(0, mkdir((dir / "late").c_str(), 0755));
    std::vector<std::string> later;
    for (const Seen &event : Drain(watcher, 50)) {
        later.push_back(event.Text());
    }
    EXPECT_EQ((std::vector<std::string>{"CREATED dir late", "WATCH_LIMIT dir late"}), later);
    Call(watcher, "close");
    ExpectNoException();
}

} // namespace
