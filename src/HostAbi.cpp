// The exported helpers that exist for host code alone: hosts built against
// the library's header may call them, the library's entry points do not.
// Their behaviour is fixed; the tests hold them to it.

#include "FileSystemCommon.h"

extern "C" {

void JNU_ThrowInterruptedIOException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/io/InterruptedIOException", message);
}

void JNU_ThrowUnsupportedOperationException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/UnsupportedOperationException", message);
}

jint JNU_CopyObjectArray(JNIEnv *env, jobjectArray dst, jobjectArray src, jint count)
{
    // Room for the one element reference alive at a time.
    if (env->EnsureLocalCapacity(1) < 0) {
        JNU_ThrowOutOfMemoryError(env, "To allocate array for copy");
        return 0;
    }
    for (jint i = 0; i < count; ++i) {
        jobject element = env->GetObjectArrayElement(src, i);
        // A null element is either a real null or an index past the end of src.
        if (element == nullptr && env->ExceptionCheck()) {
            return 0;
        }
        env->SetObjectArrayElement(dst, i, element);
        env->DeleteLocalRef(element);
        // An index past the end of dst or an element dst cannot hold.
        if (env->ExceptionCheck()) {
            return 0;
        }
    }
    return 1;
}

} // extern "C"
