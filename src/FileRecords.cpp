// A file's record from its status or its directory entry, made through JNI,
// and the permission map between mode bits and the attribute word.

#include "FileRecords.h"

#include "FileSystemCommon.h"

#include <dirent.h>

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

} // namespace

namespace basefs {

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


// A FileInfoEx of the fields.
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

jobject newRecord(JNIEnv *env, jstring name, const RecordFields &fields, bool extended)
{
    return extended ? newExtendedRecord(env, name, fields) : newPlainRecord(env, name, fields);
}

jobject newFileInfo(JNIEnv *env, const struct stat &st, jstring name, bool hidden, jint infoMask)
{
    const RecordFields fields = recordFields(st, hidden, infoMask);
    const bool extended = wantsExtendedRecord(infoMask);
    // An upcall to compiled Java allocates and constructs for less than NewObjectA.
    if (g_MethodMakeRecord != nullptr && g_MethodMakeExtendedRecord != nullptr && recordsMadeInJava()) {
        return makeRecord(env, name, fields, extended);
    }
    return newRecord(env, name, fields, extended);
}

jobject newFallbackFileInfo(JNIEnv *env, jstring name, unsigned char entryType)
{
    return newPlainRecord(env, name, fallbackFields(entryType));
}

} // namespace basefs
