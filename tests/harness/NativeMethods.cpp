// The native methods of BaseFileSystem called through their Java
// declarations, each leaving its exception pending for the test to take.
#include "JvmHarness.h"
#include "HarnessInternals.h"

namespace jvmtest {
namespace {

using detail::Checked;
using detail::Fail;
using detail::g_fileSystemClass;

jmethodID StaticMethod(JNIEnv *env, const char *name, const char *signature)
{
    jmethodID method = env->GetStaticMethodID(g_fileSystemClass, name, signature);
    if (method == nullptr) {
        Fail(name);
    }
    return method;
}

} // namespace

namespace natives {

void InitStatic(JNIEnv *env)
{
    static jmethodID m = StaticMethod(env, "nInitStatic", "()V");
    env->CallStaticVoidMethod(g_fileSystemClass, m);
    env->ExceptionCheck();
}

jobject GetFileInfo(jstring path, jstring name, jint infoMask, JNIEnv *env)
{
    static jmethodID m = StaticMethod(env, "nGetFileInfo",
                                      "(Ljava/lang/String;Ljava/lang/String;I)Lcom/quenvira/io/FileInfo;");
    return Checked(env, env->CallStaticObjectMethod(g_fileSystemClass, m, path, name, infoMask));
}

jobjectArray ListFileInfos(jstring path, jint infoMask, jobject monitor, jint checkInterval, JNIEnv *env)
{
    static jmethodID m = StaticMethod(
        env, "nListFileInfos",
        "(Ljava/lang/String;ILorg/eclipse/core/runtime/IProgressMonitor;I)[Lcom/quenvira/io/FileInfo;");
    return static_cast<jobjectArray>(
        Checked(env, env->CallStaticObjectMethod(g_fileSystemClass, m, path, infoMask, monitor, checkInterval)));
}

void SetFileInfo(jstring path, jint infoMask, jlong modified, jlong accessed, jlong created, jint attributes,
                 JNIEnv *env)
{
    static jmethodID m = StaticMethod(env, "nSetFileInfo", "(Ljava/lang/String;IJJJI)V");
    env->CallStaticVoidMethod(g_fileSystemClass, m, path, infoMask, modified, accessed, created, attributes);
    env->ExceptionCheck();
}

jstring ReadSymbolicLink(jstring path, JNIEnv *env)
{
    static jmethodID m = StaticMethod(env, "nReadSymbolicLink", "(Ljava/lang/String;)Ljava/lang/String;");
    return static_cast<jstring>(Checked(env, env->CallStaticObjectMethod(g_fileSystemClass, m, path)));
}

void CreateSymbolicLink(jstring linkPath, jstring targetPath, JNIEnv *env)
{
    static jmethodID m = StaticMethod(env, "nCreateSymbolicLink", "(Ljava/lang/String;Ljava/lang/String;)V");
    env->CallStaticVoidMethod(g_fileSystemClass, m, linkPath, targetPath);
    env->ExceptionCheck();
}

jlong CopyFileCallback(jstring src, jstring dst, jint flags, jobject monitor, JNIEnv *env)
{
    static jmethodID m = StaticMethod(
        env, "nCopyFileCallback",
        "(Ljava/lang/String;Ljava/lang/String;ILcom/quenvira/interfaces/ISyncProgressMonitor;)J");
    return Checked(env, env->CallStaticLongMethod(g_fileSystemClass, m, src, dst, flags, monitor));
}

jboolean CompareByteByByte(jstring file1, jstring file2, jobject monitor, JNIEnv *env)
{
    static jmethodID m = StaticMethod(
        env, "nCompareByteByByte",
        "(Ljava/lang/String;Ljava/lang/String;Lorg/eclipse/core/runtime/IProgressMonitor;)Z");
    return Checked(env, env->CallStaticBooleanMethod(g_fileSystemClass, m, file1, file2, monitor));
}

jobject GetUser(jobject owner, jint uid, JNIEnv *env)
{
    static jmethodID m = StaticMethod(env, "nGetUser", "(Ljava/lang/Object;I)Lcom/quenvira/io/Principal;");
    return Checked(env, env->CallStaticObjectMethod(g_fileSystemClass, m, owner, uid));
}

jobject GetGroup(jobject owner, jint gid, JNIEnv *env)
{
    static jmethodID m = StaticMethod(env, "nGetGroup", "(Ljava/lang/Object;I)Lcom/quenvira/io/Principal;");
    return Checked(env, env->CallStaticObjectMethod(g_fileSystemClass, m, owner, gid));
}

} // namespace natives

} // namespace jvmtest
