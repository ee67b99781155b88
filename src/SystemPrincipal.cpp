// User and group names by numeric ID, looked up through the C library's name
// service with the reentrant calls, so that concurrent lookups on several
// Java threads never share the C library's static storage.

#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <algorithm>
#include <cstring>
#include <grp.h>
#include <pwd.h>

namespace {

// Used when sysconf has no suggestion for the size of an entry's strings.
constexpr size_t kFallbackBufferSize = 1024;
// Holds the usual entry, so the common lookup allocates nothing.
constexpr size_t kStackBufferSize = 1024;
// Room for a group of a few hundred thousand members; an entry that needs
// more is reported as the lookup's ERANGE.
constexpr size_t kMaxBufferSize = 16 * 1024 * 1024;

// What the lookup of one kind of account differs in.
struct UserLookup {
    using Id = uid_t;
    using Entry = struct passwd;
    static constexpr int kBufferSizeName = _SC_GETPW_R_SIZE_MAX;
    static constexpr const char *kNoEntryMessage = "User does not exist";

    static int find(Id id, Entry *entry, char *buffer, size_t size, Entry **found)
    {
        return basefs::sys::getpwuid(id, entry, buffer, size, found);
    }
    static const char *name(const Entry &entry) { return entry.pw_name; }
};

struct GroupLookup {
    using Id = gid_t;
    using Entry = struct group;
    static constexpr int kBufferSizeName = _SC_GETGR_R_SIZE_MAX;
    static constexpr const char *kNoEntryMessage = "Group does not exist";

    static int find(Id id, Entry *entry, char *buffer, size_t size, Entry **found)
    {
        return basefs::sys::getgrgid(id, entry, buffer, size, found);
    }
    static const char *name(const Entry &entry) { return entry.gr_name; }
};

// The buffer size the C library suggests for one kind of lookup.
size_t suggestedBufferSize(int sysconfName)
{
    const long suggested = basefs::sys::sysconf(sysconfName); // -1 when there is no suggestion
    return suggested > 0 ? static_cast<size_t>(suggested) : kFallbackBufferSize;
}

// Looks up the entry of `id` and returns a new local reference to a Principal
// carrying the caller's `owner` and the entry's name. Returns null with an
// IOException pending when there is no entry or the lookup fails, or with the
// JVM's exception pending when building the result fails.
template <typename Lookup>
jobject newPrincipal(JNIEnv *env, jobject owner, jint id)
{
    // A negative ID is taken as the unsigned ID it encodes (-1 is the largest).
    const auto unsignedId = static_cast<typename Lookup::Id>(id);

    char stackBuffer[kStackBufferSize];
    basefs::HeapBuffer<char> heapBuffer(0);
    char *buffer = stackBuffer;
    size_t size = suggestedBufferSize(Lookup::kBufferSizeName);
    typename Lookup::Entry entry;
    typename Lookup::Entry *found = nullptr;
    int error = 0;
    for (;;) {
        if (size > kStackBufferSize) {
            heapBuffer.reset(size);
            buffer = heapBuffer.get();
            if (buffer == nullptr) {
                error = ENOMEM;
                break;
            }
        }
        error = Lookup::find(unsignedId, &entry, buffer, size, &found);
        if (error != ERANGE || size >= kMaxBufferSize) {
            break;
        }
        size = std::min(size * 2, kMaxBufferSize);
    }

    if (error != 0) {
        throwExceptionFromError(env, error, nullptr);
        return nullptr;
    }
    if (found == nullptr) {
        JNU_ThrowIOException(env, Lookup::kNoEntryMessage);
        return nullptr;
    }
    const char *entryName = Lookup::name(*found);
    basefs::LocalRef<jstring> name(env, basefs::newJavaString(env, entryName, std::strlen(entryName)));
    if (name.get() == nullptr) {
        return nullptr; // the JVM's OutOfMemoryError is pending
    }
    return env->NewObject(g_ClassPrincipal, g_MethodPrincipalConstruct, owner, name.get());
}

} // namespace

extern "C" JNIEXPORT jobject JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nGetUser(JNIEnv *env, jclass, jobject owner, jint uid)
{
    if (!basefs::ensureInitialized(env)) {
        return nullptr;
    }
    return newPrincipal<UserLookup>(env, owner, uid);
}

extern "C" JNIEXPORT jobject JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nGetGroup(JNIEnv *env, jclass, jobject owner, jint gid)
{
    if (!basefs::ensureInitialized(env)) {
        return nullptr;
    }
    return newPrincipal<GroupLookup>(env, owner, gid);
}
