// BaseFileSystem loaded by two class loaders of one JVM, each from the jars of
// a plain Java application (basefs.jar, the natives jar, basefs-host.jar and
// basefs-eclipse-standin.jar). The class path's loader already holds the
// library of the build tree (named by the library property, cleared here) and
// the JVM lends a library file to one class loader only, so each new loader
// must load a copy of its own from the natives jar, each in a private
// directory of its own.
#include "JvmHarness.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

using namespace jvmtest;

constexpr const char *kExtractDirectoryProperty = "com.quenvira.basefs.tmpdir";
constexpr const char *kLibraryProperty = "com.quenvira.basefs.library";

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

} // namespace
