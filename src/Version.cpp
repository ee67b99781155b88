// The version of the library as text in the file itself, so that `strings
// libbasefs.so | grep 'basefs version'` tells which build a machine has. It is
// not exported: the library's names stay those of libbasefs.map.
#include "BaseFsVersion.h"

namespace {

// used: kept in the file although no code reads it.
[[gnu::used]] constexpr char kVersion[] = "libbasefs.so: basefs version " BASEFS_VERSION;

} // namespace
