// Throwing with an error number told to LastError, for the exceptions
// whose number is not in their message's "[%d]".
#ifndef BASEFS_JAVA_EXCEPTIONS_H
#define BASEFS_JAVA_EXCEPTIONS_H

#include "FileSystemCommon.h"

namespace basefs {

// LastError.record, resolved by nInitStatic where the library's class serves;
// null otherwise.
extern jclass g_ClassLastError;
extern jmethodID g_MethodRecordFailure;

// Throws a new className with `message`, LastError told that its error
// number is `number` (0: none). Throws nothing when an exception is already
// pending; the JVM's own error is pending when the class cannot be found.
void throwWithNumber(JNIEnv *env, const char *className, const char *message, int number);

} // namespace basefs

#endif // BASEFS_JAVA_EXCEPTIONS_H
