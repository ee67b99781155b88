// Directory listing: the records of a whole directory in one native call.

#include "FileRecords.h"
#include "FileSystemListPath.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr jsize kInitialCapacity = basefs::kListingInitialCapacity;
// The kernel refuses a path of this many bytes or more (ENAMETOOLONG).
constexpr size_t kPathMax = PATH_MAX;

// Examines the entries of one open directory relative to its descriptor, so
// that each record describes the entry of this very directory whether or not
// the caller's path ends with a separator, and the kernel does not walk the
// whole path again for every entry.
class EntryExaminer {
public:
    EntryExaminer(size_t directoryLength, bool endsWithSeparator, int directoryFd)
        : prefixLength_(directoryLength + (endsWithSeparator ? 0 : 1)), directoryFd_(directoryFd) {}

    // The status of the entry `name` itself (a link is not followed); false
    // when it cannot be examined.
    bool examine(const char *name, size_t nameLength, struct stat *st) const
    {
        // The entry's full path (the directory, a separator, the name) is the
        // name the caller would use for it; one the kernel would refuse is
        // refused here too, although the short name alone could be examined.
        if (prefixLength_ >= kPathMax || nameLength >= kPathMax - prefixLength_) {
            return false;
        }
        return basefs::sys::fstatat(directoryFd_, name, st, AT_SYMLINK_NOFOLLOW) == 0;
    }

private:
    size_t prefixLength_; // the directory path with its separator
    int directoryFd_;
};

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The reduced record of an entry that cannot be examined: always a plain
// FileInfo, typed from the directory entry alone, size and time 0.
// Returns null with the JVM's exception pending when construction fails.
jobject fallbackRecord(JNIEnv *env, jstring name, unsigned char entryType)
{
    jint attributes = 0;
    if (entryType == DT_DIR) {
        attributes = ATTR_DIRECTORY;
    } else if (entryType == DT_LNK) {
        attributes = ATTR_SYMLINK;
    }
    jvalue args[4];
    args[0].l = name;
    args[1].i = attributes;
    args[2].j = 0; // size
    args[3].j = 0; // modified
    return env->NewObjectA(g_ClassFileInfo, g_MethodFileInfoConstruct, args);
}

// The record of one entry, or the fallback record when it cannot be
// examined. Returns null only with an exception pending.
jobject entryRecord(JNIEnv *env, const EntryExaminer &examiner, const dirent *entry, size_t nameLength,
                    jstring name, jint infoMask)
{
    struct stat st;
    if (examiner.examine(entry->d_name, nameLength, &st)) {
        return basefs::newFileInfo(env, st, name, entry->d_name[0] == '.', infoMask);
    }
    return fallbackRecord(env, name, entry->d_type);
}

// Per-call state of one listing.
struct Listing {
    JNIEnv *env;
    DIR *dir;
    const EntryExaminer &examiner;
    jint infoMask;
    jobject monitor;                         // or null
    jint checkInterval;
    // Whether a record can be refused by the array: only a FileInfoEx, and only
    // where the host's FileInfoEx is not a FileInfo. Every index stored is
    // below the capacity, so otherwise a store cannot fail.
    bool storeMayFail;
    basefs::LocalRef<jobjectArray> &records; // the working array
    jsize capacity = kInitialCapacity;
    jsize count = 0;
    jint entriesSinceCheck = 0;              // "." and ".." not counted
    bool stopRequested = false;
    int readError = 0;
};

enum class ListingEnd { Complete, ReadError, ExceptionPending };

// Empties a working array that is about to be dropped. A large one is a
// humongous object to G1, which frees it only after a concurrent marking:
// until then every record it still referred to would be kept alive and
// copied by each young collection (measured without it: 100,000-entry
// listings left 14 to 22 MB alive after a young pause instead of 5 to 6 MB,
// and the pauses took 1.6 to 2.6 times as long). One upcall per dropped array.
bool releaseRecords(JNIEnv *env, jobjectArray records, jsize count)
{
    return basefs::clearArrayElements(env, records, count);
}

// Replaces the working array by one of twice its capacity holding the same
// records. Returns false with an exception pending.
bool grow(Listing &listing)
{
    JNIEnv *env = listing.env;
    // Doubling past 2^30 would overflow; the JVM refuses arrays that large anyway.
    const jsize capacity = listing.capacity > INT_MAX / 2 ? INT_MAX : listing.capacity * 2;
    basefs::LocalRef<jobjectArray> grown(env, env->NewObjectArray(capacity, g_ClassFileInfo, nullptr));
    if (grown.get() == nullptr) {
        return false;
    }
    if (!basefs::copyArrayElements(env, grown.get(), listing.records.get(), listing.count) ||
        !releaseRecords(env, listing.records.get(), listing.count)) {
        return false;
    }
    listing.records.reset(grown.release());
    listing.capacity = capacity;
    return true;
}

// Appends one record to the working array. Returns false with an exception
// pending (a failed growth, or an element the array cannot hold).
bool store(Listing &listing, jobject record)
{
    if (listing.count == listing.capacity && !grow(listing)) {
        return false;
    }
    listing.env->SetObjectArrayElement(listing.records.get(), listing.count, record);
    if (listing.storeMayFail && listing.env->ExceptionCheck()) {
        return false;
    }
    ++listing.count;
    return true;
}

// Asks the monitor whether to stop, once every checkInterval entries. Returns
// false with the monitor's exception pending.
bool checkCanceled(Listing &listing)
{
    if (listing.monitor == nullptr || listing.entriesSinceCheck < listing.checkInterval) {
        return true;
    }
    listing.entriesSinceCheck = 0;
    listing.stopRequested =
        listing.env->CallBooleanMethod(listing.monitor, g_MethodMonitorCancel) == JNI_TRUE;
    return !listing.env->ExceptionCheck();
}

// Lists one entry: its name string, its record, storing it and the cancel
// check. The entry's local references are gone when it returns, so a
// directory of any size stays within the JVM's local-reference capacity.
// Returns false with an exception pending.
bool listEntry(Listing &listing, const dirent *entry)
{
    JNIEnv *env = listing.env;
    ++listing.entriesSinceCheck;
    const size_t nameLength = std::strlen(entry->d_name);
    basefs::LocalRef<jstring> name(env, basefs::newJavaString(env, entry->d_name, nameLength));
    if (name.get() == nullptr) {
        return false;
    }
    basefs::LocalRef<jobject> record(
        env, entryRecord(env, listing.examiner, entry, nameLength, name.get(), listing.infoMask));
    if (record.get() == nullptr) {
        return false;
    }
    return store(listing, record.get()) && checkCanceled(listing);
}

// Reads the directory to its end, or until the monitor asks to stop (the
// stop takes effect at the next read) or an exception is pending. A read
// error leaves its number in readError.
ListingEnd readEntries(Listing &listing)
{
    for (;;) {
        // readdir leaves errno alone at the end of the directory.
        errno = 0;
        const dirent *entry = basefs::sys::readdir(listing.dir);
        if (entry == nullptr) {
            listing.readError = errno;
            return listing.readError == 0 ? ListingEnd::Complete : ListingEnd::ReadError;
        }
        if (listing.stopRequested) {
            return ListingEnd::Complete;
        }
        if (isDotOrDotDot(entry->d_name)) {
            continue;
        }
        if (!listEntry(listing, entry)) {
            return ListingEnd::ExceptionPending;
        }
    }
}

// An array of exactly the records stored, made in this call. Returns null
// with an exception pending.
jobjectArray exactRecords(JNIEnv *env, basefs::LocalRef<jobjectArray> &records, jsize capacity, jsize count)
{
    // Full to its last element, the working array is that array already: the
    // caller gets a new array of exactly count records either way.
    if (count == capacity) {
        return records.release();
    }
    basefs::LocalRef<jobjectArray> result(env, env->NewObjectArray(count, g_ClassFileInfo, nullptr));
    if (result.get() == nullptr) {
        return nullptr;
    }
    if (!basefs::copyArrayElements(env, result.get(), records.get(), count) ||
        !releaseRecords(env, records.get(), count)) {
        return nullptr;
    }
    return result.release();
}

} // namespace

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nListFileInfos(JNIEnv *env, jclass, jstring path, jint infoMask,
                                                            jobject monitor, jint checkInterval)
{
    const basefs::EntryPrologue<1> entry(env, {{path, "path"}}, {monitor, &g_ClassMonitorOrg});
    if (!entry.ok()) {
        return nullptr;
    }
    const basefs::JavaPath &pathChars = entry.path(0);
    basefs::UniqueDir dir(basefs::sys::opendir(pathChars.get()));
    if (dir.get() == nullptr) {
        throwExceptionFromErrNo(env, pathChars.get());
        return nullptr;
    }
    basefs::LocalRef<jobjectArray> records(env, env->NewObjectArray(kInitialCapacity, g_ClassFileInfo, nullptr));
    if (records.get() == nullptr) {
        return nullptr;
    }

    const size_t pathLength = pathChars.length();
    const bool endsWithSeparator = pathLength > 0 && pathChars.get()[pathLength - 1] == '/';
    const EntryExaminer examiner(pathLength, endsWithSeparator, basefs::sys::dirfd(dir.get()));
    const bool storeMayFail = (infoMask & INFO_EXTENDED_RECORD_MASK) != 0 &&
                              !env->IsAssignableFrom(g_ClassFileInfoEx, g_ClassFileInfo);
    Listing listing{env, dir.get(), examiner, infoMask, monitor, checkInterval, storeMayFail, records};
    const ListingEnd end = readEntries(listing);
    dir.close();
    switch (end) {
    case ListingEnd::ReadError:
        // The records gathered so far are dropped.
        throwExceptionFromError(env, listing.readError, pathChars.get());
        return nullptr;
    case ListingEnd::ExceptionPending:
        return nullptr;
    case ListingEnd::Complete:
        break;
    }
    return exactRecords(env, records, listing.capacity, listing.count);
}
