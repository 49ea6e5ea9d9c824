#include "platform/processmemory.h"

#include <malloc.h>

void ProcessMemory::releaseFreedMemory()
{
    _heapmin();
}
