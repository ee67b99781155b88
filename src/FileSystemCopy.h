// The copy of one file between descriptors, which nCopyFileCallback and the
// walk by descriptors share: the destination's open and what follows it.
#ifndef BASEFS_FILE_SYSTEM_COPY_H
#define BASEFS_FILE_SYSTEM_COPY_H

#include <jni.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace basefs {

// The part of the source's mode a new destination inherits, as cp gives it:
// the nine permission bits, never set-user-ID, set-group-ID or sticky (a
// set-ID program copied by root would run as root for whoever may start it).
inline constexpr mode_t kModePermissionMask = 0777;

// Opens the destination `path`, relative to directoryFd, for writing, with
// extraFlags (O_NOFOLLOW) added: an existing file as it is; a missing one is
// created exclusively (O_EXCL) with `mode`, so that nothing is created where a
// symbolic link points, a dangling one being refused with EEXIST. With
// `exclusive` only the creation is tried. A file created or removed between
// the two opens is met by trying them once more. Returns the descriptor, or
// -1 with errno set.
int openDestination(int directoryFd, const char *path, bool exclusive, mode_t mode, int extraFlags);

// Copies the open source, whose status is sourceStat, onto the open
// destination: through CopyTransfer in the monitor's steps, a file onto
// itself by steps alone, the destination cut to what was copied. Returns the
// bytes copied; an exception may be pending (a failed transfer, the monitor's).
jlong copyOpenFiles(JNIEnv *env, int source, const struct stat &sourceStat, int destination,
                    const struct stat &destinationStat, jobject monitor, const char *destinationPath);

} // namespace basefs

#endif // BASEFS_FILE_SYSTEM_COPY_H
