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

// The end of a soak run, once no session is left running: waits out the settle time (records swept,
// kept blocks given back), then wakes the loop with a frame for another port, since the table is swept
// only when frames arrive. Done once that frame has been read.
class SettleAndWake {
  public:
    // Called by the run's poller; true (from then on) when the run may stop.
    bool Step(sim::SimNetwork& network, uint64_t now, uint64_t quietSinceMs, uint64_t settleMs);

  private:
    bool woken_ = false;
    bool done_ = false;
};

}  // namespace bramvell::testing
