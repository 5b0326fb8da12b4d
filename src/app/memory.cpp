#include "app/memory.h"

#include <cstdint>
#include <cstdlib>  // defines __GLIBC__ where it is the C library
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace app {

void prepareHeap()
{
#if defined(__GLIBC__)
    constexpr std::size_t kMiB = std::size_t(1) << 20;
    constexpr std::size_t kHugePage = 2 * kMiB;
    constexpr std::size_t kReserve = 256 * kMiB;
    // Blocks up to 32 MiB (glibc's largest threshold; the decoded text of the largest
    // playlist file allowed) come from the heap, where freed ones are used again without
    // faulting their pages in anew; and the heap is never shrunk below the reserve, which
    // would give up its large pages.
    mallopt(M_MMAP_THRESHOLD, int(32 * kMiB));
    mallopt(M_TRIM_THRESHOLD, int(2 * kReserve));
    // One growth of the heap by the whole reserve, marked for large pages; growth past it
    // is the usual one, in 4 KiB pages.
    mallopt(M_TOP_PAD, int(kReserve));
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // More than the heap's first top holds, so that it grows; volatile, or the compiler drops
    // the pair.
    void* volatile block = std::malloc(8 * kMiB);
    std::free(block);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    mallopt(M_TOP_PAD, int(16 * kMiB));
    const std::uintptr_t from = (before + kHugePage - 1) & ~(kHugePage - 1);
    // Where the kernel has no large pages (or they are switched off) the mark changes nothing.
    if (before != std::uintptr_t(-1) && after > from)
        madvise(reinterpret_cast<void*>(from), after - from, MADV_HUGEPAGE);
#endif
}

void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace app
