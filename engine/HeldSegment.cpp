#include "engine/HeldSegment.h"

#include <cstring>

namespace bramvell {

uint8_t* SegmentStore::Copy(std::span<const uint8_t> bytes) {
    const std::size_t size = bytes.size() > kBlockSize ? kBlockSize : bytes.size();
    if (blocks_.empty() || usedInLast_ + size > kBlockSize) {
        blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kBlockSize));
        usedInLast_ = 0;
    }
    uint8_t* target = blocks_.back().get() + usedInLast_;
    std::memcpy(target, bytes.data(), size);
    // Keep frames 8-byte aligned for the checksum loops.
    usedInLast_ += (size + 7) & ~std::size_t{7};
    bytesUsed_ += size;
    return target;
}

void SegmentStore::Clear() {
    blocks_.clear();
    usedInLast_ = kBlockSize;
    bytesUsed_ = 0;
}

}  // namespace bramvell
