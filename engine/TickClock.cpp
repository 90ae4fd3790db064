#include "engine/TickClock.h"

#include <chrono>

namespace bramvell {

uint64_t SteadyTickClock::NowMilliseconds() const {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

const TickClock& DefaultTickClock() {
    static const SteadyTickClock clock;
    return clock;
}

}  // namespace bramvell
