#include "JniFaults.h"

#include <jvmti.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace jvmtest::faults {
namespace {

// More than HotSpot's default MaxJNILocalCapacity (65536): EnsureLocalCapacity
// refuses it with JNI_ERR and throws nothing.
constexpr jint kRefusedLocalCapacity = 65536 + 1;
// Enough of a descriptor's target to tell /proc and /sys.

jvmtiEnv *g_jvmti = nullptr;
jclass g_outOfMemoryError = nullptr;

// The table the JVM had before the first fault was armed: the real
// functions. Kept for the life of the process, since a thread of the JVM may
// still be inside a stand-in when the real table comes back.
jniNativeInterface *g_real = nullptr;
bool g_faultArmed = false;

// What is armed. The environment is read by every thread that makes a JNI
// call meanwhile; the rest only by the armed thread.
std::atomic<JNIEnv *> g_armedEnv{nullptr};
int g_failAtCall = 0;
int g_calls = 0;

[[noreturn]] void Die(const char *what, int code)
{
    std::fprintf(stderr, "JNI fault injection: %s failed (%d)\n", what, code);
    std::fflush(stderr);
    std::abort();
}

void Check(jvmtiError error, const char *what)
{
    if (error != JVMTI_ERROR_NONE) {
        Die(what, error);
    }
}

jvmtiEnv *Jvmti()
{
    if (g_jvmti == nullptr) {
        jint result = Vm()->GetEnv(reinterpret_cast<void **>(&g_jvmti), JVMTI_VERSION_1_2);
        if (result != JNI_OK) {
            Die("GetEnv(JVMTI_VERSION_1_2)", result);
        }
    }
    return g_jvmti;
}

// Whether this call is the one to fail: made through the armed environment,
// and the failAtCall-th such call.
bool ShouldFail(JNIEnv *env)
{
    if (env != g_armedEnv.load(std::memory_order_acquire)) {
        return false;
    }
    return ++g_calls == g_failAtCall;
}

void ThrowOutOfMemory(JNIEnv *env) { g_real->ThrowNew(env, g_outOfMemoryError, kInjectedMessage); }

void JNICALL GetStringRegion(JNIEnv *env, jstring string, jsize start, jsize length, jchar *buffer)
{
    if (ShouldFail(env)) {
        // One unit starting at the end of the string: the JVM's own exception.
        jchar unit = 0;
        g_real->GetStringRegion(env, string, g_real->GetStringLength(env, string), 1, &unit);
        return;
    }
    g_real->GetStringRegion(env, string, start, length, buffer);
}

jstring JNICALL NewString(JNIEnv *env, const jchar *units, jsize length)
{
    if (ShouldFail(env)) {
        ThrowOutOfMemory(env);
        return nullptr;
    }
    return g_real->NewString(env, units, length);
}

jobject JNICALL NewObjectV(JNIEnv *env, jclass cls, jmethodID constructor, va_list args)
{
    if (ShouldFail(env)) {
        ThrowOutOfMemory(env);
        return nullptr;
    }
    return g_real->NewObjectV(env, cls, constructor, args);
}

jobject JNICALL NewObjectA(JNIEnv *env, jclass cls, jmethodID constructor, const jvalue *args)
{
    if (ShouldFail(env)) {
        ThrowOutOfMemory(env);
        return nullptr;
    }
    return g_real->NewObjectA(env, cls, constructor, args);
}

jobjectArray JNICALL NewObjectArray(JNIEnv *env, jsize length, jclass elementClass, jobject initial)
{
    if (ShouldFail(env)) {
        ThrowOutOfMemory(env);
        return nullptr;
    }
    return g_real->NewObjectArray(env, length, elementClass, initial);
}

void JNICALL CallStaticVoidMethodV(JNIEnv *env, jclass cls, jmethodID method, va_list args)
{
    if (ShouldFail(env)) {
        ThrowOutOfMemory(env);
        return;
    }
    g_real->CallStaticVoidMethodV(env, cls, method, args);
}

jobject JNICALL CallStaticObjectMethodA(JNIEnv *env, jclass cls, jmethodID method, const jvalue *args)
{
    if (ShouldFail(env)) {
        ThrowOutOfMemory(env);
        return nullptr;
    }
    return g_real->CallStaticObjectMethodA(env, cls, method, args);
}

jint JNICALL EnsureLocalCapacity(JNIEnv *env, jint capacity)
{
    if (ShouldFail(env)) {
        return g_real->EnsureLocalCapacity(env, kRefusedLocalCapacity);
    }
    return g_real->EnsureLocalCapacity(env, capacity);
}

// ---- The local-reference ledger ------------------------------------------------

std::atomic<JNIEnv *> g_ledgerEnv{nullptr};
long g_liveReferences = 0;
long g_peakReferences = 0;

// Counts one reference made through the ledger's environment.
template <typename T>
T Made(JNIEnv *env, T reference)
{
    if (reference != nullptr && env == g_ledgerEnv.load(std::memory_order_acquire)) {
        ++g_liveReferences;
        if (g_liveReferences > g_peakReferences) {
            g_peakReferences = g_liveReferences;
        }
    }
    return reference;
}

jobject JNICALL CountedNewObjectV(JNIEnv *env, jclass cls, jmethodID constructor, va_list args)
{
    return Made(env, g_real->NewObjectV(env, cls, constructor, args));
}

jobject JNICALL CountedNewObjectA(JNIEnv *env, jclass cls, jmethodID constructor, const jvalue *args)
{
    return Made(env, g_real->NewObjectA(env, cls, constructor, args));
}

jstring JNICALL CountedNewString(JNIEnv *env, const jchar *units, jsize length)
{
    return Made(env, g_real->NewString(env, units, length));
}

jstring JNICALL CountedNewStringUTF(JNIEnv *env, const char *bytes)
{
    return Made(env, g_real->NewStringUTF(env, bytes));
}

jobjectArray JNICALL CountedNewObjectArray(JNIEnv *env, jsize length, jclass elementClass, jobject initial)
{
    return Made(env, g_real->NewObjectArray(env, length, elementClass, initial));
}

jobject JNICALL CountedGetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index)
{
    return Made(env, g_real->GetObjectArrayElement(env, array, index));
}

jobject JNICALL CountedNewLocalRef(JNIEnv *env, jobject reference)
{
    return Made(env, g_real->NewLocalRef(env, reference));
}

void JNICALL CountedDeleteLocalRef(JNIEnv *env, jobject reference)
{
    if (reference != nullptr && env == g_ledgerEnv.load(std::memory_order_acquire)) {
        --g_liveReferences;
    }
    g_real->DeleteLocalRef(env, reference);
}

// ---- The global-reference recorder ----------------------------------------------

std::mutex g_globalsMutex;
std::vector<jobject> g_globalsMade;

jobject JNICALL RecordedNewGlobalRef(JNIEnv *env, jobject reference)
{
    jobject global = g_real->NewGlobalRef(env, reference);
    if (global != nullptr) {
        const std::lock_guard<std::mutex> lock(g_globalsMutex);
        g_globalsMade.push_back(global);
    }
    return global;
}

// Keeps the real table, once, for the life of the process.
void SaveRealTable(JNIEnv *env)
{
    if (g_real != nullptr) {
        return;
    }
    jclass local = env->FindClass("java/lang/OutOfMemoryError");
    g_outOfMemoryError = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    Check(Jvmti()->GetJNIFunctionTable(&g_real), "GetJNIFunctionTable");
}

// Takes the function table for one scoped user (a fault or the ledger; never
// two at once) and keeps the real table, once, for the life of the process.
void ClaimTable(JNIEnv *env, const char *what)
{
    if (g_faultArmed) {
        Die(what, 0);
    }
    g_faultArmed = true;
    SaveRealTable(env);
}

// Puts the real table back and frees it for the next user.
void ReleaseTable()
{
    Check(Jvmti()->SetJNIFunctionTable(g_real), "SetJNIFunctionTable");
    g_faultArmed = false;
}

// A copy of the real table with the stand-in for `function`.
jniNativeInterface WithStandIn(const jniNativeInterface &real, JniFunction function)
{
    jniNativeInterface table = real;
    switch (function) {
    case JniFunction::kGetStringRegion:
        table.GetStringRegion = GetStringRegion;
        break;
    case JniFunction::kNewString:
        table.NewString = NewString;
        break;
    case JniFunction::kNewObjectV:
        table.NewObjectV = NewObjectV;
        break;
    case JniFunction::kNewObjectA:
        table.NewObjectA = NewObjectA;
        break;
    case JniFunction::kNewObjectArray:
        table.NewObjectArray = NewObjectArray;
        break;
    case JniFunction::kCallStaticVoidMethodV:
        table.CallStaticVoidMethodV = CallStaticVoidMethodV;
        break;
    case JniFunction::kCallStaticObjectMethodA:
        table.CallStaticObjectMethodA = CallStaticObjectMethodA;
        break;
    case JniFunction::kEnsureLocalCapacity:
        table.EnsureLocalCapacity = EnsureLocalCapacity;
        break;
    }
    return table;
}

} // namespace

const char *NameOf(JniFunction function)
{
    switch (function) {
    case JniFunction::kGetStringRegion:
        return "GetStringRegion";
    case JniFunction::kNewString:
        return "NewString";
    case JniFunction::kNewObjectV:
        return "NewObjectV";
    case JniFunction::kNewObjectA:
        return "NewObjectA";
    case JniFunction::kNewObjectArray:
        return "NewObjectArray";
    case JniFunction::kCallStaticVoidMethodV:
        return "CallStaticVoidMethodV";
    case JniFunction::kCallStaticObjectMethodA:
        return "CallStaticObjectMethodA";
    case JniFunction::kEnsureLocalCapacity:
        return "EnsureLocalCapacity";
    }
    return "?";
}

FailJniCall::FailJniCall(JniFunction function, int failAtCall, JNIEnv *env) : failAtCall_(failAtCall)
{
    ClaimTable(env, "arming a second fault");
    g_failAtCall = failAtCall;
    g_calls = 0;
    g_armedEnv.store(env, std::memory_order_release);
    const jniNativeInterface table = WithStandIn(*g_real, function);
    Check(Jvmti()->SetJNIFunctionTable(&table), "SetJNIFunctionTable");
}

FailJniCall::~FailJniCall()
{
    ReleaseTable();
    g_armedEnv.store(nullptr, std::memory_order_release);
}

int FailJniCall::calls() const { return g_calls; }

LocalReferenceLedger::LocalReferenceLedger(JNIEnv *env)
{
    ClaimTable(env, "following references while a fault is armed");
    g_liveReferences = 0;
    g_peakReferences = 0;
    g_ledgerEnv.store(env, std::memory_order_release);
    jniNativeInterface table = *g_real;
    table.NewObjectV = CountedNewObjectV;
    table.NewObjectA = CountedNewObjectA;
    table.NewString = CountedNewString;
    table.NewStringUTF = CountedNewStringUTF;
    table.NewObjectArray = CountedNewObjectArray;
    table.GetObjectArrayElement = CountedGetObjectArrayElement;
    table.NewLocalRef = CountedNewLocalRef;
    table.DeleteLocalRef = CountedDeleteLocalRef;
    Check(Jvmti()->SetJNIFunctionTable(&table), "SetJNIFunctionTable");
}

LocalReferenceLedger::~LocalReferenceLedger()
{
    ReleaseTable();
    g_ledgerEnv.store(nullptr, std::memory_order_release);
}

long LocalReferenceLedger::live() const { return g_liveReferences; }

long LocalReferenceLedger::peak() const { return g_peakReferences; }

GlobalReferenceRecorder::GlobalReferenceRecorder(JNIEnv *env)
{
    ClaimTable(env, "recording global references while the table is taken");
    {
        const std::lock_guard<std::mutex> lock(g_globalsMutex);
        g_globalsMade.clear();
    }
    jniNativeInterface table = *g_real;
    table.NewGlobalRef = RecordedNewGlobalRef;
    Check(Jvmti()->SetJNIFunctionTable(&table), "SetJNIFunctionTable");
}

GlobalReferenceRecorder::~GlobalReferenceRecorder() { ReleaseTable(); }

std::vector<jobject> GlobalReferenceRecorder::made() const
{
    const std::lock_guard<std::mutex> lock(g_globalsMutex);
    return g_globalsMade;
}

} // namespace jvmtest::faults
