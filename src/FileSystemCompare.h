// The block size of a comparison, shared with the tests that count its reads
// and allocations.
#ifndef BASEFS_FILE_SYSTEM_COMPARE_H
#define BASEFS_FILE_SYSTEM_COMPARE_H

#include <cstddef>

namespace basefs {

// Each file is compared 64 KiB at a time, and the monitor asked once per
// block (CompareReader.h reads them in larger steps).
inline constexpr size_t kCompareBlockSize = 64 * 1024;

} // namespace basefs

#endif // BASEFS_FILE_SYSTEM_COMPARE_H
