// nInitStatic called first by many threads at once: one of them initialises,
// the others wait for its outcome, and a host class whose static initialiser
// calls nInitStatic again on the initialising thread does not wait for itself.
#include "JniFaults.h"
#include "InitCalls.h"
#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <vector>

namespace {

using namespace jvmtest;

constexpr int kThreads = 16;

bool NestedCallReturned(JNIEnv *env)
{
    jclass urlEx = env->FindClass("com/quenvira/io/UrlEx");
    if (urlEx == nullptr) {
        return false;
    }
    jfieldID field = env->GetStaticFieldID(urlEx, "nestedCallReturned", "Z");
    const bool returned = field != nullptr && env->GetStaticBooleanField(urlEx, field) == JNI_TRUE;
    env->DeleteLocalRef(urlEx);
    return returned;
}

class InitRaceTest : public JvmTest {};

TEST_F(InitRaceTest, ManyFirstCallsInitialiseOnce)
{
    ASSERT_EQ(INIT_NOT_RUN, g_InitRes);
    std::vector<InitCallOutcome> outcomes;
    std::vector<jobject> globals;
    {
        faults::GlobalReferenceRecorder recorder;
        outcomes = CallInitStaticFromThreads(kThreads);
        globals = recorder.made();
    }

    // Every caller returned with the final state, none with an exception.
    for (const InitCallOutcome &outcome : outcomes) {
        ASSERT_TRUE(outcome.attached);
        EXPECT_EQ(INIT_READY, outcome.stateAfterReturn);
        EXPECT_FALSE(outcome.thrown.has_value()) << outcome.thrown->className << ": " << outcome.thrown->message;
    }
    // One global reference per cached class: no class was resolved twice.
    ASSERT_FALSE(globals.empty());
    for (size_t i = 0; i < globals.size(); ++i) {
        for (size_t j = i + 1; j < globals.size(); ++j) {
            EXPECT_FALSE(env()->IsSameObject(globals[i], globals[j])) << "global references " << i << " and " << j;
        }
    }
    EXPECT_TRUE(env()->IsSameObject(g_ClassUrlEx, env()->FindClass("com/quenvira/io/UrlEx")));
    ExpectNoException();
    // The nested call from UrlEx's static initialiser returned without waiting.
    EXPECT_TRUE(NestedCallReturned(env()));

    // The library works for every thread now.
    EXPECT_NE(nullptr, natives::GetFileInfo(JStr("/"), JStr(""), 0));
    ExpectNoException();
}

} // namespace
