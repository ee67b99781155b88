// A file's record (FileInfo, or FileInfoEx when the info mask asks for one)
// built from its status: the one constructor of records that the single-file
// metadata and the listing share.
#ifndef BASEFS_FILE_RECORDS_H
#define BASEFS_FILE_RECORDS_H

#include <jni.h>
#include <sys/stat.h>

namespace basefs {

// A new FileInfo (or FileInfoEx when infoMask asks for one) of the file whose
// status is st, named by the caller's own string object. Returns null with
// the JVM's exception pending when construction fails.
jobject newFileInfo(JNIEnv *env, const struct stat &st, jstring name, bool hidden, jint infoMask);

} // namespace basefs

#endif // BASEFS_FILE_RECORDS_H
