// What the harness's own files share and no test calls: the BaseFileSystem
// class whose natives they call, the way out when the harness cannot go on,
// and reading the exception state after a call.
#pragma once

#include <jni.h>

#include <string>

namespace jvmtest::detail {

// BaseFileSystem as a global reference, loaded when the JVM is made.
extern jclass g_fileSystemClass;

// Ends the process at once, saying `what` on stderr and describing the
// pending exception, if any.
[[noreturn]] void Fail(const std::string &what);

// Reads the exception state after a call, as JNI requires; the exception, if
// any, stays pending for the test to take.
template <typename T>
T Checked(JNIEnv *env, T result)
{
    env->ExceptionCheck();
    return result;
}

} // namespace jvmtest::detail
