#include "classify/ThreadHeap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace bramvell {

void AdviseThreadHeapForHugePages() {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    constexpr uintptr_t kThreadHeapBytes = uintptr_t{64} << 20;
    void* probe = std::malloc(1);
    if (probe == nullptr) {
        return;
    }
    const auto address = reinterpret_cast<uintptr_t>(probe);
    std::free(probe);
    // A block below the program break lies in the first thread's heap, which grows by sbrk.
    if (address < reinterpret_cast<uintptr_t>(::sbrk(0))) {
        return;
    }
    ::madvise(reinterpret_cast<void*>(address & ~(kThreadHeapBytes - 1)), kThreadHeapBytes, MADV_HUGEPAGE);
#endif
}

}  // namespace bramvell
