// A listing of a directory of 200,000 entries through the Java declaration,
// with the local references the library holds followed call by call: a native
// frame is only sure of room for 16, so an entry whose name or record were not
// deleted would pile up 200,000 of them, and each entry must come back exactly
// once. (Some JDK 17 builds print a -Xcheck:jni warning past a frame's
// capacity, newer ones print nothing, so the count does not rely on it.)
// Creating and removing the files takes several seconds; they are removed as
// soon as the suite ends.
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace jvmtest;

constexpr int kEntries = 200000;
constexpr jint kExtendedMask = INFO_ACCESSED | INFO_OWNER | INFO_GROUP;
constexpr jint kCheckInterval = 1000;
constexpr jint kLeakedReferences = 300;
// The local references every native method may hold without asking for more.
constexpr long kGuaranteedLocalReferences = 16;

class LargeListingTest : public JvmTest {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir();
        dirFd_ = open(dir_->path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // mknodat makes an empty regular file in one system call.
        while (dirFd_ >= 0 && created_ < kEntries &&
               mknodat(dirFd_, EntryName(created_).c_str(), S_IFREG | 0644, 0) == 0) {
            ++created_;
        }
    }

    static void TearDownTestSuite()
    {
        // By name, which spares the directory walk of TempDir.
        for (int i = 0; i < created_; ++i) {
            unlinkat(dirFd_, EntryName(i).c_str(), 0);
        }
        if (dirFd_ >= 0) {
            close(dirFd_);
        }
        delete dir_;
        dir_ = nullptr;
    }

    static std::string EntryName(int index)
    {
        // Appended, not "f" + ...: g++ 12 at -O3 warns falsely (-Wrestrict) inside that operator+.
        std::string name = "f";
        return name += std::to_string(index);
    }

    void SetUp() override
    {
        JvmTest::SetUp();
        ASSERT_EQ(kEntries, created_) << "could not create the entries";
    }

    // Checks that the array holds one record named f<i> for every i.
    void ExpectEveryEntryOnce(jobjectArray records)
    {
        ASSERT_NE(nullptr, records);
        const jsize length = env()->GetArrayLength(records);
        EXPECT_EQ(kEntries, length);
        std::vector<bool> seen(kEntries, false);
        int unexpected = 0;
        for (jsize i = 0; i < length; ++i) {
            jobject record = env()->GetObjectArrayElement(records, i);
            jstring name = RecordName(record);
            const std::string text = StdStr(name);
            env()->DeleteLocalRef(name);
            env()->DeleteLocalRef(record);
            char *end = nullptr;
            const long index = text.size() > 1 && text[0] == 'f' ? std::strtol(text.c_str() + 1, &end, 10) : -1;
            if (index < 0 || index >= kEntries || *end != '\0' || seen[index]) {
                ++unexpected;
                continue;
            }
            seen[index] = true;
        }
        EXPECT_EQ(0, unexpected) << "names listed twice or not created";
    }

    static TempDir *dir_;
    static int dirFd_;
    static int created_;
};

TempDir *LargeListingTest::dir_ = nullptr;
int LargeListingTest::dirFd_ = -1;
int LargeListingTest::created_ = 0;

TEST_F(LargeListingTest, LedgerSeesReferencesThatAreNotDeleted)
{
    faults::LocalReferenceLedger ledger;
    ASSERT_EQ(0, env()->PushLocalFrame(kLeakedReferences + 1));
    for (jint i = 0; i < kLeakedReferences; ++i) {
        JStr("leaked");
    }
    env()->PopLocalFrame(nullptr);
    EXPECT_EQ(kLeakedReferences, ledger.peak());
}

TEST_F(LargeListingTest, EntriesExaminedRelativeToTheDirectory)
{
    jobject monitor = NewScriptedMonitor();
    jobjectArray records = nullptr;
    {
        faults::LocalReferenceLedger ledger;
        records = natives::ListFileInfos(JStr((dir_->path() + "/").c_str()), kExtendedMask, monitor,
                                         kCheckInterval);
        // At least an entry's name and record at once, and never many more.
        EXPECT_LE(2, ledger.peak());
        EXPECT_GE(kGuaranteedLocalReferences, ledger.peak());
    }
    ASSERT_FALSE(TakeException().has_value());
    EXPECT_EQ(kEntries / kCheckInterval, MonitorCalls(monitor));
    ExpectEveryEntryOnce(records);
}

TEST_F(LargeListingTest, PathWithoutTheTrailingSeparator)
{
    // The directory's own entries are examined, not the path joined with
    // each name: every record is the full one the mask asks for.
    jobjectArray records = natives::ListFileInfos(JStr(dir_->path().c_str()), kExtendedMask, nullptr, 0);
    ASSERT_FALSE(TakeException().has_value());
    ASSERT_NE(nullptr, records);
    jobject first = env()->GetObjectArrayElement(records, 0);
    EXPECT_TRUE(ReadRecord(first).extended);
    env()->DeleteLocalRef(first);
    ExpectEveryEntryOnce(records);
}

} // namespace
