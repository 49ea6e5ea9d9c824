#include "platform/processmemory.h"

#include <malloc.h>

void ProcessMemory::releaseFreedMemory()
{
    // glibc keeps freed memory at the top of its heap up to a threshold that grows with the
    // largest block freed so far, and never returns free pages below the top on its own.
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
