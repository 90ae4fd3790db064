#include "engine/CommandQueue.h"

#include <cstring>

namespace bramvell {

bool CommandQueue::Append(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return true;
    }
    if (bytes.size() > kCapacity - size_) {
        return false;
    }
    if (!bytes_) {
        bytes_ = std::make_unique<uint8_t[]>(kCapacity);
    }
    std::memcpy(bytes_.get() + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
    return true;
}

std::span<const uint8_t> CommandQueue::FrontLine() const {
    if (size_ == 0) {
        return {};
    }
    const void* lf = std::memchr(bytes_.get(), '\n', size_);
    if (lf == nullptr) {
        return {};
    }
    return {bytes_.get(), static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - bytes_.get()) + 1};
}

void CommandQueue::PopFront(std::size_t count) {
    if (count >= size_) {
        size_ = 0;
        return;
    }
    std::memmove(bytes_.get(), bytes_.get() + count, size_ - count);
    size_ -= count;
}

}  // namespace bramvell
