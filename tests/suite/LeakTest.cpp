// Leak checks: every entry point of the table (EntryPoints.h) called many
// times through its Java declaration, on its success paths and on its failure
// paths (natural ones and injected ones), with the process's open descriptors
// counted before and after, and the library's large heap blocks followed until
// they are freed. A single descriptor or block kept per call shows as hundreds.
#include "CLibraryFaults.h"
#include "EntryPoints.h"
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"
#include "CopyTransfer.h"
#include "CompareReader.h"
#include "FileSystemListPath.h"
#include "JniBridge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace {

using namespace jvmtest;
using namespace jvmtest::faults;

constexpr int kRepetitions = 500;
// Room for the local references of one call and the checks after it.
constexpr jint kFrameCapacity = 64;
constexpr jint kExtendedMask = INFO_ACCESSED | INFO_OWNER | INFO_GROUP;
constexpr jint kTimesAndPermissions = INFO_MODIFIED | INFO_ACCESSED | INFO_ATTRIBUTES;
constexpr jlong kMiB = 1024 * 1024;
// The comparison allocates one buffer of a read per file, both at once.
constexpr size_t kCompareBuffersSize = 2 * basefs::kCompareReadSize;
// Beyond the units converted without allocating.
constexpr size_t kLongPathUnits = basefs::JavaPath::kInlineUnits + 188;
constexpr int kListedFiles = basefs::kListingInitialCapacity + 4; // past the first growth of the working array
constexpr jint kNoSuchId = 0x7ffffff0;

// The one heap block a path of `units` UTF-16 units beyond the inline ones
// takes: the units, and up to three bytes each with the terminating NUL.
size_t PathBufferSize(size_t units) { return units * sizeof(jchar) + units * basefs::kMaxBytesPerJavaChar + 1; }

// One call of an entry point and what it must end with.
struct Operation {
    const char *label;
    std::function<void()> call;
    const char *exception = nullptr;  // class name, or null for success
    size_t watchedBlockSize = 0;      // a heap block size the call allocates, or 0
};

class LeakTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        file_ = dir_.WriteFile("file", "contents");
        link_ = dir_ / "link";
        ASSERT_EQ(0, symlink("file", link_.c_str()));
        listed_ = dir_ / "listed";
        ASSERT_EQ(0, mkdir(listed_.c_str(), 0755));
        for (int i = 0; i < kListedFiles; ++i) {
            dir_.WriteFile("listed/f" + std::to_string(i), "x");
        }
        const std::string contents(100 * 1024, 'c');
        one_ = dir_.WriteFile("one", contents);
        two_ = dir_.WriteFile("two", contents);
        big_ = dir_.WriteFileOfSize("big", kMiB + kMiB / 2);
        longDirectory_ = dir_.path();
        while (longDirectory_.size() < kLongPathUnits) {
            longDirectory_ += "/" + std::string(200, 'd');
            ASSERT_EQ(0, mkdir(longDirectory_.c_str(), 0755));
        }
        longFile_ = longDirectory_ + "/file";
        ASSERT_EQ(0, close(open(longFile_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644)));
    }

    void TearDown() override
    {
        g_userScript.Reset();
        JvmTest::TearDown();
    }

    static jstring J(const std::string &text) { return JStr(text.c_str()); }

    // Runs the operation once to let the JVM load what it needs, then
    // kRepetitions times (until one goes wrong), each in a local frame of its own.
    void Repeat(const Operation &operation)
    {
        SCOPED_TRACE(operation.label);
        if (!RunOnce(operation)) {
            return;
        }
        const int descriptors = OpenDescriptorCount();
        std::optional<WatchAllocations> watch;
        if (operation.watchedBlockSize != 0) {
            watch.emplace(operation.watchedBlockSize);
        }
        for (int i = 0; i < kRepetitions; ++i) {
            if (!RunOnce(operation)) {
                return;
            }
        }
        EXPECT_EQ(descriptors, OpenDescriptorCount()) << "descriptors left open";
        if (watch) {
            EXPECT_LE(kRepetitions, watch->made());
            EXPECT_EQ(0, watch->live()) << "heap blocks not freed";
        }
    }

    // Whether the call ended as expected.
    bool RunOnce(const Operation &operation)
    {
        if (env()->PushLocalFrame(kFrameCapacity) != 0) {
            ADD_FAILURE() << "PushLocalFrame";
            return false;
        }
        const int failuresBefore = FailureCount();
        operation.call();
        auto thrown = TakeException();
        env()->PopLocalFrame(nullptr);
        if (operation.exception == nullptr) {
            EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
        } else {
            EXPECT_TRUE(thrown.has_value()) << "nothing thrown";
            EXPECT_EQ(operation.exception, thrown.value_or(ThrownException{}).className)
                << thrown.value_or(ThrownException{}).message;
        }
        return FailureCount() == failuresBefore;
    }

    // Failed checks of the running test so far (gtest records a part for a
    // failure, a skip or SUCCEED(), none of which a passing check here makes).
    static int FailureCount()
    {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    }

    // Every entry point of the table but those named in `without` has an
    // operation here: one whose label starts with its name.
    static void ExpectEveryEntryPoint(std::span<const Operation> operations,
                                      std::initializer_list<std::string_view> without = {})
    {
        for (const EntryPoint &entryPoint : kEntryPoints) {
            if (std::find(without.begin(), without.end(), entryPoint.name) != without.end()) {
                continue;
            }
            const bool covered = std::any_of(operations.begin(), operations.end(), [&](const Operation &operation) {
                const std::string_view label = operation.label;
                return label.substr(0, label.find_first_of(", ")) == entryPoint.name;
            });
            EXPECT_TRUE(covered) << "no operation of " << entryPoint.name;
        }
    }

    // A result a success path must give.
    static void Expect(bool ok) { EXPECT_TRUE(ok); }

    TempDir dir_;
    std::string file_;
    std::string link_;
    std::string listed_;
    std::string one_;
    std::string two_;
    std::string big_;
    std::string longDirectory_;
    std::string longFile_;
};

constexpr const char *kIOException = "java.io.IOException";
constexpr const char *kOutOfMemoryError = "java.lang.OutOfMemoryError";
constexpr const char *kMonitorException = "java.lang.IllegalStateException";

TEST_F(LeakTest, SuccessPaths)
{
    const std::string newLink = dir_ / "newLink";
    const std::string copy = dir_ / "copy";
    const Operation operations[] = {
        {"nInitStatic again", [] { natives::InitStatic(); }},
        {"nGetFileInfo", [&] { Expect(natives::GetFileInfo(J(file_), J("file"), kExtendedMask) != nullptr); }},
        {"nGetFileInfo, long path",
         [&] { Expect(natives::GetFileInfo(J(longFile_), J("file"), 0) != nullptr); }, nullptr,
         PathBufferSize(longFile_.size())},
        {"nListFileInfos",
         [&] { Expect(natives::ListFileInfos(J(listed_ + "/"), kExtendedMask, NewScriptedMonitor(), 1) != nullptr); }},
        {"nListFileInfos, no trailing separator",
         [&] { Expect(natives::ListFileInfos(J(listed_), 0, nullptr, 0) != nullptr); }},
        {"nSetFileInfo", [&] { natives::SetFileInfo(J(file_), kTimesAndPermissions, 1000, 2000, 0, ATTR_OWNER_READ); }},
        {"nReadSymbolicLink", [&] { Expect(natives::ReadSymbolicLink(J(link_)) != nullptr); }},
        {"nCreateSymbolicLink",
         [&] {
             natives::CreateSymbolicLink(J(newLink), J("file"));
             unlink(newLink.c_str());
         }},
        {"nCopyFileCallback",
         [&] { Expect(natives::CopyFileCallback(J(file_), J(copy), 0, NewScriptedMonitor()) == 8); }},
        {"nCompareByteByByte",
         [&] { Expect(natives::CompareByteByByte(J(one_), J(two_), NewScriptedMonitor()) == JNI_TRUE); },
         nullptr, kCompareBuffersSize},
        {"nGetUser", [&] { Expect(natives::GetUser(J("owner"), 0) != nullptr); }},
        {"nGetGroup", [&] { Expect(natives::GetGroup(J("owner"), 0) != nullptr); }},
    };
    ExpectEveryEntryPoint(operations);
    for (const Operation &operation : operations) {
        Repeat(operation);
    }
}

TEST_F(LeakTest, FailurePaths)
{
    const std::string missing = dir_ / "missing";
    const Operation operations[] = {
        {"nGetFileInfo, missing", [&] { natives::GetFileInfo(J(missing), J("missing"), 0); }, kIOException},
        {"nListFileInfos, missing", [&] { natives::ListFileInfos(J(missing + "/"), 0, nullptr, 0); }, kIOException},
        {"nListFileInfos, not a directory", [&] { natives::ListFileInfos(J(file_), 0, nullptr, 0); }, kIOException},
        {"nListFileInfos, monitor throws",
         [&] { natives::ListFileInfos(J(listed_ + "/"), 0, NewScriptedMonitor(0, 5), 1); }, kMonitorException},
        {"nSetFileInfo, missing", [&] { natives::SetFileInfo(J(missing), INFO_MODIFIED, 0, 0, 0, 0); }, kIOException},
        {"nReadSymbolicLink, not a link", [&] { natives::ReadSymbolicLink(J(file_)); }, kIOException},
        {"nCreateSymbolicLink, exists", [&] { natives::CreateSymbolicLink(J(link_), J("file")); }, kIOException},
        {"nCopyFileCallback, missing source",
         [&] { natives::CopyFileCallback(J(missing), J(dir_ / "copy"), 0, nullptr); }, kIOException},
        // The source is open when the destination is refused.
        {"nCopyFileCallback, destination exists",
         [&] { natives::CopyFileCallback(J(file_), J(one_), COPY_EXCLUSIVE, nullptr); }, kIOException},
        {"nCopyFileCallback, monitor throws",
         [&] { natives::CopyFileCallback(J(big_), J(dir_ / "copy"), 0, NewScriptedMonitor(0, 1)); }, kMonitorException},
        // File 1 is open when file 2 is missing.
        {"nCompareByteByByte, missing file 2", [&] { natives::CompareByteByByte(J(one_), J(missing), nullptr); },
         kIOException, kCompareBuffersSize},
        {"nCompareByteByByte, monitor throws",
         [&] { natives::CompareByteByByte(J(one_), J(two_), NewScriptedMonitor(0, 1)); }, kMonitorException,
         kCompareBuffersSize},
        {"nGetUser, no such user", [&] { natives::GetUser(nullptr, kNoSuchId); }, kIOException},
        {"nGetGroup, no such group", [&] { natives::GetGroup(nullptr, kNoSuchId); }, kIOException},
    };
    // Once initialised, nInitStatic has no way to fail.
    ExpectEveryEntryPoint(operations, {"nInitStatic"});
    for (const Operation &operation : operations) {
        Repeat(operation);
    }
}

TEST_F(LeakTest, InjectedFailures)
{
    const Operation operations[] = {
        {"nListFileInfos, readdir64 fails",
         [&] {
             FailCCall fault(CFunction::kReaddir64, kListedFiles / 2, EIO);
             natives::ListFileInfos(J(listed_ + "/"), kExtendedMask, nullptr, 0);
         },
         kIOException},
        {"nListFileInfos, a name or the batch of records fails",
         [&] {
             jstring path = J(listed_ + "/");
             const bool inJava = RecordsMadeInJava();
             FailJniCall fault(inJava ? JniFunction::kCallStaticVoidMethodV : JniFunction::kNewString,
                               inJava ? 1 : kListedFiles - 1);
             natives::ListFileInfos(path, 0, nullptr, 0);
         },
         kOutOfMemoryError},
        {"nListFileInfos, growth fails",
         [&] {
             jstring path = J(listed_ + "/");
             FailJniCall fault(JniFunction::kNewObjectArray, 2);
             natives::ListFileInfos(path, 0, nullptr, 0);
         },
         kOutOfMemoryError},
        {"nCopyFileCallback, copy_file_range fails mid-copy",
         [&] {
             FailCCall fault(CFunction::kCopyFileRange, 2, EIO);
             natives::CopyFileCallback(J(big_), J(dir_ / "copy"), 0, NewScriptedMonitor());
         },
         kIOException},
        {"nCopyFileCallback, sendfile64 fails mid-copy",
         [&] {
             UseTransferMethod method(TransferMethod::kSendfile);
             FailCCall fault(CFunction::kSendfile64, 2, EIO);
             natives::CopyFileCallback(J(big_), J(dir_ / "copy"), 0, NewScriptedMonitor());
         },
         kIOException},
        {"nCopyFileCallback, write fails mid-copy",
         [&] {
             UseTransferMethod method(TransferMethod::kReadWrite);
             FailCCall fault(CFunction::kWrite, 2, EIO);
             natives::CopyFileCallback(J(big_), J(dir_ / "copy"), 0, NewScriptedMonitor());
         },
         kIOException},
        {"nCompareByteByByte, read fails on file 2",
         [&] {
             FailCCall fault(CFunction::kRead, 2, EIO);
             natives::CompareByteByByte(J(one_), J(two_), nullptr);
         },
         kIOException, kCompareBuffersSize},
        {"nGetFileInfo, long path buffer fails",
         [&] {
             FailAllocation fault(PathBufferSize(longFile_.size()));
             natives::GetFileInfo(J(longFile_), J("file"), 0);
         },
         kOutOfMemoryError},
        {"nGetUser, getpwuid_r fails",
         [&] {
             g_userScript.Arm(1, EIO);
             natives::GetUser(nullptr, 0);
             g_userScript.Reset();
         },
         kIOException},
    };
    for (const Operation &operation : operations) {
        Repeat(operation);
    }
}

} // namespace
