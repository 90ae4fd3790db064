#pragma once

#include "config/FilterSettings.h"
#include "engine/Frame.h"
#include "engine/PacketSource.h"
#include "engine/Pop3Handler.h"

namespace bramvell::sim {

// The packet loop's drain step as far as POP3 needs it: read each held frame, hand TCP to and from
// port 110 to the POP3 handler while filtering is enabled, then forward by the frame's direction at
// that moment, or drop it when the handler set the mark.
class SimPacketLoop {
  public:
    SimPacketLoop(PacketSource& source, Pop3Handler& handler, const FilterSettings& settings,
                  AdapterHandle adapter = 1)
        : source_(source), handler_(handler), settings_(settings), adapter_(adapter) {}

    // One wake-up: sweep, drain, timers.
    void Turn();
    void Idle() { handler_.OnIdle(source_, adapter_); }

  private:
    PacketSource& source_;
    Pop3Handler& handler_;
    const FilterSettings& settings_;
    AdapterHandle adapter_;
    PacketBuffer buffer_;
    FrameLayout layout_;
};

}  // namespace bramvell::sim
