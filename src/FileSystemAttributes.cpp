// File attributes: translation of error numbers into IOExceptions, and the
// file-information records built from lstat.

#include "FileSystemInternal.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"

#include <sys/stat.h>

namespace {

// Large enough for the longest description and any int.
constexpr size_t kErrorMessageSize = 512;
constexpr jlong kMillisPerSecond = 1000;

struct ErrorDescription {
    int error;
    const char *description;
};

const ErrorDescription kErrorDescriptions[] = {
    {EPERM, "The effective UID does not match the owner of the file, and the process is not privileged"},
    {ENOENT, "Path does not exist"},
    {EINTR, "A signal was caught during call of method"},
    {EIO, "An I/O error occurred"},
    {EBADF, "The file descriptor fd is not valid"},
    {ENOMEM, "No kernel memory"},
    {EACCES, "No permissions"},
    {EFAULT, "Path points outside your accessible address space"},
    {EEXIST, "Path already exists"},
    {ENOTDIR, "Not a directory"},
    {EINVAL, "Invalid argument"},
    {ENFILE, "The maximum allowable number of files is currently open in the system"},
    {EMFILE, "The maximum number of files was open already in the calling process"},
    {ENOSPC, "No space is left on the file system"},
    {EROFS, "The named file resides on a read-only file system"},
    {ENAMETOOLONG, "Too long path"},
    {ELOOP, "Too many symbolic links in path"},
    {EDQUOT, "No space for new user's quota"},
    {ECANCELED, "Operation canceled"},
};

const char *describeError(int error)
{
    for (const ErrorDescription &entry : kErrorDescriptions) {
        if (entry.error == error) {
            return entry.description;
        }
    }
    return "Unknown";
}

} // namespace

namespace basefs {

jint attributesFromMode(mode_t mode)
{
    jint attributes = 0;
    for (const PermissionBit &bit : kPermissionBits) {
        if ((mode & bit.mode) != 0) {
            attributes |= bit.attribute;
        }
    }
    return attributes;
}

} // namespace basefs

extern "C" {

void throwExceptionFromError(JNIEnv *env, int error, const char *)
{
    char message[kErrorMessageSize];
    std::snprintf(message, sizeof message, "%s [%d]", describeError(error), error);
    JNU_ThrowIOException(env, message);
}

void throwExceptionFromErrNo(JNIEnv *env, const char *path)
{
    throwExceptionFromError(env, errno, path);
}

jobject GetFileInfoFromStat(JNIEnv *env, const char *fullPath, jstring name,
                            const char *nameChars, jint infoMask, jboolean throwOnError)
{
    struct stat st;
    if (lstat(fullPath, &st) != 0) {
        if (throwOnError) {
            throwExceptionFromErrNo(env, fullPath);
        }
        return nullptr;
    }

    jint attributes = nameChars[0] == '.' ? ATTR_HIDDEN : 0;
    jlong size = st.st_size;
    if (S_ISDIR(st.st_mode)) {
        attributes |= ATTR_DIRECTORY;
        size = 0; // what a file system reports for a directory is not a content size
    } else if (S_ISLNK(st.st_mode)) {
        attributes |= ATTR_SYMLINK;
    }
    attributes |= basefs::attributesFromMode(st.st_mode);
    const jlong modified = static_cast<jlong>(st.st_mtime) * kMillisPerSecond;

    if ((infoMask & INFO_EXTENDED_RECORD_MASK) == 0) {
        return env->NewObject(g_ClassFileInfo, g_MethodFileInfoConstruct, name, attributes,
                              size, modified);
    }
    const jlong accessed =
        (infoMask & INFO_ACCESSED) != 0 ? static_cast<jlong>(st.st_atime) * kMillisPerSecond : 0;
    const jlong fourthTime = 0; // Linux keeps no creation time that lstat reports
    const jint owner = (infoMask & INFO_OWNER) != 0 ? static_cast<jint>(st.st_uid) : 0;
    const jint group = (infoMask & INFO_GROUP) != 0 ? static_cast<jint>(st.st_gid) : 0;
    return env->NewObject(g_ClassFileInfoEx, g_MethodFileInfoExConstruct, name, attributes, size,
                          modified, accessed, fourthTime, owner, group);
}

} // extern "C"

extern "C" JNIEXPORT jobject JNICALL
Java_com_quenvira_internal_io_BaseFileSystem_nGetFileInfo(JNIEnv *env, jclass, jstring path,
                                                          jstring name, jint infoMask)
{
    if (!basefs::ensureInitialized(env)) {
        return nullptr;
    }
    if (path == nullptr) {
        JNU_ThrowNullPointerException(env, "path");
        return nullptr;
    }
    if (name == nullptr) {
        JNU_ThrowNullPointerException(env, "name");
        return nullptr;
    }
    basefs::UtfChars pathChars(env, path);
    if (pathChars.get() == nullptr) {
        return nullptr;
    }
    basefs::UtfChars nameChars(env, name);
    if (nameChars.get() == nullptr) {
        return nullptr;
    }
    return GetFileInfoFromStat(env, pathChars.get(), name, nameChars.get(), infoMask, JNI_TRUE);
}
