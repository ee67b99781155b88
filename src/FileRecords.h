// A file's record (FileInfo, or FileInfoEx when the info mask asks for one)
// from its status or, for an entry that cannot be examined, from its directory
// entry type; made through JNI one at a time, by one upcall each to a factory
// of the library's ListingRecords class, or written into a batch that one
// upcall to that class turns into records in compiled Java. Also the
// permission map between mode bits and the attribute word.
#ifndef BASEFS_FILE_RECORDS_H
#define BASEFS_FILE_RECORDS_H

#include "Holders.h"

#include <jni.h>
#include <sys/stat.h>

#include <atomic>
#include <cstddef>

namespace basefs {

// What one record holds besides its name.
struct RecordFields {
    jint attributes;
    jlong size;
    jlong modified;
    jlong accessed; // 0 unless the info mask asks for it
    jint owner;     // 0 unless the info mask asks for it
    jint group;     // 0 unless the info mask asks for it
};

// The fields of the record of the file whose status is st.
RecordFields recordFields(const struct stat &st, bool hidden, jint infoMask);

// The fields of the reduced record of an entry that cannot be examined: typed
// from the directory entry alone (DT_DIR, DT_LNK), no other bits, size and time 0.
RecordFields fallbackFields(unsigned char entryType);

// Whether the info mask asks for FileInfoEx records.
bool wantsExtendedRecord(jint infoMask);

// The twelve permission bits of a file mode taken from an attribute word; the
// type, hidden and all other attribute bits are ignored.
mode_t modeFromAttributes(jint attributes);

// A new FileInfo (or FileInfoEx when infoMask asks for one) of the file whose
// status is st, named by the caller's own string object. Returns null with
// the JVM's exception pending when construction fails.
jobject newFileInfo(JNIEnv *env, const struct stat &st, jstring name, bool hidden, jint infoMask);

// A new FileInfoEx (extended) or FileInfo of the fields. Returns null with
// the JVM's exception pending when construction fails.
jobject newRecord(JNIEnv *env, jstring name, const RecordFields &fields, bool extended);

// A new plain FileInfo of an entry that cannot be examined (fallbackFields).
// Returns null with the JVM's exception pending when construction fails.
jobject newFallbackFileInfo(JNIEnv *env, jstring name, unsigned char entryType);

// ---- Records made in compiled Java --------------------------------------------

// The records of a listing written one after the other in the layout of
// ListingRecords; bounded, so a directory of any size is listed in batches.
class RecordBatch : NonCopyable {
public:
    // Room for some 500 entries of short names, with the Java array of the same size.
    static constexpr size_t kCapacityBytes = 32 * 1024;

    RecordBatch() : buffer_(kCapacityBytes) {}
    // False when its buffer could not be allocated.
    bool allocated() const { return buffer_.get() != nullptr; }

    // Appends the record of `name` (nameLength bytes). A fallback record is a
    // plain FileInfo whatever the listing asks for. Returns false, writing
    // nothing, when the batch has no room for it.
    bool append(const RecordFields &fields, bool fallback, const char *name, size_t nameLength);

    // Whether a record of a name of nameLength bytes fits an empty batch.
    static bool fitsEmpty(size_t nameLength);

    const char *data() const { return buffer_.get(); }
    size_t bytes() const { return used_; }
    jint entries() const { return entries_; }
    void clear()
    {
        used_ = 0;
        entries_ = 0;
    }

private:
    HeapBuffer<char> buffer_;
    size_t used_ = 0;
    jint entries_ = 0;
};

// How records are made, chosen once by nInitStatic.
enum class RecordMaker {
    kCompiledJava, // in batches, by ListingRecords.make
    kJni,          // one NewObject per record
    kFailed,       // initialisation fails; an exception is pending
};

// After a failed class or member look-up: true when nothing is pending or the
// pending exception is a LinkageError (the class is missing, of another build,
// or cannot be linked), which is cleared; false with the exception pending
// again otherwise (or the JVM's own, when LinkageError cannot be found).
bool isLinkageErrorCleared(JNIEnv *env);

// Looks up the record-making class `className` (ListingRecords in the
// library): compiled Java when it has this library's layout and can make the
// host's records as JNI would; JNI when it is missing, of another layout, not
// linkable, or cannot reach the host's classes (nothing left pending);
// kFailed for any other failure, with its exception pending.
RecordMaker findRecordMaker(JNIEnv *env, const char *className);

// The library's record-making class and its method that makes a batch's
// records. nInitStatic resolves them when findRecordMaker chooses compiled
// Java, before its release store of g_InitRes; null for the JNI way.
inline constexpr const char *kRecordMakerClass = "com/quenvira/internal/io/ListingRecords";
inline constexpr const char *kMakeRecordsSignature = "([BI[Ljava/lang/Object;IZ)V";
extern jclass g_ClassRecordMaker;
extern jmethodID g_MethodMakeRecords;

// Its static factories of one record (ListingRecords.record and
// extendedRecord), resolved after `make` where findRecordMaker chooses
// compiled Java. One each: an upcall's arguments cost by their number.
inline constexpr const char *kMakeRecordSignature = "(Ljava/lang/String;IJJ)Lcom/quenvira/io/FileInfo;";
inline constexpr const char *kMakeExtendedRecordSignature = "(Ljava/lang/String;IJJJII)Lcom/quenvira/io/FileInfoEx;";
extern jmethodID g_MethodMakeRecord;
extern jmethodID g_MethodMakeExtendedRecord;

// Set once a maker has left a batch's records unmade, or its factory returned
// no record: records are made through JNI from then on.
extern std::atomic<bool> g_makerDistrusted;

// Whether records are made in compiled Java.
bool recordsMadeInJava();

// A new FileInfoEx (extended) or FileInfo of the fields, as newRecord makes
// it, by one upcall to the maker's factory; for recordsMadeInJava() only.
// A factory that returns null with nothing pending is distrusted and the
// record made through JNI. Returns null with an exception pending.
jobject makeRecord(JNIEnv *env, jstring name, const RecordFields &fields, bool extended);

// Makes the batch's records and stores them into `records` from index
// `start`, which has room for them all, by one upcall. Returns false with an
// exception pending (a constructor's, or the array's).
bool makeBatchRecords(JNIEnv *env, const RecordBatch &batch, jbyteArray javaBatch, jobjectArray records,
                      jsize start, bool extended);

} // namespace basefs

#endif // BASEFS_FILE_RECORDS_H
