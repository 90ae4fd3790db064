#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace bramvell {

// The client's command bytes that have not gone on to the server yet: a client that sends several
// commands at once has them passed one at a time, each when the server is done with the one before.
// The room is taken on first use and kept with the connection.
class CommandQueue {
  public:
    static constexpr std::size_t kCapacity = 16 * 1024;

    // Appends bytes; false (nothing appended) when they do not fit.
    bool Append(std::span<const uint8_t> bytes);
    // The first complete line (up to and with its LF); empty when there is none yet.
    std::span<const uint8_t> FrontLine() const;
    // Everything queued.
    std::span<const uint8_t> All() const { return {bytes_.get(), size_}; }
    void PopFront(std::size_t count);
    void Clear() { size_ = 0; }

    bool Empty() const { return size_ == 0; }
    std::size_t Size() const { return size_; }
    bool Full() const { return size_ == kCapacity; }

  private:
    std::unique_ptr<uint8_t[]> bytes_;
    std::size_t size_ = 0;
};

}  // namespace bramvell
