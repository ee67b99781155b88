// A file's record from its status or its directory entry, through JNI or
// written into a batch for ListingRecords, and the permission map between
// mode bits and the attribute word.

#include "FileRecords.h"
#include "JniBridge.h"
#include "NameCodec.h"

#include "FileSystemCommon.h"
#include "com_quenvira_internal_io_ListingRecords.h"

#include <dirent.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <limits>

namespace {

constexpr jlong kMillisPerSecond = 1000;

// Java milliseconds of a file time in whole seconds. File systems with 64-bit
// seconds (tmpfs, btrfs, XFS with big timestamps) hold times beyond what Java
// milliseconds reach: those saturate at the ends of the range instead of
// wrapping round to the other end.
jlong javaTimeFromSeconds(time_t seconds)
{
    constexpr jlong kMaxSeconds = std::numeric_limits<jlong>::max() / kMillisPerSecond;
    constexpr jlong kMinSeconds = std::numeric_limits<jlong>::min() / kMillisPerSecond;
    if (seconds > kMaxSeconds) {
        return std::numeric_limits<jlong>::max();
    }
    if (seconds < kMinSeconds) {
        return std::numeric_limits<jlong>::min();
    }
    return static_cast<jlong>(seconds) * kMillisPerSecond;
}

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

// ---- The maker nInitStatic selects ---------------------------------------------

// After a failed look-up: the JNI way when the failure is a LinkageError
// (the class is missing, of another build, or cannot be linked) or when nothing
// is pending, the exception cleared; kFailed with it pending again otherwise.
basefs::RecordMaker jniUnlessOtherFailure(JNIEnv *env)
{
    return basefs::isLinkageErrorCleared(env) ? basefs::RecordMaker::kJni : basefs::RecordMaker::kFailed;
}

} // namespace

namespace basefs {

jclass g_ClassRecordMaker = nullptr;
jmethodID g_MethodMakeRecords = nullptr;

namespace {

// Set once a maker has left a batch's records unmade: listings make theirs
// through JNI from then on.
std::atomic<bool> g_makerDistrusted{false};

} // namespace

namespace {

// One permission bit of a file mode and its bit in the attribute word; the map
// is one-to-one and is read both ways.
struct PermissionBit {
    mode_t mode;
    jint attribute;
};

constexpr PermissionBit kPermissionBits[] = {
    {S_IRUSR, ATTR_OWNER_READ},   {S_IWUSR, ATTR_OWNER_WRITE},  {S_IXUSR, ATTR_OWNER_EXECUTE},
    {S_IRGRP, ATTR_GROUP_READ},   {S_IWGRP, ATTR_GROUP_WRITE},  {S_IXGRP, ATTR_GROUP_EXECUTE},
    {S_IROTH, ATTR_OTHERS_READ},  {S_IWOTH, ATTR_OTHERS_WRITE}, {S_IXOTH, ATTR_OTHERS_EXECUTE},
    {S_ISUID, ATTR_SET_UID},      {S_ISGID, ATTR_SET_GID},      {S_ISVTX, ATTR_STICKY},
};

// The attribute bits of every combination of six permission bits, those of
// the group and others (shift 0) or those of the owner and the special bits
// (shift 6), made from kPermissionBits: two loads in place of twelve tests
// for each record.
struct HalfModeTable {
    jint attributes[64];
};

constexpr HalfModeTable halfModeTable(unsigned shift)
{
    HalfModeTable table{};
    for (unsigned bits = 0; bits < 64; ++bits) {
        for (const PermissionBit &bit : kPermissionBits) {
            if (((bits << shift) & bit.mode) != 0) {
                table.attributes[bits] |= bit.attribute;
            }
        }
    }
    return table;
}

constexpr HalfModeTable kLowHalf = halfModeTable(0);
constexpr HalfModeTable kHighHalf = halfModeTable(6);

// The attribute-word bits of the twelve permission bits of a file mode.
jint attributesFromMode(mode_t mode)
{
    return kLowHalf.attributes[mode & 077] | kHighHalf.attributes[(mode >> 6) & 077];
}

} // namespace

// The twelve permission bits of a file mode taken from an attribute word; the
// type, hidden and all other attribute bits are ignored.
mode_t modeFromAttributes(jint attributes)
{
    mode_t mode = 0;
    for (const PermissionBit &bit : kPermissionBits) {
        if ((attributes & bit.attribute) != 0) {
            mode |= bit.mode;
        }
    }
    return mode;
}


RecordFields recordFields(const struct stat &st, bool hidden, jint infoMask)
{
    RecordFields fields{};
    fields.attributes = hidden ? ATTR_HIDDEN : 0;
    fields.size = st.st_size;
    if (S_ISDIR(st.st_mode)) {
        fields.attributes |= ATTR_DIRECTORY;
        fields.size = 0; // what a file system reports for a directory is not a content size
    } else if (S_ISLNK(st.st_mode)) {
        fields.attributes |= ATTR_SYMLINK;
    }
    fields.attributes |= attributesFromMode(st.st_mode);
    fields.modified = javaTimeFromSeconds(st.st_mtime);
    fields.accessed = (infoMask & INFO_ACCESSED) != 0 ? javaTimeFromSeconds(st.st_atime) : 0;
    fields.owner = (infoMask & INFO_OWNER) != 0 ? static_cast<jint>(st.st_uid) : 0;
    fields.group = (infoMask & INFO_GROUP) != 0 ? static_cast<jint>(st.st_gid) : 0;
    return fields;
}

RecordFields fallbackFields(unsigned char entryType)
{
    RecordFields fields{};
    if (entryType == DT_DIR) {
        fields.attributes = ATTR_DIRECTORY;
    } else if (entryType == DT_LNK) {
        fields.attributes = ATTR_SYMLINK;
    }
    return fields;
}

bool wantsExtendedRecord(jint infoMask)
{
    return (infoMask & INFO_EXTENDED_RECORD_MASK) != 0;
}

namespace {

// A plain FileInfo. NewObjectA: the arguments go to the constructor as they
// are, without the va_list walk NewObject makes through its signature.
jobject newPlainRecord(JNIEnv *env, jstring name, const RecordFields &fields)
{
    jvalue args[4];
    args[0].l = name;
    args[1].i = fields.attributes;
    args[2].j = fields.size;
    args[3].j = fields.modified;
    return env->NewObjectA(g_ClassFileInfo, g_MethodFileInfoConstruct, args);
}

} // namespace

namespace {
jobject newExtendedRecord(JNIEnv *env, jstring name, const RecordFields &fields);
} // namespace

jobject newFileInfo(JNIEnv *env, const struct stat &st, jstring name, bool hidden, jint infoMask)
{
    const RecordFields fields = recordFields(st, hidden, infoMask);
    return wantsExtendedRecord(infoMask) ? newExtendedRecord(env, name, fields) : newPlainRecord(env, name, fields);
}

jobject newFallbackFileInfo(JNIEnv *env, jstring name, unsigned char entryType)
{
    return newPlainRecord(env, name, fallbackFields(entryType));
}

namespace {

// A FileInfoEx of the fields, as newFileInfo makes one.
jobject newExtendedRecord(JNIEnv *env, jstring name, const RecordFields &fields)
{
    jvalue args[8];
    args[0].l = name;
    args[1].i = fields.attributes;
    args[2].j = fields.size;
    args[3].j = fields.modified;
    args[4].j = fields.accessed;
    args[5].j = 0; // the fourth time: Linux keeps no creation time that lstat reports
    args[6].i = fields.owner;
    args[7].i = fields.group;
    return env->NewObjectA(g_ClassFileInfoEx, g_MethodFileInfoExConstruct, args);
}

} // namespace

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
    return canMake == JNI_TRUE ? RecordMaker::kCompiledJava : RecordMaker::kJni;
}

bool recordsMadeInJava()
{
    return g_ClassRecordMaker != nullptr && !g_makerDistrusted.load(std::memory_order_relaxed);
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
        LocalRef<jobject> record(env, extended && !fallback ? newExtendedRecord(env, nameString.get(), fields)
                                                            : newPlainRecord(env, nameString.get(), fields));
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
