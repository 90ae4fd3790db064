#pragma once

#include <atomic>
#include <mutex>

#include "config/Clock.h"

namespace bramvell::testing {

// A clock that tests set by hand; safe to read from the filter thread while a test moves it.
class FakeClock final : public Clock {
public:
    explicit FakeClock(LocalTime start = {2026, 3, 15, 10, 30, 0}) : now_(start) {}
    LocalTime Now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void Set(LocalTime when) {
        std::lock_guard lock(mutex_);
        now_ = when;
    }

private:
    mutable std::mutex mutex_;
    LocalTime now_;
};

}  // namespace bramvell::testing
