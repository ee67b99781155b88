// A watcher asked for one fanotify mark by a process without CAP_SYS_ADMIN
// says why it watches each directory instead, and does.
#include "../suite/WatcherFixture.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace jvmtest;

TEST_F(WatcherTest, WithoutTheCapabilityEachDirectoryIsWatchedAndTheReasonGiven)
{
    ASSERT_NE(0u, geteuid()) << "must not run as root";
    TempDir dir;
    jobject watcher = Open(dir.path(), 1);
    ExpectNoException();
    // Refused for want of CAP_SYS_ADMIN: by fanotify_init before Linux 5.13,
    // by the mark after; an emulator without fanotify has a reason of its own.
    const std::string reason = FallbackReason(watcher);
    const std::string fallback = "; each directory is watched instead";
    ASSERT_GT(reason.size(), fallback.size());
    EXPECT_EQ(fallback, reason.substr(reason.size() - fallback.size()));
    close(open((dir / "f").c_str(), O_CREAT | O_WRONLY, 0644));
    std::vector<Seen> events = Drain(watcher, 50);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ("CREATED f", events[0].Text());
    Call(watcher, "close");
    ExpectNoException();
}

} // namespace
