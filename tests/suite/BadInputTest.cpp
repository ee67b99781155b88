// Bad input to every entry point: empty strings, paths too long for the
// system, paths with U+0000 inside, names that are not UTF-8, the wrong kind of
// file, masks and flags with every bit set and negative check intervals. Each
// must give a clean Java exception and the neutral result, or a correct
// result; never a crash. The entry points are called directly, so the result
// they return along with an exception is seen too.
#include "JvmHarness.h"

#include "FileSystemCommon.h"
#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace {

using namespace jvmtest;

constexpr jint kTimesAndPermissions = INFO_MODIFIED | INFO_ACCESSED | INFO_ATTRIBUTES;
constexpr jint kReadWriteOwner = ATTR_OWNER_READ | ATTR_OWNER_WRITE;
constexpr jint kAllBits = -1;
// 2001-09-09T01:46:40Z and a day later, in Java milliseconds.
constexpr jlong kOldModified = 1000000000000;
constexpr jlong kOldAccessed = 1000086400000;
constexpr jlong kMillisPerSecond = 1000;

const std::string kNotFound = "Path does not exist [2]";
const std::string kTooLong = "Too long path [36]";
const std::string kNotADirectory = "Not a directory [20]";
const std::string kIsADirectory = "Unknown [21]"; // EISDIR has no description of its own
// What sendfile says of a directory source, raised before any destination exists.
const std::string kDirectorySource = "Invalid argument [22]";

std::u16string U16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The entry points, called directly.
jobject GetFileInfo(jstring path, jstring name, jint mask)
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nGetFileInfo(Env(), nullptr, path, name, mask);
}
jobjectArray List(jstring path, jint mask = 0, jobject monitor = nullptr, jint checkInterval = 0)
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos(Env(), nullptr, path, mask, monitor,
                                                                       checkInterval);
}
void SetFileInfo(jstring path, jint mask, jlong modified, jlong accessed, jint attributes)
{
    Java_com_quenvira_internal_io_BaseFileSystem_nSetFileInfo(Env(), nullptr, path, mask, modified, accessed, 0,
                                                              attributes);
}
jstring ReadLink(jstring path)
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nReadSymbolicLink(Env(), nullptr, path);
}
void CreateLink(jstring link, jstring target)
{
    Java_com_quenvira_internal_io_BaseFileSystem_nCreateSymbolicLink(Env(), nullptr, link, target);
}
jlong Copy(jstring src, jstring dst, jint flags = 0, jobject monitor = nullptr)
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(Env(), nullptr, src, dst, flags, monitor);
}
jboolean Compare(jstring file1, jstring file2, jobject monitor = nullptr)
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(Env(), nullptr, file1, file2, monitor);
}

struct stat Lstat(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st;
}

bool Exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// One call with one bad argument: what it is, the call (which checks its own
// neutral result), and the IOException message expected, if any.
struct BadCall {
    std::string what;
    std::function<void()> call;
    std::optional<std::string> message;
};

class BadInputTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        file_ = dir_.WriteFile("file", "contents");
        other_ = dir_.WriteFile("other", "other contents");
        subdir_ = dir_ / "subdir";
        ASSERT_EQ(0, mkdir(subdir_.c_str(), 0755));
        dir_.WriteFile("subdir/entry", "e");
        ASSERT_EQ(0, symlink("file", (dir_ / "link").c_str()));
    }

    // Runs each call and checks what it threw; a call must leave nothing
    // else behind (no -Xcheck:jni warning, no second exception).
    void Run(const std::vector<BadCall> &calls)
    {
        for (const BadCall &c : calls) {
            SCOPED_TRACE(c.what);
            c.call();
            auto thrown = TakeException();
            if (!c.message) {
                EXPECT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
                continue;
            }
            ASSERT_TRUE(thrown.has_value());
            EXPECT_EQ("java.io.IOException", thrown->className);
            EXPECT_EQ(*c.message, thrown->message);
        }
    }

    // Every path argument of every entry point given `bad` in turn, the other
    // arguments valid; each is expected to fail with `message` without
    // creating anything. A link's target is text, not a path the system
    // resolves, so it is limited only by the length of a whole path.
    std::vector<BadCall> EveryPathArgument(const std::u16string &bad, const std::string &message,
                                           bool badAsTarget = true)
    {
        const std::string created = dir_ / "created";
        auto j = [bad] { return JStr16(bad); };
        auto f = [this] { return JStr(file_.c_str()); };
        auto c = [created] { return JStr(created.c_str()); };
        auto nothingCreated = [created] { EXPECT_FALSE(Exists(created)); };
        std::vector<BadCall> calls = {
            {"nGetFileInfo path", [=] { EXPECT_EQ(nullptr, GetFileInfo(j(), JStr("n"), 0)); }, message},
            {"nListFileInfos path", [=] { EXPECT_EQ(nullptr, List(j())); }, message},
            {"nSetFileInfo path", [=] { SetFileInfo(j(), kTimesAndPermissions, 0, 0, 0); }, message},
            {"nReadSymbolicLink path", [=] { EXPECT_EQ(nullptr, ReadLink(j())); }, message},
            {"nCreateSymbolicLink link", [=] { CreateLink(j(), f()); }, message},
            {"nCreateSymbolicLink target", [=] { CreateLink(c(), j()); nothingCreated(); }, message},
            {"nCopyFileCallback src", [=] { EXPECT_EQ(0, Copy(j(), c())); nothingCreated(); }, message},
            {"nCopyFileCallback dst", [=] { EXPECT_EQ(0, Copy(f(), j())); }, message},
            {"nCopyFileCallback dst with monitor",
             [=] { EXPECT_EQ(0, Copy(f(), j(), 0, NewScriptedMonitor())); }, message},
            {"nCompareByteByByte file1", [=] { EXPECT_FALSE(Compare(j(), f())); }, message},
            {"nCompareByteByByte file2", [=] { EXPECT_FALSE(Compare(f(), j())); }, message},
        };
        if (!badAsTarget) {
            std::erase_if(calls, [](const BadCall &c) { return c.what == "nCreateSymbolicLink target"; });
        }
        return calls;
    }

    std::u16string Dir() const { return U16(dir_.path()) + u"/"; }

    TempDir dir_;
    std::string file_;
    std::string other_;
    std::string subdir_;
};

TEST_F(BadInputTest, EmptyStrings)
{
    Run(EveryPathArgument(u"", kNotFound));

    // The name is only stored in the record (and tested for a leading dot).
    jobject info = GetFileInfo(JStr(file_.c_str()), JStr(""), 0);
    ASSERT_NE(nullptr, info);
    Record record = ReadRecord(info);
    EXPECT_EQ("", record.name);
    EXPECT_EQ(0, record.attributes & ATTR_HIDDEN);
    EXPECT_EQ(8, record.size);
}

TEST_F(BadInputTest, PathsTooLongForTheSystem)
{
    // Many short components past the 4096-byte limit of a whole path, and one
    // component past the 255-byte limit of a name.
    std::string components;
    while (components.size() < 70000) {
        components += "/" + std::string(99, 'd');
    }
    const struct {
        const char *what;
        std::u16string path;
        bool tooLongAsTarget;
    } cases[] = {
        {"5000 characters", U16(dir_.path() + components.substr(0, 5000 - dir_.path().size())), true},
        {"70000 characters", U16(dir_.path() + components), true},
        {"70000 characters outside ASCII", std::u16string(70000, u'\u4e2d'), true},
        {"one name of 256 bytes", Dir() + std::u16string(256, u'n'), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Run(EveryPathArgument(c.path, kTooLong, c.tooLongAsTarget));
    }

    // A long name is only stored in the record.
    const std::u16string longName(70000, u'x');
    jstring name = JStr16(longName);
    jobject info = GetFileInfo(JStr(file_.c_str()), name, 0);
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(env()->IsSameObject(name, RecordName(info)));
}

// U+0000 is part of the path: a file named by the part before it must not be
// what a call finds or changes.
TEST_F(BadInputTest, PathsWithNulInsideAreNeverCutShort)
{
    const std::u16string nul(1, u'\0');
    const jstring file = JStr16(Dir() + u"file" + nul + u"tail");
    const std::string encoded = dir_ / "file\xc0\x80tail"; // how U+0000 reaches the system
    ASSERT_EQ(0, chmod(file_.c_str(), 0640));
    const struct timeval oldTimes[2] = {{kOldAccessed / kMillisPerSecond, 0}, {kOldModified / kMillisPerSecond, 0}};
    ASSERT_EQ(0, utimes(file_.c_str(), oldTimes));
    const struct stat before = Lstat(file_);

    Run({
        {"nGetFileInfo", [&] { EXPECT_EQ(nullptr, GetFileInfo(file, JStr("file"), 0)); }, kNotFound},
        {"nSetFileInfo", [&] { SetFileInfo(file, kTimesAndPermissions, 0, 0, kReadWriteOwner); }, kNotFound},
        {"nCopyFileCallback src", [&] { EXPECT_EQ(0, Copy(file, JStr((dir_ / "copy").c_str()))); }, kNotFound},
        {"nCompareByteByByte file1", [&] { EXPECT_FALSE(Compare(file, JStr(file_.c_str()))); }, kNotFound},
        {"nCompareByteByByte file2", [&] { EXPECT_FALSE(Compare(JStr(file_.c_str()), file)); }, kNotFound},
        {"nReadSymbolicLink",
         [&] { EXPECT_EQ(nullptr, ReadLink(JStr16(Dir() + u"link" + nul + u"x"))); }, kNotFound},
        {"nListFileInfos", [&] { EXPECT_EQ(nullptr, List(JStr16(Dir() + u"subdir" + nul + u"/"))); }, kNotFound},
        {"nListFileInfos ending in U+0000", [&] { EXPECT_EQ(nullptr, List(JStr16(Dir() + nul))); }, kNotFound},
    });
    EXPECT_FALSE(Exists(dir_ / "copy"));

    // A destination or a new link gets the whole name, U+0000 and all.
    Run({
        {"nCopyFileCallback dst", [&] { EXPECT_EQ(14, Copy(JStr(other_.c_str()), file, 0)); }, std::nullopt},
        {"nCreateSymbolicLink link",
         [&] { CreateLink(JStr16(Dir() + u"new" + nul + u"link"), JStr("t")); }, std::nullopt},
        {"nCreateSymbolicLink target", [&] { CreateLink(JStr((dir_ / "to-nul").c_str()), file); }, std::nullopt},
    });
    EXPECT_EQ("other contents", ReadFileContents(encoded));
    EXPECT_FALSE(Exists(dir_ / "new"));
    EXPECT_TRUE(S_ISLNK(Lstat(dir_ / "new\xc0\x80link").st_mode));
    char target[PATH_MAX] = {};
    ASSERT_LT(0, readlink((dir_ / "to-nul").c_str(), target, sizeof target - 1));
    EXPECT_EQ(encoded, target);

    // The file named by the prefix is untouched.
    const struct stat after = Lstat(file_);
    EXPECT_EQ("contents", ReadFileContents(file_));
    EXPECT_EQ(before.st_mode, after.st_mode);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_atim.tv_sec, after.st_atim.tv_sec);
}

// Names of bytes that are not UTF-8 (or not the shortest form of it): each is
// listed as a string that, passed back, finds the same file in every entry
// point, and a link to it reads back as the same string.
TEST_F(BadInputTest, NamesThatAreNotUtf8AreListedAndFoundAgain)
{
    const std::string names[] = {
        "\x80",                     // a lone continuation byte
        "a\xff" "b",                // a byte that never occurs in UTF-8
        "end-\xc3",                 // a sequence cut short at the end
        "\xe2\x82-mid",             // and in the middle
        "\xc0\xaf",                 // an overlong '/'
        "\xc0\x80",                 // U+0000 as modified UTF-8 writes it
        "\xed\xa0\x80",             // a surrogate encoded on its own
        "\xf4\x90\x80\x80",         // past U+10FFFF
        "\xf8\x88\x80\x80\x80",     // a five-byte form
        "caf\xc3\xa9\xff",          // valid UTF-8 followed by an invalid byte
    };
    const std::string tree = dir_ / "names";
    ASSERT_EQ(0, mkdir(tree.c_str(), 0755));
    std::map<std::string, std::string> bytesByContents; // each file holds its own text
    for (size_t i = 0; i < std::size(names); ++i) {
        const std::string contents = "file " + std::to_string(i);
        bytesByContents[contents] = names[i];
        dir_.WriteFile("names/" + names[i], contents);
    }

    jobjectArray listed = List(JStr((tree + "/").c_str()));
    ASSERT_NE(nullptr, listed);
    ASSERT_EQ(static_cast<jsize>(std::size(names)), env()->GetArrayLength(listed));
    std::set<std::string> found;
    for (jsize i = 0; i < env()->GetArrayLength(listed); ++i) {
        SCOPED_TRACE(i);
        jobject record = env()->GetObjectArrayElement(listed, i);
        const std::u16string name = StdStr16(RecordName(record));
        const jstring path = JStr16(U16(tree) + u"/" + name);

        // The copy tells which file the name found: each holds its own text.
        const std::string copy = dir_ / ("copy" + std::to_string(i));
        EXPECT_EQ(ReadRecord(record).size, Copy(path, JStr(copy.c_str())));
        const auto named = bytesByContents.find(ReadFileContents(copy));
        ASSERT_NE(bytesByContents.end(), named) << "copied: " << ReadFileContents(copy);
        const std::string &bytes = named->second;
        EXPECT_TRUE(found.insert(bytes).second) << "found twice: " << named->first;

        jobject again = GetFileInfo(path, JStr("x"), 0);
        ASSERT_NE(nullptr, again);
        EXPECT_EQ(Lstat(tree + "/" + bytes).st_size, ReadRecord(again).size);
        EXPECT_TRUE(Compare(path, JStr(copy.c_str())));
        SetFileInfo(path, INFO_ATTRIBUTES, 0, 0, kReadWriteOwner);
        EXPECT_EQ(0600u, Lstat(tree + "/" + bytes).st_mode & 07777);

        // A link whose target is the name holds its bytes and reads back as the same string.
        const std::string link = "link" + std::to_string(i);
        CreateLink(JStr16(Dir() + U16(link)), JStr16(name));
        char raw[64] = {};
        ASSERT_LT(0, readlink((dir_ / link).c_str(), raw, sizeof raw - 1));
        EXPECT_EQ(bytes, raw);
        jstring target = ReadLink(JStr16(Dir() + U16(link)));
        ASSERT_NE(nullptr, target);
        EXPECT_EQ(name, StdStr16(target));
        env()->DeleteLocalRef(record);
    }
    EXPECT_EQ(std::size(names), found.size());
    auto thrown = TakeException();
    EXPECT_FALSE(thrown.has_value()) << thrown->message;
}

TEST_F(BadInputTest, ListingSomethingThatIsNoDirectory)
{
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, symlink("missing", (dir_ / "dangling").c_str()));
    auto list = [](const std::string &path) { return [path] { EXPECT_EQ(nullptr, List(JStr(path.c_str()))); }; };
    Run({
        {"a regular file", list(file_), kNotADirectory},
        {"a regular file with a separator", list(file_ + "/"), kNotADirectory},
        {"a link to a regular file", list(dir_ / "link/"), kNotADirectory},
        {"a named pipe (not opened for reading, so no wait)", list(fifo + "/"), kNotADirectory},
        {"a device", list("/dev/null/"), kNotADirectory},
        {"a dangling link", list(dir_ / "dangling/"), kNotFound},
    });
}

// A directory has no contents to copy or compare: the copy refuses it before a
// destination exists, also where the system reports a directory size of 0
// (/proc), which would otherwise "copy" it as an empty file.
TEST_F(BadInputTest, DirectoriesGivenToCopyAndCompare)
{
    const std::string destination = dir_ / "destination";
    const std::string emptyFile = dir_.WriteFile("empty", "");
    ASSERT_EQ(0, Lstat("/proc/sys").st_size);
    auto copy = [&](const std::string &src, const std::string &dst, bool withMonitor) {
        return [=] {
            EXPECT_EQ(0, Copy(JStr(src.c_str()), JStr(dst.c_str()), 0, withMonitor ? NewScriptedMonitor() : nullptr));
            EXPECT_FALSE(Exists(destination));
        };
    };
    auto compare = [](const std::string &a, const std::string &b) {
        return [=] { EXPECT_FALSE(Compare(JStr(a.c_str()), JStr(b.c_str()), NewScriptedMonitor())); };
    };
    Run({
        {"copy from a directory", copy(subdir_, destination, false), kDirectorySource},
        {"copy from a directory with a monitor", copy(subdir_, destination, true), kDirectorySource},
        {"copy from a directory of size 0", copy("/proc/sys", destination, false), kDirectorySource},
        {"copy onto a directory", copy(file_, subdir_, false), kIsADirectory},
        {"copy a directory onto itself", copy(subdir_, subdir_, false), kDirectorySource},
        {"compare a directory with a file", compare(subdir_, file_), kIsADirectory},
        {"compare a file with a directory", compare(file_, subdir_), kIsADirectory},
        {"compare an empty file with a directory", compare(emptyFile, subdir_), kIsADirectory},
        {"compare a directory with itself", compare(subdir_, subdir_), kIsADirectory},
    });
    EXPECT_EQ("e", ReadFileContents(dir_ / "subdir/entry"));
}

TEST_F(BadInputTest, InfoMaskWithEveryBitSetReportsEverything)
{
    const struct stat st = Lstat(file_);
    auto expectEverything = [&](const Record &record) {
        EXPECT_TRUE(record.extended);
        EXPECT_EQ(st.st_mtim.tv_sec * kMillisPerSecond, record.modified);
        EXPECT_EQ(st.st_atim.tv_sec * kMillisPerSecond, record.accessed);
        EXPECT_EQ(0, record.created);
        EXPECT_EQ(static_cast<jint>(st.st_uid), record.owner);
        EXPECT_EQ(static_cast<jint>(st.st_gid), record.group);
        EXPECT_EQ(8, record.size);
    };
    jobject info = GetFileInfo(JStr(file_.c_str()), JStr("file"), kAllBits);
    ASSERT_NE(nullptr, info);
    expectEverything(ReadRecord(info));

    jobjectArray listed = List(JStr((dir_.path() + "/").c_str()), kAllBits);
    ASSERT_NE(nullptr, listed);
    int seen = 0;
    for (jsize i = 0; i < env()->GetArrayLength(listed); ++i) {
        Record record = ReadRecord(env()->GetObjectArrayElement(listed, i));
        EXPECT_TRUE(record.extended) << record.name;
        if (record.name == "file") {
            expectEverything(record);
            ++seen;
        }
    }
    EXPECT_EQ(1, seen);
}

// Every bit of the mask set: both times and the permissions are set, the bits
// without a meaning are ignored; every attribute bit set gives all twelve
// permission bits and nothing more.
TEST_F(BadInputTest, SetFileInfoMaskWithEveryBitSet)
{
    for (jint attributes : {kReadWriteOwner, kAllBits}) {
        SCOPED_TRACE(attributes);
        SetFileInfo(JStr(file_.c_str()), kAllBits, kOldModified, kOldAccessed, attributes);
        auto thrown = TakeException();
        ASSERT_FALSE(thrown.has_value()) << thrown->message;
        const struct stat st = Lstat(file_);
        EXPECT_EQ(kOldModified / kMillisPerSecond, st.st_mtim.tv_sec);
        EXPECT_EQ(kOldAccessed / kMillisPerSecond, st.st_atim.tv_sec);
        EXPECT_EQ(attributes == kAllBits ? 07777u : 0600u, st.st_mode & 07777);
        EXPECT_TRUE(S_ISREG(st.st_mode));
    }
}

// Of the copy flags only COPY_EXCLUSIVE has a meaning.
TEST_F(BadInputTest, CopyFlagsWithEveryBitSet)
{
    const std::string existing = dir_.WriteFile("existing", "old");
    const std::string fresh = dir_ / "fresh";
    Run({
        {"-1 refuses an existing destination",
         [&] { EXPECT_EQ(0, Copy(JStr(file_.c_str()), JStr(existing.c_str()), kAllBits)); },
         "Path already exists [17]"},
        {"-1 copies to a new one",
         [&] { EXPECT_EQ(8, Copy(JStr(file_.c_str()), JStr(fresh.c_str()), kAllBits)); }, std::nullopt},
        {"every other bit replaces an existing one",
         [&] { EXPECT_EQ(8, Copy(JStr(file_.c_str()), JStr(existing.c_str()), ~COPY_EXCLUSIVE)); }, std::nullopt},
    });
    EXPECT_EQ("contents", ReadFileContents(fresh));
    EXPECT_EQ("contents", ReadFileContents(existing));
}

// A check interval of 0 or less asks the monitor after every entry.
TEST_F(BadInputTest, NegativeCheckIntervals)
{
    for (int i = 0; i < 5; ++i) {
        dir_.WriteFile("subdir/more" + std::to_string(i), "");
    }
    for (jint interval : {-1, -1000, INT_MIN}) {
        SCOPED_TRACE(interval);
        jobject monitor = NewScriptedMonitor();
        jobjectArray all = List(JStr((subdir_ + "/").c_str()), 0, monitor, interval);
        ASSERT_NE(nullptr, all);
        EXPECT_EQ(6, env()->GetArrayLength(all));
        EXPECT_EQ(6, MonitorCalls(monitor));

        jobject stopping = NewScriptedMonitor(2, 0);
        jobjectArray some = List(JStr((subdir_ + "/").c_str()), 0, stopping, interval);
        ASSERT_NE(nullptr, some);
        EXPECT_EQ(2, env()->GetArrayLength(some));
    }
    jobject never = NewScriptedMonitor(1, 0);
    jobjectArray all = List(JStr((subdir_ + "/").c_str()), 0, never, INT_MAX);
    ASSERT_NE(nullptr, all);
    EXPECT_EQ(6, env()->GetArrayLength(all));
    EXPECT_EQ(0, MonitorCalls(never));
}

} // namespace
