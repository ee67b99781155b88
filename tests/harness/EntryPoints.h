// The entry points of the library, one row per native method of
// com.quenvira.internal.io.BaseFileSystem: its name, the exported function
// javac's header declares for it (a native renamed or retyped in Java no
// longer compiles here), what its string arguments are, and a direct call of
// it. The suites that must reach every entry point (the uninitialised library,
// leaks, descriptors, bad input, path faults) take their rows from here and
// add their own expectations; EntryPointsTest checks the rows against the
// class. Also the entry points called directly, one typed helper each: the
// result each returns along with an exception is seen too, which a Java
// caller never sees.
#pragma once

#include "JvmHarness.h"

#include "FileSystemCommon.h"
#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <jni.h>

#include <cstddef>
#include <iterator>
#include <ostream>
#include <string>

namespace jvmtest {

namespace direct {

inline void InitStatic(JNIEnv *env = Env())
{
    Java_com_quenvira_internal_io_BaseFileSystem_nInitStatic(env, nullptr);
}
inline jobject GetFileInfo(jstring path, jstring name, jint infoMask, JNIEnv *env = Env())
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nGetFileInfo(env, nullptr, path, name, infoMask);
}
inline jobjectArray ListFileInfos(jstring path, jint infoMask = 0, jobject monitor = nullptr, jint checkInterval = 0,
                                  JNIEnv *env = Env())
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos(env, nullptr, path, infoMask, monitor,
                                                                       checkInterval);
}
inline void SetFileInfo(jstring path, jint infoMask, jlong modified, jlong accessed, jint attributes,
                        JNIEnv *env = Env())
{
    Java_com_quenvira_internal_io_BaseFileSystem_nSetFileInfo(env, nullptr, path, infoMask, modified, accessed, 0,
                                                              attributes);
}
inline jstring ReadSymbolicLink(jstring path, JNIEnv *env = Env())
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nReadSymbolicLink(env, nullptr, path);
}
inline void CreateSymbolicLink(jstring linkPath, jstring targetPath, JNIEnv *env = Env())
{
    Java_com_quenvira_internal_io_BaseFileSystem_nCreateSymbolicLink(env, nullptr, linkPath, targetPath);
}
inline jlong CopyFileCallback(jstring src, jstring dst, jint flags = 0, jobject monitor = nullptr,
                              JNIEnv *env = Env())
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback(env, nullptr, src, dst, flags, monitor);
}
inline jboolean CompareByteByByte(jstring file1, jstring file2, jobject monitor = nullptr, JNIEnv *env = Env())
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte(env, nullptr, file1, file2, monitor);
}
inline jobject GetUser(jobject owner, jint uid, JNIEnv *env = Env())
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nGetUser(env, nullptr, owner, uid);
}
inline jobject GetGroup(jobject owner, jint gid, JNIEnv *env = Env())
{
    return Java_com_quenvira_internal_io_BaseFileSystem_nGetGroup(env, nullptr, owner, gid);
}

} // namespace direct

// What one string argument of an entry point is to the library.
enum class StringArgument {
    kNone,     // no string argument in this place
    kPath,     // a path the system resolves
    kName,     // stored in the record only (and tested for a leading dot)
    kLinkText, // a link's target: text, limited only by the length of a whole path
};

// The mask of nSetFileInfo in a row's call: every bit that sets something.
inline constexpr jint kEverySetting = INFO_MODIFIED | INFO_ACCESSED | INFO_ATTRIBUTES;

struct EntryPoint {
    const char *name;                // the Java method's name
    void (*function)();              // its exported function
    StringArgument strings[2];       // its string arguments, in order
    const char *stringNames[2];      // as the Java declaration names them
    int created;                     // the string argument naming what the call creates, or -1
    bool takesMonitor;
    // Calls the function directly with `first` and `second` as its string
    // arguments and `monitor` as its monitor, where it has them; every other
    // argument makes the call act on its paths: a mask of 0 for records,
    // kEverySetting with times and attributes 0, no copy flag, ID 0 and no
    // owner. True when it returned its neutral result: null, 0 or false
    // (always for a void entry point).
    bool (*call)(JNIEnv *env, jstring first, jstring second, jobject monitor);
};

// Only the function's address is kept; the rows call it by name.
template <typename Function>
void (*AddressOf(Function *function))()
{
    return reinterpret_cast<void (*)()>(function);
}

inline const EntryPoint kEntryPoints[] = {
    {"nInitStatic", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nInitStatic),
     {StringArgument::kNone, StringArgument::kNone}, {nullptr, nullptr}, -1, false,
     [](JNIEnv *env, jstring, jstring, jobject) {
         direct::InitStatic(env);
         return true;
     }},
    {"nGetFileInfo", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nGetFileInfo),
     {StringArgument::kPath, StringArgument::kName}, {"path", "name"}, -1, false,
     [](JNIEnv *env, jstring path, jstring name, jobject) {
         return direct::GetFileInfo(path, name, 0, env) == nullptr;
     }},
    {"nListFileInfos", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos),
     {StringArgument::kPath, StringArgument::kNone}, {"path", nullptr}, -1, true,
     [](JNIEnv *env, jstring path, jstring, jobject monitor) {
         return direct::ListFileInfos(path, 0, monitor, 0, env) == nullptr;
     }},
    {"nSetFileInfo", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nSetFileInfo),
     {StringArgument::kPath, StringArgument::kNone}, {"path", nullptr}, -1, false,
     [](JNIEnv *env, jstring path, jstring, jobject) {
         direct::SetFileInfo(path, kEverySetting, 0, 0, 0, env);
         return true;
     }},
    {"nReadSymbolicLink", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nReadSymbolicLink),
     {StringArgument::kPath, StringArgument::kNone}, {"path", nullptr}, -1, false,
     [](JNIEnv *env, jstring path, jstring, jobject) { return direct::ReadSymbolicLink(path, env) == nullptr; }},
    {"nCreateSymbolicLink", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nCreateSymbolicLink),
     {StringArgument::kPath, StringArgument::kLinkText}, {"linkPath", "targetPath"}, 0, false,
     [](JNIEnv *env, jstring linkPath, jstring targetPath, jobject) {
         direct::CreateSymbolicLink(linkPath, targetPath, env);
         return true;
     }},
    {"nCopyFileCallback", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nCopyFileCallback),
     {StringArgument::kPath, StringArgument::kPath}, {"src", "dst"}, 1, true,
     [](JNIEnv *env, jstring src, jstring dst, jobject monitor) {
         return direct::CopyFileCallback(src, dst, 0, monitor, env) == 0;
     }},
    {"nCompareByteByByte", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nCompareByteByByte),
     {StringArgument::kPath, StringArgument::kPath}, {"file1", "file2"}, -1, true,
     [](JNIEnv *env, jstring file1, jstring file2, jobject monitor) {
         return direct::CompareByteByByte(file1, file2, monitor, env) == JNI_FALSE;
     }},
    {"nGetUser", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nGetUser),
     {StringArgument::kNone, StringArgument::kNone}, {nullptr, nullptr}, -1, false,
     [](JNIEnv *env, jstring, jstring, jobject) { return direct::GetUser(nullptr, 0, env) == nullptr; }},
    {"nGetGroup", AddressOf(Java_com_quenvira_internal_io_BaseFileSystem_nGetGroup),
     {StringArgument::kNone, StringArgument::kNone}, {nullptr, nullptr}, -1, false,
     [](JNIEnv *env, jstring, jstring, jobject) { return direct::GetGroup(nullptr, 0, env) == nullptr; }},
};

inline constexpr size_t kEntryPointCount = std::size(kEntryPoints);

// The rows as gtest parameters, named by the entry point.
inline void PrintTo(const EntryPoint &entryPoint, std::ostream *out) { *out << entryPoint.name; }
inline std::string EntryPointName(const ::testing::TestParamInfo<EntryPoint> &info) { return info.param.name; }

} // namespace jvmtest
