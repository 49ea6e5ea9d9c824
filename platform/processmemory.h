#pragma once

namespace ProcessMemory {

// Hands the memory that the heap holds free back to the system. The start-up frees far more
// than it keeps (the splash picture, the picture library read by the splash and again by the
// main window, the pictures as decoded, the connection's authentication), and the allocator
// keeps such memory for reuse; a shell that stays open all day would hold it for nothing.
void releaseFreedMemory();

} // namespace ProcessMemory
