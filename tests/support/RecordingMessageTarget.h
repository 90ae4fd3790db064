#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/MessageTarget.h"

namespace bramvell::testing {

// Keeps every posted message; safe to post from the filter thread while a test reads.
class RecordingMessageTarget final : public MessageTarget {
  public:
    struct Posted {
        uint32_t message;
        uintptr_t wParam;
        bool operator==(const Posted&) const = default;
    };

    void Post(uint32_t message, uintptr_t wParam) override {
        std::lock_guard lock(mutex_);
        posted_.push_back({message, wParam});
    }
    std::vector<Posted> Messages() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    std::size_t Count(uint32_t message) const {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const Posted& posted : posted_) {
            n += posted.message == message ? 1 : 0;
        }
        return n;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        posted_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Posted> posted_;
};

}  // namespace bramvell::testing
