// Bad input to every entry point: empty strings, paths too long for the
// system, paths with U+0000 inside, and names that are not UTF-8. Each must
// give a clean Java exception and the neutral result, or a correct result;
// never a crash. The entry points are called directly (EntryPoints.h), so the
// result they return along with an exception is seen too. Bad input that only
// one entry point takes (a mask, flags, a check interval, the wrong kind of
// file) is tested in its room's file.
#include "EntryPoints.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

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

constexpr jint kReadWriteOwner = ATTR_OWNER_READ | ATTR_OWNER_WRITE;
// 2001-09-09T01:46:40Z and a day later, in Java milliseconds.
constexpr jlong kOldModified = 1000000000000;
constexpr jlong kOldAccessed = 1000086400000;
constexpr jlong kMillisPerSecond = 1000;

const std::string kNotFound = "Path does not exist [2]";
const std::string kTooLong = "Too long path [36]";

std::u16string U16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

using direct::CompareByteByByte;
using direct::CopyFileCallback;
using direct::CreateSymbolicLink;
using direct::GetFileInfo;
using direct::ListFileInfos;
using direct::ReadSymbolicLink;
using direct::SetFileInfo;

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

    // Every path argument of every entry point given `bad` in turn (with and
    // without a monitor where it takes one), the other arguments valid; each
    // is expected to fail with `message`, returning its neutral result,
    // without creating anything. A link's target is text, not a path the
    // system resolves, so it is limited only by the length of a whole path.
    std::vector<BadCall> EveryPathArgument(const std::u16string &bad, const std::string &message,
                                           bool badAsTarget = true)
    {
        std::vector<BadCall> calls;
        for (const EntryPoint &entryPoint : kEntryPoints) {
            for (int index = 0; index < 2; ++index) {
                const StringArgument kind = entryPoint.strings[index];
                if (kind != StringArgument::kPath && !(kind == StringArgument::kLinkText && badAsTarget)) {
                    continue;
                }
                for (const bool withMonitor : {false, true}) {
                    if (withMonitor && !entryPoint.takesMonitor) {
                        continue;
                    }
                    const std::string what = std::string(entryPoint.name) + " " + entryPoint.stringNames[index] +
                                             (withMonitor ? " with monitor" : "");
                    calls.push_back({what, [this, &entryPoint, index, withMonitor, bad] {
                                         jstring strings[2] = {ValidString(entryPoint, 0), ValidString(entryPoint, 1)};
                                         strings[index] = JStr16(bad);
                                         jobject monitor = withMonitor ? NewScriptedMonitor() : nullptr;
                                         EXPECT_TRUE(entryPoint.call(Env(), strings[0], strings[1], monitor));
                                         EXPECT_FALSE(Exists(Created()));
                                     },
                                     message});
                }
            }
        }
        return calls;
    }

    // A valid value for string argument `index`: the file, or where the call
    // would create something.
    jstring ValidString(const EntryPoint &entryPoint, int index) const
    {
        switch (entryPoint.strings[index]) {
        case StringArgument::kNone:
            return nullptr;
        case StringArgument::kName:
            return JStr("n");
        case StringArgument::kPath:
        case StringArgument::kLinkText:
            break;
        }
        return JStr((index == entryPoint.created ? Created() : file_).c_str());
    }

    std::string Created() const { return dir_ / "created"; }

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
        {"nSetFileInfo", [&] { SetFileInfo(file, kEverySetting, 0, 0, kReadWriteOwner); }, kNotFound},
        {"nCopyFileCallback src",
         [&] { EXPECT_EQ(0, CopyFileCallback(file, JStr((dir_ / "copy").c_str()))); }, kNotFound},
        {"nCompareByteByByte file1", [&] { EXPECT_FALSE(CompareByteByByte(file, JStr(file_.c_str()))); }, kNotFound},
        {"nCompareByteByByte file2", [&] { EXPECT_FALSE(CompareByteByByte(JStr(file_.c_str()), file)); }, kNotFound},
        {"nReadSymbolicLink",
         [&] { EXPECT_EQ(nullptr, ReadSymbolicLink(JStr16(Dir() + u"link" + nul + u"x"))); }, kNotFound},
        {"nListFileInfos",
         [&] { EXPECT_EQ(nullptr, ListFileInfos(JStr16(Dir() + u"subdir" + nul + u"/"))); }, kNotFound},
        {"nListFileInfos ending in U+0000",
         [&] { EXPECT_EQ(nullptr, ListFileInfos(JStr16(Dir() + nul))); }, kNotFound},
    });
    EXPECT_FALSE(Exists(dir_ / "copy"));

    // A destination or a new link gets the whole name, U+0000 and all.
    Run({
        {"nCopyFileCallback dst",
         [&] { EXPECT_EQ(14, CopyFileCallback(JStr(other_.c_str()), file, 0)); }, std::nullopt},
        {"nCreateSymbolicLink link",
         [&] { CreateSymbolicLink(JStr16(Dir() + u"new" + nul + u"link"), JStr("t")); }, std::nullopt},
        {"nCreateSymbolicLink target",
         [&] { CreateSymbolicLink(JStr((dir_ / "to-nul").c_str()), file); }, std::nullopt},
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

    jobjectArray listed = ListFileInfos(JStr((tree + "/").c_str()));
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
        EXPECT_EQ(ReadRecord(record).size, CopyFileCallback(path, JStr(copy.c_str())));
        const auto named = bytesByContents.find(ReadFileContents(copy));
        ASSERT_NE(bytesByContents.end(), named) << "copied: " << ReadFileContents(copy);
        const std::string &bytes = named->second;
        EXPECT_TRUE(found.insert(bytes).second) << "found twice: " << named->first;

        jobject again = GetFileInfo(path, JStr("x"), 0);
        ASSERT_NE(nullptr, again);
        EXPECT_EQ(Lstat(tree + "/" + bytes).st_size, ReadRecord(again).size);
        EXPECT_TRUE(CompareByteByByte(path, JStr(copy.c_str())));
        SetFileInfo(path, INFO_ATTRIBUTES, 0, 0, kReadWriteOwner);
        EXPECT_EQ(0600u, Lstat(tree + "/" + bytes).st_mode & 07777);

        // A link whose target is the name holds its bytes and reads back as the same string.
        const std::string link = "link" + std::to_string(i);
        CreateSymbolicLink(JStr16(Dir() + U16(link)), JStr16(name));
        char raw[64] = {};
        ASSERT_LT(0, readlink((dir_ / link).c_str(), raw, sizeof raw - 1));
        EXPECT_EQ(bytes, raw);
        jstring target = ReadSymbolicLink(JStr16(Dir() + U16(link)));
        ASSERT_NE(nullptr, target);
        EXPECT_EQ(name, StdStr16(target));
        env()->DeleteLocalRef(record);
    }
    EXPECT_EQ(std::size(names), found.size());
    auto thrown = TakeException();
    EXPECT_FALSE(thrown.has_value()) << thrown->message;
}

} // namespace
