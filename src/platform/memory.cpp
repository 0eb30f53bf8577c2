#include "platform/memory.h"

#include <malloc.h>

namespace mivora::platform {

void keepFreedMemoryForReuse() {
    // Blocks up to 32 MiB (the most glibc allows here) come from the heap rather
    // than from mappings of their own, and the heap keeps up to 512 MiB of free
    // space: a bitmap freed by one step is reused by the next without new faults.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
}

} // namespace mivora::platform
