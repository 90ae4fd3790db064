#include "app/HeapTuning.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace bramvell {

void PrepareHeapForLargeBuffers() {
    constexpr std::size_t kHeapRoom = std::size_t{64} << 20;
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    // Blocks up to the largest threshold glibc takes (half its 64 MiB thread heaps) come from the heap.
    constexpr std::size_t kMmapThreshold = std::size_t{32} << 20;
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMmapThreshold));
    ::mallopt(M_TOP_PAD, static_cast<int>(kHeapRoom));
    ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(4 * kHeapRoom));
    // Larger than any free space the heap has yet: it grows by this and the pad, never touched here.
    void* room = std::malloc(kHeapRoom / 4);
    if (room == nullptr) {
        return;
    }
    const auto start = (reinterpret_cast<uintptr_t>(room) + kHugePage - 1) / kHugePage * kHugePage;
    const auto end = reinterpret_cast<uintptr_t>(::sbrk(0)) / kHugePage * kHugePage;
    if (end > start) {
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
    std::free(room);
}

}  // namespace bramvell
