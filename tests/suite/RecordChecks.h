// Reading one file's record through nGetFileInfo, and setting a file's times
// to known values: the helpers of the tests that look at records' fields.
#pragma once

#include "JvmHarness.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

namespace jvmtest {

// nGetFileInfo of path, expecting success: the record's fields.
inline Record Info(const std::string &path, const char *name, jint mask)
{
    jobject info = natives::GetFileInfo(JStr(path.c_str()), JStr(name), mask);
    auto thrown = TakeException();
    EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
    EXPECT_NE(nullptr, info);
    return info != nullptr ? ReadRecord(info) : Record{};
}

// Sets the access and modification times of path itself (a link is not followed).
inline void SetTimes(const std::string &path, time_t accessed, time_t modified, long nanos)
{
    struct timespec times[2] = {{accessed, nanos}, {modified, nanos}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

} // namespace jvmtest
