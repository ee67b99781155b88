// BaseFileSystem loaded by two class loaders of one JVM, each from the jars of
// a plain Java application (basefs.jar, the natives jar, basefs-host.jar and
// basefs-eclipse-standin.jar). The class path's loader already holds the
// library of the build tree (named by the library property, cleared here) and
// the JVM lends a library file to one class loader only, so each new loader
// must load a copy of its own from the natives jar, each in a private
// directory of its own. Also the leftovers of loads killed midway, which the
// next load removes unless their lock is held, and the loader's reading of
// java.library.path.
#include "JvmHarness.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

using namespace jvmtest;

constexpr const char *kExtractDirectoryProperty = "com.quenvira.basefs.tmpdir";
constexpr const char *kLibraryProperty = "com.quenvira.basefs.library";
constexpr const char *kLoaderClass = "com/quenvira/internal/io/NativeLibraryLoader";

class ClassLoaderTest : public JvmTest {
protected:
    void SetProperty(const char *name, const std::string &value)
    {
        jclass system = env()->FindClass("java/lang/System");
        ASSERT_NE(nullptr, system);
        jmethodID setProperty = env()->GetStaticMethodID(
            system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
        ASSERT_NE(nullptr, setProperty);
        env()->CallStaticObjectMethod(system, setProperty, JStr(name), JStr(value.c_str()));
        ExpectNoException();
    }

    void ClearProperty(const char *name)
    {
        jclass system = env()->FindClass("java/lang/System");
        ASSERT_NE(nullptr, system);
        jmethodID clearProperty =
            env()->GetStaticMethodID(system, "clearProperty", "(Ljava/lang/String;)Ljava/lang/String;");
        ASSERT_NE(nullptr, clearProperty);
        env()->CallStaticObjectMethod(system, clearProperty, JStr(name));
        ExpectNoException();
    }

    // BaseFileSystem, initialised (so its library loaded) in a new class loader.
    jclass LoadIsolated()
    {
        jclass loader = env()->FindClass("com/quenvira/test/IsolatedLoader");
        jmethodID load = env()->GetStaticMethodID(loader, "load",
                                                  "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/Class;");
        auto loaded = static_cast<jclass>(env()->CallStaticObjectMethod(
            loader, load, JStr(BASEFS_RUNTIME_CLASS_PATH), JStr("com.quenvira.internal.io.BaseFileSystem")));
        ExpectNoException();
        return loaded;
    }

    // NativeLibraryLoader.absoluteElements(libraryPath), as the list's toString().
    std::string AbsoluteElements(const char *libraryPath)
    {
        jclass loader = env()->FindClass(kLoaderClass);
        jmethodID method =
            env()->GetStaticMethodID(loader, "absoluteElements", "(Ljava/lang/String;)Ljava/util/List;");
        EXPECT_NE(nullptr, method);
        jobject list = env()->CallStaticObjectMethod(loader, method, JStr(libraryPath));
        ExpectNoException();
        jmethodID toString = env()->GetMethodID(env()->FindClass("java/lang/Object"), "toString",
                                                "()Ljava/lang/String;");
        auto text = static_cast<jstring>(env()->CallObjectMethod(list, toString));
        ExpectNoException();
        return StdStr(text);
    }

    bool HasRelativeElement(const char *libraryPath)
    {
        jclass loader = env()->FindClass(kLoaderClass);
        jmethodID method = env()->GetStaticMethodID(loader, "hasRelativeElement", "(Ljava/lang/String;)Z");
        EXPECT_NE(nullptr, method);
        jboolean answer = env()->CallStaticBooleanMethod(loader, method, JStr(libraryPath));
        ExpectNoException();
        return answer == JNI_TRUE;
    }

    // A FileChannel holding the lock of `path` in this JVM.
    jobject Lock(const std::string &path)
    {
        jclass holder = env()->FindClass("com/quenvira/test/LockHolder");
        jmethodID lock =
            env()->GetStaticMethodID(holder, "lock", "(Ljava/lang/String;)Ljava/nio/channels/FileChannel;");
        jobject channel = env()->CallStaticObjectMethod(holder, lock, JStr(path.c_str()));
        ExpectNoException();
        return channel;
    }

    void Unlock(jobject channel)
    {
        jclass channelClass = env()->FindClass("java/nio/channels/FileChannel");
        jmethodID close = env()->GetMethodID(channelClass, "close", "()V");
        env()->CallVoidMethod(channel, close);
        ExpectNoException();
    }

    jobject ClassLoaderOf(jclass cls)
    {
        jclass classClass = env()->FindClass("java/lang/Class");
        jmethodID getClassLoader = env()->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;");
        jobject loader = env()->CallObjectMethod(cls, getClassLoader);
        ExpectNoException();
        return loader;
    }
};

// The libraries this process has mapped from files in `directory`, by path.
std::set<std::string> MappedFrom(const std::string &directory)
{
    std::set<std::string> paths;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        size_t start = line.find(directory + "/");
        if (start != std::string::npos) {
            paths.insert(line.substr(start));
        }
    }
    return paths;
}

TEST_F(ClassLoaderTest, EachLoaderLoadsItsOwnCopyFromTheJar)
{
    TempDir extractTo;
    SetProperty(kExtractDirectoryProperty, extractTo.path());
    ClearProperty(kLibraryProperty);
    jclass loaded[] = {LoadIsolated(), LoadIsolated()};
    ASSERT_NE(nullptr, loaded[0]);
    ASSERT_NE(nullptr, loaded[1]);
    EXPECT_FALSE(env()->IsSameObject(loaded[0], loaded[1]));

    for (jclass fileSystem : loaded) {
        jmethodID init = env()->GetStaticMethodID(fileSystem, "nInitStatic", "()V");
        jmethodID getFileInfo = env()->GetStaticMethodID(
            fileSystem, "nGetFileInfo", "(Ljava/lang/String;Ljava/lang/String;I)Lcom/quenvira/io/FileInfo;");
        ASSERT_NE(nullptr, init);
        ASSERT_NE(nullptr, getFileInfo);
        env()->CallStaticVoidMethod(fileSystem, init);
        ExpectNoException();
        jobject info = env()->CallStaticObjectMethod(fileSystem, getFileInfo, JStr("/"), JStr("root"), 0);
        ExpectNoException();
        ASSERT_NE(nullptr, info);
        // Each copy caches the host classes of its own loader.
        jclass infoClass = env()->GetObjectClass(info);
        EXPECT_TRUE(env()->IsSameObject(ClassLoaderOf(fileSystem), ClassLoaderOf(infoClass)));
    }

    // Two copies, each in a directory of its own, both still mapped, both
    // files and directories already deleted.
    std::set<std::string> copies = MappedFrom(extractTo.path());
    EXPECT_EQ(2u, copies.size());
    std::set<std::string> directories;
    for (const std::string &copy : copies) {
        const std::string inside = copy.substr(extractTo.path().size() + 1);
        EXPECT_EQ(0u, inside.find("basefs-")) << copy;
        EXPECT_NE(std::string::npos, inside.find("/libbasefs.so (deleted)")) << copy;
        directories.insert(inside.substr(0, inside.find('/')));
    }
    EXPECT_EQ(2u, directories.size());
    EXPECT_TRUE(std::filesystem::is_empty(extractTo.path()));
}

// A private directory as a JVM killed while loading leaves it: the lock file
// (locked by nobody now) and a part of the copy.
std::string MakeLeftover(const TempDir &parent, const std::string &name)
{
    const std::string directory = parent / name;
    std::filesystem::create_directory(directory);
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all);
    std::ofstream(directory + "/lock").flush();
    std::ofstream(directory + "/libbasefs.so") << "\177ELF";
    return directory;
}

TEST_F(ClassLoaderTest, LeftoversAreRemovedUnlessTheirLockIsHeld)
{
    TempDir extractTo;
    SetProperty(kExtractDirectoryProperty, extractTo.path());
    ClearProperty(kLibraryProperty);
    // Locked by this JVM, as by another class loader that is loading now.
    const std::string held = MakeLeftover(extractTo, "basefs-1-1");
    // Named for this process: its lock file is never opened, since closing any
    // descriptor of a file drops the process's lock on it.
    const std::string ours = MakeLeftover(extractTo, "basefs-" + std::to_string(getpid()) + "-1");
    const std::string left = MakeLeftover(extractTo, "basefs-2-1");
    jobject lock = Lock(held + "/lock");
    ASSERT_NE(nullptr, lock);

    ASSERT_NE(nullptr, LoadIsolated());
    EXPECT_TRUE(std::filesystem::exists(held));
    EXPECT_TRUE(std::filesystem::exists(ours));
    EXPECT_FALSE(std::filesystem::exists(left));

    Unlock(lock);
    ASSERT_NE(nullptr, LoadIsolated());
    EXPECT_FALSE(std::filesystem::exists(held));
    EXPECT_TRUE(std::filesystem::exists(ours));
    EXPECT_EQ(std::set<std::string>{"basefs-" + std::to_string(getpid()) + "-1"}, [&] {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(extractTo.path())) {
            names.insert(entry.path().filename());
        }
        return names;
    }());
}

// java.library.path as the loader walks it: only absolute elements are
// searched, and an empty or relative one (the current directory) is noticed.
TEST_F(ClassLoaderTest, OnlyAbsoluteLibraryPathElementsAreSearched)
{
    struct Case {
        const char *libraryPath;
        const char *absolute;
        bool relative;
    } cases[] = {
        {":/opt/x", "[/opt/x]", true},  // LD_LIBRARY_PATH=:/opt/x
        {"/opt/x:", "[/opt/x]", true},
        {"/a::/b", "[/a, /b]", true},
        {"/a:/b", "[/a, /b]", false},
        {"lib:/a", "[/a]", true},
        {"./lib", "[]", true},
        {"", "[]", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.libraryPath);
        EXPECT_EQ(c.absolute, AbsoluteElements(c.libraryPath));
        EXPECT_EQ(c.relative, HasRelativeElement(c.libraryPath));
    }
}

} // namespace
