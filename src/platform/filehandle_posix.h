#pragma once

// Linux and macOS: a FileHandle is a file descriptor. Included by the POSIX platform files only.

#include "fileaccess.h"

inline int descriptorOf(FileHandle handle)
{
    return int(handle);
}

inline FileHandle handleOf(int descriptor)
{
    return descriptor < 0 ? FileHandle::invalid : FileHandle(descriptor);
}
