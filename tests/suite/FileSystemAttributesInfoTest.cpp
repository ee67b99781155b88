// One file's record (nGetFileInfo): the type and hidden bits, the size, the
// name object, and the failures, injected ones included; an lstat failing in
// each call of this room. The permission map and the info mask are
// FileRecordsTest's, the times FileSystemAttributesTimesTest's.
#include "EntryPointFixture.h"
#include "JvmHarness.h"
#include "RecordChecks.h"

#include "FileSystemCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace {

using namespace jvmtest;

constexpr jint kAllPermissions = ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE | ATTR_GROUP_READ |
                                 ATTR_GROUP_WRITE | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_WRITE |
                                 ATTR_OTHERS_EXECUTE;

class FileSystemAttributesInfoTest : public JvmTest {
protected:
    // nGetFileInfo, expecting null and an exception.
    ThrownException Failure(jstring path, jstring name)
    {
        EXPECT_EQ(nullptr, natives::GetFileInfo(path, name, 0));
        auto thrown = TakeException();
        EXPECT_TRUE(thrown.has_value());
        return thrown.value_or(ThrownException{});
    }

    TempDir dir_;
};

TEST_F(FileSystemAttributesInfoTest, RegularFile)
{
    std::string path = dir_.WriteFile("data.bin", std::string(1234, 'x'));
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    SetTimes(path, 1000000000, 1600000000, 999999999); // the fraction is dropped

    Record record = Info(path, "data.bin", 0);
    EXPECT_FALSE(record.extended);
    EXPECT_EQ("data.bin", record.name);
    EXPECT_EQ(ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_GROUP_READ, record.attributes);
    EXPECT_EQ(1234, record.size);
    EXPECT_EQ(1600000000000LL, record.modified);
}

TEST_F(FileSystemAttributesInfoTest, RecordNameIsTheCallersOwnString)
{
    std::string path = dir_.WriteFile("f", "");
    jstring name = JStr("any name");
    jobject info = natives::GetFileInfo(JStr(path.c_str()), name, 0x78);
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(env()->IsSameObject(name, RecordName(info)));
}

TEST_F(FileSystemAttributesInfoTest, HiddenDirectoryHasNoSize)
{
    std::string path = dir_ / ".config";
    ASSERT_EQ(0, mkdir(path.c_str(), 0755));
    Record record = Info(path, ".config", 0);
    EXPECT_EQ(ATTR_DIRECTORY | ATTR_HIDDEN | ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_OWNER_EXECUTE |
                  ATTR_GROUP_READ | ATTR_GROUP_EXECUTE | ATTR_OTHERS_READ | ATTR_OTHERS_EXECUTE,
              record.attributes);
    EXPECT_EQ(0, record.size);
}

TEST_F(FileSystemAttributesInfoTest, SymbolicLinkToDirectoryIsTheLinkItself)
{
    std::string target = dir_ / "target-directory";
    ASSERT_EQ(0, mkdir(target.c_str(), 0700));
    std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));

    Record record = Info(link, "link", 0);
    EXPECT_EQ(ATTR_SYMLINK | kAllPermissions, record.attributes);
    EXPECT_EQ(static_cast<jlong>(target.size()), record.size);
}

TEST_F(FileSystemAttributesInfoTest, HiddenBitComesFromTheNameNotThePath)
{
    std::string path = dir_.WriteFile(".x", "");
    EXPECT_EQ(0, Info(path, "x", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(0, Info(path, "", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(ATTR_HIDDEN, Info(path, ".x", 0).attributes & ATTR_HIDDEN);
    EXPECT_EQ(ATTR_HIDDEN, Info(dir_ / ".", "..", 0).attributes & ATTR_HIDDEN);
}

TEST_F(FileSystemAttributesInfoTest, OtherFileTypesCarryNoTypeBit)
{
    std::string fifo = dir_ / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(ATTR_OWNER_READ | ATTR_OWNER_WRITE, Info(fifo, "fifo", 0).attributes);
    // A character device: only its permission bits (0666).
    EXPECT_EQ(ATTR_OWNER_READ | ATTR_OWNER_WRITE | ATTR_GROUP_READ | ATTR_GROUP_WRITE | ATTR_OTHERS_READ |
                  ATTR_OTHERS_WRITE,
              Info("/dev/null", "null", 0).attributes);
}

TEST_F(FileSystemAttributesInfoTest, MissingPath)
{
    ThrownException thrown = Failure(JStr((dir_ / "missing").c_str()), JStr("missing"));
    EXPECT_EQ("java.io.IOException", thrown.className);
    EXPECT_EQ("Path does not exist [2]", thrown.message);
}

TEST_F(FileSystemAttributesInfoTest, PathThroughANonDirectory)
{
    std::string file = dir_.WriteFile("file", "");
    ThrownException thrown = Failure(JStr((file + "/x").c_str()), JStr("x"));
    EXPECT_EQ("Not a directory [20]", thrown.message);
}

TEST_F(FileSystemAttributesInfoTest, NullArgumentsInOrder)
{
    ThrownException thrown = Failure(nullptr, nullptr);
    EXPECT_EQ("java.lang.NullPointerException", thrown.className);
    EXPECT_EQ("path", thrown.message);
    thrown = Failure(JStr("/"), nullptr);
    EXPECT_EQ("java.lang.NullPointerException", thrown.className);
    EXPECT_EQ("name", thrown.message);
    thrown = Failure(nullptr, JStr("x"));
    EXPECT_EQ("path", thrown.message);
}

// ---- Failures injected ----------------------------------------------------------

class FileSystemAttributesFaultTest : public EntryPointFaultTest {};

// Records are built with NewObjectA through JNI, or by one upcall to the
// library's factory in compiled Java.
TEST_F(FileSystemAttributesFaultTest, NewObjectFailingForTheRecord)
{
    {
        faults::FailJniCall fault(RecordsMadeInJava() ? faults::JniFunction::kCallStaticObjectMethodA
                                                      : faults::JniFunction::kNewObjectA,
                                  1);
        EXPECT_EQ(nullptr, direct::GetFileInfo(J(file_), J("file"), INFO_ACCESSED | INFO_OWNER | INFO_GROUP));
        EXPECT_TRUE(fault.fired());
    }
    ExpectInjectedOutOfMemory();
    ExpectNoDescriptorLeft();
}

TEST_F(FileSystemAttributesFaultTest, LstatFailingForASingleFile)
{
    const std::string link = dir_ / "link";
    ASSERT_EQ(0, symlink("file", link.c_str()));
    jstring file = J(file_);
    jstring linkPath = J(link);
    const struct {
        const char *label;
        std::function<bool()> call; // true when it returned its neutral result and changed nothing
    } cases[] = {
        {"nGetFileInfo", [&] { return direct::GetFileInfo(file, J("file"), 0) == nullptr; }},
        {"nReadSymbolicLink", [&] { return direct::ReadSymbolicLink(linkPath) == nullptr; }},
        // Setting one time only reads the other first.
        {"nSetFileInfo",
         [&] {
             direct::SetFileInfo(file, INFO_MODIFIED, 0, 0, 0);
             struct stat st {};
             return stat(file_.c_str(), &st) == 0 && st.st_mtime != 0;
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        bool neutral = false;
        {
            faults::FailCCall fault(faults::CFunction::kLstat, 1, EIO);
            neutral = c.call();
            EXPECT_EQ(1, fault.calls());
        }
        EXPECT_TRUE(neutral);
        ExpectThrown(kIOException, "An I/O error occurred [5]");
    }
    ExpectNoDescriptorLeft();
}

} // namespace
