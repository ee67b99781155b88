// The bridge core: the cache of host classes and method identifiers, the
// one-time initialisation that fills it, the initialisation guard, and the
// helpers that throw named Java exceptions.

#include "FileSystemInternal.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <climits>

extern "C" {

jint g_InitRes = INIT_NOT_RUN;
jclass g_ClassFileInfo = nullptr;
jmethodID g_MethodFileInfoConstruct = nullptr;
jclass g_ClassFileInfoEx = nullptr;
jmethodID g_MethodFileInfoExConstruct = nullptr;
jclass g_ClassMonitorOrg = nullptr;
jmethodID g_MethodMonitorCancel = nullptr;
jclass g_ClassMonitorSync = nullptr;
jmethodID g_MethodMonitorProgressSync = nullptr;
jclass g_ClassUrlEx = nullptr;
jmethodID g_MethodUrlExConstruct = nullptr;
jclass g_ClassPrincipal = nullptr;
jmethodID g_MethodPrincipalConstruct = nullptr;

void JNU_ThrowByName(JNIEnv *env, const char *className, const char *message)
{
    // The first exception of a call is the one the caller must see.
    if (env->ExceptionCheck()) {
        return;
    }
    jclass cls = env->FindClass(className);
    if (cls == nullptr) {
        return; // the JVM's NoClassDefFoundError is pending
    }
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

void JNU_ThrowNullPointerException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/NullPointerException", message);
}

void JNU_ThrowIllegalArgumentException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/IllegalArgumentException", message);
}

void JNU_ThrowIllegalStateException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/IllegalStateException", message);
}

void JNU_ThrowOutOfMemoryError(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/lang/OutOfMemoryError", message);
}

void JNU_ThrowIOException(JNIEnv *env, const char *message)
{
    JNU_ThrowByName(env, "java/io/IOException", message);
}

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

namespace {

// Resolves one host class and one of its methods into a pair of globals.
// Returns false with an exception pending (the JVM's own when it has one),
// except when NewGlobalRef fails, which throws nothing.
bool JNI_InitMethodID(JNIEnv *env, const char *className, const char *methodName,
                      const char *signature, jclass *outClass, jmethodID *outMethod)
{
    if (env->EnsureLocalCapacity(1) < 0) {
        return false; // the JVM's OutOfMemoryError is pending
    }
    jclass cls = env->FindClass(className);
    if (cls == nullptr) {
        JNU_ThrowIllegalStateException(env, "Cannot find class");
        return false;
    }
    jmethodID method = env->GetMethodID(cls, methodName, signature);
    if (method == nullptr) {
        JNU_ThrowIllegalStateException(env, "Cannot find method");
        return false;
    }
    auto global = static_cast<jclass>(env->NewGlobalRef(cls));
    if (global == nullptr) {
        return false;
    }
    env->DeleteLocalRef(cls);
    *outClass = global;
    *outMethod = method;
    return true;
}

struct HostMember {
    const char *className;
    const char *methodName;
    const char *signature;
    jclass *outClass;
    jmethodID *outMethod;
};

// Resolved in this order; the first failure stops initialisation.
const HostMember kHostMembers[] = {
    {"com/quenvira/io/FileInfo", "<init>", "(Ljava/lang/String;IJJ)V",
     &g_ClassFileInfo, &g_MethodFileInfoConstruct},
    {"com/quenvira/io/FileInfoEx", "<init>", "(Ljava/lang/String;IJJJJII)V",
     &g_ClassFileInfoEx, &g_MethodFileInfoExConstruct},
    {"org/eclipse/core/runtime/IProgressMonitor", "isCanceled", "()Z",
     &g_ClassMonitorOrg, &g_MethodMonitorCancel},
    {"com/quenvira/interfaces/ISyncProgressMonitor", "bytesTransferred", "(J)Z",
     &g_ClassMonitorSync, &g_MethodMonitorProgressSync},
    {"com/quenvira/io/UrlEx", "<init>", "(Ljava/lang/String;J)V",
     &g_ClassUrlEx, &g_MethodUrlExConstruct},
    {"com/quenvira/io/Principal", "<init>", "(Ljava/lang/Object;Ljava/lang/String;)V",
     &g_ClassPrincipal, &g_MethodPrincipalConstruct},
};

// Decodes into `units` (room for count units: no byte yields more than one)
// and makes the string.
jstring decodeToString(JNIEnv *env, const char *bytes, size_t count, jchar *units)
{
    const size_t length = basefs::decodeNameBytes(bytes, count, units);
    return env->NewString(units, static_cast<jsize>(length));
}

// java.lang.System.arraycopy, which moves a whole range of references in one
// call (JNI itself copies object arrays one element, three calls, at a time),
// and java.util.Arrays.fill, which empties a discarded array in one call.
jclass g_ClassSystem = nullptr;
jmethodID g_MethodArrayCopy = nullptr;
jclass g_ClassArrays = nullptr;
jmethodID g_MethodArrayFill = nullptr;

// Resolves one static method into a pair of file-local globals. Returns false
// with the JVM's exception pending, except when NewGlobalRef fails, which
// throws nothing.
bool initStaticMethod(JNIEnv *env, const char *className, const char *name, const char *signature,
                      jclass *outClass, jmethodID *outMethod)
{
    basefs::LocalRef<jclass> cls(env, env->FindClass(className));
    if (cls.get() == nullptr) {
        return false;
    }
    jmethodID method = env->GetStaticMethodID(cls.get(), name, signature);
    if (method == nullptr) {
        return false;
    }
    *outClass = static_cast<jclass>(env->NewGlobalRef(cls.get()));
    *outMethod = method;
    return *outClass != nullptr;
}

bool initArrayHelpers(JNIEnv *env)
{
    return initStaticMethod(env, "java/lang/System", "arraycopy", "(Ljava/lang/Object;ILjava/lang/Object;II)V",
                            &g_ClassSystem, &g_MethodArrayCopy) &&
           initStaticMethod(env, "java/util/Arrays", "fill", "([Ljava/lang/Object;IILjava/lang/Object;)V",
                            &g_ClassArrays, &g_MethodArrayFill);
}

} // namespace

namespace basefs {

bool copyArrayElements(JNIEnv *env, jobjectArray dst, jobjectArray src, jsize count)
{
    env->CallStaticVoidMethod(g_ClassSystem, g_MethodArrayCopy, src, 0, dst, 0, count);
    return !env->ExceptionCheck();
}

bool clearArrayElements(JNIEnv *env, jobjectArray array, jsize count)
{
    env->CallStaticVoidMethod(g_ClassArrays, g_MethodArrayFill, array, 0, count, nullptr);
    return !env->ExceptionCheck();
}

bool readStringUnits(JNIEnv *env, jstring string, jsize count, jchar *units)
{
    // GetStringRegion throws before it writes anything, so only a first unit
    // still unwritten calls for the exception check (U+FFFF is a noncharacter:
    // a string that really begins with it merely pays for the check).
    constexpr jchar kUnwritten = 0xFFFF;
    units[0] = kUnwritten;
    env->GetStringRegion(string, 0, count, units);
    return units[0] != kUnwritten || !env->ExceptionCheck();
}

bool ensureInitialized(JNIEnv *env)
{
    // Pairs with the release store in nInitStatic: a thread that sees the
    // ready state also sees every cached class and method.
    if (__atomic_load_n(&g_InitRes, __ATOMIC_ACQUIRE) == INIT_READY) {
        return true;
    }
    JNU_ThrowIllegalStateException(env, "Not initialized");
    return false;
}

JavaPath::JavaPath(JNIEnv *env, jstring string)
{
    const auto count = static_cast<size_t>(env->GetStringLength(string));
    jchar *chars = inlineChars_;
    char *bytes = inlineBytes_;
    if (count > kInlineChars) {
        const size_t charBytes = count * sizeof(jchar);
        heap_ = std::malloc(charBytes + count * kMaxBytesPerJavaChar + 1);
        if (heap_ == nullptr) {
            JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for path");
            return;
        }
        chars = static_cast<jchar *>(heap_);
        bytes = static_cast<char *>(heap_) + charBytes;
    }
    // The region is the whole string, so it cannot be out of bounds; should
    // the JVM throw all the same, the buffer holds nothing to convert.
    if (count > 0 && !readStringUnits(env, string, static_cast<jsize>(count), chars)) {
        return;
    }
    length_ = encodeJavaChars(chars, count, bytes);
    bytes_ = bytes;
}

jstring newJavaString(JNIEnv *env, const char *bytes, size_t count)
{
    // A name (at most NAME_MAX bytes) decodes in the frame; link targets and
    // other long strings take a heap block.
    constexpr size_t kInlineUnits = NAME_MAX + 1;
    if (count <= kInlineUnits) {
        jchar units[kInlineUnits];
        return decodeToString(env, bytes, count, units);
    }
    HeapBuffer<jchar> units(count);
    if (units.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for name");
        return nullptr;
    }
    return decodeToString(env, bytes, count, units.get());
}

bool checkMonitor(JNIEnv *env, jobject monitor, jclass monitorClass)
{
    if (monitor == nullptr || env->IsInstanceOf(monitor, monitorClass)) {
        return true;
    }
    JNU_ThrowIllegalArgumentException(env, "Invalid progress monitor");
    return false;
}

} // namespace basefs

extern "C" JNIEXPORT void JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nInitStatic(JNIEnv *env, jclass)
{
    // Runs at most once per process; a failed initialisation is never retried.
    if (g_InitRes != INIT_NOT_RUN) {
        return;
    }
    for (const HostMember &member : kHostMembers) {
        if (!JNI_InitMethodID(env, member.className, member.methodName, member.signature,
                              member.outClass, member.outMethod)) {
            __atomic_store_n(&g_InitRes, INIT_FAILED, __ATOMIC_RELEASE);
            return;
        }
    }
    const bool ready = initArrayHelpers(env);
    __atomic_store_n(&g_InitRes, ready ? INIT_READY : INIT_FAILED, __ATOMIC_RELEASE);
}
