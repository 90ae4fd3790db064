#pragma once

#include <cstdint>

#include "config/Clock.h"
#include "engine/TickClock.h"

namespace bramvell::sim {

// Simulated time for the network harness: milliseconds since the start, and a local wall clock that
// moves with them (for minute stamps and file names).
class SimClock final : public TickClock, public Clock {
  public:
    explicit SimClock(LocalTime start = {2026, 3, 15, 10, 30, 0}) : start_(start) {}

    uint64_t NowMilliseconds() const override { return now_; }
    LocalTime Now() const override;
    void Set(uint64_t milliseconds) { now_ = milliseconds; }
    void Advance(uint64_t milliseconds) { now_ += milliseconds; }

  private:
    LocalTime start_;
    uint64_t now_ = 0;
};

}  // namespace bramvell::sim
