// Fault injection into the JNI calls the library makes. The embedded JVM's
// JNI function table is copied through JVM TI (GetJNIFunctionTable), one
// entry of the copy is replaced by a stand-in that forwards every call to the
// real function except the chosen one, which fails as the JVM would, and the
// copy is installed with SetJNIFunctionTable. The real table comes back when
// the fault goes out of scope. Under -Xcheck:jni the real table is the
// checked one, so forwarded calls keep being checked.
//
// A JNIEnv made by hand cannot stand in for the table: HotSpot finds the
// calling thread from the environment's address.
#pragma once

#include "JvmHarness.h"

#include <vector>

namespace jvmtest::faults {

// The JNI functions a test can make fail, and how each fails.
enum class JniFunction {
    kGetStringRegion,       // the real function asked for a region past the end:
                            // the JVM's StringIndexOutOfBoundsException
    kNewString,             // OutOfMemoryError, null
    kNewObjectV,            // OutOfMemoryError, null (NewObject goes through it)
    kNewObjectA,            // OutOfMemoryError, null
    kNewObjectArray,        // OutOfMemoryError, null
    kCallStaticVoidMethodV, // OutOfMemoryError in place of the static method's work
    kCallStaticObjectMethodA, // OutOfMemoryError in place of the static method's work, null
    kEnsureLocalCapacity,   // the real function asked for more than the JVM allows:
                            // negative, nothing thrown
};

const char *NameOf(JniFunction function);

// Message of the OutOfMemoryError a failing call throws.
inline constexpr const char *kInjectedMessage = "Java heap space (injected)";

// While it exists, the failAtCall-th call (1-based) of `function` made through
// `env` (so on that thread only) from its construction on fails; every other
// call, on any thread, reaches the real function. At most one at a time.
class FailJniCall {
public:
    FailJniCall(JniFunction function, int failAtCall, JNIEnv *env = Env());
    ~FailJniCall();
    FailJniCall(const FailJniCall &) = delete;
    FailJniCall &operator=(const FailJniCall &) = delete;

    // Calls of the function made through env so far, the failed one included.
    int calls() const;
    bool fired() const { return calls() >= failAtCall_; }

private:
    int failAtCall_;
};

// While it exists, follows the local references the calls made through `env`
// (so on that thread only) create and delete: every non-null result of
// NewObject(V), NewObjectA, NewString(UTF), NewObjectArray, GetObjectArrayElement and
// NewLocalRef counts one, every DeleteLocalRef of a reference takes one off.
// Its peak is the most references a native call held at once, whatever the
// JVM's checks print about it. Not together with a FailJniCall.
class LocalReferenceLedger {
public:
    explicit LocalReferenceLedger(JNIEnv *env = Env());
    ~LocalReferenceLedger();
    LocalReferenceLedger(const LocalReferenceLedger &) = delete;
    LocalReferenceLedger &operator=(const LocalReferenceLedger &) = delete;

    long live() const;
    long peak() const;
};

// While it exists, keeps every global reference that NewGlobalRef makes, on
// any thread, so that a test can tell how many were made and to what. Not
// together with a FailJniCall or a LocalReferenceLedger.
class GlobalReferenceRecorder {
public:
    explicit GlobalReferenceRecorder(JNIEnv *env = Env());
    ~GlobalReferenceRecorder();
    GlobalReferenceRecorder(const GlobalReferenceRecorder &) = delete;
    GlobalReferenceRecorder &operator=(const GlobalReferenceRecorder &) = delete;

    // The references made so far, in no particular order.
    std::vector<jobject> made() const;
};

} // namespace jvmtest::faults
