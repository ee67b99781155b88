// The two tables through which tests reach every entry point, checked against
// BaseFileSystem itself: the C++ table (EntryPoints.h) has one row per native
// method of the class, each row's function being the one the library exports
// under that method's JNI name; the Java table (com.quenvira.test.NativeMethod,
// used by the stress runner and the OSGi bundle) holds the same methods, by
// name and parameter types.
#include "EntryPoints.h"
#include "JvmHarness.h"

#include <dlfcn.h>

#include <set>
#include <string>

namespace {

using namespace jvmtest;

constexpr const char *kJavaTable = "com/quenvira/test/NativeMethod";
constexpr const char *kJniPrefix = "Java_com_quenvira_internal_io_BaseFileSystem_";
constexpr const char *kLibraryFile = "libbasefs.so";

class EntryPointsTest : public JvmTest {
protected:
    // The result of one of the Java table's static methods.
    jobject CallJavaTable(const char *method, const char *signature)
    {
        jclass table = env()->FindClass(kJavaTable);
        EXPECT_NE(nullptr, table);
        if (table == nullptr) {
            return nullptr;
        }
        jobject result = env()->CallStaticObjectMethod(table, env()->GetStaticMethodID(table, method, signature));
        ExpectNoException();
        env()->DeleteLocalRef(table);
        return result;
    }
};

TEST_F(EntryPointsTest, OneRowPerNativeMethodOfTheClass)
{
    auto declared = static_cast<jobjectArray>(CallJavaTable("declaredNatives", "()[Ljava/lang/String;"));
    ASSERT_NE(nullptr, declared);
    std::set<std::string> natives;
    for (jsize i = 0; i < env()->GetArrayLength(declared); ++i) {
        natives.insert(StdStr(static_cast<jstring>(env()->GetObjectArrayElement(declared, i))));
    }
    EXPECT_EQ(static_cast<size_t>(env()->GetArrayLength(declared)), natives.size()) << "overloaded natives";

    std::set<std::string> rows;
    for (const EntryPoint &entryPoint : kEntryPoints) {
        rows.insert(entryPoint.name);
    }
    EXPECT_EQ(kEntryPointCount, rows.size()) << "a name in two rows";
    EXPECT_EQ(natives.size(), kEntryPointCount);
    EXPECT_EQ(natives, rows);
}

TEST_F(EntryPointsTest, EachRowHoldsTheFunctionOfItsName)
{
    for (const EntryPoint &entryPoint : kEntryPoints) {
        SCOPED_TRACE(entryPoint.name);
        Dl_info info {};
        ASSERT_NE(0, dladdr(reinterpret_cast<void *>(entryPoint.function), &info));
        ASSERT_NE(nullptr, info.dli_sname);
        EXPECT_EQ(std::string(kJniPrefix) + entryPoint.name, info.dli_sname);
        const std::string file = info.dli_fname;
        EXPECT_EQ(kLibraryFile, file.substr(file.rfind('/') + 1));
    }
}

TEST_F(EntryPointsTest, JavaTableHoldsTheNativeMethodsOfTheClass)
{
    auto mismatches = static_cast<jstring>(CallJavaTable("mismatches", "()Ljava/lang/String;"));
    ASSERT_NE(nullptr, mismatches);
    EXPECT_EQ("", StdStr(mismatches));
}

} // namespace
