#include "engine/HeldSegment.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bramvell {

HeldSegment PlainBytesSegment(std::span<uint8_t> bytes) {
    HeldSegment segment;
    segment.frame = bytes.data();
    segment.length = static_cast<uint32_t>(bytes.size());
    segment.payloadLength = segment.length;
    segment.layout.ipOffset = 0;
    segment.layout.payloadOffset = 0;
    segment.layout.payloadLength = bytes.size();
    segment.plainBytes = true;
    return segment;
}

std::unique_ptr<uint8_t[]> SegmentBlockPool::Take() {
    if (free_.empty()) {
        return std::make_unique_for_overwrite<uint8_t[]>(kBlockSize);
    }
    std::unique_ptr<uint8_t[]> block = std::move(free_.back());
    free_.pop_back();
    return block;
}

void SegmentBlockPool::Give(std::unique_ptr<uint8_t[]> block) {
    if (free_.size() < maxBlocks_) {
        free_.push_back(std::move(block));
    }
}

void SegmentBlockPool::SetMaxBlocks(std::size_t maxBlocks) {
    maxBlocks_ = maxBlocks;
    if (free_.size() > maxBlocks_) {
        free_.resize(maxBlocks_);
    }
}

SegmentStore& SegmentStore::operator=(SegmentStore&& other) noexcept {
    if (this != &other) {
        Clear();
        blocks_ = std::move(other.blocks_);
        usedInLast_ = other.usedInLast_;
        bytesUsed_ = other.bytesUsed_;
        pool_ = other.pool_;
        other.blocks_.clear();
        other.usedInLast_ = kBlockSize;
        other.bytesUsed_ = 0;
    }
    return *this;
}

uint8_t* SegmentStore::Reserve(std::size_t size) {
    if (size > kBlockSize) {
        size = kBlockSize;
    }
    if (blocks_.empty() || usedInLast_ + size > kBlockSize) {
        blocks_.push_back(pool_ != nullptr ? pool_->Take()
                                           : std::make_unique_for_overwrite<uint8_t[]>(kBlockSize));
        usedInLast_ = 0;
    }
    return blocks_.back().get() + usedInLast_;
}

void SegmentStore::Commit(std::size_t size) {
    // Keep frames 8-byte aligned for the checksum loops.
    usedInLast_ += (size + 7) & ~std::size_t{7};
    bytesUsed_ += size;
}

uint8_t* SegmentStore::Copy(std::span<const uint8_t> bytes) {
    const std::size_t size = bytes.size() > kBlockSize ? kBlockSize : bytes.size();
    uint8_t* target = Reserve(size);
    std::memcpy(target, bytes.data(), size);
    Commit(size);
    return target;
}

void SegmentStore::Clear() {
    for (auto& block : blocks_) {
        if (pool_ != nullptr) {
            pool_->Give(std::move(block));
        }
    }
    blocks_.clear();
    usedInLast_ = kBlockSize;
    bytesUsed_ = 0;
}

void SegmentStore::ReleaseBefore(const uint8_t* firstKept) {
    std::size_t keepFrom = blocks_.empty() ? 0 : blocks_.size() - 1;
    for (std::size_t i = 0; i < blocks_.size() && firstKept != nullptr; ++i) {
        const uint8_t* start = blocks_[i].get();
        if (firstKept >= start && firstKept < start + kBlockSize) {
            keepFrom = i;
            break;
        }
    }
    for (std::size_t i = 0; i < keepFrom; ++i) {
        bytesUsed_ -= std::min(bytesUsed_, kBlockSize);
        if (pool_ != nullptr) {
            pool_->Give(std::move(blocks_[i]));
        }
    }
    blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(keepFrom));
}

namespace {

// One's-complement sum of the bytes as big-endian 16-bit words, copying them at the same time. Sums
// native 32-bit halves of 64-bit loads in a wide accumulator; the byte order is fixed at the end.
uint32_t CopyAndSum(uint8_t* target, const uint8_t* source, std::size_t size) {
    uint64_t sum = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // 16 bytes a step: the eight 16-bit words widened to 32-bit lanes and added up; the lanes are
    // emptied into the wide sum before they could overflow (every 2^15 steps at most).
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= size) {
        __m128i lanes = zero;
        const std::size_t stop = std::min(size & ~std::size_t{15}, i + (std::size_t{1} << 19));
        for (; i < stop; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), v);
            lanes =
                _mm_add_epi32(lanes, _mm_add_epi32(_mm_unpacklo_epi16(v, zero), _mm_unpackhi_epi16(v, zero)));
        }
        alignas(16) uint32_t parts[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(parts), lanes);
        sum += uint64_t{parts[0]} + parts[1] + parts[2] + parts[3];
    }
#endif
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, source + i, 8);
        std::memcpy(target + i, &word, 8);
        sum += (word & 0xFFFFFFFFu) + (word >> 32);
    }
    for (; i + 2 <= size; i += 2) {
        uint16_t word;
        std::memcpy(&word, source + i, 2);
        std::memcpy(target + i, &word, 2);
        sum += word;
    }
    if (i < size) {
        target[i] = source[i];
        // A last odd byte is the high byte of a big-endian word.
        sum += std::endian::native == std::endian::little ? uint64_t{source[i]} : uint64_t{source[i]} << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    auto folded = static_cast<uint16_t>(sum);
    if constexpr (std::endian::native == std::endian::little) {
        folded = static_cast<uint16_t>(folded >> 8 | folded << 8);
    }
    return folded;
}

}  // namespace

bool CopyVerifiedTcpFrame(uint8_t* target, std::span<const uint8_t> frame, const FrameLayout& layout) {
    const std::size_t end = layout.ipOffset + layout.ipTotalLength;
    std::memcpy(target, frame.data(), layout.transportOffset);
    uint64_t sum = CopyAndSum(target + layout.transportOffset, frame.data() + layout.transportOffset,
                              end - layout.transportOffset);
    if (end < frame.size()) {
        std::memcpy(target + end, frame.data() + end, frame.size() - end);
    }
    sum += TcpPseudoHeaderSum(frame, layout);
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum == 0xFFFF && IpChecksumValid(frame, layout);
}

}  // namespace bramvell
