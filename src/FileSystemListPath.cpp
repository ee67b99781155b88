// Directory listing: the records of a whole directory in one native call.

#include "ExaminerPool.h"
#include "FileRecords.h"
#include "FileSystemListPath.h"
#include "JniBridge.h"
#include "ListingState.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

constexpr jsize kInitialCapacity = basefs::kListingInitialCapacity;
using basefs::EntryExaminer;
using basefs::Listing;
using basefs::ListingEnd;

// The record of one entry made through JNI from its status, or the fallback
// record when it could not be examined (st null). Returns null only with an
// exception pending.
jobject entryRecord(JNIEnv *env, const dirent *entry, const struct stat *st, jstring name, jint infoMask)
{
    if (st != nullptr) {
        return basefs::newFileInfo(env, *st, name, entry->d_name[0] == '.', infoMask);
    }
    return basefs::newFallbackFileInfo(env, name, entry->d_type);
}

// Empties a working array that is about to be dropped, so that G1 does not
// keep its records alive until the array itself, often humongous, is freed
// (docs/benchmark.md: the dropped working arrays). One upcall per array.
bool releaseRecords(JNIEnv *env, jobjectArray records, jsize count)
{
    return basefs::clearArrayElements(env, records, count);
}

// Replaces the working array by one of twice its capacity, or more until it
// holds `needed` records, holding the same records. Returns false with an
// exception pending.
bool grow(Listing &listing, jsize needed)
{
    JNIEnv *env = listing.env;
    jsize capacity = listing.capacity;
    while (capacity < needed) {
        // Doubling past 2^30 would overflow; the JVM refuses arrays that large anyway.
        capacity = capacity > INT_MAX / 2 ? INT_MAX : capacity * 2;
    }
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
    if (listing.count == listing.capacity && !grow(listing, listing.count + 1)) {
        return false;
    }
    listing.env->SetObjectArrayElement(listing.records.get(), listing.count, record);
    if (listing.storeMayFail && listing.env->ExceptionCheck()) {
        return false;
    }
    ++listing.count;
    return true;
}

// The Java array a batch of `bytes` is handed over in: the one of an earlier
// batch when it is large enough, else one of the batch's capacity (or of just
// `bytes` for the last batch, the whole of a small directory). Returns null
// with an exception pending.
jbyteArray javaBatchFor(Listing &listing, size_t bytes, bool last)
{
    JNIEnv *env = listing.env;
    const auto needed = static_cast<jsize>(bytes);
    if (listing.javaBatch.get() == nullptr || env->GetArrayLength(listing.javaBatch.get()) < needed) {
        const jsize length = last ? needed : static_cast<jsize>(basefs::RecordBatch::kCapacityBytes);
        listing.javaBatch.reset(env->NewByteArray(length));
    }
    return listing.javaBatch.get();
}

// Makes the waiting records into the working array, grown to hold them, by
// one upcall. Returns false with an exception pending.
bool flushBatch(Listing &listing, bool last)
{
    basefs::RecordBatch *batch = listing.batch;
    if (batch == nullptr || batch->entries() == 0) {
        return true;
    }
    const jsize needed = listing.count + batch->entries();
    if (needed > listing.capacity && !grow(listing, needed)) {
        return false;
    }
    jbyteArray javaBatch = javaBatchFor(listing, batch->bytes(), last);
    if (javaBatch == nullptr ||
        !basefs::makeBatchRecords(listing.env, *batch, javaBatch, listing.records.get(), listing.count,
                                  basefs::wantsExtendedRecord(listing.infoMask))) {
        return false;
    }
    listing.count = needed;
    batch->clear();
    return true;
}

// Asks the monitor whether to stop, once every checkInterval entries, once
// the records of the entries before are made. Returns false with an
// exception pending (the monitor's, or one of making the records).
bool checkCanceled(Listing &listing)
{
    if (listing.monitor == nullptr || listing.entriesSinceCheck < listing.checkInterval) {
        return true;
    }
    if (!flushBatch(listing, false)) {
        return false;
    }
    listing.entriesSinceCheck = 0;
    listing.stopRequested =
        listing.env->CallBooleanMethod(listing.monitor, g_MethodMonitorCancel) == JNI_TRUE;
    return !listing.env->ExceptionCheck();
}

// Makes one entry's name string and record through JNI and stores it. The
// entry's local references are gone when it returns, so a directory of any
// size stays within the JVM's local-reference capacity. Returns false with an
// exception pending.
bool listEntryThroughJni(Listing &listing, const dirent *entry, size_t nameLength, const struct stat *st)
{
    JNIEnv *env = listing.env;
    basefs::LocalRef<jstring> name(env, basefs::newJavaString(env, entry->d_name, nameLength));
    if (name.get() == nullptr) {
        return false;
    }
    basefs::LocalRef<jobject> record(env, entryRecord(env, entry, st, name.get(), listing.infoMask));
    if (record.get() == nullptr) {
        return false;
    }
    return store(listing, record.get());
}

// Writes one entry's record into the batch, making the waiting records first
// when the batch is full. A name too long for any batch is made through JNI,
// after the records before it. Returns false with an exception pending.
bool listEntryInBatch(Listing &listing, const dirent *entry, size_t nameLength, const struct stat *st)
{
    if (!basefs::RecordBatch::fitsEmpty(nameLength)) {
        return flushBatch(listing, false) && listEntryThroughJni(listing, entry, nameLength, st);
    }
    const basefs::RecordFields fields = st != nullptr
                                            ? basefs::recordFields(*st, entry->d_name[0] == '.', listing.infoMask)
                                            : basefs::fallbackFields(entry->d_type);
    basefs::RecordBatch &batch = *listing.batch;
    if (batch.append(fields, st == nullptr, entry->d_name, nameLength)) {
        return true;
    }
    return flushBatch(listing, false) && batch.append(fields, st == nullptr, entry->d_name, nameLength);
}

// Keeps the identity of the entry just examined (st null: none known) for a
// caller that asked for them. Returns false with an OutOfMemoryError pending.
bool keepIdentity(Listing &listing, const struct stat *st)
{
    if (listing.identities == nullptr) {
        return true;
    }
    const bool kept = st != nullptr ? listing.identities->add(static_cast<jlong>(st->st_dev),
                                                              static_cast<jlong>(st->st_ino))
                                    : listing.identities->add(0, 0);
    if (!kept) {
        JNU_ThrowOutOfMemoryError(listing.env, "Cannot allocate buffer for listing");
    }
    return kept;
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

namespace basefs {

// Lists one entry whose status is `st` (null: it could not be examined),
// then makes the cancel check. Returns false with an exception pending.
bool listExamined(Listing &listing, const dirent *entry, size_t nameLength, const struct stat *st)
{
    ++listing.entriesSinceCheck;
    if (!keepIdentity(listing, st)) {
        return false;
    }
    const bool listed = listing.batch != nullptr ? listEntryInBatch(listing, entry, nameLength, st)
                                                 : listEntryThroughJni(listing, entry, nameLength, st);
    return listed && checkCanceled(listing);
}

bool EntryIdentities::add(jlong device, jlong inode)
{
    if (size_ + 2 > capacity_) {
        const size_t capacity = capacity_ == 0 ? 2 * static_cast<size_t>(kInitialCapacity) : 2 * capacity_;
        void *grown = std::realloc(values_, capacity * sizeof(jlong));
        if (grown == nullptr) {
            return false;
        }
        values_ = static_cast<jlong *>(grown);
        capacity_ = capacity;
    }
    values_[size_++] = device;
    values_[size_++] = inode;
    return true;
}

jobjectArray listOpenDirectory(JNIEnv *env, DIR *dir, size_t prefixLength, jint infoMask, jobject monitor,
                               jint checkInterval, EntryIdentities *identities)
{
    LocalRef<jobjectArray> records(env, env->NewObjectArray(kInitialCapacity, g_ClassFileInfo, nullptr));
    if (records.get() == nullptr) {
        return nullptr;
    }
    const EntryExaminer examiner(prefixLength, sys::dirfd(dir));
    const bool storeMayFail = wantsExtendedRecord(infoMask) &&
                              !env->IsAssignableFrom(g_ClassFileInfoEx, g_ClassFileInfo);
    // One bounded batch per call: the records are made in compiled Java where
    // the library's ListingRecords serves.
    std::optional<RecordBatch> batch;
    if (recordsMadeInJava()) {
        batch.emplace();
        if (!batch->allocated()) {
            JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for listing");
            return nullptr;
        }
    }
    Listing listing{.env = env,
                    .dir = dir,
                    .examiner = examiner,
                    .infoMask = infoMask,
                    .monitor = monitor,
                    .checkInterval = checkInterval,
                    .storeMayFail = storeMayFail,
                    .records = records,
                    .batch = batch ? &*batch : nullptr,
                    .javaBatch = LocalRef<jbyteArray>(env, nullptr),
                    .identities = identities};
    listing.policy = examinerPolicyFor(sys::dirfd(dir));
    ListingEnd end = readEntries(listing);
    if (end == ListingEnd::Complete && !flushBatch(listing, true)) {
        end = ListingEnd::ExceptionPending;
    }
    switch (end) {
    case ListingEnd::ReadError:
        // The records gathered so far are dropped.
        throwExceptionFromError(env, listing.readError, nullptr);
        return nullptr;
    case ListingEnd::ExceptionPending:
        return nullptr;
    case ListingEnd::Complete:
        break;
    }
    return exactRecords(env, records, listing.capacity, listing.count);
}

} // namespace basefs

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
    const size_t pathLength = pathChars.length();
    const bool endsWithSeparator = pathLength > 0 && pathChars.get()[pathLength - 1] == '/';
    return basefs::listOpenDirectory(env, dir.get(), pathLength + (endsWithSeparator ? 0 : 1), infoMask, monitor,
                                     checkInterval, nullptr);
}
