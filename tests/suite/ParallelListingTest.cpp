// Listings whose entries are examined by helper threads: the records and
// their order are those of the directory's own order, entry by entry, around
// the break-even where helpers start and well past one chunk. The listing's
// other suites run again with helpers forced (basefs_listing_parallel_tests).
#include "ChangingEntries.h"
#include "EntryPointFixture.h"
#include "JvmHarness.h"

#include "EntryChunk.h"
#include "ExaminerPool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace jvmtest;

class ParallelListingFixture : public JvmTest {
protected:
    // Files whose sizes differ (i % 7 bytes), so a record placed at another
    // entry's index shows.
    void CreateSizedFiles(int count)
    {
        for (int i = 0; i < count; ++i) {
            const std::string path = dir_.path() + "/f" + std::to_string(i);
            const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_LE(0, fd) << path;
            ASSERT_EQ(0, ftruncate(fd, i % 7));
            close(fd);
        }
    }

    // The names in the order readdir gives them, "." and ".." left out.
    std::vector<std::string> DirectoryOrder()
    {
        std::vector<std::string> names;
        DIR *dir = opendir(dir_.path().c_str());
        EXPECT_NE(nullptr, dir);
        while (const dirent *entry = dir != nullptr ? readdir(dir) : nullptr) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        if (dir != nullptr) {
            closedir(dir);
        }
        return names;
    }

    // One record per entry, in readdir's order, each with its own size.
    void ExpectDirectoryOrderAndOwnSizes(const std::vector<Record> &records)
    {
        const std::vector<std::string> order = DirectoryOrder();
        ASSERT_EQ(order.size(), records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            ASSERT_EQ(order[i], records[i].name) << "at " << i;
            ASSERT_EQ(std::stoi(records[i].name.substr(1)) % 7, records[i].size) << records[i].name;
        }
    }

    TempDir dir_;
};

class ParallelListingTest : public ParallelListingFixture, public ::testing::WithParamInterface<int> {};
class ParallelListingChangeTest : public ParallelListingFixture {};

TEST_F(ParallelListingChangeTest, EntriesChangingDuringTheListingKeepTheirOwnRecords)
{
    ChangingEntries entries(dir_.path(), 2000);
    entries.Start();
    // Listed again and again while the changes go on (several times at least).
    for (int listings = 0; listings < 3 || (entries.Changing() && listings < 50); ++listings) {
        entries.ExpectConsistent(ListedRecords(dir_.path()));
        if (HasFatalFailure()) {
            break;
        }
    }
}

// Without memory for the chunks the listing goes on one entry at a time:
// every record, in order, and nothing thrown.
TEST_F(ParallelListingChangeTest, ChunksThatCannotBeAllocatedLeaveTheListingSerialAndWhole)
{
    CreateSizedFiles(300);
    std::vector<Record> records;
    {
        faults::FailAllocation failing(2 * sizeof(basefs::EntryChunk));
        records = ListedRecords(dir_.path());
        EXPECT_TRUE(failing.fired());
    }
    ExpectDirectoryOrderAndOwnSizes(records);
}

// The caller's interrupt is neither taken nor waited on: the listing is whole
// and the thread is still interrupted after it.
TEST_F(ParallelListingChangeTest, InterruptedCallerListsEverythingAndStaysInterrupted)
{
    CreateSizedFiles(300);
    jclass thread = env()->FindClass("java/lang/Thread");
    ASSERT_NE(nullptr, thread);
    jobject current = env()->CallStaticObjectMethod(
        thread, env()->GetStaticMethodID(thread, "currentThread", "()Ljava/lang/Thread;"));
    ASSERT_FALSE(env()->ExceptionCheck());
    env()->CallVoidMethod(current, env()->GetMethodID(thread, "interrupt", "()V"));
    ASSERT_FALSE(env()->ExceptionCheck());
    EXPECT_EQ(300u, ListedRecords(dir_.path()).size());
    const jboolean interrupted =
        env()->CallStaticBooleanMethod(thread, env()->GetStaticMethodID(thread, "interrupted", "()Z"));
    ASSERT_FALSE(env()->ExceptionCheck());
    EXPECT_TRUE(interrupted);
}

TEST_P(ParallelListingTest, RecordsInTheDirectoryOrderEachWithItsOwnStatus)
{
    CreateSizedFiles(GetParam());
    ExpectDirectoryOrderAndOwnSizes(ListedRecords(dir_.path()));
}

constexpr int kBreakEven = static_cast<int>(basefs::kLocalBreakEven);
INSTANTIATE_TEST_SUITE_P(AroundTheBreakEvenAndManyChunks, ParallelListingTest,
                         ::testing::Values(0, 1, kBreakEven - 1, kBreakEven, kBreakEven + 1, 257, 2000));

} // namespace
