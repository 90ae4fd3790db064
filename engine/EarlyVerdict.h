#pragma once

#include <cstddef>
#include <cstdint>

#include "config/Clock.h"

namespace bramvell {

class FilterSettings;

// A retrieved message that grows past the early-verdict size (option early-verdict-bytes) is judged on
// what has arrived, its header and the start of its body: spam is rarely that large, and a client on a
// slow link would time out waiting for the whole of it. Shared by the packet engine and the TLS bridge.
// threshold 0: every message is judged whole.
inline bool DueForEarlyVerdict(std::size_t heldBytes, uint32_t threshold) {
    return threshold != 0 && heldBytes >= threshold;
}

// The activity-log line that says a verdict was made on the start of a message.
void LogEarlyVerdict(const FilterSettings& settings, const Clock& clock, std::size_t heldBytes);

}  // namespace bramvell
