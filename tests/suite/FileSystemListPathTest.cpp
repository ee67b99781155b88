// Directory listing: the records of real directories, the growth of the
// result, the fallback record, the monitor and its check interval, what cannot
// be listed, and a read error injected in the middle of a directory. The
// faults of single entries and of JNI are FileSystemListPathFaultTest's.
#include "EntryPointFixture.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"
#include "FileSystemListPath.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace jvmtest;

constexpr jint kPlainMask = 0;
constexpr jint kExtendedMask = INFO_ACCESSED | INFO_OWNER | INFO_GROUP;

class FileSystemListPathTest : public JvmTest {
protected:
    // nListFileInfos, expecting success: the records in the order listed.
    std::vector<Record> List(const std::string &path, jint mask = kPlainMask, jobject monitor = nullptr,
                             jint checkInterval = 0)
    {
        jobjectArray array = natives::ListFileInfos(JStr(path.c_str()), mask, monitor, checkInterval);
        auto thrown = TakeException();
        EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
        EXPECT_NE(nullptr, array);
        return array != nullptr ? Records(array) : std::vector<Record>{};
    }

    // nListFileInfos, expecting null and an exception.
    ThrownException Failure(jstring path, jobject monitor = nullptr, jint checkInterval = 0)
    {
        EXPECT_EQ(nullptr, natives::ListFileInfos(path, kPlainMask, monitor, checkInterval));
        auto thrown = TakeException();
        EXPECT_TRUE(thrown.has_value());
        return thrown.value_or(ThrownException{});
    }

    std::vector<Record> Records(jobjectArray array)
    {
        std::vector<Record> records;
        const jsize length = env()->GetArrayLength(array);
        for (jsize i = 0; i < length; ++i) {
            jobject info = env()->GetObjectArrayElement(array, i);
            EXPECT_NE(nullptr, info) << "element " << i;
            if (info != nullptr) {
                records.push_back(ReadRecord(info));
            }
            env()->DeleteLocalRef(info);
        }
        env()->DeleteLocalRef(array);
        return records;
    }

    static std::map<std::string, Record> ByName(const std::vector<Record> &records)
    {
        std::map<std::string, Record> byName;
        for (const Record &record : records) {
            EXPECT_TRUE(byName.emplace(record.name, record).second) << "listed twice: " << record.name;
        }
        return byName;
    }

    static std::vector<std::string> Names(const std::vector<Record> &records)
    {
        std::vector<std::string> names;
        for (const Record &record : records) {
            names.push_back(record.name);
        }
        return names;
    }

    // The record nGetFileInfo gives for one file, to compare a listed one with.
    Record SingleFileRecord(const std::string &path, const std::string &name, jint mask)
    {
        jobject info = natives::GetFileInfo(JStr(path.c_str()), JStr(name.c_str()), mask);
        EXPECT_FALSE(TakeException().has_value());
        return info != nullptr ? ReadRecord(info) : Record{};
    }

    static void ExpectSameRecord(const Record &expected, const Record &actual)
    {
        EXPECT_EQ(expected.name, actual.name);
        EXPECT_EQ(expected.attributes, actual.attributes) << actual.name;
        EXPECT_EQ(expected.size, actual.size) << actual.name;
        EXPECT_EQ(expected.modified, actual.modified) << actual.name;
        EXPECT_EQ(expected.extended, actual.extended) << actual.name;
        EXPECT_EQ(expected.accessed, actual.accessed) << actual.name;
        EXPECT_EQ(expected.owner, actual.owner) << actual.name;
        EXPECT_EQ(expected.group, actual.group) << actual.name;
    }

    static void ExpectFallback(const Record &record, jint attributes)
    {
        EXPECT_FALSE(record.extended) << record.name;
        EXPECT_EQ(attributes, record.attributes) << record.name;
        EXPECT_EQ(0, record.size) << record.name;
        EXPECT_EQ(0, record.modified) << record.name;
    }

    // Number of readdir calls up to and including the one that returns the
    // nth entry other than "." and "..", in the order the directory gives them.
    static int ReadsUntilEntry(const std::string &path, int nth)
    {
        DIR *dir = opendir(path.c_str());
        EXPECT_NE(nullptr, dir);
        int reads = 0;
        int entries = 0;
        while (dir != nullptr && entries < nth) {
            const dirent *entry = readdir(dir);
            ++reads;
            if (entry == nullptr) {
                ADD_FAILURE() << "directory has fewer than " << nth << " entries";
                break;
            }
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                ++entries;
            }
        }
        if (dir != nullptr) {
            closedir(dir);
        }
        return reads;
    }

    std::string Slashed() const { return dir_.path() + "/"; }

    TempDir dir_;
};

TEST_F(FileSystemListPathTest, ListsEveryEntryButDotAndDotDotWithItsRecord)
{
    dir_.WriteFile(".profile", "export X=1\n");
    dir_.WriteFile("...", "");
    dir_.WriteFile("..x", "ab");
    dir_.WriteFile("plain", "12345");
    ASSERT_EQ(0, mkdir((dir_ / "sub").c_str(), 0750));
    ASSERT_EQ(0, mkdir((dir_ / ".hidden-dir").c_str(), 0700));
    ASSERT_EQ(0, symlink("sub", (dir_ / "link").c_str()));

    for (jint mask : {kPlainMask, kExtendedMask}) {
        auto listed = ByName(List(Slashed(), mask));
        ASSERT_EQ(7u, listed.size());
        EXPECT_EQ(0u, listed.count("."));
        EXPECT_EQ(0u, listed.count(".."));
        for (const auto &[name, record] : listed) {
            ExpectSameRecord(SingleFileRecord(dir_ / name, name, mask), record);
        }
        // The type and hidden bits, independently of the single-file lookup.
        constexpr jint kTypeBits = ATTR_DIRECTORY | ATTR_SYMLINK | ATTR_HIDDEN;
        EXPECT_EQ(ATTR_HIDDEN, listed[".profile"].attributes & kTypeBits);
        EXPECT_EQ(ATTR_HIDDEN, listed["..."].attributes & kTypeBits);
        EXPECT_EQ(ATTR_HIDDEN, listed["..x"].attributes & kTypeBits);
        EXPECT_EQ(0, listed["plain"].attributes & kTypeBits);
        EXPECT_EQ(5, listed["plain"].size);
        EXPECT_EQ(ATTR_DIRECTORY, listed["sub"].attributes & kTypeBits);
        EXPECT_EQ(0, listed["sub"].size);
        EXPECT_EQ(ATTR_DIRECTORY | ATTR_HIDDEN, listed[".hidden-dir"].attributes & kTypeBits);
        EXPECT_EQ(ATTR_SYMLINK, listed["link"].attributes & kTypeBits);
        EXPECT_EQ(3, listed["link"].size); // the length of the target text "sub"
        EXPECT_EQ(mask != kPlainMask, listed["plain"].extended);
    }
}

class ListingSizeTest : public FileSystemListPathTest, public ::testing::WithParamInterface<int> {};

TEST_P(ListingSizeTest, ResultHasExactlyOneRecordPerEntry)
{
    const int count = GetParam();
    CreateFiles(dir_.path(), count);
    std::vector<std::string> names = Names(List(Slashed()));
    ASSERT_EQ(static_cast<size_t>(count), names.size());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected;
    for (int i = 0; i < count; ++i) {
        expected.push_back(std::string("f") + std::to_string(i));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names);
}

// Around the first capacity and past several doublings; a working array
// filled to its last element is the result itself.
constexpr int kFirstCapacity = basefs::kListingInitialCapacity;
INSTANTIATE_TEST_SUITE_P(AroundEachGrowth, ListingSizeTest,
                         ::testing::Values(0, 1, kFirstCapacity - 1, kFirstCapacity, kFirstCapacity + 1,
                                           2 * kFirstCapacity, 2 * kFirstCapacity + 1, 4 * kFirstCapacity,
                                           5 * kFirstCapacity));

TEST_F(FileSystemListPathTest, HundredThousandEntries)
{
    constexpr int kEntries = 100000;
    CreateFiles(dir_.path(), kEntries, "");
    jobjectArray array = natives::ListFileInfos(JStr(Slashed().c_str()), kPlainMask, nullptr, 0);
    ASSERT_FALSE(TakeException().has_value());
    ASSERT_NE(nullptr, array);
    const jsize length = env()->GetArrayLength(array);
    ASSERT_EQ(kEntries, length);
    // Every name once: the names are the numbers 0 ... kEntries-1.
    std::vector<bool> seen(kEntries, false);
    for (jsize i = 0; i < length; ++i) {
        jobject info = env()->GetObjectArrayElement(array, i);
        jstring name = RecordName(info);
        const int number = std::stoi(StdStr(name));
        ASSERT_TRUE(number >= 0 && number < kEntries && !seen[number]) << number;
        seen[number] = true;
        env()->DeleteLocalRef(name);
        env()->DeleteLocalRef(info);
    }
}

TEST_F(FileSystemListPathTest, PathWithoutSeparatorListsTheSameRecords)
{
    // <dir>/ns and <dir>/ns/ name one directory: its own entries are
    // examined, never <dir>/ns<name> beside it.
    const std::string listed = dir_ / "ns";
    ASSERT_EQ(0, mkdir(listed.c_str(), 0755));
    dir_.WriteFile("ns/a", "1");
    dir_.WriteFile("nsa", std::string(55, 'x'));
    dir_.WriteFile("ns/file", "");
    ASSERT_EQ(0, mkdir((listed + "/sub").c_str(), 0755));
    ASSERT_EQ(0, symlink("a", (listed + "/ln").c_str()));

    auto plain = ByName(List(listed, kExtendedMask));
    auto slashed = ByName(List(listed + "/", kExtendedMask));
    ASSERT_EQ(4u, plain.size());
    EXPECT_EQ(1, plain["a"].size);
    EXPECT_TRUE(plain["sub"].extended);
    EXPECT_EQ(ATTR_SYMLINK, plain["ln"].attributes & ATTR_SYMLINK);
    for (const auto &[name, record] : slashed) {
        SCOPED_TRACE(name);
        ASSERT_EQ(1u, plain.count(name));
        EXPECT_EQ(record.attributes, plain[name].attributes);
        EXPECT_EQ(record.size, plain[name].size);
        EXPECT_EQ(record.modified, plain[name].modified);
        EXPECT_EQ(record.extended, plain[name].extended);
    }
}

TEST_F(FileSystemListPathTest, EntriesPastTheLongestFullPathGetTheFallbackRecord)
{
    constexpr size_t kMaxFullPath = 4096;
    constexpr size_t kMaxName = 255;
    // A directory deep enough that names of up to 255 bytes reach past 4096 bytes.
    std::string deep = dir_.path();
    const std::string component(200, 'd');
    while (deep.size() + 1 + kMaxName < kMaxFullPath + 100) {
        deep += "/" + component;
        ASSERT_EQ(0, mkdir(deep.c_str(), 0755)) << deep.size();
    }
    const std::string prefix = deep + "/";
    const std::string fits(kMaxFullPath - 1 - prefix.size(), 'a');  // full path of 4095 bytes
    const std::string atLimit(kMaxFullPath - prefix.size(), 'b');   // 4096: over the kernel's limit
    const std::string longest(kMaxName, 'c');                       // far past the buffer
    int dirFd = open(deep.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_LE(0, dirFd);
    for (const std::string *name : {&fits, &atLimit, &longest}) {
        int fd = openat(dirFd, name->c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_LE(0, fd) << name->size();
        close(fd);
    }

    auto records = ByName(List(prefix));
    // Without the separator the full path counts it all the same.
    auto unslashed = ByName(List(deep));
    // Removed here: the paths are too long for the temporary directory's cleanup.
    for (const std::string *name : {&fits, &atLimit, &longest}) {
        EXPECT_EQ(0, unlinkat(dirFd, name->c_str(), 0));
    }
    close(dirFd);

    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(ATTR_OWNER_READ | ATTR_OWNER_WRITE, records[fits].attributes & (ATTR_OWNER_READ | ATTR_OWNER_WRITE));
    EXPECT_NE(0, records[fits].modified);
    ExpectFallback(records[atLimit], 0);
    ExpectFallback(records[longest], 0);
    ASSERT_EQ(3u, unslashed.size());
    EXPECT_NE(0, unslashed[fits].modified);
    ExpectFallback(unslashed[atLimit], 0);
    ExpectFallback(unslashed[longest], 0);
}

// A check interval of 0 or less asks the monitor after every entry.
struct IntervalCase {
    jint checkInterval;
    int expectedCalls; // for five entries
};

class CheckIntervalTest : public FileSystemListPathTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(CheckIntervalTest, MonitorIsAskedOnceEveryCheckIntervalEntries)
{
    CreateFiles(dir_.path(), 5);
    jobject monitor = NewScriptedMonitor();
    EXPECT_EQ(5u, List(Slashed(), kPlainMask, monitor, GetParam().checkInterval).size());
    EXPECT_EQ(GetParam().expectedCalls, MonitorCalls(monitor));
}

INSTANTIATE_TEST_SUITE_P(Intervals, CheckIntervalTest,
                         ::testing::Values(IntervalCase{0, 5}, IntervalCase{1, 5}, IntervalCase{-1, 5},
                                           IntervalCase{-1000, 5}, IntervalCase{INT_MIN, 5},
                                           IntervalCase{2, 2}, IntervalCase{3, 1}, IntervalCase{5, 1},
                                           IntervalCase{6, 0}, IntervalCase{INT_MAX, 0}));

TEST_F(FileSystemListPathTest, NullMonitorListsEverything)
{
    CreateFiles(dir_.path(), 20);
    for (jint checkInterval : {0, 1, 7}) {
        EXPECT_EQ(20u, List(Slashed(), kPlainMask, nullptr, checkInterval).size());
    }
}

struct CancelCase {
    jint checkInterval;
    int stopAtCall;
    size_t expectedRecords;
};

class CancelTest : public FileSystemListPathTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, StopKeepsTheRecordsStoredSoFar)
{
    CreateFiles(dir_.path(), 10);
    const std::vector<std::string> all = Names(List(Slashed()));
    ASSERT_EQ(10u, all.size());

    const CancelCase &c = GetParam();
    jobject monitor = NewScriptedMonitor(c.stopAtCall, 0);
    const std::vector<std::string> stopped = Names(List(Slashed(), kPlainMask, monitor, c.checkInterval));
    EXPECT_EQ(c.stopAtCall, MonitorCalls(monitor));
    const std::vector<std::string> expected(all.begin(), all.begin() + static_cast<long>(c.expectedRecords));
    EXPECT_EQ(expected, stopped);
}

INSTANTIATE_TEST_SUITE_P(Stops, CancelTest,
                         ::testing::Values(CancelCase{3, 1, 3}, CancelCase{1, 1, 1}, CancelCase{0, 4, 4},
                                           CancelCase{4, 2, 8}, CancelCase{-1, 2, 2}, CancelCase{-1000, 2, 2},
                                           CancelCase{INT_MIN, 2, 2}));

TEST_F(FileSystemListPathTest, ExceptionOfTheMonitorReachesTheCaller)
{
    CreateFiles(dir_.path(), 5);
    jobject monitor = NewScriptedMonitor(0, 1);
    const int descriptors = OpenDescriptorCount();
    ThrownException thrown = Failure(JStr(Slashed().c_str()), monitor, 1);
    EXPECT_EQ("java.lang.IllegalStateException", thrown.className);
    EXPECT_EQ("monitor failed", thrown.message);
    EXPECT_EQ(1, MonitorCalls(monitor));
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(FileSystemListPathTest, FailuresToOpenTheDirectory)
{
    std::string file = dir_.WriteFile("file", "x");
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, symlink("file", (dir_ / "link").c_str()));
    ASSERT_EQ(0, symlink("missing", (dir_ / "dangling").c_str()));
    struct Case {
        std::string path;
        const char *message;
    } cases[] = {
        {dir_ / "missing/", "Path does not exist [2]"},
        {file + "/", "Not a directory [20]"},
        {file, "Not a directory [20]"},
        {dir_ / "link/", "Not a directory [20]"},
        // Not opened for reading, so no wait for a writer.
        {fifo + "/", "Not a directory [20]"},
        {"/dev/null/", "Not a directory [20]"},
        {dir_ / "dangling/", "Path does not exist [2]"},
    };
    for (const Case &c : cases) {
        ThrownException thrown = Failure(JStr(c.path.c_str()));
        EXPECT_EQ("java.io.IOException", thrown.className) << c.path;
        EXPECT_EQ(c.message, thrown.message) << c.path;
    }
}

TEST_F(FileSystemListPathTest, NullPath)
{
    ThrownException thrown = Failure(nullptr, NewScriptedMonitor(), 1);
    EXPECT_EQ("java.lang.NullPointerException", thrown.className);
    EXPECT_EQ("path", thrown.message);
}

struct ReadErrorCase {
    int failAtCall;
    int error;
    const char *message;
};

class ReadErrorTest : public FileSystemListPathTest, public ::testing::WithParamInterface<ReadErrorCase> {};

TEST_P(ReadErrorTest, ReadErrorDropsTheListingAndLeaksNothing)
{
    CreateFiles(dir_.path(), 40);
    const ReadErrorCase &c = GetParam();
    jstring path = JStr(Slashed().c_str());
    const int descriptors = OpenDescriptorCount();
    ThrownException thrown;
    {
        faults::FailCCall fault(faults::CFunction::kReaddir64, c.failAtCall, c.error);
        thrown = Failure(path);
        EXPECT_EQ(c.failAtCall, fault.calls()); // nothing read after the error
    }
    EXPECT_EQ("java.io.IOException", thrown.className);
    EXPECT_EQ(c.message, thrown.message);
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

// 42 entries with "." and ".."; call 25 is past the first growth of the working array.
INSTANTIATE_TEST_SUITE_P(Reads, ReadErrorTest,
                         ::testing::Values(ReadErrorCase{1, EIO, "An I/O error occurred [5]"},
                                           ReadErrorCase{25, EIO, "An I/O error occurred [5]"},
                                           ReadErrorCase{42, EOVERFLOW, "Unknown [75]"}));

TEST_F(FileSystemListPathTest, StopTakesEffectAtTheNextRead)
{
    CreateFiles(dir_.path(), 10);
    // The monitor answers "stop" after the third entry; the next read ends the listing.
    const int readsForThree = ReadsUntilEntry(dir_.path(), 3);

    jobject monitor = NewScriptedMonitor(1, 0);
    {
        faults::FailCCall counter(faults::CFunction::kReaddir64, 0, 0);
        EXPECT_EQ(3u, List(Slashed(), kPlainMask, monitor, 3).size());
        EXPECT_EQ(readsForThree + 1, counter.calls());
    }

    // That read failing is still a read error.
    monitor = NewScriptedMonitor(1, 0);
    faults::FailCCall fault(faults::CFunction::kReaddir64, readsForThree + 1, EIO);
    ThrownException thrown = Failure(JStr(Slashed().c_str()), monitor, 3);
    EXPECT_EQ("An I/O error occurred [5]", thrown.message);
}

} // namespace
