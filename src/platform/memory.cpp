#include "platform/memory.h"

#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace mivora::platform {

namespace {

constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
// What the heap reserves beyond its use each time it grows: address space
// only, until it is touched.
constexpr size_t kHeapReserve = size_t{96} << 20;

} // namespace

void keepFreedMemoryForReuse() {
    // Blocks up to 32 MiB (the most glibc allows here) come from the heap rather
    // than from mappings of their own, and the heap keeps up to 512 MiB of free
    // space: a bitmap freed by one step is reused by the next without new faults.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    // Image buffers of a few MiB are touched whole, once each: in huge pages
    // (where the kernel grants them) a 4 MiB bitmap costs 2 faults instead of
    // 1,024, and a fault costs more than the pixel work in its page (15 us on
    // the benchmark machine). Measured there: `collections add` of a 1024-pixel
    // icon went from 2,747 faults to 543 and from 127 ms of CPU time to 52; a
    // `--version` takes as many faults as before (111). The heap is grown once
    // now, with a reserve, and what lies beyond the blocks made before `main`
    // is advised; each thread's own arena stays in ordinary pages.
    mallopt(M_TOP_PAD, static_cast<int>(kHeapReserve));
    void* grow = std::malloc(256 << 10); // more than the heap holds yet, so that it grows
    const auto start = reinterpret_cast<uintptr_t>(grow);
    const auto end = reinterpret_cast<uintptr_t>(::sbrk(0));
    std::free(grow);
    const uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (grow != nullptr && end > from) ::madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);
}

} // namespace mivora::platform
