// nInitStatic called first by many threads at once, for the executables whose
// library is not initialised at start. Apart from the harness, which must not
// refer to the library's globals: the loader tests rely on the linker leaving
// the library out of an executable that names none of its symbols.
#pragma once

#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <atomic>
#include <thread>
#include <vector>

namespace jvmtest {

// nInitStatic called by `threads` newly attached threads released at once.
// What each thread saw when its call returned: g_InitRes and the exception
// the call left on it.
struct InitCallOutcome {
    bool attached = false;
    int stateAfterReturn = 0;
    std::optional<ThrownException> thrown;
};

inline std::vector<InitCallOutcome> CallInitStaticFromThreads(int threads)
{
    std::vector<InitCallOutcome> outcomes(static_cast<size_t>(threads));
    std::atomic<int> ready{0};
    auto call = [&ready, threads](InitCallOutcome *outcome) {
        JNIEnv *env = nullptr;
        const bool attached = Vm()->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr) == JNI_OK;
        ready.fetch_add(1);
        if (!attached) {
            return;
        }
        outcome->attached = true;
        while (ready.load() < threads) {
            std::this_thread::yield();
        }
        natives::InitStatic(env);
        outcome->stateAfterReturn = __atomic_load_n(&g_InitRes, __ATOMIC_ACQUIRE);
        outcome->thrown = TakeException(env);
        Vm()->DetachCurrentThread();
    };
    std::vector<std::thread> running;
    for (InitCallOutcome &outcome : outcomes) {
        running.emplace_back(call, &outcome);
    }
    for (std::thread &thread : running) {
        thread.join();
    }
    return outcomes;
}

} // namespace jvmtest
