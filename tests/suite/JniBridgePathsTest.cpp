// Paths and names between Java strings and the system: what modified UTF-8
// gets wrong (characters outside the Basic Multilingual Plane, U+0000), names
// listed and passed back, long paths, and the conversion buffers in the call's
// frame filled to the last byte. Every name must reach the system with its own
// bytes and come back unchanged. (Names of bytes that are not UTF-8 go through
// every entry point in BadInputTest; the mapping itself is NameCodecTest's.)
#include "JniBridge.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

using namespace jvmtest;

const std::u16string kEmojiName = u"smile-\U0001F600.txt"; // U+1F600 is a surrogate pair in Java
const std::string kEmojiBytes = "smile-\xf0\x9f\x98\x80.txt";
const std::string kLatin1Bytes = "f\xff.t";                  // not UTF-8
const std::u16string kLatin1Name = u"f\xdcff.t";             // 0xFF escaped as U+DCFF

std::u16string U16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class JniBridgePathsTest : public JvmTest {
protected:
    std::u16string Dir() const { return U16(dir_.path()) + u"/"; }

    void NioCreate(const std::u16string &path, const char *contents)
    {
        static jclass cls = static_cast<jclass>(env()->NewGlobalRef(env()->FindClass("com/quenvira/test/NioFiles")));
        static jmethodID create =
            env()->GetStaticMethodID(cls, "createFile", "(Ljava/lang/String;Ljava/lang/String;)V");
        env()->CallStaticVoidMethod(cls, create, JStr16(path), JStr(contents));
        auto thrown = TakeException();
        ASSERT_FALSE(thrown.has_value()) << thrown->message;
    }

    TempDir dir_;
};

TEST_F(JniBridgePathsTest, SupplementaryCharactersInPaths)
{
    NioCreate(Dir() + kEmojiName, "same"); // the JDK writes the name as UTF-8
    struct stat st;
    ASSERT_EQ(0, lstat((dir_ / kEmojiBytes).c_str(), &st));

    jobject info = natives::GetFileInfo(JStr16(Dir() + kEmojiName), JStr16(kEmojiName), 0);
    ExpectNoException();
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(4, ReadRecord(info).size);

    const std::u16string copy = Dir() + u"copy-\U0001F600";
    EXPECT_EQ(4, natives::CopyFileCallback(JStr16(Dir() + kEmojiName), JStr16(copy), 0, nullptr));
    ExpectNoException();
    EXPECT_EQ("same", ReadFileContents(dir_ / "copy-\xf0\x9f\x98\x80"));
    EXPECT_TRUE(natives::CompareByteByByte(JStr16(Dir() + kEmojiName), JStr16(copy), nullptr));
    ExpectNoException();

    const std::u16string link = Dir() + u"link-\U0001F600";
    natives::CreateSymbolicLink(JStr16(link), JStr16(kEmojiName));
    ExpectNoException();
    char target[64] = {};
    ASSERT_EQ(static_cast<ssize_t>(kEmojiBytes.size()),
              readlink((dir_ / "link-\xf0\x9f\x98\x80").c_str(), target, sizeof target));
    EXPECT_EQ(kEmojiBytes, std::string(target));
    jstring read = natives::ReadSymbolicLink(JStr16(link));
    ExpectNoException();
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(kEmojiName, StdStr16(read));
}

// A listing names every entry with a string that, passed back inside its
// directory's path, finds the same file.
TEST_F(JniBridgePathsTest, ListedNamesFindTheirFilesAgain)
{
    NioCreate(Dir() + kEmojiName, "emoji");
    dir_.WriteFile(kLatin1Bytes, "latin-1");
    dir_.WriteFile("plain", "p");

    jobjectArray listed = natives::ListFileInfos(JStr16(Dir()), 0, nullptr, 0);
    ExpectNoException();
    ASSERT_NE(nullptr, listed);
    std::map<std::u16string, jlong> sizes;
    for (jsize i = 0; i < env()->GetArrayLength(listed); ++i) {
        jobject record = env()->GetObjectArrayElement(listed, i);
        jstring name = RecordName(record);
        std::u16string text = StdStr16(name);
        sizes[text] = ReadRecord(record).size;

        jobject again = natives::GetFileInfo(JStr16(Dir() + text), name, 0);
        ExpectNoException();
        ASSERT_NE(nullptr, again);
        EXPECT_EQ(sizes[text], ReadRecord(again).size);
    }
    EXPECT_EQ((std::map<std::u16string, jlong>{{kEmojiName, 5}, {kLatin1Name, 7}, {u"plain", 1}}), sizes);
}

// Characters of the Basic Multilingual Plane keep the bytes that modified
// UTF-8 gives them, U+0000 included: a path is never cut short at it (that
// the part before it is never found is BadInputTest's, for every entry point).
TEST_F(JniBridgePathsTest, BasicPlaneNamesKeepTheirModifiedUtf8Bytes)
{
    const std::u16string names[] = {u"plain.txt", u"caf\u00e9", u"\u4e2d\u6587", u"\u20ac\uffff",
                                    std::u16string(u"nul\0inside", 10)};
    for (const std::u16string &name : names) {
        jstring javaName = JStr16(name);
        const char *modified = env()->GetStringUTFChars(javaName, nullptr);
        std::string bytes(modified);
        env()->ReleaseStringUTFChars(javaName, modified);
        dir_.WriteFile(bytes, "x");

        jobject info = natives::GetFileInfo(JStr16(Dir() + name), javaName, 0);
        ExpectNoException();
        EXPECT_NE(nullptr, info) << bytes;
    }
}

// Paths too long for the buffers in the call's frame take the heap.
TEST_F(JniBridgePathsTest, LongPaths)
{
    std::string path = dir_.path();
    for (char c : {'a', 'b', 'c'}) {
        path += "/" + std::string(200, c);
        ASSERT_EQ(0, mkdir(path.c_str(), 0700));
    }
    path += "/\xf0\x9f\x98\x80";
    ASSERT_EQ(0, close(open(path.c_str(), O_CREAT | O_WRONLY, 0600)));
    std::u16string javaPath = U16(path.substr(0, path.size() - 4)) + u"\U0001F600";
    ASSERT_GT(javaPath.size(), 600u);

    jobject info = natives::GetFileInfo(JStr16(javaPath), JStr("x"), 0);
    ExpectNoException();
    EXPECT_NE(nullptr, info);
    natives::CreateSymbolicLink(JStr16(Dir() + u"long-link"), JStr16(javaPath));
    ExpectNoException();
    jstring target = natives::ReadSymbolicLink(JStr16(Dir() + u"long-link"));
    ExpectNoException();
    ASSERT_NE(nullptr, target);
    EXPECT_EQ(javaPath, StdStr16(target));
}

// ---- The conversion buffers in the call's frame, filled to the last byte ---------
//
// The widest encoding of a path (three bytes per UTF-16 unit) and the widest
// decoding of a name (one unit per byte), each just inside and just past the
// buffer in the call's frame. In the sanitizer build a byte written past a
// buffer ends the run; here every string must also come back unchanged.

// Paths of up to this many UTF-16 units convert in the frame; longer ones on the heap.
constexpr size_t kInlinePathUnits = basefs::JavaPath::kInlineUnits;
// Names (link targets) of up to this many bytes decode in the frame.
constexpr size_t kInlineNameBytes = basefs::kInlineNameBytes;
constexpr size_t kReadBufferSize = 8192;

// U+4E2D, a character of three bytes in UTF-8.
constexpr char16_t kWideChar = u'\u4e2d';
const std::string kWideCharBytes = "\xe4\xb8\xad";
// U+DCFF stands for the raw byte 0xFF, which is not UTF-8.
constexpr char16_t kEscapedByte = u'\xdcff';

std::string Repeat(const std::string &bytes, size_t count)
{
    std::string result;
    for (size_t i = 0; i < count; ++i) {
        result += bytes;
    }
    return result;
}

struct BoundsCase {
    const char *name;
    std::u16string target;      // the link target as Java passes it
    std::string expectedBytes;  // what the file system stores
};

class BufferBoundsTest : public JniBridgePathsTest, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(BufferBoundsTest, LinkTargetRoundTrips)
{
    const BoundsCase &c = GetParam();
    const std::string link = dir_ / "link";

    natives::CreateSymbolicLink(JStr(link.c_str()), JStr16(c.target));
    auto thrown = TakeException();
    ASSERT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;

    std::string stored(kReadBufferSize, '\0');
    const ssize_t length = readlink(link.c_str(), stored.data(), stored.size());
    ASSERT_GE(length, 0);
    stored.resize(static_cast<size_t>(length));
    EXPECT_EQ(c.expectedBytes, stored);

    jstring target = natives::ReadSymbolicLink(JStr(link.c_str()));
    thrown = TakeException();
    ASSERT_FALSE(thrown.has_value()) << thrown->className << ": " << thrown->message;
    ASSERT_NE(nullptr, target);
    EXPECT_EQ(c.target, StdStr16(target));
}

INSTANTIATE_TEST_SUITE_P(
    Widest, BufferBoundsTest,
    ::testing::Values(
        BoundsCase{"PathFillsTheFrameBuffer", std::u16string(kInlinePathUnits, kWideChar),
                   Repeat(kWideCharBytes, kInlinePathUnits)},
        BoundsCase{"PathOneUnitPastTheFrameBuffer", std::u16string(kInlinePathUnits + 1, kWideChar),
                   Repeat(kWideCharBytes, kInlinePathUnits + 1)},
        BoundsCase{"NameFillsTheFrameBuffer", std::u16string(kInlineNameBytes, kEscapedByte),
                   std::string(kInlineNameBytes, '\xff')},
        BoundsCase{"NameOneBytePastTheFrameBuffer", std::u16string(kInlineNameBytes + 1, kEscapedByte),
                   std::string(kInlineNameBytes + 1, '\xff')}),
    [](const ::testing::TestParamInfo<BoundsCase> &info) { return info.param.name; });

} // namespace
