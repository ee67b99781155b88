// A tree walked by descriptors (OpenDirectory): every entry is reached
// relative to its open directory, never through a symbolic link, and acted on
// only while it is still the file the walk's listing saw (its device and
// inode). A name swapped by someone else between the look and the act ends
// the act with a ReplacedFileException instead of redirecting it.

#include "FileRecords.h"
#include "FileSystemCopy.h"
#include "FileSystemListPath.h"
#include "JniBridge.h"
#include "SystemCalls.h"

#include "com_quenvira_internal_io_OpenDirectory.h"

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr const char *kReplacedClass = "com/quenvira/internal/io/ReplacedFileException";
constexpr const char *kReplacedMessage = "File was replaced while in use";
// What the walk's listing gives an entry it could not examine: its type is
// checked, its identity cannot be.
constexpr jlong kUnknownIdentity = 0;
// The permission and special bits chmod may set.
constexpr mode_t kModeBits = 07777;

// The identity the walk saw, and the type the name must still have.
struct Expected {
    jlong device;
    jlong inode;

    bool matches(const struct stat &st) const
    {
        if (device == kUnknownIdentity && inode == kUnknownIdentity) {
            return true;
        }
        return static_cast<jlong>(st.st_dev) == device && static_cast<jlong>(st.st_ino) == inode;
    }
};

void throwReplaced(JNIEnv *env)
{
    JNU_ThrowByName(env, kReplacedClass, kReplacedMessage);
}

// A failed open of a name the walk saw as a directory or a regular file:
// ELOOP (a link now, O_NOFOLLOW) and ENOTDIR (no directory now) say that it
// was replaced; anything else is the kernel's own error.
void throwOpenFailure(JNIEnv *env, int error)
{
    if (error == ELOOP || error == ENOTDIR) {
        throwReplaced(env);
        return;
    }
    throwExceptionFromError(env, error, nullptr);
}

// {descriptor, device, inode} of a directory just opened, handed to Java,
// which owns the descriptor from then on; on failure the descriptor is
// closed and null returned with an exception pending.
jlongArray handOver(JNIEnv *env, basefs::UniqueFd &fd, const struct stat &st)
{
    const jlong values[] = {fd.get(), static_cast<jlong>(st.st_dev), static_cast<jlong>(st.st_ino)};
    jlongArray result = env->NewLongArray(3);
    if (result == nullptr) {
        return nullptr;
    }
    env->SetLongArrayRegion(result, 0, 3, values);
    fd.release();
    return result;
}

// Opens the entry `name` of directoryFd with `flags` (O_NOFOLLOW among them)
// and checks that it is the file expected, of the type `type`. Returns the
// descriptor, or -1 with an exception pending.
int openExpected(JNIEnv *env, int directoryFd, const char *name, int flags, Expected expected, mode_t type,
                 struct stat *st)
{
    basefs::UniqueFd fd(basefs::sys::openat(directoryFd, name, flags));
    if (fd.get() < 0) {
        throwOpenFailure(env, errno);
        return -1;
    }
    if (basefs::sys::fstat(fd.get(), st) != 0) {
        throwExceptionFromErrNo(env, name);
        return -1;
    }
    if ((st->st_mode & S_IFMT) != type || !expected.matches(*st)) {
        throwReplaced(env);
        return -1;
    }
    return fd.release();
}

// Sets the mode of the file open as pathFd (O_PATH): through fchmodat2 where
// the kernel has it, else through the file's name in /proc, which leads to
// the open file whatever happens to its names. Returns -1 with errno set.
int changeModeOfOpenPath(int pathFd, mode_t mode)
{
    if (basefs::sys::fchmodat2(pathFd, "", mode, AT_EMPTY_PATH) == 0) {
        return 0;
    }
    // EPERM may be a seccomp filter's answer to an unknown call as well as the kernel's.
    if (errno != ENOSYS && errno != EINVAL && errno != EPERM) {
        return -1;
    }
    const basefs::ProcFdPath procPath(pathFd);
    if (basefs::sys::chmod(procPath.get(), mode) == 0) {
        return 0;
    }
    // No /proc: nothing else changes the mode without following the name again.
    if (errno == ENOENT) {
        errno = EOPNOTSUPP;
    }
    return -1;
}

// Whether the string argument `name` starts with '.' (hidden), read from its path conversion.
bool isHidden(const basefs::JavaPath &name)
{
    return name.get()[0] == '.';
}

} // namespace

extern "C" {

JNIEXPORT jlongArray JNICALL Java_com_quenvira_internal_io_OpenDirectory_nOpen(JNIEnv *env, jclass, jstring path,
                                                                               jboolean followLast)
{
    const basefs::EntryPrologue<1> entry(env, {{path, "path"}});
    if (!entry.ok()) {
        return nullptr;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLast == JNI_TRUE ? 0 : O_NOFOLLOW);
    basefs::UniqueFd fd(basefs::sys::open(entry.path(0).get(), flags));
    struct stat st;
    if (fd.get() < 0 || basefs::sys::fstat(fd.get(), &st) != 0) {
        throwExceptionFromErrNo(env, entry.path(0).get());
        return nullptr;
    }
    return handOver(env, fd, st);
}

JNIEXPORT jobject JNICALL Java_com_quenvira_internal_io_OpenDirectory_nInfo(JNIEnv *env, jclass, jint fd,
                                                                           jstring name, jint infoMask)
{
    const basefs::EntryPrologue<1> entry(env, {{name, "name"}});
    if (!entry.ok()) {
        return nullptr;
    }
    struct stat st;
    if (basefs::sys::fstat(fd, &st) != 0) {
        throwExceptionFromErrNo(env, nullptr);
        return nullptr;
    }
    return basefs::newFileInfo(env, st, name, isHidden(entry.path(0)), infoMask);
}

JNIEXPORT jobject JNICALL Java_com_quenvira_internal_io_OpenDirectory_nEntryInfo(JNIEnv *env, jclass, jint fd,
                                                                                jstring name, jint infoMask)
{
    const basefs::EntryPrologue<1> entry(env, {{name, "name"}});
    if (!entry.ok()) {
        return nullptr;
    }
    struct stat st;
    if (basefs::sys::fstatat(fd, entry.path(0).get(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        throwExceptionFromErrNo(env, entry.path(0).get());
        return nullptr;
    }
    return basefs::newFileInfo(env, st, name, isHidden(entry.path(0)), infoMask);
}

JNIEXPORT jobjectArray JNICALL Java_com_quenvira_internal_io_OpenDirectory_nList(JNIEnv *env, jclass, jint fd,
                                                                                jint infoMask,
                                                                                jobjectArray identities)
{
    if (!basefs::ensureInitialized(env)) {
        return nullptr;
    }
    if (identities == nullptr) {
        JNU_ThrowNullPointerException(env, "identities");
        return nullptr;
    }
    // A description of its own, read from its start: the caller's keeps its position.
    basefs::UniqueFd own(basefs::sys::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (own.get() < 0) {
        throwExceptionFromErrNo(env, nullptr);
        return nullptr;
    }
    basefs::UniqueDir dir(basefs::sys::fdopendir(own.get()));
    if (dir.get() == nullptr) {
        throwExceptionFromErrNo(env, nullptr);
        return nullptr;
    }
    own.release();
    basefs::EntryIdentities seen;
    // Entries are named relative to the descriptor: no path length limits them.
    basefs::LocalRef<jobjectArray> records(env,
                                           basefs::listOpenDirectory(env, dir.get(), 0, infoMask, nullptr, 0, &seen));
    if (records.get() == nullptr) {
        return nullptr;
    }
    const auto count = static_cast<jsize>(seen.size());
    basefs::LocalRef<jlongArray> values(env, env->NewLongArray(count));
    if (values.get() == nullptr) {
        return nullptr;
    }
    env->SetLongArrayRegion(values.get(), 0, count, seen.data());
    env->SetObjectArrayElement(identities, 0, values.get());
    if (env->ExceptionCheck()) {
        return nullptr;
    }
    return records.release();
}

JNIEXPORT jlongArray JNICALL Java_com_quenvira_internal_io_OpenDirectory_nOpenDirectory(JNIEnv *env, jclass,
                                                                                        jint fd, jstring name,
                                                                                        jlong device, jlong inode)
{
    const basefs::EntryPrologue<1> entry(env, {{name, "name"}});
    if (!entry.ok()) {
        return nullptr;
    }
    struct stat st;
    basefs::UniqueFd opened(openExpected(env, fd, entry.path(0).get(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, {device, inode}, S_IFDIR,
                                         &st));
    if (opened.get() < 0) {
        return nullptr;
    }
    return handOver(env, opened, st);
}

JNIEXPORT jlongArray JNICALL Java_com_quenvira_internal_io_OpenDirectory_nMakeDirectory(JNIEnv *env, jclass,
                                                                                        jint fd, jstring name,
                                                                                        jint mode)
{
    const basefs::EntryPrologue<1> entry(env, {{name, "name"}});
    if (!entry.ok()) {
        return nullptr;
    }
    const char *nameChars = entry.path(0).get();
    // Permission bits only: no set-ID or sticky bit is handed out.
    if (basefs::sys::mkdirat(fd, nameChars, static_cast<mode_t>(mode) & basefs::kModePermissionMask) != 0) {
        throwExceptionFromErrNo(env, nameChars);
        return nullptr;
    }
    basefs::UniqueFd made(basefs::sys::openat(fd, nameChars, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (made.get() < 0) {
        throwOpenFailure(env, errno);
        return nullptr;
    }
    if (basefs::sys::fstat(made.get(), &st) != 0) {
        throwExceptionFromErrNo(env, nameChars);
        return nullptr;
    }
    // Renamed away and replaced by another's directory before it was opened.
    if (st.st_uid != geteuid()) {
        throwReplaced(env);
        return nullptr;
    }
    return handOver(env, made, st);
}

JNIEXPORT void JNICALL Java_com_quenvira_internal_io_OpenDirectory_nChangeOwnMode(JNIEnv *env, jclass, jint fd,
                                                                                 jint mode)
{
    if (!basefs::ensureInitialized(env)) {
        return;
    }
    if (basefs::sys::fchmod(fd, static_cast<mode_t>(mode) & kModeBits) != 0) {
        throwExceptionFromErrNo(env, nullptr);
    }
}

JNIEXPORT void JNICALL Java_com_quenvira_internal_io_OpenDirectory_nChangeMode(JNIEnv *env, jclass, jint fd,
                                                                              jstring name, jlong device,
                                                                              jlong inode, jint mode)
{
    const basefs::EntryPrologue<1> entry(env, {{name, "name"}});
    if (!entry.ok()) {
        return;
    }
    const char *nameChars = entry.path(0).get();
    // Held by the descriptor from the check to the change: a name swapped
    // meanwhile changes nothing of what is held.
    basefs::UniqueFd held(basefs::sys::openat(fd, nameChars, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (held.get() < 0 || basefs::sys::fstat(held.get(), &st) != 0) {
        throwExceptionFromErrNo(env, nameChars);
        return;
    }
    if (S_ISLNK(st.st_mode) || !Expected{device, inode}.matches(st)) {
        throwReplaced(env);
        return;
    }
    if (changeModeOfOpenPath(held.get(), static_cast<mode_t>(mode) & kModeBits) != 0) {
        throwExceptionFromErrNo(env, nameChars);
    }
}

JNIEXPORT jlong JNICALL Java_com_quenvira_internal_io_OpenDirectory_nCopyFile(JNIEnv *env, jclass, jint fd,
                                                                             jstring name, jlong device,
                                                                             jlong inode, jint targetFd,
                                                                             jstring targetName, jint copyFlags,
                                                                             jobject monitor)
{
    const basefs::EntryPrologue<2> entry(env, {{name, "name"}, {targetName, "target name"}},
                                          {monitor, &g_ClassMonitorSync});
    if (!entry.ok()) {
        return 0;
    }
    // Non-blocking: a FIFO swapped in opens at once and is refused for its type.
    struct stat sourceStat;
    basefs::UniqueFd source(openExpected(env, fd, entry.path(0).get(),
                                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                                         {device, inode}, S_IFREG, &sourceStat));
    if (source.get() < 0) {
        return 0;
    }
    if (basefs::sys::clearNonBlocking(source.get()) != 0) {
        throwExceptionFromErrNo(env, nullptr);
        return 0;
    }
    const char *targetChars = entry.path(1).get();
    const bool exclusive = (copyFlags & COPY_EXCLUSIVE) != 0;
    basefs::UniqueFd destination(basefs::openDestination(
        targetFd, targetChars, exclusive, sourceStat.st_mode & basefs::kModePermissionMask, O_NOFOLLOW));
    struct stat destinationStat;
    if (destination.get() < 0 || basefs::sys::fstat(destination.get(), &destinationStat) != 0) {
        throwExceptionFromErrNo(env, targetChars);
        return 0;
    }
    return basefs::copyOpenFiles(env, source.get(), sourceStat, destination.get(), destinationStat, monitor,
                                 targetChars);
}

JNIEXPORT jstring JNICALL Java_com_quenvira_internal_io_OpenDirectory_nReadLink(JNIEnv *env, jclass, jint fd,
                                                                               jstring name)
{
    const basefs::EntryPrologue<1> entry(env, {{name, "name"}});
    if (!entry.ok()) {
        return nullptr;
    }
    // A link's target has fewer than PATH_MAX bytes: a full buffer is no link's.
    basefs::HeapBuffer<char> target(PATH_MAX);
    if (target.get() == nullptr) {
        JNU_ThrowOutOfMemoryError(env, "Cannot allocate buffer for link target");
        return nullptr;
    }
    const ssize_t length = basefs::sys::readlinkat(fd, entry.path(0).get(), target.get(), PATH_MAX);
    if (length < 0) {
        if (errno == EINVAL) {
            throwReplaced(env); // the walk saw a link there
        } else {
            throwExceptionFromErrNo(env, entry.path(0).get());
        }
        return nullptr;
    }
    if (length >= PATH_MAX) {
        JNU_ThrowIOException(env, "Link size is too big");
        return nullptr;
    }
    return basefs::newJavaString(env, target.get(), static_cast<size_t>(length));
}

JNIEXPORT void JNICALL Java_com_quenvira_internal_io_OpenDirectory_nMakeLink(JNIEnv *env, jclass, jint fd,
                                                                            jstring name, jstring target)
{
    const basefs::EntryPrologue<2> entry(env, {{name, "name"}, {target, "target"}});
    if (!entry.ok()) {
        return;
    }
    if (basefs::sys::symlinkat(entry.path(1).get(), fd, entry.path(0).get()) != 0) {
        throwExceptionFromErrNo(env, entry.path(0).get());
    }
}

JNIEXPORT void JNICALL Java_com_quenvira_internal_io_OpenDirectory_nRemove(JNIEnv *env, jclass, jint fd,
                                                                          jstring name)
{
    const basefs::EntryPrologue<1> entry(env, {{name, "name"}});
    if (!entry.ok()) {
        return;
    }
    if (basefs::sys::unlinkat(fd, entry.path(0).get(), 0) != 0) {
        throwExceptionFromErrNo(env, entry.path(0).get());
    }
}

JNIEXPORT void JNICALL Java_com_quenvira_internal_io_OpenDirectory_nClose(JNIEnv *, jclass, jint fd)
{
    // Not retried on EINTR: the descriptor is released whatever close returns.
    ::close(fd);
}

} // extern "C"
