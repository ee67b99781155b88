// File names that modified UTF-8 gets wrong: characters outside the Basic
// Multilingual Plane, bytes that are not UTF-8, U+0000 and long paths. Every
// name must reach the system with its own bytes and come back unchanged.
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

TEST_F(JniBridgePathsTest, BytesThatAreNotUtf8)
{
    dir_.WriteFile(kLatin1Bytes, "latin");
    jobject info = natives::GetFileInfo(JStr16(Dir() + kLatin1Name), JStr16(kLatin1Name), 0);
    ExpectNoException();
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(5, ReadRecord(info).size);

    EXPECT_EQ(5, natives::CopyFileCallback(JStr16(Dir() + kLatin1Name), JStr16(Dir() + u"copy"), 0, nullptr));
    ExpectNoException();
    EXPECT_EQ("latin", ReadFileContents(dir_ / "copy"));

    ASSERT_EQ(0, symlink(kLatin1Bytes.c_str(), (dir_ / "link").c_str()));
    jstring read = natives::ReadSymbolicLink(JStr16(Dir() + u"link"));
    ExpectNoException();
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(kLatin1Name, StdStr16(read));
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
// UTF-8 gives them, U+0000 included: a path is never cut short at it.
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
    // The prefix before U+0000 exists too, and must not be what is found.
    dir_.WriteFile("prefix", "");
    EXPECT_EQ(nullptr, natives::GetFileInfo(JStr16(Dir() + std::u16string(u"prefix\0more", 11)), JStr("p"), 0));
    auto thrown = TakeException();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ("Path does not exist [2]", thrown->message);
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

} // namespace
