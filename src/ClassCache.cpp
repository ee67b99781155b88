// The class cache: the host classes and method identifiers the library
// calls, resolved once by nInitStatic from one table, some rows of which are
// resolved only where the library's own classes serve; the constants shared
// with Java, checked against javac's headers.

#include "FileRecords.h"
#include "JavaExceptions.h"
#include "JniBridge.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"
#include "com_quenvira_io_FileInfo.h"

#include <ctime>

// The encodings exchanged with the Java side are declared in both languages;
// javac's headers carry the Java values, so the two can never drift apart.
#define BASEFS_SAME_AS_JAVA(constant, javaConstant) \
    static_assert((constant) == (javaConstant), #constant " differs from its Java declaration")
BASEFS_SAME_AS_JAVA(INFO_ATTRIBUTES, com_quenvira_internal_io_BaseFileSystem_INFO_ATTRIBUTES);
BASEFS_SAME_AS_JAVA(INFO_MODIFIED, com_quenvira_internal_io_BaseFileSystem_INFO_MODIFIED);
BASEFS_SAME_AS_JAVA(INFO_ACCESSED, com_quenvira_internal_io_BaseFileSystem_INFO_ACCESSED);
BASEFS_SAME_AS_JAVA(INFO_EXTENDED, com_quenvira_internal_io_BaseFileSystem_INFO_EXTENDED);
BASEFS_SAME_AS_JAVA(INFO_OWNER, com_quenvira_internal_io_BaseFileSystem_INFO_OWNER);
BASEFS_SAME_AS_JAVA(INFO_GROUP, com_quenvira_internal_io_BaseFileSystem_INFO_GROUP);
BASEFS_SAME_AS_JAVA(COPY_EXCLUSIVE, com_quenvira_internal_io_BaseFileSystem_COPY_EXCLUSIVE);
BASEFS_SAME_AS_JAVA(ATTR_DIRECTORY, com_quenvira_io_FileInfo_ATTR_DIRECTORY);
BASEFS_SAME_AS_JAVA(ATTR_HIDDEN, com_quenvira_io_FileInfo_ATTR_HIDDEN);
BASEFS_SAME_AS_JAVA(ATTR_SYMLINK, com_quenvira_io_FileInfo_ATTR_SYMLINK);
BASEFS_SAME_AS_JAVA(ATTR_OWNER_READ, com_quenvira_io_FileInfo_ATTR_OWNER_READ);
BASEFS_SAME_AS_JAVA(ATTR_OWNER_WRITE, com_quenvira_io_FileInfo_ATTR_OWNER_WRITE);
BASEFS_SAME_AS_JAVA(ATTR_OWNER_EXECUTE, com_quenvira_io_FileInfo_ATTR_OWNER_EXECUTE);
BASEFS_SAME_AS_JAVA(ATTR_GROUP_READ, com_quenvira_io_FileInfo_ATTR_GROUP_READ);
BASEFS_SAME_AS_JAVA(ATTR_GROUP_WRITE, com_quenvira_io_FileInfo_ATTR_GROUP_WRITE);
BASEFS_SAME_AS_JAVA(ATTR_GROUP_EXECUTE, com_quenvira_io_FileInfo_ATTR_GROUP_EXECUTE);
BASEFS_SAME_AS_JAVA(ATTR_OTHERS_READ, com_quenvira_io_FileInfo_ATTR_OTHERS_READ);
BASEFS_SAME_AS_JAVA(ATTR_OTHERS_WRITE, com_quenvira_io_FileInfo_ATTR_OTHERS_WRITE);
BASEFS_SAME_AS_JAVA(ATTR_OTHERS_EXECUTE, com_quenvira_io_FileInfo_ATTR_OTHERS_EXECUTE);
BASEFS_SAME_AS_JAVA(ATTR_SET_UID, com_quenvira_io_FileInfo_ATTR_SET_UID);
BASEFS_SAME_AS_JAVA(ATTR_SET_GID, com_quenvira_io_FileInfo_ATTR_SET_GID);
BASEFS_SAME_AS_JAVA(ATTR_STICKY, com_quenvira_io_FileInfo_ATTR_STICKY);
#undef BASEFS_SAME_AS_JAVA

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

} // extern "C"

namespace {

// Whether a row of the table is resolved: always, or only where the
// library's own class serves (a host may bring a BaseFileSystem of its own).
enum class RowNeed {
    kResolve,
    kSkip,
    kFail, // an exception is pending
};

// One class and one of its methods that nInitStatic resolves into a pair of globals.
struct CachedMember {
    const char *className;
    const char *methodName;
    const char *signature;
    bool isStatic;
    jclass *outClass; // null where an earlier row keeps the class
    jmethodID *outMethod;
    // Asked first, for a row that may be left out; null: always resolved.
    RowNeed (*need)(JNIEnv *env) = nullptr;
};

// Resolves one cached member: the one look-up of the library's cache. Returns
// false with an exception pending (the JVM's own when it has one), except when
// NewGlobalRef fails, which throws nothing; no local reference outlives it.
bool resolveCachedMember(JNIEnv *env, const CachedMember &member)
{
    if (env->EnsureLocalCapacity(1) < 0) {
        return false; // the JVM's OutOfMemoryError is pending
    }
    basefs::LocalRef<jclass> cls(env, env->FindClass(member.className));
    if (cls.get() == nullptr) {
        // Kept as it always was: reaches the caller only where the JVM returned
        // null with nothing pending; otherwise the JVM's own error stays.
        JNU_ThrowIllegalStateException(env, "Cannot find class");
        return false;
    }
    jmethodID method = member.isStatic
                           ? env->GetStaticMethodID(cls.get(), member.methodName, member.signature)
                           : env->GetMethodID(cls.get(), member.methodName, member.signature);
    if (method == nullptr) {
        // As above: the JVM's NoSuchMethodError is the one normally seen.
        JNU_ThrowIllegalStateException(env, "Cannot find method");
        return false;
    }
    if (member.outClass != nullptr) {
        auto global = static_cast<jclass>(env->NewGlobalRef(cls.get()));
        if (global == nullptr) {
            return false;
        }
        *member.outClass = global;
    }
    *member.outMethod = method;
    return true;
}

RowNeed recordMakerNeed(JNIEnv *env)
{
    switch (basefs::findRecordMaker(env, basefs::kRecordMakerClass)) {
    case basefs::RecordMaker::kFailed:
        return RowNeed::kFail;
    case basefs::RecordMaker::kJni:
        return RowNeed::kSkip;
    case basefs::RecordMaker::kCompiledJava:
        break;
    }
    return RowNeed::kResolve;
}

// The factories of single records come with the batch maker, or not at all.
RowNeed recordFactoryNeed(JNIEnv *)
{
    return basefs::g_ClassRecordMaker != nullptr ? RowNeed::kResolve : RowNeed::kSkip;
}

// LastError is there where the library's jar is; a host's own BaseFileSystem
// without it (a LinkageError, cleared) leaves the row out.
RowNeed lastErrorNeed(JNIEnv *env)
{
    basefs::LocalRef<jclass> found(env, env->FindClass("com/quenvira/internal/io/LastError"));
    if (found.get() != nullptr) {
        return RowNeed::kResolve;
    }
    return basefs::isLinkageErrorCleared(env) ? RowNeed::kSkip : RowNeed::kFail;
}

// Resolved in this order; the first failure stops initialisation. The host's
// classes first (a missing one is the failure a host meets), then the JDK's.
const CachedMember kCachedMembers[] = {
    {.className = "com/quenvira/io/FileInfo",
     .methodName = "<init>",
     .signature = "(Ljava/lang/String;IJJ)V",
     .isStatic = false,
     .outClass = &g_ClassFileInfo,
     .outMethod = &g_MethodFileInfoConstruct},
    {.className = "com/quenvira/io/FileInfoEx",
     .methodName = "<init>",
     .signature = "(Ljava/lang/String;IJJJJII)V",
     .isStatic = false,
     .outClass = &g_ClassFileInfoEx,
     .outMethod = &g_MethodFileInfoExConstruct},
    {.className = "org/eclipse/core/runtime/IProgressMonitor",
     .methodName = "isCanceled",
     .signature = "()Z",
     .isStatic = false,
     .outClass = &g_ClassMonitorOrg,
     .outMethod = &g_MethodMonitorCancel},
    {.className = "com/quenvira/interfaces/ISyncProgressMonitor",
     .methodName = "bytesTransferred",
     .signature = "(J)Z",
     .isStatic = false,
     .outClass = &g_ClassMonitorSync,
     .outMethod = &g_MethodMonitorProgressSync},
    // Resolved and exported for host code; the library itself makes no UrlEx.
    {.className = "com/quenvira/io/UrlEx",
     .methodName = "<init>",
     .signature = "(Ljava/lang/String;J)V",
     .isStatic = false,
     .outClass = &g_ClassUrlEx,
     .outMethod = &g_MethodUrlExConstruct},
    {.className = "com/quenvira/io/Principal",
     .methodName = "<init>",
     .signature = "(Ljava/lang/Object;Ljava/lang/String;)V",
     .isStatic = false,
     .outClass = &g_ClassPrincipal,
     .outMethod = &g_MethodPrincipalConstruct},
    {.className = "java/lang/System",
     .methodName = "arraycopy",
     .signature = "(Ljava/lang/Object;ILjava/lang/Object;II)V",
     .isStatic = true,
     .outClass = &basefs::g_ClassSystem,
     .outMethod = &basefs::g_MethodArrayCopy},
    {.className = "java/util/Arrays",
     .methodName = "fill",
     .signature = "([Ljava/lang/Object;IILjava/lang/Object;)V",
     .isStatic = true,
     .outClass = &basefs::g_ClassArrays,
     .outMethod = &basefs::g_MethodArrayFill},
    // Listings make their records in compiled Java where the library's class serves.
    {.className = basefs::kRecordMakerClass,
     .methodName = "make",
     .signature = basefs::kMakeRecordsSignature,
     .isStatic = true,
     .outClass = &basefs::g_ClassRecordMaker,
     .outMethod = &basefs::g_MethodMakeRecords,
     .need = recordMakerNeed},
    {.className = basefs::kRecordMakerClass,
     .methodName = "record",
     .signature = basefs::kMakeRecordSignature,
     .isStatic = true,
     .outClass = nullptr,
     .outMethod = &basefs::g_MethodMakeRecord,
     .need = recordFactoryNeed},
    {.className = basefs::kRecordMakerClass,
     .methodName = "extendedRecord",
     .signature = basefs::kMakeExtendedRecordSignature,
     .isStatic = true,
     .outClass = nullptr,
     .outMethod = &basefs::g_MethodMakeExtendedRecord,
     .need = recordFactoryNeed},
    // The error numbers of the library's exceptions, as data, where the library's class serves.
    {.className = "com/quenvira/internal/io/LastError",
     .methodName = "record",
     .signature = "(Ljava/lang/Throwable;I)V",
     .isStatic = true,
     .outClass = &basefs::g_ClassLastError,
     .outMethod = &basefs::g_MethodRecordFailure,
     .need = lastErrorNeed},
};

// ---- Running the initialisation once -----------------------------------------

// Claimed by the one thread that runs the initialisation. pthread_once and
// std::call_once would bind the library to a glibc 2.34 symbol.
int g_initClaimed = 0;
// The environment of the thread running the initialisation, one per Java
// thread: a host class's static initialiser that calls nInitStatic again on
// that thread must not wait for itself. (No thread_local: its accesses bind
// the library to the dynamic loader as well as the C library.)
JNIEnv *g_initializingEnv = nullptr;
// How long a thread that lost the claim sleeps between looks at the outcome.
constexpr long kInitWaitNanoseconds = 100 * 1000;

bool claimInitialization()
{
    int unclaimed = 0;
    return __atomic_compare_exchange_n(&g_initClaimed, &unclaimed, 1, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_ACQUIRE);
}

// Resolves every row of the table that is needed, in its order. Returns
// false at the first failure, with its exception pending (none when
// NewGlobalRef failed).
bool resolveCache(JNIEnv *env)
{
    for (const CachedMember &member : kCachedMembers) {
        const RowNeed need = member.need != nullptr ? member.need(env) : RowNeed::kResolve;
        if (need == RowNeed::kFail || (need == RowNeed::kResolve && !resolveCachedMember(env, member))) {
            return false;
        }
    }
    return true;
}

// Returns once the thread that claimed the initialisation has stored its
// outcome. The waiting thread is in native code, so it holds up no safepoint.
void awaitInitialization()
{
    const struct timespec pause = {0, kInitWaitNanoseconds};
    while (__atomic_load_n(&g_InitRes, __ATOMIC_ACQUIRE) == INIT_NOT_RUN) {
        nanosleep(&pause, nullptr);
    }
}

} // namespace


extern "C" JNIEXPORT void JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nInitStatic(JNIEnv *env, jclass)
{
    // Runs at most once per process; a failed initialisation is never retried.
    // Only the thread that runs it carries the exception of a failure.
    if (__atomic_load_n(&g_initializingEnv, __ATOMIC_ACQUIRE) == env ||
        __atomic_load_n(&g_InitRes, __ATOMIC_ACQUIRE) != INIT_NOT_RUN) {
        return;
    }
    if (!claimInitialization()) {
        awaitInitialization();
        return;
    }
    __atomic_store_n(&g_initializingEnv, env, __ATOMIC_RELEASE);
    const bool ready = resolveCache(env);
    __atomic_store_n(&g_initializingEnv, nullptr, __ATOMIC_RELEASE);
    // Pairs with the acquire loads of ensureInitialized and of the waiting threads.
    __atomic_store_n(&g_InitRes, ready ? INIT_READY : INIT_FAILED, __ATOMIC_RELEASE);
}
