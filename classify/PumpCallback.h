#pragma once

#include <functional>

namespace bramvell {

// Lets the user interface process its pending events during a long operation; returns false when the
// application is quitting, which ends the operation at once. An empty callback never stops it.
using PumpCallback = std::function<bool()>;

inline bool KeepGoing(const PumpCallback& pump) {
    return !pump || pump();
}

}  // namespace bramvell
