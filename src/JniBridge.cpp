// The JNI side of every entry point: the initialisation guard, Java strings
// to paths and back, the monitor check and the array helpers.

#include "JniBridge.h"


namespace {

// Decodes into `units` (room for count units: no byte yields more than one)
// and makes the string.
jstring decodeToString(JNIEnv *env, const char *bytes, size_t count, char16_t *units)
{
    const size_t length = basefs::decodeNameBytes(bytes, count, units);
    return env->NewString(reinterpret_cast<const jchar *>(units), static_cast<jsize>(length));
}

} // namespace

namespace basefs {

jclass g_ClassSystem = nullptr;
jmethodID g_MethodArrayCopy = nullptr;
jclass g_ClassArrays = nullptr;
jmethodID g_MethodArrayFill = nullptr;

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

bool readStringUnits(JNIEnv *env, jstring string, jsize count, char16_t *units)
{
    // GetStringRegion throws before it writes anything, so only a first unit
    // still unwritten calls for the exception check (U+FFFF is a noncharacter:
    // a string that really begins with it merely pays for the check).
    constexpr char16_t kUnwritten = 0xFFFF;
    units[0] = kUnwritten;
    env->GetStringRegion(string, 0, count, reinterpret_cast<jchar *>(units));
    return units[0] != kUnwritten || !env->ExceptionCheck();
}

JavaPath::JavaPath(JNIEnv *env, jstring string)
{
    const auto count = static_cast<size_t>(env->GetStringLength(string));
    char16_t *units = inlineUnits_;
    char *bytes = inlineBytes_;
    if (count > kInlineUnits) {
        const size_t unitBytes = count * sizeof(char16_t);
        heap_ = std::malloc(unitBytes + count * kMaxBytesPerJavaChar + 1);
        if (heap_ == nullptr) {
            JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for path");
            return;
        }
        units = static_cast<char16_t *>(heap_);
        bytes = static_cast<char *>(heap_) + unitBytes;
    }
    // The region is the whole string, so it cannot be out of bounds; should
    // the JVM throw all the same, the buffer holds nothing to convert.
    if (count > 0 && !readStringUnits(env, string, static_cast<jsize>(count), units)) {
        return;
    }
    length_ = encodeJavaChars(units, count, bytes);
    bytes_ = bytes;
}

jstring newJavaString(JNIEnv *env, const char *bytes, size_t count)
{
    if (count <= kInlineNameBytes) {
        char16_t units[kInlineNameBytes];
        return decodeToString(env, bytes, count, units);
    }
    HeapBuffer<char16_t> units(count);
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
