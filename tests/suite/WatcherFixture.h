// Watcher through its Java API: open, poll into plain structs, wake up, close.
#ifndef BASEFS_WATCHER_FIXTURE_H
#define BASEFS_WATCHER_FIXTURE_H

#include "JvmHarness.h"

#include <dirent.h>

#include <string>
#include <vector>

namespace jvmtest {

struct Seen {
    std::string kind; // WatchEvent.Kind's name
    bool directory;
    std::string path;
    int cookie;

    std::string Text() const { return kind + (directory ? " dir " : " ") + path; }
};

class WatcherTest : public JvmTest {
protected:
    jobject Open(const std::string &root, jint options = 0)
    {
        jclass watcher = Class();
        jmethodID open = env()->GetStaticMethodID(watcher, "open", "(Ljava/lang/String;I)Lcom/quenvira/internal/io/Watcher;");
        return env()->CallStaticObjectMethod(watcher, open, JStr(root.c_str()), options);
    }

    // Why the options asked for were not used, or "" when they are.
    std::string FallbackReason(jobject watcher)
    {
        jobject reason = env()->CallObjectMethod(watcher, env()->GetMethodID(Class(), "fallbackReason", "()Ljava/lang/String;"));
        return env()->ExceptionCheck() || reason == nullptr ? "" : StdStr(static_cast<jstring>(reason));
    }

    // The events of one poll; an exception stays pending for the test.
    std::vector<Seen> Poll(jobject watcher, jlong timeoutMillis, JNIEnv *env = Env())
    {
        env->PushLocalFrame(16);
        std::vector<Seen> seen = PollInFrame(watcher, timeoutMillis, env);
        env->PopLocalFrame(nullptr);
        return seen;
    }

    std::vector<Seen> PollInFrame(jobject watcher, jlong timeoutMillis, JNIEnv *env)
    {
        std::vector<Seen> seen;
        jobject list = env->CallObjectMethod(watcher, env->GetMethodID(Class(env), "poll", "(J)Ljava/util/List;"),
                                             timeoutMillis);
        if (env->ExceptionCheck() || list == nullptr) {
            return seen;
        }
        jclass listClass = env->FindClass("java/util/List");
        jclass eventClass = env->FindClass("com/quenvira/internal/io/WatchEvent");
        jmethodID get = env->GetMethodID(listClass, "get", "(I)Ljava/lang/Object;");
        jmethodID kind = env->GetMethodID(eventClass, "kind", "()Lcom/quenvira/internal/io/WatchEvent$Kind;");
        jmethodID path = env->GetMethodID(eventClass, "path", "()Ljava/lang/String;");
        jmethodID cookie = env->GetMethodID(eventClass, "cookie", "()I");
        jmethodID directory = env->GetMethodID(eventClass, "isDirectory", "()Z");
        jmethodID name = env->GetMethodID(env->FindClass("java/lang/Enum"), "name", "()Ljava/lang/String;");
        const jint count = env->CallIntMethod(list, env->GetMethodID(listClass, "size", "()I"));
        if (env->ExceptionCheck()) {
            return seen;
        }
        for (jint index = 0; index < count && !env->ExceptionCheck(); ++index) {
            env->PushLocalFrame(8);
            jobject event = env->CallObjectMethod(list, get, index);
            Seen one{};
            if (!env->ExceptionCheck()) {
                jobject kindObject = env->CallObjectMethod(event, kind);
                if (!env->ExceptionCheck()) {
                    jobject kindName = env->CallObjectMethod(kindObject, name);
                    one.kind = env->ExceptionCheck() ? "" : StdStr(static_cast<jstring>(kindName), env);
                }
                one.directory = env->CallBooleanMethod(event, directory) == JNI_TRUE;
                if (!env->ExceptionCheck()) {
                    jobject pathString = env->CallObjectMethod(event, path);
                    one.path = env->ExceptionCheck() ? "" : StdStr(static_cast<jstring>(pathString), env);
                }
                if (!env->ExceptionCheck()) {
                    one.cookie = env->CallIntMethod(event, cookie);
                    env->ExceptionCheck();
                }
            }
            seen.push_back(one);
            env->PopLocalFrame(nullptr);
        }
        return seen;
    }

    // Everything reported until a poll of quietMillis brings nothing.
    std::vector<Seen> Drain(jobject watcher, jlong quietMillis = 300)
    {
        std::vector<Seen> all;
        for (std::vector<Seen> batch; !(batch = Poll(watcher, quietMillis)).empty();) {
            all.insert(all.end(), batch.begin(), batch.end());
        }
        return all;
    }

    void Call(jobject watcher, const char *method, JNIEnv *env = Env())
    {
        env->CallVoidMethod(watcher, env->GetMethodID(Class(env), method, "()V"));
        env->ExceptionCheck(); // the test's own check takes it
    }

    static jclass Class(JNIEnv *env = Env()) { return env->FindClass("com/quenvira/internal/io/Watcher"); }
};

// The threads of this process now.
inline int ThreadCount()
{
    int count = 0;
    if (DIR *tasks = opendir("/proc/self/task")) {
        while (dirent *entry = readdir(tasks)) {
            count += entry->d_name[0] != '.';
        }
        closedir(tasks);
    }
    return count;
}

} // namespace jvmtest

#endif // BASEFS_WATCHER_FIXTURE_H
