#pragma once

#include <cstddef>

#include "config/Clock.h"

namespace bramvell {

class FilterSettings;
class MessageTarget;

// Made-up mail for a simulated run (`gui --simulate`): each call takes the next of a short round of good
// and spam messages through the verdict's real effects - the log lines, the main window's counters, the
// quarantine copy, the history - so that every page of the control panel has something to show without
// any real traffic.
class SimulatedMail {
  public:
    SimulatedMail(FilterSettings& settings, MessageTarget& target, const Clock& clock = DefaultClock());

    // Delivers or quarantines the next message of the round.
    void Next();
    std::size_t delivered() const { return count_; }

  private:
    FilterSettings& settings_;
    MessageTarget& target_;
    const Clock& clock_;
    std::size_t count_ = 0;
};

}  // namespace bramvell
