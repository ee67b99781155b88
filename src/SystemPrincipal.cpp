// User and group names by numeric ID.

#include "FileSystemInternal.h"

#include "com_quenvira_internal_io_BaseFileSystem.h"
