// The state of one listing, shared by the side that reads and examines the
// directory's entries (ListingReader.cpp) and the side that makes and stores
// their records (FileSystemListPath.cpp).
#ifndef BASEFS_LISTING_STATE_H
#define BASEFS_LISTING_STATE_H

#include "EntryChunk.h"
#include "ExaminerPool.h"
#include "FileRecords.h"
#include "FileSystemListPath.h"
#include "Holders.h"
#include "JniBridge.h"

#include <dirent.h>
#include <jni.h>
#include <sys/stat.h>

namespace basefs {

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
    LocalRef<jobjectArray> &records;         // the working array
    // Records waiting to be made in compiled Java, or null where they are made
    // one at a time through JNI; the Java array they are handed over in.
    RecordBatch *batch;
    LocalRef<jbyteArray> javaBatch;
    EntryIdentities *identities;             // or null where the caller needs none
    jsize capacity = kListingInitialCapacity;
    jsize count = 0;                         // records in the working array
    jint entriesSinceCheck = 0;              // "." and ".." not counted
    bool stopRequested = false;
    int readError = 0;
    // How the entries past the first are examined (no helpers where
    // `waiting` is 0), and by how many helpers now.
    ExaminerPolicy policy{};
    unsigned helpers = 0;
};

enum class ListingEnd { Complete, ReadError, ExceptionPending };

// Lists one entry whose status is `st` (null: it could not be examined),
// then makes the cancel check. Returns false with an exception pending.
bool listExamined(Listing &listing, const dirent *entry, size_t nameLength, const struct stat *st);

// Reads the directory to its end, or until the monitor asks to stop (the
// stop takes effect at the next read) or an exception is pending. A read
// error leaves its number in readError.
ListingEnd readEntries(Listing &listing);

} // namespace basefs

#endif // BASEFS_LISTING_STATE_H
