// The records of a listing written into batches in the layout of
// ListingRecords, which one upcall turns into records in compiled Java; one
// file's record by one upcall to its factories; the choice of that way by
// nInitStatic, and the records made through JNI instead where a maker of that
// name leaves a batch or a record unmade.

#include "FileRecords.h"
#include "JniBridge.h"
#include "NameCodec.h"

#include "com_quenvira_internal_io_ListingRecords.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

// ---- The batch layout, shared with ListingRecords ------------------------------

// The layout the writer below makes; the Java class carries its own version,
// which nInitStatic compares with this one at run time (a jar and a library of
// different releases), while the offsets are checked here at compile time.
constexpr jint kLayoutVersion = 1;
#define BASEFS_SAME_LAYOUT(constant, javaConstant) \
    static_assert((constant) == (com_quenvira_internal_io_ListingRecords_##javaConstant), \
                  #constant " differs from ListingRecords." #javaConstant)

struct EntryHeader {
    jint attributes;
    jint nameLength; // bytes, or UTF-16 units with kFlagUtf16Name
    jint flags;
    jint owner;
    jlong size;
    jlong modified;
    jlong accessed;
    jint group;
    jint unused;
};
constexpr jint kFlagUtf16Name = 0x1;
constexpr jint kFlagFallback = 0x2;
constexpr size_t kEntryAlignment = 8;

BASEFS_SAME_LAYOUT(kLayoutVersion, LAYOUT_VERSION);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, attributes), OFFSET_ATTRIBUTES);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, nameLength), OFFSET_NAME_LENGTH);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, flags), OFFSET_FLAGS);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, owner), OFFSET_OWNER);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, size), OFFSET_SIZE);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, modified), OFFSET_MODIFIED);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, accessed), OFFSET_ACCESSED);
BASEFS_SAME_LAYOUT(offsetof(EntryHeader, group), OFFSET_GROUP);
BASEFS_SAME_LAYOUT(sizeof(EntryHeader), HEADER_BYTES);
BASEFS_SAME_LAYOUT(kEntryAlignment, ENTRY_ALIGNMENT);
BASEFS_SAME_LAYOUT(kFlagUtf16Name, FLAG_UTF16_NAME);
BASEFS_SAME_LAYOUT(kFlagFallback, FLAG_FALLBACK);
static_assert(sizeof(char16_t) == sizeof(jchar), "a UTF-16 unit is a jchar");

constexpr size_t alignEntry(size_t offset)
{
    return (offset + kEntryAlignment - 1) & ~(kEntryAlignment - 1);
}

// The most bytes a name of nameLength bytes takes in a batch: one UTF-16 unit per byte at worst.
constexpr size_t maxEntryBytes(size_t nameLength)
{
    return alignEntry(sizeof(EntryHeader) + nameLength * sizeof(char16_t));
}

// Whether every byte is below 0x80: such a name travels as its bytes, each a
// Latin-1 character. One OR over the whole name, which the compiler vectorises.
bool isAscii(const char *name, size_t length)
{
    unsigned char any = 0;
    for (size_t i = 0; i < length; ++i) {
        any |= static_cast<unsigned char>(name[i]);
    }
    return any < 0x80;
}

// After a failed look-up: the JNI way when the failure is a LinkageError
// (the class is missing, of another build, or cannot be linked) or when nothing
// is pending, the exception cleared; kFailed with it pending again otherwise.
basefs::RecordMaker jniUnlessOtherFailure(JNIEnv *env)
{
    return basefs::isLinkageErrorCleared(env) ? basefs::RecordMaker::kJni : basefs::RecordMaker::kFailed;
}

// Whether the maker has the factories of single records and makes them of
// the host's very classes: a factory hands a record back with no array store
// to check its class, and a maker another loader defined may see other classes
// of those names. False also with an exception pending.
bool hasHostRecordFactories(JNIEnv *env, jclass maker)
{
    const jmethodID plain = env->GetStaticMethodID(maker, "record", basefs::kMakeRecordSignature);
    const jmethodID extended = plain != nullptr ? env->GetStaticMethodID(maker, "extendedRecord",
                                                                         basefs::kMakeExtendedRecordSignature)
                                                : nullptr;
    const jmethodID same = extended != nullptr ? env->GetStaticMethodID(maker, "makesRecordsOf",
                                                                        "(Ljava/lang/Class;Ljava/lang/Class;)Z")
                                               : nullptr;
    return same != nullptr &&
           env->CallStaticBooleanMethod(maker, same, g_ClassFileInfo, g_ClassFileInfoEx) == JNI_TRUE &&
           !env->ExceptionCheck();
}

} // namespace

namespace basefs {

jclass g_ClassRecordMaker = nullptr;
jmethodID g_MethodMakeRecords = nullptr;
jmethodID g_MethodMakeRecord = nullptr;
jmethodID g_MethodMakeExtendedRecord = nullptr;

std::atomic<bool> g_makerDistrusted{false};

// ---- The batch ------------------------------------------------------------------

bool RecordBatch::fitsEmpty(size_t nameLength)
{
    return nameLength <= kCapacityBytes && maxEntryBytes(nameLength) <= kCapacityBytes;
}

bool RecordBatch::append(const RecordFields &fields, bool fallback, const char *name, size_t nameLength)
{
    if (!fitsEmpty(nameLength) || maxEntryBytes(nameLength) > kCapacityBytes - used_) {
        return false;
    }
    char *const entry = buffer_.get() + used_;
    char *const nameStart = entry + sizeof(EntryHeader);
    EntryHeader header{};
    size_t nameBytes = nameLength;
    if (isAscii(name, nameLength)) {
        std::memcpy(nameStart, name, nameLength);
        header.nameLength = static_cast<jint>(nameLength);
    } else {
        // The header's size keeps the units aligned; a byte never yields more than one unit.
        const size_t units = decodeNameBytes(name, nameLength, reinterpret_cast<char16_t *>(nameStart));
        header.nameLength = static_cast<jint>(units);
        header.flags = kFlagUtf16Name;
        nameBytes = units * sizeof(char16_t);
    }
    header.attributes = fields.attributes;
    header.size = fields.size;
    header.modified = fields.modified;
    header.accessed = fields.accessed;
    header.owner = fields.owner;
    header.group = fields.group;
    if (fallback) {
        header.flags |= kFlagFallback;
    }
    std::memcpy(entry, &header, sizeof header);
    used_ = alignEntry(used_ + sizeof(EntryHeader) + nameBytes);
    ++entries_;
    return true;
}

// ---- The maker --------------------------------------------------------------------

bool isLinkageErrorCleared(JNIEnv *env)
{
    LocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
    if (thrown.get() == nullptr) {
        return true;
    }
    env->ExceptionClear();
    LocalRef<jclass> linkageError(env, env->FindClass("java/lang/LinkageError"));
    if (linkageError.get() == nullptr) {
        return false; // the JVM's own error is pending
    }
    if (env->IsInstanceOf(thrown.get(), linkageError.get())) {
        return true;
    }
    env->Throw(thrown.get());
    return false;
}

RecordMaker findRecordMaker(JNIEnv *env, const char *className)
{
    // Bytecode checks what JNI does not: an extended record that is no record
    // would fail to verify or to store; JNI's array store reports it instead.
    if (!env->IsAssignableFrom(g_ClassFileInfoEx, g_ClassFileInfo)) {
        return RecordMaker::kJni;
    }
    LocalRef<jclass> maker(env, env->FindClass(className));
    if (maker.get() == nullptr) {
        return jniUnlessOtherFailure(env);
    }
    // Looking up a field initialises the class: its static initialiser may fail.
    const jfieldID version = env->GetStaticFieldID(maker.get(), "LAYOUT_VERSION", "I");
    if (version == nullptr) {
        return jniUnlessOtherFailure(env);
    }
    if (env->GetStaticIntField(maker.get(), version) != kLayoutVersion) {
        return RecordMaker::kJni;
    }
    const jmethodID make = env->GetStaticMethodID(maker.get(), "make", kMakeRecordsSignature);
    const jmethodID check = make != nullptr ? env->GetStaticMethodID(maker.get(), "canMakeRecords", "()Z") : nullptr;
    if (check == nullptr) {
        return jniUnlessOtherFailure(env);
    }
    const jboolean canMake = env->CallStaticBooleanMethod(maker.get(), check);
    if (env->ExceptionCheck()) {
        return jniUnlessOtherFailure(env);
    }
    if (canMake != JNI_TRUE) {
        return RecordMaker::kJni;
    }
    return hasHostRecordFactories(env, maker.get()) ? RecordMaker::kCompiledJava : jniUnlessOtherFailure(env);
}

bool recordsMadeInJava()
{
    return g_ClassRecordMaker != nullptr && !g_makerDistrusted.load(std::memory_order_relaxed);
}

jobject makeRecord(JNIEnv *env, jstring name, const RecordFields &fields, bool extended)
{
    jvalue args[7];
    args[0].l = name;
    args[1].i = fields.attributes;
    args[2].j = fields.size;
    args[3].j = fields.modified;
    args[4].j = fields.accessed;
    args[5].i = fields.owner;
    args[6].i = fields.group;
    jobject record = env->CallStaticObjectMethodA(
        g_ClassRecordMaker, extended ? g_MethodMakeExtendedRecord : g_MethodMakeRecord, args);
    // Checked even after a record: callers that check nothing after NewObjectA
    // must meet no warning of -Xcheck:jni.
    if (env->ExceptionCheck() || record != nullptr) {
        return record;
    }
    // A class of that name from elsewhere on the class path may make nothing.
    g_makerDistrusted.store(true, std::memory_order_relaxed);
    return newRecord(env, name, fields, extended);
}

namespace {

// The name of a batch entry whose header is `header` and whose name starts at
// `name`, as a new Java string. Returns null with an exception pending.
jstring batchEntryName(JNIEnv *env, const EntryHeader &header, const char *name)
{
    const jsize length = header.nameLength;
    HeapBuffer<jchar> units(static_cast<size_t>(length > 0 ? length : 1));
    if (units.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for listing");
        return nullptr;
    }
    if ((header.flags & kFlagUtf16Name) != 0) {
        std::memcpy(units.get(), name, static_cast<size_t>(length) * sizeof(jchar));
    } else {
        for (jsize i = 0; i < length; ++i) {
            units.get()[i] = static_cast<unsigned char>(name[i]);
        }
    }
    return env->NewString(units.get(), length);
}

// Makes the batch's records through JNI, as they would have been made one at
// a time, into `records` from index `start`. Returns false with an exception pending.
bool makeBatchRecordsThroughJni(JNIEnv *env, const RecordBatch &batch, jobjectArray records, jsize start,
                                bool extended)
{
    size_t offset = 0;
    for (jint i = 0; i < batch.entries(); ++i) {
        EntryHeader header;
        std::memcpy(&header, batch.data() + offset, sizeof header);
        const char *name = batch.data() + offset + sizeof header;
        LocalRef<jstring> nameString(env, batchEntryName(env, header, name));
        if (nameString.get() == nullptr) {
            return false;
        }
        const RecordFields fields{header.attributes, header.size,  header.modified,
                                  header.accessed,   header.owner, header.group};
        const bool fallback = (header.flags & kFlagFallback) != 0;
        LocalRef<jobject> record(env, extended && !fallback ? newRecord(env, nameString.get(), fields, true)
                                                            : newRecord(env, nameString.get(), fields, false));
        if (record.get() == nullptr) {
            return false;
        }
        env->SetObjectArrayElement(records, start + i, record.get());
        if (env->ExceptionCheck()) {
            return false;
        }
        const size_t nameBytes = static_cast<size_t>(header.nameLength) *
                                 ((header.flags & kFlagUtf16Name) != 0 ? sizeof(jchar) : 1);
        offset = alignEntry(offset + sizeof header + nameBytes);
    }
    return true;
}

// Whether the element at `index` holds a record. Returns false also with an exception pending.
bool isFilled(JNIEnv *env, jobjectArray records, jsize index)
{
    LocalRef<jobject> element(env, env->GetObjectArrayElement(records, index));
    return element.get() != nullptr;
}

} // namespace

bool makeBatchRecords(JNIEnv *env, const RecordBatch &batch, jbyteArray javaBatch, jobjectArray records,
                      jsize start, bool extended)
{
    env->SetByteArrayRegion(javaBatch, 0, static_cast<jsize>(batch.bytes()),
                            reinterpret_cast<const jbyte *>(batch.data()));
    env->CallStaticVoidMethod(g_ClassRecordMaker, g_MethodMakeRecords, javaBatch, batch.entries(), records, start,
                              static_cast<jboolean>(extended));
    if (env->ExceptionCheck()) {
        return false;
    }
    // A class of that name from elsewhere on the class path may store nothing:
    // its batches are made through JNI, and so are all that follow.
    const jsize last = start + batch.entries() - 1;
    if (isFilled(env, records, start) && isFilled(env, records, last)) {
        return true;
    }
    if (env->ExceptionCheck()) {
        return false;
    }
    g_makerDistrusted.store(true, std::memory_order_relaxed);
    return makeBatchRecordsThroughJni(env, batch, records, start, extended);
}

} // namespace basefs
