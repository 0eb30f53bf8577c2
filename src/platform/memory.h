// How the process asks the C library for memory.
#pragma once

namespace mivora::platform {

// Keeps freed memory in the process for the next allocation instead of handing
// large blocks back to the kernel at once, and asks for the heap in huge pages
// where the kernel grants them. Image work allocates and frees several buffers
// of a few MiB one after another; each fresh page costs a page fault, which
// costs more than the pixel work in it. Called once at start.
void keepFreedMemoryForReuse();

} // namespace mivora::platform
