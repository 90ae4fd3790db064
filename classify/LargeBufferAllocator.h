#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace bramvell {

// An allocator for buffers of tens of megabytes that are filled at once: those come straight from
// mmap and are marked for transparent huge pages, so that filling them costs a fault per 2 MiB instead
// of one per 4 KiB page (faults are dear on virtual machines). Smaller ones come from the heap.
template <typename T>
struct LargeBufferAllocator {
    using value_type = T;
    static constexpr std::size_t kMappedFrom = std::size_t{4} << 20;
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;

    LargeBufferAllocator() = default;
    template <typename U>
    LargeBufferAllocator(const LargeBufferAllocator<U>&) {}  // NOLINT: converting, as allocators are

    static std::size_t MappedBytes(std::size_t n) {
        return (n * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage;
    }

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        if (n * sizeof(T) < kMappedFrom) {
            return static_cast<T*>(::operator new(n * sizeof(T)));
        }
        void* memory =
            ::mmap(nullptr, MappedBytes(n), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            throw std::bad_alloc();
        }
        ::madvise(memory, MappedBytes(n), MADV_HUGEPAGE);  // only a hint
        return static_cast<T*>(memory);
    }

    void deallocate(T* pointer, std::size_t n) noexcept {
        if (n * sizeof(T) < kMappedFrom) {
            ::operator delete(pointer);
        } else {
            ::munmap(pointer, MappedBytes(n));
        }
    }

    template <typename U>
    bool operator==(const LargeBufferAllocator<U>&) const {
        return true;
    }
};

}  // namespace bramvell
