// Directory listing, its faults: an entry that cannot be examined, and the
// JNI calls that make the records, the names and the arrays failing; each
// drops the listing (or gives the entry its fallback record) and leaks nothing.
#include "EntryPointFixture.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"
#include "FileSystemListPath.h"

#include <cerrno>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace jvmtest;

constexpr jint kPlainMask = 0;
constexpr jint kExtendedMask = INFO_ACCESSED | INFO_OWNER | INFO_GROUP;

class FileSystemListPathFaultTest : public EntryPointFaultTest {};

// Records are built with NewObjectA through JNI, or in compiled Java by one
// upcall per batch.
TEST_F(FileSystemListPathFaultTest, RecordsThatCannotBeMadeDropTheListing)
{
    CreateFiles(dir_.path(), 5);
    jstring directory = J(dir_.path() + "/");
    if (RecordsMadeInJava()) {
        // A batch made before the monitor's first check (of three entries), and the last.
        jobject monitor = NewScriptedMonitor();
        for (const int failAtCall : {1, 2}) {
            SCOPED_TRACE(failAtCall);
            faults::FailJniCall fault(faults::JniFunction::kCallStaticVoidMethodV, failAtCall);
            EXPECT_EQ(nullptr, direct::ListFileInfos(directory, kExtendedMask, monitor, 3));
            EXPECT_EQ(failAtCall, fault.calls()); // nothing made after the failure
            ExpectInjectedOutOfMemory();
        }
        ExpectNoDescriptorLeft();
        return;
    }
    for (const int failAtCall : {1, 4}) {
        SCOPED_TRACE(failAtCall);
        faults::FailJniCall fault(faults::JniFunction::kNewObjectA, failAtCall);
        EXPECT_EQ(nullptr, direct::ListFileInfos(directory, kExtendedMask));
        EXPECT_EQ(failAtCall, fault.calls()); // no record built after the failure
        ExpectInjectedOutOfMemory();
    }
    // The fallback record of an entry that cannot be examined.
    {
        faults::FailCCall noStatus(faults::CFunction::kFstatat, 3, EACCES);
        faults::FailJniCall fault(faults::JniFunction::kNewObjectA, 3);
        EXPECT_EQ(nullptr, direct::ListFileInfos(directory, kExtendedMask));
        EXPECT_EQ(3, noStatus.calls());
        EXPECT_EQ(3, fault.calls());
    }
    ExpectInjectedOutOfMemory();
    ExpectNoDescriptorLeft();
}

// A listing of four entries more than the working array's first capacity
// grows it once, then copies the records into the result array.
struct ArrayCase {
    faults::JniFunction function;
    int failAtCall;
    const char *what;
};

void PrintTo(const ArrayCase &c, std::ostream *out)
{
    *out << faults::NameOf(c.function) << " call " << c.failAtCall << " (" << c.what << ")";
}

class WorkingArrayTest : public FileSystemListPathFaultTest, public ::testing::WithParamInterface<ArrayCase> {};

TEST_P(WorkingArrayTest, FailureDropsTheListing)
{
    const ArrayCase &c = GetParam();
    CreateFiles(dir_.path(), basefs::kListingInitialCapacity + 4);
    jstring directory = J(dir_.path() + "/");
    jobject monitor = NewScriptedMonitor();
    {
        faults::FailJniCall fault(c.function, c.failAtCall);
        EXPECT_EQ(nullptr, direct::ListFileInfos(directory, kPlainMask, monitor, 1));
        EXPECT_EQ(c.failAtCall, fault.calls()); // nothing of the kind after the failure
    }
    ExpectInjectedOutOfMemory();
    ExpectNoDescriptorLeft();
}

using faults::JniFunction;
INSTANTIATE_TEST_SUITE_P(
    Listing, WorkingArrayTest,
    ::testing::Values(ArrayCase{JniFunction::kNewObjectArray, 1, "first working array"},
                      ArrayCase{JniFunction::kNewObjectArray, 2, "grown working array"},
                      ArrayCase{JniFunction::kNewObjectArray, 3, "result array"},
                      ArrayCase{JniFunction::kCallStaticVoidMethodV, 1, "arraycopy into the grown array"},
                      ArrayCase{JniFunction::kCallStaticVoidMethodV, 2, "fill of the outgrown array"},
                      ArrayCase{JniFunction::kCallStaticVoidMethodV, 3, "arraycopy into the result"},
                      ArrayCase{JniFunction::kCallStaticVoidMethodV, 4, "fill of the last working array"}),
    [](const ::testing::TestParamInfo<ArrayCase> &info) {
        return std::string(faults::NameOf(info.param.function)) + std::to_string(info.param.failAtCall);
    });

TEST_F(FileSystemListPathFaultTest, NewObjectArrayFailingForTheResultOfAnEmptyDirectory)
{
    const std::string empty = dir_ / "empty";
    ASSERT_EQ(0, mkdir(empty.c_str(), 0755));
    jstring path = J(empty + "/");
    {
        faults::FailJniCall fault(JniFunction::kNewObjectArray, 2);
        EXPECT_EQ(nullptr, direct::ListFileInfos(path));
        EXPECT_TRUE(fault.fired());
    }
    ExpectInjectedOutOfMemory();
    ExpectNoDescriptorLeft();
}

TEST_F(FileSystemListPathFaultTest, NewStringFailingForAName)
{
    if (RecordsMadeInJava()) {
        GTEST_SKIP() << "names are made with their records, in compiled Java";
    }
    CreateFiles(dir_.path(), 5);
    jstring directory = J(dir_.path() + "/");
    for (const int failAtCall : {1, 6}) { // "file" and five more entries
        SCOPED_TRACE(failAtCall);
        {
            faults::FailJniCall fault(JniFunction::kNewString, failAtCall);
            EXPECT_EQ(nullptr, direct::ListFileInfos(directory, kExtendedMask));
            EXPECT_EQ(failAtCall, fault.calls());
        }
        ExpectInjectedOutOfMemory();
    }
    ExpectNoDescriptorLeft();
}

TEST_F(FileSystemListPathFaultTest, FstatatFailingForOneEntryGivesItTheFallbackRecord)
{
    // With or without the trailing '/' the entries are examined relative to
    // the open directory. The records examined have sizes and times the
    // fallback record (size 0, time 0) cannot have.
    const std::string sub = dir_ / "sub";
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    dir_.WriteFile("sub/regular", "12345");
    ASSERT_EQ(0, symlink("regular", (sub + "/link").c_str()));
    ASSERT_EQ(0, mkdir((sub + "/directory").c_str(), 0755));
    const std::map<std::string, jint> fallbackAttributes = {
        {"regular", 0}, {"link", ATTR_SYMLINK}, {"directory", ATTR_DIRECTORY}};
    for (int failAtCall = 1; failAtCall <= 6; ++failAtCall) {
        SCOPED_TRACE(failAtCall);
        jstring directory = J(failAtCall <= 3 ? sub + "/" : sub);
        std::vector<Record> records;
        {
            faults::FailCCall fault(faults::CFunction::kFstatat, (failAtCall - 1) % 3 + 1, EACCES);
            records = Records(direct::ListFileInfos(directory, kExtendedMask));
            EXPECT_EQ(3, fault.calls());
        }
        ASSERT_FALSE(TakeException().has_value());
        ASSERT_EQ(3u, records.size());
        int fallbacks = 0;
        for (const Record &record : records) {
            if (record.extended) {
                EXPECT_NE(0, record.modified) << record.name;
                continue;
            }
            ++fallbacks;
            ASSERT_EQ(1u, fallbackAttributes.count(record.name)) << record.name;
            EXPECT_EQ(fallbackAttributes.at(record.name), record.attributes) << record.name;
            EXPECT_EQ(0, record.size);
            EXPECT_EQ(0, record.modified);
        }
        EXPECT_EQ(1, fallbacks);
    }
    ExpectNoDescriptorLeft();
}

} // namespace
