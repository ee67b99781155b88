// File content operations: copying in the kernel with progress, and
// byte-by-byte comparison.

#include "FileSystemInternal.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"
