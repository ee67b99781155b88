// Directory listing: the records of a whole directory in one native call.

#include "FileSystemInternal.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"
