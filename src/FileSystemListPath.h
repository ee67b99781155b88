// The listing of an open directory, which nListFileInfos and the walk by
// descriptors share, and the sizes it works in, shared with the tests that
// watch it grow.
#ifndef BASEFS_FILE_SYSTEM_LIST_PATH_H
#define BASEFS_FILE_SYSTEM_LIST_PATH_H

#include "Holders.h"

#include <dirent.h>
#include <jni.h>

#include <cstddef>
#include <cstdlib>

namespace basefs {

// The first capacity of a listing's working array, which doubles from there:
// directories of up to this many entries are listed without a growth (each
// costs two upcalls and a new array).
inline constexpr jsize kListingInitialCapacity = 256;

// The device and inode of each entry a listing examined, two values per
// record in the records' order; 0, 0 for an entry that could not be examined.
class EntryIdentities : NonCopyable {
public:
    EntryIdentities() = default;
    ~EntryIdentities() { std::free(values_); }
    // False, keeping what it holds, when no room could be allocated.
    bool add(jlong device, jlong inode);
    const jlong *data() const { return values_; }
    size_t size() const { return size_; }

private:
    jlong *values_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// The records of the entries of the open directory `dir`, "." and ".."
// left out, as nListFileInfos makes them: an entry whose path (the
// prefixLength bytes of the directory's path and separator, then its name)
// the kernel would refuse gets the fallback record; the monitor is asked
// every checkInterval entries. Fills `identities` unless it is null. Returns
// null with an exception pending.
jobjectArray listOpenDirectory(JNIEnv *env, DIR *dir, size_t prefixLength, jint infoMask, jobject monitor,
                               jint checkInterval, EntryIdentities *identities);

} // namespace basefs

#endif // BASEFS_FILE_SYSTEM_LIST_PATH_H
