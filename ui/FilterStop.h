#pragma once

#include <chrono>
#include <functional>

namespace bramvell {

class FilterSettings;

inline constexpr std::chrono::milliseconds kFilterStopPollInterval{500};

// The stop handshake: sets stopRequested, then sleeps 500 ms at a time while filterRunning is 1. The
// filter thread notices the request within a second, so there is no upper bound. The sleep is
// injectable for tests.
void WaitForFilterStop(FilterSettings& settings,
                       const std::function<void(std::chrono::milliseconds)>& sleep = {});

}  // namespace bramvell
