// The JNI side of every entry point: the prologue each one starts with (the
// initialisation guard, the null checks, the monitor check, the path
// conversions), Java strings to paths and back, local references released on
// scope exit, and the array helpers of the listing. Nothing here is exported.
#ifndef BASEFS_JNI_BRIDGE_H
#define BASEFS_JNI_BRIDGE_H

#include "FileSystemCommon.h"
#include "Holders.h"
#include "NameCodec.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <initializer_list>
#include <new>

namespace basefs {

static_assert(sizeof(jchar) == sizeof(char16_t), "a Java string's units are UTF-16 code units");

// A JNI local reference deleted on scope exit (unless released to the caller).
template <typename T>
class LocalRef : NonCopyable {
public:
    LocalRef(JNIEnv *env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() { reset(); }
    T get() const { return ref_; }
    T release()
    {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }
    void reset(T ref = nullptr)
    {
        if (ref_ != nullptr) {
            env_->DeleteLocalRef(ref_);
        }
        ref_ = ref;
    }

private:
    JNIEnv *env_;
    T ref_;
};

// Throws IllegalStateException "Not initialized" and returns false unless
// nInitStatic has completed successfully.
bool ensureInitialized(JNIEnv *env);

// java.lang.System.arraycopy, which moves a whole range of references in one
// call (JNI itself copies object arrays one element, three calls, at a time),
// and java.util.Arrays.fill, which empties a discarded array in one call:
// resolved by nInitStatic with the host classes.
extern jclass g_ClassSystem;
extern jmethodID g_MethodArrayCopy;
extern jclass g_ClassArrays;
extern jmethodID g_MethodArrayFill;

// Copies the first count elements of src into dst in one call. Returns false
// with an exception pending (an element dst cannot hold, an index past the end).
bool copyArrayElements(JNIEnv *env, jobjectArray dst, jobjectArray src, jsize count);

// Sets the first count elements of array to null in one call. Returns false
// with an exception pending.
bool clearArrayElements(JNIEnv *env, jobjectArray array, jsize count);

// The bytes of a Java string as a file name or path, converted by the name
// codec and NUL-terminated. Strings of ordinary length use the buffers inside
// the object, which lives in the caller's frame; longer ones take one heap
// block. On failure get() is null and an exception is pending.
class JavaPath : NonCopyable {
public:
    // 2.5 KiB in the frame: paths of up to this many UTF-16 units need no allocation.
    static constexpr size_t kInlineUnits = 512;

    JavaPath(JNIEnv *env, jstring string);
    ~JavaPath() { std::free(heap_); }
    const char *get() const { return bytes_; }
    size_t length() const { return length_; }

private:
    char16_t inlineUnits_[kInlineUnits];
    char inlineBytes_[kInlineUnits * kMaxBytesPerJavaChar + 1];
    void *heap_ = nullptr;
    const char *bytes_ = nullptr;
    size_t length_ = 0;
};

// Copies the first count units (count >= 1) of string into units. Returns
// false with the JVM's exception pending when it could not be read (a region
// past the end), with no separate exception check when it was.
bool readStringUnits(JNIEnv *env, jstring string, jsize count, char16_t *units);

// Names (link targets) of up to this many bytes decode in the caller's frame,
// longer ones on the heap: a name has at most NAME_MAX bytes.
inline constexpr size_t kInlineNameBytes = NAME_MAX + 1;

// A new Java string holding the name or path of `count` bytes, decoded by the
// name codec. Returns null with an exception pending on failure.
jstring newJavaString(JNIEnv *env, const char *bytes, size_t count);

// Whether monitor may be called through the cached methods of monitorClass
// (g_ClassMonitorOrg or g_ClassMonitorSync): null or an instance of it.
// Otherwise throws IllegalArgumentException "Invalid progress monitor" and
// returns false; calling a method on an object of another class is undefined.
bool checkMonitor(JNIEnv *env, jobject monitor, jclass monitorClass);

// ---- The entry prologue ------------------------------------------------------

// An argument an entry point may not be given as null, and the message of the
// NullPointerException that a null gets.
struct RequiredArgument {
    jobject value;
    const char *name;
};

// The progress monitor of an entry point that takes one: null, or an instance
// of the cached class behind monitorClass. The class is read only once the
// guard has passed: before, the cache may not be visible to this thread.
struct MonitorArgument {
    jobject monitor = nullptr;
    const jclass *monitorClass = nullptr; // null: the entry point takes no monitor
};

// The checks every entry point makes before its own work, in this order: the
// initialisation guard (no argument is looked at before it); each required
// argument; the monitor; then the first PathCount required arguments, which
// are strings, converted to paths. ok() is false with an exception pending
// when one of them failed.
template <size_t PathCount>
class EntryPrologue : NonCopyable {
public:
    EntryPrologue(JNIEnv *env, std::initializer_list<RequiredArgument> required, MonitorArgument monitor = {})
    {
        if (!ensureInitialized(env)) {
            return;
        }
        for (const RequiredArgument &argument : required) {
            if (argument.value == nullptr) {
                JNU_ThrowNullPointerException(env, argument.name);
                return;
            }
        }
        if (monitor.monitorClass != nullptr && !checkMonitor(env, monitor.monitor, *monitor.monitorClass)) {
            return;
        }
        for (const RequiredArgument &argument : required) {
            if (converted_ == PathCount) {
                break;
            }
            const JavaPath *converted = new (storage_[converted_]) JavaPath(env, static_cast<jstring>(argument.value));
            ++converted_;
            if (converted->get() == nullptr) {
                return;
            }
        }
        ok_ = converted_ == PathCount;
    }

    ~EntryPrologue()
    {
        for (size_t index = 0; index < converted_; ++index) {
            pathAt(index)->~JavaPath();
        }
    }

    bool ok() const { return ok_; }
    // The index-th path: valid only when ok().
    const JavaPath &path(size_t index) const { return *pathAt(index); }

private:
    const JavaPath *pathAt(size_t index) const
    {
        return std::launder(reinterpret_cast<const JavaPath *>(storage_[index]));
    }

    // Raw storage, constructed one path at a time: 2.5 KiB each that nothing
    // needs to initialise before the conversion writes it.
    alignas(JavaPath) unsigned char storage_[PathCount > 0 ? PathCount : 1][sizeof(JavaPath)];
    size_t converted_ = 0;
    bool ok_ = false;
};

} // namespace basefs

#endif // BASEFS_JNI_BRIDGE_H
