// Every failure path of the library made to happen: JNI calls failing through
// a replaced function table (JniFaults.h) and C library calls failing through
// their stand-ins (CLibraryFaults.h). Each case is named by the call that
// fails. After each: the exception expected (or none), the neutral result the
// entry point returns with it (the entry points are called directly: a Java
// caller never sees a result returned along with an exception), no descriptor
// or heap block left behind, and no -Xcheck:jni warning (the fixture fails the
// test on one, e.g. for a JNI call made while the exception is pending).
#include "CLibraryFaults.h"
#include "JniFaults.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"
#include "FileSystemCompare.h"
#include "FileSystemListPath.h"
#include "JniBridge.h"
#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace jvmtest;
using namespace jvmtest::faults;

constexpr jint kPlainMask = 0;
constexpr jint kExtendedMask = INFO_ACCESSED | INFO_OWNER | INFO_GROUP;
constexpr jlong kMiB = 1024 * 1024;
constexpr size_t kCompareBlock = basefs::kCompareBlockSize;
// Strings of up to this many UTF-16 units are converted without allocating.
constexpr size_t kInlinePathUnits = basefs::JavaPath::kInlineUnits;
constexpr size_t kLongPathUnits = kInlinePathUnits + 88;
constexpr size_t kMaxBytesPerUnit = basefs::kMaxBytesPerJavaChar;
constexpr const char *kIOException = "java.io.IOException";
constexpr const char *kOutOfMemoryError = "java.lang.OutOfMemoryError";

// The one heap block a path of `units` UTF-16 units beyond the inline ones
// takes: the units and their bytes with the terminating NUL.
size_t PathBufferSize(size_t units) { return units * sizeof(jchar) + units * kMaxBytesPerUnit + 1; }

bool Exists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st.st_mode & 07777;
}

void CreateFiles(const std::string &directory, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::string path = directory + "/f" + std::to_string(i);
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_LE(0, fd) << path;
        close(fd);
    }
}

class FaultTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        class_ = env()->FindClass("com/quenvira/internal/io/BaseFileSystem");
        ASSERT_NE(nullptr, class_);
        file_ = dir_.WriteFile("file", "contents");
        ASSERT_EQ(0, chmod(file_.c_str(), 0644));
        // The JVM keeps the jar of the test classes open once it has loaded one.
        env()->DeleteLocalRef(NewScriptedMonitor());
        descriptors_ = OpenDescriptorCount();
    }

    void TearDown() override
    {
        g_userScript.Reset();
        g_groupScript.Reset();
        JvmTest::TearDown();
    }

    // The entry points, called directly.
    jobject GetFileInfo(jstring path, jstring name, jint mask = kPlainMask)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nGetFileInfo(env(), class_, path, name, mask);
    }
    jobjectArray List(jstring path, jint mask = kPlainMask, jobject monitor = nullptr, jint interval = 0)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos(env(), class_, path, mask, monitor,
                                                                            interval);
    }
    void SetPermissions(jstring path, jint attributes)
    {
        Java_com_quenvira_internal_io_BaseFileSystem_nSetFileInfo(env(), class_, path, INFO_ATTRIBUTES, 0, 0, 0,
                                                                  attributes);
    }
    jstring ReadLink(jstring path)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nReadSymbolicLink(env(), class_, path);
    }
    void CreateLink(jstring link, jstring target)
    {
        Java_com_quenvira_internal_io_BaseFileSystem_nCreateSymbolicLink(env(), class_, link, target);
    }
    jlong Copy(jstring src, jstring dst, jobject monitor = nullptr)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(env(), class_, src, dst, 0, monitor);
    }
    jboolean Compare(jstring file1, jstring file2)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(env(), class_, file1, file2,
                                                                                nullptr);
    }
    jobject GetUser(jint uid)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nGetUser(env(), class_, owner(), uid);
    }
    jobject GetGroup(jint gid)
    {
        return Java_com_quenvira_internal_io_BaseFileSystem_nGetGroup(env(), class_, owner(), gid);
    }

    using LookUp = std::function<jobject(jint)>;
    std::vector<LookUp> LookUps()
    {
        return {[this](jint id) { return GetUser(id); }, [this](jint id) { return GetGroup(id); }};
    }

    jstring J(const std::string &text) { return JStr(text.c_str()); }
    jobject owner() { return J("owner"); }

    // Takes the pending exception: its class, and its message unless null.
    void ExpectThrown(const char *className, const char *message = nullptr)
    {
        auto thrown = TakeException();
        ASSERT_TRUE(thrown.has_value()) << "nothing thrown; expected " << className;
        EXPECT_EQ(className, thrown->className) << thrown->message;
        if (message != nullptr) {
            EXPECT_EQ(message, thrown->message);
        }
    }
    void ExpectInjectedOutOfMemory() { ExpectThrown(kOutOfMemoryError, kInjectedMessage); }

    void ExpectNoDescriptorLeft() { EXPECT_EQ(descriptors_, OpenDescriptorCount()) << "descriptors left open"; }

    // The records of a listing that succeeded.
    std::vector<Record> Records(jobjectArray array)
    {
        std::vector<Record> records;
        EXPECT_NE(nullptr, array);
        if (array == nullptr) {
            return records;
        }
        for (jsize i = 0; i < env()->GetArrayLength(array); ++i) {
            jobject info = env()->GetObjectArrayElement(array, i);
            records.push_back(ReadRecord(info));
            env()->DeleteLocalRef(info);
        }
        return records;
    }

    TempDir dir_;
    jclass class_ = nullptr;
    std::string file_;
    int descriptors_ = 0;
};

// ---- Converting a path argument ---------------------------------------------

// One call of an entry point; true when it returned its neutral result and
// changed nothing on disk.
struct NeutralCall {
    const char *label;
    int failAtCall; // the conversion to fail: of the first or the second string
    std::function<bool()> call;
};

TEST_F(FaultTest, GetStringRegionFailingStopsEveryEntryPoint)
{
    const std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink("file", link.c_str()));
    const std::string newLink = dir_ / "newLink";
    const std::string copy = dir_ / "copy";
    jstring file = J(file_);
    jstring name = J("file");
    jstring directory = J(dir_.path() + "/");
    jstring linkPath = J(link);
    jstring newLinkPath = J(newLink);
    jstring copyPath = J(copy);

    const NeutralCall cases[] = {
        {"nGetFileInfo path", 1, [&] { return GetFileInfo(file, name) == nullptr; }},
        {"nGetFileInfo name", 2, [&] { return GetFileInfo(file, name) == nullptr; }},
        {"nListFileInfos path", 1, [&] { return List(directory) == nullptr; }},
        {"nSetFileInfo path", 1, [&] { SetPermissions(file, 0); return ModeOf(file_) == 0644; }},
        {"nReadSymbolicLink path", 1, [&] { return ReadLink(linkPath) == nullptr; }},
        {"nCreateSymbolicLink link", 1, [&] { CreateLink(newLinkPath, file); return !Exists(newLink); }},
        {"nCreateSymbolicLink target", 2, [&] { CreateLink(newLinkPath, file); return !Exists(newLink); }},
        {"nCopyFileCallback src", 1, [&] { return Copy(file, copyPath) == 0 && !Exists(copy); }},
        {"nCopyFileCallback dst", 2, [&] { return Copy(file, copyPath) == 0 && !Exists(copy); }},
        {"nCompareByteByByte file1", 1, [&] { return Compare(file, file) == JNI_FALSE; }},
        {"nCompareByteByByte file2", 2, [&] { return Compare(file, file) == JNI_FALSE; }},
    };
    for (const NeutralCall &c : cases) {
        SCOPED_TRACE(c.label);
        bool neutral = false;
        {
            FailJniCall fault(JniFunction::kGetStringRegion, c.failAtCall);
            neutral = c.call();
            EXPECT_TRUE(fault.fired());
        }
        EXPECT_TRUE(neutral);
        ExpectThrown("java.lang.StringIndexOutOfBoundsException");
        ExpectNoDescriptorLeft();
    }
}

TEST_F(FaultTest, HeapBufferOfALongPathFailing)
{
    const std::string longPath = dir_.path() + "/" + std::string(kLongPathUnits, 'p');
    ASSERT_GT(longPath.size(), kInlinePathUnits);
    jstring longString = J(longPath);
    jstring file = J(file_);
    const NeutralCall cases[] = {
        {"nGetFileInfo", 1, [&] { return GetFileInfo(longString, J("p")) == nullptr; }},
        {"nListFileInfos", 1, [&] { return List(longString) == nullptr; }},
        {"nSetFileInfo", 1, [&] { SetPermissions(longString, 0); return true; }},
        {"nReadSymbolicLink", 1, [&] { return ReadLink(longString) == nullptr; }},
        {"nCreateSymbolicLink link", 1, [&] { CreateLink(longString, file); return !Exists(longPath); }},
        {"nCreateSymbolicLink target", 2, [&] { CreateLink(J(dir_ / "l"), longString); return !Exists(dir_ / "l"); }},
        {"nCopyFileCallback src", 1, [&] { return Copy(longString, J(dir_ / "c")) == 0 && !Exists(dir_ / "c"); }},
        {"nCopyFileCallback dst", 2, [&] { return Copy(file, longString) == 0 && !Exists(longPath); }},
        {"nCompareByteByByte file1", 1, [&] { return Compare(longString, file) == JNI_FALSE; }},
        {"nCompareByteByByte file2", 2, [&] { return Compare(file, longString) == JNI_FALSE; }},
    };
    for (const NeutralCall &c : cases) {
        SCOPED_TRACE(c.label);
        bool neutral = false;
        {
            FailAllocation fault(PathBufferSize(longPath.size()));
            neutral = c.call();
            EXPECT_TRUE(fault.fired());
        }
        EXPECT_TRUE(neutral);
        ExpectThrown(kOutOfMemoryError, "Cannot allocate buffer for path");
        ExpectNoDescriptorLeft();
    }
}

TEST_F(FaultTest, HeapBufferOfALongPathIsFreedOnEveryPath)
{
    // An existing file whose path needs the heap: three levels of long names.
    std::string directory = dir_.path();
    for (int level = 0; level < 3; ++level) {
        directory += "/" + std::string(200, static_cast<char>('a' + level));
        ASSERT_EQ(0, mkdir(directory.c_str(), 0755));
    }
    const std::string longFile = directory + "/file";
    const std::string missing = directory + "/missing";
    ASSERT_EQ(0, close(open(longFile.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644)));
    const std::string listed = directory + "/";

    struct Case {
        const char *label;
        const std::string &watched; // the path whose buffer is followed
        int buffers;                // how many the call takes of its size
        std::function<void()> call;
        const char *exception;      // or null
    } cases[] = {
        {"nGetFileInfo", longFile, 1, [&] { GetFileInfo(J(longFile), J("file")); }, nullptr},
        {"nGetFileInfo, missing", missing, 1, [&] { GetFileInfo(J(missing), J("missing")); }, kIOException},
        {"nListFileInfos", listed, 1, [&] { List(J(listed)); }, nullptr},
        {"nListFileInfos, not a directory", longFile, 1, [&] { List(J(longFile)); }, kIOException},
        {"nCompareByteByByte", longFile, 2, [&] { Compare(J(longFile), J(longFile)); }, nullptr},
        {"nCompareByteByByte, missing", missing, 1, [&] { Compare(J(longFile), J(missing)); }, kIOException},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_GT(c.watched.size(), kInlinePathUnits);
        int made = 0;
        int live = 0;
        {
            WatchAllocations watch(PathBufferSize(c.watched.size()));
            c.call();
            made = watch.made();
            live = watch.live();
        }
        auto thrown = TakeException();
        EXPECT_EQ(c.exception != nullptr, thrown.has_value());
        EXPECT_EQ(c.buffers, made);
        EXPECT_EQ(0, live) << "path buffers not freed";
    }
    ExpectNoDescriptorLeft();
}

// ---- Building records and the result ------------------------------------------

// Records are built with NewObjectA, principals with NewObject (NewObjectV).
TEST_F(FaultTest, NewObjectFailingForARecordOrAPrincipal)
{
    CreateFiles(dir_.path(), 5);
    jstring file = J(file_);
    jstring name = J("file");
    jstring directory = J(dir_.path() + "/");
    {
        FailJniCall fault(JniFunction::kNewObjectA, 1);
        EXPECT_EQ(nullptr, GetFileInfo(file, name, kExtendedMask));
        EXPECT_TRUE(fault.fired());
    }
    ExpectInjectedOutOfMemory();

    if (RecordsMadeInJava()) {
        // Records made in compiled Java, one upcall per batch: a batch made
        // before the monitor's first check (of three entries), and the last.
        jobject monitor = NewScriptedMonitor();
        for (const int failAtCall : {1, 2}) {
            SCOPED_TRACE(failAtCall);
            FailJniCall fault(JniFunction::kCallStaticVoidMethodV, failAtCall);
            EXPECT_EQ(nullptr, List(directory, kExtendedMask, monitor, 3));
            EXPECT_EQ(failAtCall, fault.calls()); // nothing made after the failure
            ExpectInjectedOutOfMemory();
        }
    } else {
        for (const int failAtCall : {1, 4}) {
            SCOPED_TRACE(failAtCall);
            FailJniCall fault(JniFunction::kNewObjectA, failAtCall);
            EXPECT_EQ(nullptr, List(directory, kExtendedMask));
            EXPECT_EQ(failAtCall, fault.calls()); // no record built after the failure
            ExpectInjectedOutOfMemory();
        }
        // The fallback record of an entry that cannot be examined.
        {
            FailCCall noStatus(CFunction::kFstatat, 3, EACCES);
            FailJniCall fault(JniFunction::kNewObjectA, 3);
            EXPECT_EQ(nullptr, List(directory, kExtendedMask));
            EXPECT_EQ(3, noStatus.calls());
            EXPECT_EQ(3, fault.calls());
        }
        ExpectInjectedOutOfMemory();
    }

    for (const LookUp &lookUp : LookUps()) {
        {
            FailJniCall fault(JniFunction::kNewObjectV, 1);
            EXPECT_EQ(nullptr, lookUp(0));
            EXPECT_TRUE(fault.fired());
        }
        ExpectInjectedOutOfMemory();
    }
    ExpectNoDescriptorLeft();
}

// A listing of four entries more than the working array's first capacity
// grows it once, then copies the records into the result array.
struct ArrayCase {
    JniFunction function;
    int failAtCall;
    const char *what;
};

void PrintTo(const ArrayCase &c, std::ostream *out)
{
    *out << NameOf(c.function) << " call " << c.failAtCall << " (" << c.what << ")";
}

class WorkingArrayTest : public FaultTest, public ::testing::WithParamInterface<ArrayCase> {};

TEST_P(WorkingArrayTest, FailureDropsTheListing)
{
    const ArrayCase &c = GetParam();
    CreateFiles(dir_.path(), basefs::kListingInitialCapacity + 4);
    jstring directory = J(dir_.path() + "/");
    jobject monitor = NewScriptedMonitor();
    {
        FailJniCall fault(c.function, c.failAtCall);
        EXPECT_EQ(nullptr, List(directory, kPlainMask, monitor, 1));
        EXPECT_EQ(c.failAtCall, fault.calls()); // nothing of the kind after the failure
    }
    ExpectInjectedOutOfMemory();
    ExpectNoDescriptorLeft();
}

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
        return std::string(NameOf(info.param.function)) + std::to_string(info.param.failAtCall);
    });

TEST_F(FaultTest, NewObjectArrayFailingForTheResultOfAnEmptyDirectory)
{
    const std::string empty = dir_ / "empty";
    ASSERT_EQ(0, mkdir(empty.c_str(), 0755));
    jstring path = J(empty + "/");
    {
        FailJniCall fault(JniFunction::kNewObjectArray, 2);
        EXPECT_EQ(nullptr, List(path));
        EXPECT_TRUE(fault.fired());
    }
    ExpectInjectedOutOfMemory();
    ExpectNoDescriptorLeft();
}

TEST_F(FaultTest, NewStringFailingForANameATargetOrAnAccountName)
{
    CreateFiles(dir_.path(), 5);
    jstring directory = J(dir_.path() + "/");
    // Names made through JNI; in compiled Java they are made with their records.
    for (const int failAtCall : {1, 6}) { // "file" and five more entries
        if (RecordsMadeInJava()) {
            break;
        }
        SCOPED_TRACE(failAtCall);
        {
            FailJniCall fault(JniFunction::kNewString, failAtCall);
            EXPECT_EQ(nullptr, List(directory, kExtendedMask));
            EXPECT_EQ(failAtCall, fault.calls());
        }
        ExpectInjectedOutOfMemory();
    }

    const std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink("file", link.c_str()));
    jstring linkPath = J(link);
    {
        FailJniCall fault(JniFunction::kNewString, 1);
        EXPECT_EQ(nullptr, ReadLink(linkPath));
        EXPECT_TRUE(fault.fired());
    }
    ExpectInjectedOutOfMemory();

    for (const LookUp &lookUp : LookUps()) {
        {
            FailJniCall fault(JniFunction::kNewString, 1);
            EXPECT_EQ(nullptr, lookUp(0));
            EXPECT_TRUE(fault.fired());
        }
        ExpectInjectedOutOfMemory();
    }
    ExpectNoDescriptorLeft();
}

TEST_F(FaultTest, EnsureLocalCapacityFailingInCopyObjectArray)
{
    jclass stringClass = env()->FindClass("java/lang/String");
    jobjectArray src = env()->NewObjectArray(3, stringClass, J("element"));
    jobjectArray dst = env()->NewObjectArray(3, stringClass, nullptr);
    ASSERT_FALSE(TakeException().has_value());
    {
        FailJniCall fault(JniFunction::kEnsureLocalCapacity, 1);
        EXPECT_EQ(0, JNU_CopyObjectArray(env(), dst, src, 3));
        EXPECT_TRUE(fault.fired());
    }
    ExpectThrown(kOutOfMemoryError, "To allocate array for copy");
    for (jsize i = 0; i < 3; ++i) {
        EXPECT_EQ(nullptr, env()->GetObjectArrayElement(dst, i)) << "element " << i << " copied";
    }
}

// ---- C library calls ----------------------------------------------------------

TEST_F(FaultTest, Readdir64FailingMidDirectory)
{
    CreateFiles(dir_.path(), basefs::kListingInitialCapacity + 4);
    jstring directory = J(dir_.path() + "/");
    jobject monitor = NewScriptedMonitor();
    {
        FailCCall fault(CFunction::kReaddir64, 12, EIO);
        EXPECT_EQ(nullptr, List(directory, kExtendedMask, monitor, 1));
        EXPECT_EQ(12, fault.calls());
    }
    ExpectThrown(kIOException, "An I/O error occurred [5]");
    ExpectNoDescriptorLeft();
}

TEST_F(FaultTest, FstatatFailingForOneEntryGivesItTheFallbackRecord)
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
            FailCCall fault(CFunction::kFstatat, (failAtCall - 1) % 3 + 1, EACCES);
            records = Records(List(directory, kExtendedMask));
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

TEST_F(FaultTest, LstatFailingForASingleFile)
{
    const std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink("file", link.c_str()));
    jstring file = J(file_);
    jstring linkPath = J(link);
    const NeutralCall cases[] = {
        {"nGetFileInfo", 1, [&] { return GetFileInfo(file, J("file")) == nullptr; }},
        {"nReadSymbolicLink", 1, [&] { return ReadLink(linkPath) == nullptr; }},
        // Setting one time only reads the other first.
        {"nSetFileInfo", 1,
         [&] {
             Java_com_quenvira_internal_io_BaseFileSystem_nSetFileInfo(env(), class_, file, INFO_MODIFIED, 0, 0, 0, 0);
             struct stat st {};
             return stat(file_.c_str(), &st) == 0 && st.st_mtime != 0;
         }},
    };
    for (const NeutralCall &c : cases) {
        SCOPED_TRACE(c.label);
        bool neutral = false;
        {
            FailCCall fault(CFunction::kLstat, c.failAtCall, EIO);
            neutral = c.call();
            EXPECT_EQ(1, fault.calls());
        }
        EXPECT_TRUE(neutral);
        ExpectThrown(kIOException, "An I/O error occurred [5]");
    }
    ExpectNoDescriptorLeft();
}

TEST_F(FaultTest, Sendfile64FailingMidCopy)
{
    // sendfile serves where copy_file_range is refused.
    UseTransferMethod method(TransferMethod::kSendfile);
    const std::string source = dir_.WriteFileOfSize("source", 3 * kMiB);
    const std::string contents = ReadFileContents(source);
    jstring src = J(source);
    jstring dst = J(dir_ / "copy");

    // With a monitor, 1 MiB per transfer: the second fails.
    jobject monitor = NewScriptedMonitor();
    {
        FailCCall fault(CFunction::kSendfile64, 2, EIO);
        EXPECT_EQ(kMiB, Copy(src, dst, monitor));
        EXPECT_EQ(2, fault.calls());
    }
    ExpectThrown(kIOException, "An I/O error occurred [5]");
    EXPECT_TRUE(ReadFileContents(dir_ / "copy") == contents.substr(0, kMiB));

    // Without one, a single transfer for everything.
    jstring other = J(dir_ / "other");
    {
        FailCCall fault(CFunction::kSendfile64, 1, ENOSPC);
        EXPECT_EQ(0, Copy(src, other));
        EXPECT_EQ(1, fault.calls());
    }
    ExpectThrown(kIOException, "No space is left on the file system [28]");
    EXPECT_EQ("", ReadFileContents(dir_ / "other"));
    ExpectNoDescriptorLeft();
}

TEST_F(FaultTest, DestinationOpenRacingACreation)
{
    // The destination is opened as it is and else created exclusively, each
    // pair tried twice; what another process does between the opens is
    // scripted as their answers. No open ever truncates.
    constexpr int kShown = O_ACCMODE | O_CREAT | O_EXCL | O_TRUNC;
    constexpr int kSource = O_RDONLY;
    constexpr int kExisting = O_WRONLY;
    constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL;
    const jlong size = static_cast<jlong>(ReadFileContents(file_).size());
    struct Case {
        const char *name;
        bool exists;
        jint flags;
        std::vector<int> failWith; // the answers of the opens, in order (0: the real one)
        std::vector<int> opens;
        const char *message; // null: copied
    } cases[] = {
        {"created and removed again between the opens, twice", false, 0, {0, ENOENT, EEXIST, ENOENT, EEXIST},
         {kSource, kExisting, kCreate, kExisting, kCreate}, "Path already exists [17]"},
        {"created and removed again once", false, 0, {0, 0, EEXIST},
         {kSource, kExisting, kCreate, kExisting, kCreate}, nullptr},
        {"created after the first open looked", true, 0, {0, ENOENT},
         {kSource, kExisting, kCreate, kExisting}, nullptr},
        {"new", false, 0, {}, {kSource, kExisting, kCreate}, nullptr},
        {"existing", true, 0, {}, {kSource, kExisting}, nullptr},
        {"exclusive, new", false, COPY_EXCLUSIVE, {}, {kSource, kCreate}, nullptr},
        {"exclusive, existing", true, COPY_EXCLUSIVE, {}, {kSource, kCreate}, "Path already exists [17]"},
    };
    const std::string copy = dir_ / "copy";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unlink(copy.c_str());
        if (c.exists) {
            dir_.WriteFile("copy", "old");
        }
        g_open = OpenScript{c.failWith, {}};
        const jlong copied =
            Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(env(), class_, J(file_), J(copy), c.flags,
                                                                          nullptr);
        std::vector<int> opens;
        for (int flags : g_open.flags) {
            opens.push_back(flags & kShown);
        }
        g_open = OpenScript{};
        EXPECT_EQ(c.opens, opens);
        if (c.message != nullptr) {
            EXPECT_EQ(0, copied);
            ExpectThrown(kIOException, c.message);
            EXPECT_EQ(c.exists, Exists(copy));
            if (c.exists) {
                EXPECT_EQ("old", ReadFileContents(copy));
            }
        } else {
            EXPECT_EQ(size, copied);
            EXPECT_FALSE(TakeException().has_value());
            EXPECT_EQ(ReadFileContents(file_), ReadFileContents(copy));
        }
        ExpectNoDescriptorLeft();
    }
}

TEST_F(FaultTest, FreadFailingOnEitherFile)
{
    // Two equal files of one full and one short block: the reads alternate
    // between file 1 and file 2.
    const std::string contents(kCompareBlock + kCompareBlock / 2, 'c');
    jstring file1 = J(dir_.WriteFile("one", contents));
    jstring file2 = J(dir_.WriteFile("two", contents));
    const char *reads[] = {"file 1, full block", "file 2, full block", "file 1, short block",
                           "file 2, short block"};
    for (int failAtCall = 1; failAtCall <= 4; ++failAtCall) {
        SCOPED_TRACE(reads[failAtCall - 1]);
        {
            FailCCall fault(CFunction::kFread, failAtCall, EIO);
            EXPECT_EQ(JNI_FALSE, Compare(file1, file2));
            EXPECT_EQ(failAtCall, fault.calls()); // nothing read after the error
        }
        ExpectThrown(kIOException, "An I/O error occurred [5]");
        ExpectNoDescriptorLeft();
    }
    EXPECT_EQ(JNI_TRUE, Compare(file1, file2));
}

TEST_F(FaultTest, LookupFailingWithAnErrorNumber)
{
    const struct {
        int error;
        const char *message;
    } errors[] = {
        {EIO, "An I/O error occurred [5]"},
        {EMFILE, "The maximum number of files was open already in the calling process [24]"},
        {ENOMEM, "No kernel memory [12]"},
    };
    for (const auto &e : errors) {
        SCOPED_TRACE(e.message);
        g_userScript.Arm(1, e.error);
        EXPECT_EQ(nullptr, GetUser(0));
        EXPECT_EQ(1u, g_userScript.Calls().size());
        g_userScript.Reset();
        ExpectThrown(kIOException, e.message);

        g_groupScript.Arm(1, e.error);
        EXPECT_EQ(nullptr, GetGroup(0));
        EXPECT_EQ(1u, g_groupScript.Calls().size());
        g_groupScript.Reset();
        ExpectThrown(kIOException, e.message);
    }
    ExpectNoDescriptorLeft();
}

} // namespace
