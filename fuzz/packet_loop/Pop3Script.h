#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/Clock.h"
#include "engine/MemoryPacketSource.h"
#include "engine/TickClock.h"
#include "fuzz/support/FuzzInput.h"

namespace bramvell {
class FilterSettings;
}

namespace bramvell::fuzz {

// Wall clock and timer ticks that the script moves forward.
class ScriptClock final : public Clock, public TickClock {
  public:
    LocalTime Now() const override;
    uint64_t NowMilliseconds() const override { return ticks_; }
    void Advance(int minutes, uint64_t milliseconds);

  private:
    int minutesSinceStart_ = 0;
    uint64_t ticks_ = 1000;
};

// Both ends of up to four POP3 connections, played from the fuzz input. Each op of the script builds
// frames as a client or server would send them: numbered from what that side has sent and what it has
// received (the engine's frames reach the peers through the source's sink), optionally perturbed by the
// input. Frames are handed to the loop in batches, so that the loop goes round (sweep, idle timers)
// between them. The script grammar is described in Pop3Script.cpp.
class Pop3Script {
  public:
    static constexpr std::size_t kConnections = 4;

    Pop3Script(std::string_view script, ScriptClock& clock) : input_(script), clock_(clock) {}

    // Queues the next batch into the source. False when the script is over.
    bool NextBatch(MemoryPacketSource& source);
    // A frame the engine sent on, toward the network (Outbound) or the local stack (Inbound).
    void OnSent(PacketDirection direction, std::span<const uint8_t> frame);
    // True when the frame is byte for byte one that the script injected.
    bool WasInjected(std::span<const uint8_t> frame) const;

  private:
    struct Side {
        uint32_t next = 0;      // sequence number of its next byte
        uint32_t received = 0;  // end of what it has received, in its own view of the other side
        uint32_t lastLength = 0;
        uint32_t timestamp = 1;
        uint32_t peerTimestamp = 0;
    };
    struct Connection {
        Side client;
        Side server;
        bool timestamps = false;
    };

    void Handshake(std::size_t index, uint8_t argument);
    void Segment(std::size_t index, bool fromClient, uint8_t flags, std::string_view payload, uint8_t mode);
    void Reply(std::size_t index);
    void Inject(bool fromClient, std::size_t index, uint32_t sequence, uint32_t acknowledgement,
                uint8_t flags, uint16_t window, std::span<const uint8_t> options, std::string_view payload);
    uint32_t Perturbed(uint32_t natural, uint32_t lastLength, unsigned mode);

    InputReader input_;
    ScriptClock& clock_;
    MemoryPacketSource* source_ = nullptr;
    std::array<Connection, kConnections> connections_{};
    std::array<bool, kConnections> ipv6_{};  // the family of each connection's frames
    std::set<std::vector<uint8_t>> injected_;
    std::vector<uint8_t> frame_;
    std::string text_;
};

// MemoryPacketSource whose frames come from a script, one batch per packet event. When the script is
// over it asks the loop to stop.
class ScriptedPacketSource final : public MemoryPacketSource {
  public:
    ScriptedPacketSource(Pop3Script& script, FilterSettings& settings);
    bool WaitForPacketEvent(std::chrono::milliseconds timeout) override;

  private:
    Pop3Script& script_;
    FilterSettings& settings_;
};

// Client address 10.0.0.1; connection i uses client port 40000 + i % 2 and server 10.0.0.(2 + i / 2),
// so two connections share a client port on different servers.
uint32_t ClientAddress();
uint32_t ServerAddress(std::size_t connection);
uint16_t ClientPort(std::size_t connection);

}  // namespace bramvell::fuzz
