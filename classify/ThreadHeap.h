#pragma once

namespace bramvell {

// Marks the heap that malloc gives the calling thread for transparent huge pages, so that filling it
// costs a fault per 2 MiB instead of one per 4 KiB page (faults are dear on virtual machines). glibc
// gives each thread beyond the first a heap of its own, a 64 MiB region aligned to its size; the
// first thread's heap is left alone (see PrepareHeapForLargeBuffers). Only a hint; nothing depends on
// it, and it does nothing with another malloc.
void AdviseThreadHeapForHugePages();

}  // namespace bramvell
