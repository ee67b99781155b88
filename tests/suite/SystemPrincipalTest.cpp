// User and group names by numeric ID: the names and owner of the result, IDs
// without an entry, negative IDs, lookup errors and the growing buffer (by
// interposing getpwuid_r and getgrgid_r), the name or the result that cannot
// be made (JniFaults.h), and lookups from many threads at once.
#include "CLibraryFaults.h"
#include "EntryPoints.h"
#include "JniFaults.h"
#include "JvmHarness.h"

#include <grp.h>
#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace jvmtest;

// The bound the library puts on the lookup buffer.
constexpr size_t kMaxBufferSize = 16 * 1024 * 1024;
constexpr size_t kFallbackBufferSize = 1024;
constexpr size_t kTestBufferSize = 64 * 1024;
constexpr uint32_t kHighestScannedId = 100;
constexpr int kThreads = 8;
constexpr int kCallsPerThread = 1000;

// The name the system gives an ID, looked up here directly (not scripted: the
// script only sees calls of the thread that armed it, and none is armed now).
std::optional<std::string> SystemUserName(uint32_t id)
{
    std::vector<char> buffer(kTestBufferSize);
    struct passwd entry;
    struct passwd *found = nullptr;
    if (getpwuid_r(id, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    return std::string(found->pw_name);
}

std::optional<std::string> SystemGroupName(uint32_t id)
{
    std::vector<char> buffer(kTestBufferSize);
    struct group entry;
    struct group *found = nullptr;
    if (getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    return std::string(found->gr_name);
}

size_t SuggestedBufferSize(int sysconfName)
{
    long suggested = sysconf(sysconfName);
    return suggested > 0 ? static_cast<size_t>(suggested) : kFallbackBufferSize;
}

jobject PrincipalOwner(jobject principal, JNIEnv *env = Env())
{
    static jmethodID getOwner = [env] {
        jclass cls = env->FindClass("com/quenvira/io/Principal");
        jmethodID method = env->GetMethodID(cls, "getOwner", "()Ljava/lang/Object;");
        env->DeleteLocalRef(cls);
        return method;
    }();
    jobject owner = env->CallObjectMethod(principal, getOwner);
    env->ExceptionCheck(); // an exception stays pending for the caller
    return owner;
}

std::string PrincipalName(jobject principal, JNIEnv *env = Env())
{
    static jmethodID getName = [env] {
        jclass cls = env->FindClass("com/quenvira/io/Principal");
        jmethodID method = env->GetMethodID(cls, "getName", "()Ljava/lang/String;");
        env->DeleteLocalRef(cls);
        return method;
    }();
    auto name = static_cast<jstring>(env->CallObjectMethod(principal, getName));
    if (env->ExceptionCheck()) {
        return "<getName threw>"; // the exception stays pending for the caller
    }
    std::string result = StdStr(name, env);
    env->DeleteLocalRef(name);
    return result;
}

// The user or the group side of the lookup.
struct Kind {
    const char *label;
    jobject (*lookUp)(jobject owner, jint id, JNIEnv *env);
    jobject (*lookUpDirectly)(jobject owner, jint id, JNIEnv *env); // the result along with an exception
    std::optional<std::string> (*systemName)(uint32_t id);
    LookupScript *script;
    int sysconfName;
    const char *noEntryMessage;
};

const Kind kUser{"User", natives::GetUser, direct::GetUser, SystemUserName, &g_userScript, _SC_GETPW_R_SIZE_MAX,
                 "User does not exist"};
const Kind kGroup{"Group", natives::GetGroup, direct::GetGroup, SystemGroupName, &g_groupScript,
                  _SC_GETGR_R_SIZE_MAX, "Group does not exist"};

class SystemPrincipalTest : public JvmTest, public ::testing::WithParamInterface<Kind> {
protected:
    void TearDown() override
    {
        g_userScript.Reset();
        g_groupScript.Reset();
        JvmTest::TearDown();
    }

    const Kind &kind() const { return GetParam(); }

    // A lookup expected to fail: null and the exception's message.
    std::string Failure(jint id)
    {
        EXPECT_EQ(nullptr, kind().lookUp(nullptr, id, env()));
        auto thrown = TakeException();
        EXPECT_TRUE(thrown.has_value());
        if (!thrown) {
            return "";
        }
        EXPECT_EQ("java.io.IOException", thrown->className);
        return thrown->message;
    }
};

TEST_P(SystemPrincipalTest, IdZeroGivesTheAccountNameAndTheCallersOwner)
{
    std::optional<std::string> expected = kind().systemName(0);
    ASSERT_TRUE(expected.has_value());

    jclass objectClass = env()->FindClass("java/lang/Object");
    jobject plainObject = env()->AllocObject(objectClass);
    for (jobject owner : {plainObject, static_cast<jobject>(JStr("owner")), static_cast<jobject>(nullptr)}) {
        jobject principal = kind().lookUp(owner, 0, env());
        ASSERT_NE(nullptr, principal);
        EXPECT_EQ(*expected, PrincipalName(principal));
        jobject carried = PrincipalOwner(principal);
        EXPECT_TRUE(env()->IsSameObject(owner, carried));
    }
}

TEST_P(SystemPrincipalTest, IdWithoutEntryGivesTheExactMessageForTheUnsignedId)
{
    // A positive ID without an entry, and negative IDs, which stand for the
    // largest unsigned IDs; none of them has an entry here.
    uint32_t freeId = 60000;
    while (kind().systemName(freeId).has_value()) {
        ++freeId;
    }
    const struct {
        jint id;
        uint32_t asked;
    } cases[] = {
        {static_cast<jint>(freeId), freeId},
        {-1, 4294967295u},
        {-2, 4294967294u},
        {INT_MIN, 2147483648u},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_FALSE(kind().systemName(c.asked).has_value());
        kind().script->Arm(0, 0);
        EXPECT_EQ(kind().noEntryMessage, Failure(c.id));
        std::vector<LookupCall> calls = kind().script->Calls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(c.asked, calls[0].id);
    }
}

TEST_P(SystemPrincipalTest, LookupErrorGivesTheErrorTableMessage)
{
    const struct {
        int error;
        const char *message;
    } cases[] = {
        {EIO, "An I/O error occurred [5]"},
        {EMFILE, "The maximum number of files was open already in the calling process [24]"},
        {ENOMEM, "No kernel memory [12]"},
        {EACCES, "No permissions [13]"},
        // A name service that reports a missing entry as an error is not guessed at.
        {ENOENT, "Path does not exist [2]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        kind().script->Arm(1, c.error);
        EXPECT_EQ(c.message, Failure(0));
        EXPECT_EQ(1u, kind().script->Calls().size());
    }
}

TEST_P(SystemPrincipalTest, BufferGrowsOnErangeUntilTheEntryFits)
{
    std::optional<std::string> expected = kind().systemName(0);
    ASSERT_TRUE(expected.has_value());
    kind().script->Arm(3, ERANGE);
    jobject principal = kind().lookUp(nullptr, 0, env());
    ASSERT_NE(nullptr, principal);
    EXPECT_EQ(*expected, PrincipalName(principal));

    const size_t suggested = SuggestedBufferSize(kind().sysconfName);
    std::vector<LookupCall> calls = kind().script->Calls();
    ASSERT_EQ(4u, calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(0u, calls[i].id);
        EXPECT_EQ(suggested << i, calls[i].bufferSize) << "call " << i;
    }
}

TEST_P(SystemPrincipalTest, BufferStopsGrowingAtItsBound)
{
    kind().script->Arm(INT_MAX, ERANGE);
    EXPECT_EQ("Unknown [34]", Failure(0));

    std::vector<LookupCall> calls = kind().script->Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(SuggestedBufferSize(kind().sysconfName), calls.front().bufferSize);
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(std::min(calls[i - 1].bufferSize * 2, kMaxBufferSize), calls[i].bufferSize) << "call " << i;
    }
    EXPECT_EQ(kMaxBufferSize, calls.back().bufferSize);
}

// The name is made with NewString, the Principal with NewObject (through NewObjectV).
TEST_P(SystemPrincipalTest, MakingTheResultFailingThrowsTheJvmsError)
{
    const int descriptors = OpenDescriptorCount();
    for (const faults::JniFunction function : {faults::JniFunction::kNewString, faults::JniFunction::kNewObjectV}) {
        SCOPED_TRACE(faults::NameOf(function));
        {
            faults::FailJniCall fault(function, 1);
            EXPECT_EQ(nullptr, kind().lookUpDirectly(JStr("owner"), 0, env()));
            EXPECT_TRUE(fault.fired());
        }
        ExpectException("java.lang.OutOfMemoryError", faults::kInjectedMessage);
    }
    EXPECT_EQ(descriptors, OpenDescriptorCount()) << "descriptors left open";
}

INSTANTIATE_TEST_SUITE_P(UserAndGroup, SystemPrincipalTest, ::testing::Values(kUser, kGroup),
                         [](const ::testing::TestParamInfo<Kind> &info) { return info.param.label; });

// What one lookup thread saw.
struct ThreadOutcome {
    bool attached = false;
    int lookups = 0;
    int wrongNames = 0;
    std::string firstProblem;
};

// The IDs in 0..kHighestScannedId that have an entry, with their names.
std::map<uint32_t, std::string> ExistingIds(std::optional<std::string> (*systemName)(uint32_t))
{
    std::map<uint32_t, std::string> names;
    for (uint32_t id = 0; id <= kHighestScannedId; ++id) {
        if (std::optional<std::string> name = systemName(id)) {
            names[id] = *name;
        }
    }
    return names;
}

// Each thread starts at another ID and walks all of them, alternating users
// and groups, so different IDs are looked up at the same moment.
void LookUpFromThread(int index, const std::vector<std::pair<uint32_t, std::string>> &users,
                      const std::vector<std::pair<uint32_t, std::string>> &groups, ThreadOutcome *outcome)
{
    JNIEnv *env = nullptr;
    if (Vm()->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr) != JNI_OK) {
        return;
    }
    outcome->attached = true;
    constexpr jint kFrameCapacity = 8;
    for (int call = 0; call < kCallsPerThread; ++call) {
        const bool user = call % 2 == 0;
        const auto &ids = user ? users : groups;
        const auto &[id, expected] = ids[static_cast<size_t>(index + call) % ids.size()];
        if (env->PushLocalFrame(kFrameCapacity) != 0) {
            break;
        }
        jobject principal = user ? natives::GetUser(nullptr, static_cast<jint>(id), env)
                                 : natives::GetGroup(nullptr, static_cast<jint>(id), env);
        std::string got = principal != nullptr ? PrincipalName(principal, env) : "";
        if (auto thrown = TakeException(env)) {
            got = thrown->className + ": " + thrown->message;
        }
        env->PopLocalFrame(nullptr);
        ++outcome->lookups;
        if (got != expected) {
            if (outcome->wrongNames++ == 0) {
                outcome->firstProblem = std::string(user ? "user " : "group ") + std::to_string(id) +
                                        ": expected " + expected + ", got " + got;
            }
        }
    }
    Vm()->DetachCurrentThread();
}

class SystemPrincipalThreadsTest : public JvmTest {};

TEST_F(SystemPrincipalThreadsTest, ConcurrentLookupsEachGetTheirOwnName)
{
    std::map<uint32_t, std::string> userMap = ExistingIds(SystemUserName);
    std::map<uint32_t, std::string> groupMap = ExistingIds(SystemGroupName);
    ASSERT_GE(userMap.size(), 2u);
    ASSERT_GE(groupMap.size(), 2u);
    std::vector<std::pair<uint32_t, std::string>> users(userMap.begin(), userMap.end());
    std::vector<std::pair<uint32_t, std::string>> groups(groupMap.begin(), groupMap.end());

    // Resolves the harness's cached method IDs on this thread first.
    jobject principal = natives::GetUser(nullptr, 0);
    ASSERT_NE(nullptr, principal);
    EXPECT_EQ(userMap[0], PrincipalName(principal));
    EXPECT_EQ(groupMap[0], PrincipalName(natives::GetGroup(nullptr, 0)));

    std::vector<ThreadOutcome> outcomes(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(LookUpFromThread, i, std::cref(users), std::cref(groups), &outcomes[i]);
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(outcomes[i].attached);
        EXPECT_EQ(kCallsPerThread, outcomes[i].lookups);
        EXPECT_EQ(0, outcomes[i].wrongNames) << outcomes[i].firstProblem;
    }
}

} // namespace
