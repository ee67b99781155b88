// The sizes a listing works in, shared with the tests that watch it grow.
#ifndef BASEFS_FILE_SYSTEM_LIST_PATH_H
#define BASEFS_FILE_SYSTEM_LIST_PATH_H

#include <jni.h>

namespace basefs {

// The first capacity of a listing's working array, which doubles from there:
// directories of up to this many entries are listed without a growth (each
// costs two upcalls and a new array).
inline constexpr jsize kListingInitialCapacity = 256;

} // namespace basefs

#endif // BASEFS_FILE_SYSTEM_LIST_PATH_H
