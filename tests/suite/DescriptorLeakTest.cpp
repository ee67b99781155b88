// Open descriptors around every entry point of the table (EntryPoints.h): each
// call, on its success and on each of its failure paths, is repeated many
// times and the process must hold exactly the descriptors it held before (a
// directory stream, a C stream or a descriptor left open on one path would
// show up as a steady climb). An entry point without scenarios here fails.
#include "EntryPoints.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"
#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace jvmtest;

constexpr int kIterations = 200;
constexpr jint kIterationFrame = 32;
constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kTwoStepSize = kMiB + 100; // two copy steps with a monitor
constexpr size_t kOverLinkLimit = 40000;    // lstat size past the link-target limit
constexpr jint kExtendedMask = INFO_ACCESSED | INFO_OWNER | INFO_GROUP;

const char *const kNotFound = "Path does not exist [2]";

// One call with its expected outcome: the message of the exception it must
// throw, or null for none. The call checks its own result.
struct Scenario {
    const char *what;
    std::function<void()> call;
    const char *message;
};

class DescriptorLeakTest : public JvmTest, public ::testing::WithParamInterface<EntryPoint> {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        small_ = dir_.WriteFile("small", "small contents");
        smallCopy_ = dir_.WriteFile("small-copy", "small contents");
        different_ = dir_.WriteFile("different", "small CONTENTS");
        large_ = dir_.WriteFileOfSize("large", kTwoStepSize);
        overLinkLimit_ = dir_.WriteFileOfSize("over-link-limit", kOverLinkLimit);
        ASSERT_EQ(0, mkdir((dir_ / "tree").c_str(), 0755));
        for (int i = 0; i < 20; ++i) { // past the listing's first array of 16
            dir_.WriteFile("tree/entry" + std::to_string(i), "");
        }
        ASSERT_EQ(0, symlink("small", (dir_ / "link").c_str()));
    }

    // Runs each scenario once to load what the JVM loads lazily, then
    // kIterations times, each in a local frame of its own; the count of
    // open descriptors must not grow.
    void ExpectNoLeak(const std::vector<Scenario> &scenarios)
    {
        for (const Scenario &scenario : scenarios) {
            SCOPED_TRACE(scenario.what);
            RunOnce(scenario);
            const int before = OpenDescriptorCount();
            for (int i = 0; i < kIterations && !HasFailure(); ++i) {
                RunOnce(scenario);
            }
            EXPECT_LE(SettledDescriptorCount(before), before);
        }
    }

    void RunOnce(const Scenario &scenario)
    {
        ASSERT_EQ(0, env()->PushLocalFrame(kIterationFrame));
        scenario.call();
        auto thrown = TakeException();
        if (scenario.message == nullptr) {
            EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
        } else if (thrown.has_value()) {
            EXPECT_EQ(scenario.message, thrown->message);
        } else {
            ADD_FAILURE() << "expected " << scenario.message;
        }
        env()->PopLocalFrame(nullptr);
    }

    // The scenarios of the entry point of that name, or none.
    std::vector<Scenario> ScenariosOf(const std::string &entryPoint)
    {
        using Scenarios = std::vector<Scenario> (DescriptorLeakTest::*)();
        static const std::map<std::string, Scenarios> kByEntryPoint = {
            {"nInitStatic", &DescriptorLeakTest::InitStatic},
            {"nGetFileInfo", &DescriptorLeakTest::GetFileInfo},
            {"nListFileInfos", &DescriptorLeakTest::ListFileInfos},
            {"nSetFileInfo", &DescriptorLeakTest::SetFileInfo},
            {"nReadSymbolicLink", &DescriptorLeakTest::ReadSymbolicLink},
            {"nCreateSymbolicLink", &DescriptorLeakTest::CreateSymbolicLink},
            {"nCopyFileCallback", &DescriptorLeakTest::CopyFileCallback},
            {"nCompareByteByByte", &DescriptorLeakTest::CompareByteByByte},
            {"nGetUser", &DescriptorLeakTest::GetUser},
            {"nGetGroup", &DescriptorLeakTest::GetGroup},
        };
        const auto found = kByEntryPoint.find(entryPoint);
        return found != kByEntryPoint.end() ? (this->*found->second)() : std::vector<Scenario>{};
    }
    std::vector<Scenario> InitStatic();
    std::vector<Scenario> GetFileInfo();
    std::vector<Scenario> ListFileInfos();
    std::vector<Scenario> SetFileInfo();
    std::vector<Scenario> ReadSymbolicLink();
    std::vector<Scenario> CreateSymbolicLink();
    std::vector<Scenario> CopyFileCallback();
    std::vector<Scenario> CompareByteByByte();
    std::vector<Scenario> GetUser();
    std::vector<Scenario> GetGroup();

    static jstring J(const std::string &path) { return JStr(path.c_str()); }
    static jobject NotAMonitor() { return JStr("not a monitor"); }

    TempDir dir_;
    std::string small_, smallCopy_, different_, large_, overLinkLimit_;
    std::string destination_ = dir_ / "destination";
    std::string missing_ = dir_ / "missing";
};

std::vector<Scenario> DescriptorLeakTest::InitStatic()
{
    return {
        {"called again", [] { natives::InitStatic(); }, nullptr},
    };
}

std::vector<Scenario> DescriptorLeakTest::GetFileInfo()
{
    return {
        {"plain record", [this] { EXPECT_NE(nullptr, natives::GetFileInfo(J(small_), JStr("s"), 0)); }, nullptr},
        {"extended record",
         [this] { EXPECT_NE(nullptr, natives::GetFileInfo(J(small_), JStr("s"), kExtendedMask)); }, nullptr},
        {"missing file", [this] { natives::GetFileInfo(J(missing_), JStr("m"), 0); }, kNotFound},
        {"path too long", [] { natives::GetFileInfo(J(std::string(5000, 'p')), JStr("p"), 0); },
         "Too long path [36]"},
    };
}

std::vector<Scenario> DescriptorLeakTest::ListFileInfos()
{
    const std::string tree = dir_ / "tree/";
    auto list = [this](const std::string &path, jobject monitor, jsize expected) {
        jobjectArray records = natives::ListFileInfos(J(path), kExtendedMask, monitor, 1);
        if (expected >= 0) {
            ASSERT_NE(nullptr, records);
            EXPECT_EQ(expected, env()->GetArrayLength(records));
        }
    };
    return {
        {"whole directory, growing the array", [list, tree] { list(tree, NewScriptedMonitor(), 20); }, nullptr},
        {"without the trailing separator", [this, list] { list(dir_ / "tree", nullptr, 20); }, nullptr},
        {"stopped by the monitor", [list, tree] { list(tree, NewScriptedMonitor(3, 0), 3); }, nullptr},
        {"monitor throws", [list, tree] { list(tree, NewScriptedMonitor(0, 2), -1); }, "monitor failed"},
        {"not a directory", [this, list] { list(small_, nullptr, -1); }, "Not a directory [20]"},
        {"missing directory", [this, list] { list(missing_, nullptr, -1); }, kNotFound},
        {"wrong monitor",
         [this, tree] {
             EXPECT_EQ(nullptr, Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos(
                                    env(), nullptr, J(tree), 0, NotAMonitor(), 1));
         },
         "Invalid progress monitor"},
    };
}

std::vector<Scenario> DescriptorLeakTest::SetFileInfo()
{
    const jint mask = INFO_MODIFIED | INFO_ACCESSED | INFO_ATTRIBUTES;
    const jint readWrite = ATTR_OWNER_READ | ATTR_OWNER_WRITE;
    return {
        {"times and permissions",
         [this] { natives::SetFileInfo(J(small_), mask, 1000000000000, 1000000000000, 0, readWrite); }, nullptr},
        {"one time kept", [this] { natives::SetFileInfo(J(small_), INFO_MODIFIED, 1000000000000, 0, 0, 0); }, nullptr},
        {"missing file", [this] { natives::SetFileInfo(J(missing_), mask, 0, 0, 0, 0); }, kNotFound},
    };
}

std::vector<Scenario> DescriptorLeakTest::ReadSymbolicLink()
{
    return {
        {"read", [this] { EXPECT_EQ("small", StdStr(natives::ReadSymbolicLink(J(dir_ / "link")))); }, nullptr},
        {"read a regular file", [this] { natives::ReadSymbolicLink(J(small_)); }, "The file is not a symbolic link"},
        {"read a large file", [this] { natives::ReadSymbolicLink(J(overLinkLimit_)); }, "Link size is too big"},
        {"read a missing file", [this] { natives::ReadSymbolicLink(J(missing_)); }, kNotFound},
    };
}

std::vector<Scenario> DescriptorLeakTest::CreateSymbolicLink()
{
    const std::string created = dir_ / "created";
    return {
        {"create",
         [created] {
             natives::CreateSymbolicLink(J(created), JStr("target"));
             EXPECT_EQ(0, unlink(created.c_str()));
         },
         nullptr},
        {"create over an existing file", [this] { natives::CreateSymbolicLink(J(small_), JStr("t")); },
         "Path already exists [17]"},
    };
}

std::vector<Scenario> DescriptorLeakTest::CopyFileCallback()
{
    auto copy = [](const std::string &src, const std::string &dst, jint flags, jobject monitor, jlong expected) {
        EXPECT_EQ(expected, natives::CopyFileCallback(J(src), J(dst), flags, monitor));
    };
    return {
        {"without monitor", [this, copy] { copy(small_, destination_, 0, nullptr, 14); }, nullptr},
        {"with monitor", [this, copy] { copy(large_, destination_, 0, NewScriptedMonitor(), kTwoStepSize); }, nullptr},
        {"stopped by the monitor",
         [this, copy] { copy(large_, destination_, 0, NewScriptedMonitor(1, 0), kMiB); }, nullptr},
        {"monitor throws",
         [this, copy] { copy(large_, destination_, 0, NewScriptedMonitor(0, 1), 0); }, "monitor failed"},
        {"missing source", [this, copy] { copy(missing_, destination_, 0, nullptr, 0); }, kNotFound},
        {"source open, destination directory missing",
         [this, copy] { copy(small_, dir_ / "missing/destination", 0, nullptr, 0); }, kNotFound},
        {"source open, exclusive destination exists",
         [this, copy] { copy(small_, smallCopy_, COPY_EXCLUSIVE, nullptr, 0); }, "Path already exists [17]"},
        {"directory source",
         [this, copy] { copy(dir_ / "tree", destination_, 0, nullptr, 0); }, "Invalid argument [22]"},
        {"directory destination", [this, copy] { copy(small_, dir_ / "tree", 0, nullptr, 0); }, "Unknown [21]"},
        {"wrong monitor",
         [this] {
             EXPECT_EQ(0, Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(
                              env(), nullptr, J(small_), J(destination_), 0, NotAMonitor()));
         },
         "Invalid progress monitor"},
    };
}

std::vector<Scenario> DescriptorLeakTest::CompareByteByByte()
{
    auto compare = [](const std::string &a, const std::string &b, jobject monitor, bool expected) {
        EXPECT_EQ(expected, natives::CompareByteByByte(J(a), J(b), monitor) == JNI_TRUE);
    };
    return {
        {"equal", [this, compare] { compare(small_, smallCopy_, NewScriptedMonitor(), true); }, nullptr},
        {"different", [this, compare] { compare(small_, different_, nullptr, false); }, nullptr},
        {"different lengths", [this, compare] { compare(large_, small_, nullptr, false); }, nullptr},
        {"cancelled", [this, compare] { compare(large_, large_, NewScriptedMonitor(1, 0), false); }, nullptr},
        {"monitor throws",
         [this, compare] { compare(large_, large_, NewScriptedMonitor(0, 1), false); }, "monitor failed"},
        {"first file missing", [this, compare] { compare(missing_, small_, nullptr, false); }, kNotFound},
        {"second file missing, first open", [this, compare] { compare(small_, missing_, nullptr, false); }, kNotFound},
        {"read error, both open", [this, compare] { compare(small_, dir_ / "tree", nullptr, false); }, "Unknown [21]"},
        {"wrong monitor",
         [this] {
             EXPECT_FALSE(Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(
                 env(), nullptr, J(small_), J(smallCopy_), NotAMonitor()));
         },
         "Invalid progress monitor"},
    };
}

std::vector<Scenario> DescriptorLeakTest::GetUser()
{
    return {
        {"user 0", [] { EXPECT_NE(nullptr, natives::GetUser(nullptr, 0)); }, nullptr},
        {"user -1", [] { natives::GetUser(nullptr, -1); }, "User does not exist"},
    };
}

std::vector<Scenario> DescriptorLeakTest::GetGroup()
{
    return {
        {"group 0", [] { EXPECT_NE(nullptr, natives::GetGroup(nullptr, 0)); }, nullptr},
        {"group -1", [] { natives::GetGroup(nullptr, -1); }, "Group does not exist"},
    };
}

TEST_P(DescriptorLeakTest, NoDescriptorKept)
{
    const std::vector<Scenario> scenarios = ScenariosOf(GetParam().name);
    ASSERT_FALSE(scenarios.empty()) << "no scenario for " << GetParam().name;
    ExpectNoLeak(scenarios);
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, DescriptorLeakTest, ::testing::ValuesIn(kEntryPoints), EntryPointName);

class DescriptorCountTest : public JvmTest {};

// The count itself: a descriptor opened here is seen, and closing it is too.
TEST_F(DescriptorCountTest, SeesADescriptorOpenedAndClosed)
{
    const int before = OpenDescriptorCount();
    ASSERT_LT(2, before); // at least standard input, output and error
    const int fd = dup(STDERR_FILENO);
    ASSERT_LE(0, fd);
    EXPECT_EQ(before + 1, OpenDescriptorCount());
    close(fd);
    EXPECT_EQ(before, OpenDescriptorCount());
}

} // namespace
