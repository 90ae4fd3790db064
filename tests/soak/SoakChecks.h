#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "soak/SoakMail.h"
#include "support/Pop3World.h"

namespace bramvell::testing {

// Bytes the process heap has handed out and not had back.
std::size_t HeapInUse();

// Differences between what a finished session did and what it had to do; empty when none.
std::string Check(const Pop3World::Session& session, const SoakOutcome& expected);

// Damaged, unsent-acknowledging, out-of-window or SACK-carrying frames either end saw; empty when none.
std::string EndpointAnomalies(const Pop3World::Session& session);

// A frame for another port: it wakes the loop, which sweeps the table before it passes the frame on.
std::vector<uint8_t> WakeUpFrame();

}  // namespace bramvell::testing
