// The conversion of path arguments, which every entry point starts with, made
// to fail in each entry point in turn: JNI's GetStringRegion failing through a
// replaced function table (JniFaults.h), and the heap buffer of a long path
// refused or followed until it is freed (CLibraryFaults.h). After each: the
// exception expected, the neutral result the entry point returns with it (the
// entry points are called directly: a Java caller never sees a result returned
// along with an exception), nothing created or changed on disk, no descriptor
// or heap block left behind, and no -Xcheck:jni warning (the fixture fails the
// test on one, e.g. for a JNI call made while the exception is pending). The
// failures of one room's own calls are in that room's test file.
#include "EntryPointFixture.h"
#include "EntryPoints.h"
#include "JvmHarness.h"

#include "JniBridge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

using namespace jvmtest;
using namespace jvmtest::faults;

// Strings of up to this many UTF-16 units are converted without allocating.
constexpr size_t kInlinePathUnits = basefs::JavaPath::kInlineUnits;
constexpr size_t kLongPathUnits = kInlinePathUnits + 88;
constexpr size_t kMaxBytesPerUnit = basefs::kMaxBytesPerJavaChar;

// The one heap block a path of `units` UTF-16 units beyond the inline ones
// takes: the units and their bytes with the terminating NUL.
size_t PathBufferSize(size_t units) { return units * sizeof(jchar) + units * kMaxBytesPerUnit + 1; }

class FaultTest : public EntryPointFaultTest {
protected:
    // A valid value for string argument `index` of the entry point: the file
    // to work on, or where the call would create something.
    jstring ValidString(const EntryPoint &entryPoint, int index)
    {
        switch (entryPoint.strings[index]) {
        case StringArgument::kNone:
            return nullptr;
        case StringArgument::kName:
            return J("file");
        case StringArgument::kPath:
        case StringArgument::kLinkText:
            break;
        }
        return J(index == entryPoint.created ? Created() : file_);
    }

    // Calls the entry point with string argument `index` given `string`;
    // true when it returned its neutral result and nothing was created.
    bool CallWith(const EntryPoint &entryPoint, int index, jstring string)
    {
        jstring strings[2] = {ValidString(entryPoint, 0), ValidString(entryPoint, 1)};
        strings[index] = string;
        return entryPoint.call(env(), strings[0], strings[1], nullptr) && !Exists(Created());
    }

    // The file left as it was made (a time of 0 is what the calls would set).
    void ExpectFileUntouched()
    {
        struct stat st {};
        ASSERT_EQ(0, lstat(file_.c_str(), &st));
        EXPECT_EQ(0644u, st.st_mode & 07777);
        EXPECT_NE(0, st.st_mtime);
        EXPECT_EQ("contents", ReadFileContents(file_));
    }

    std::string Created() const { return dir_ / "created"; }
};

TEST_F(FaultTest, GetStringRegionFailingStopsEveryEntryPoint)
{
    int cases = 0;
    for (const EntryPoint &entryPoint : kEntryPoints) {
        for (int index = 0; index < 2; ++index) {
            if (entryPoint.strings[index] == StringArgument::kNone) {
                continue;
            }
            SCOPED_TRACE(std::string(entryPoint.name) + " " + entryPoint.stringNames[index]);
            ++cases;
            bool neutral = false;
            {
                // The strings are converted in order: the failing one is the index-th.
                jstring string = ValidString(entryPoint, index);
                FailJniCall fault(JniFunction::kGetStringRegion, index + 1);
                neutral = CallWith(entryPoint, index, string);
                EXPECT_TRUE(fault.fired());
            }
            EXPECT_TRUE(neutral);
            ExpectThrown("java.lang.StringIndexOutOfBoundsException");
            ExpectFileUntouched();
            ExpectNoDescriptorLeft();
        }
    }
    EXPECT_EQ(11, cases);
}

TEST_F(FaultTest, HeapBufferOfALongPathFailing)
{
    const std::string longPath = dir_.path() + "/" + std::string(kLongPathUnits, 'p');
    ASSERT_GT(longPath.size(), kInlinePathUnits);
    int cases = 0;
    for (const EntryPoint &entryPoint : kEntryPoints) {
        for (int index = 0; index < 2; ++index) {
            const StringArgument kind = entryPoint.strings[index];
            if (kind != StringArgument::kPath && kind != StringArgument::kLinkText) {
                continue;
            }
            SCOPED_TRACE(std::string(entryPoint.name) + " " + entryPoint.stringNames[index]);
            ++cases;
            bool neutral = false;
            {
                jstring string = J(longPath);
                FailAllocation fault(PathBufferSize(longPath.size()));
                neutral = CallWith(entryPoint, index, string);
                EXPECT_TRUE(fault.fired());
            }
            EXPECT_TRUE(neutral);
            EXPECT_FALSE(Exists(longPath));
            ExpectThrown(kOutOfMemoryError, "Cannot allocate buffer for path");
            ExpectFileUntouched();
            ExpectNoDescriptorLeft();
        }
    }
    EXPECT_EQ(10, cases);
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
        {"nGetFileInfo", longFile, 1, [&] { direct::GetFileInfo(J(longFile), J("file"), 0); }, nullptr},
        {"nGetFileInfo, missing", missing, 1, [&] { direct::GetFileInfo(J(missing), J("missing"), 0); },
         kIOException},
        {"nListFileInfos", listed, 1, [&] { direct::ListFileInfos(J(listed)); }, nullptr},
        {"nListFileInfos, not a directory", longFile, 1, [&] { direct::ListFileInfos(J(longFile)); },
         kIOException},
        {"nCompareByteByByte", longFile, 2, [&] { direct::CompareByteByByte(J(longFile), J(longFile)); }, nullptr},
        {"nCompareByteByByte, missing", missing, 1,
         [&] { direct::CompareByteByByte(J(longFile), J(missing)); }, kIOException},
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

} // namespace
