#pragma once

#include <cstdint>

namespace bramvell {

// Monotonic milliseconds for the engine's timers (resending what a peer has not acknowledged).
// Tests drive it by hand.
class TickClock {
  public:
    virtual ~TickClock() = default;
    virtual uint64_t NowMilliseconds() const = 0;
};

class SteadyTickClock final : public TickClock {
  public:
    uint64_t NowMilliseconds() const override;
};

const TickClock& DefaultTickClock();

}  // namespace bramvell
