#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/FilterSettings.h"
#include "engine/MemoryPacketSource.h"
#include "engine/Pop3Interceptor.h"
#include "support/FakeClock.h"
#include "support/RecordingMessageTarget.h"
#include "support/ScriptedAnalyzer.h"
#include "support/TempFolder.h"

namespace bramvell::testing {

// One TCP segment as tests write it.
struct SegmentSpec {
    uint32_t sourceIp = 0;
    uint32_t destinationIp = 0;
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint8_t flags = 0x10;
    uint16_t window = 0;
    std::string payload;
    std::vector<uint8_t> options;  // raw option bytes, padded to a multiple of 4 by the builder
};

std::vector<uint8_t> BuildSegment(const SegmentSpec& spec);

// The fields of a frame the engine produced.
struct SegmentView {
    bool valid = false;  // parses as TCP and both checksums verify
    uint32_t sourceIp = 0;
    uint32_t destinationIp = 0;
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint8_t flags = 0;
    uint16_t window = 0;
    std::string payload;
    std::size_t length = 0;
};
SegmentView ViewSegment(const std::vector<uint8_t>& frame);

class ManualTicks final : public TickClock {
  public:
    uint64_t NowMilliseconds() const override { return now; }
    uint64_t now = 0;
};

// Drives the engine one frame at a time, as the packet loop would, between a client 10.0.0.1 and a
// server 10.0.1.2 (port 110).
class FrameDriver {
  public:
    static constexpr uint32_t kClient = 0x0A000001;
    static constexpr uint32_t kServer = 0x0A000102;

    struct Result {
        bool dropped = false;
        PacketDirection direction = PacketDirection::Outbound;
        SegmentView frame;  // the buffer as it left (when not dropped)
        std::vector<uint8_t> bytes;
        std::vector<MemoryPacketSource::SentFrame> sent;  // frames the engine sent on its own meanwhile

        // What went on in this frame's place: the buffer when the loop passes it on, otherwise the last
        // frame the engine sent of its own meanwhile (an acknowledgement, a command, an error reply).
        bool Leaves() const { return !dropped || !sent.empty(); }
        SegmentView Leaving() const { return dropped && !sent.empty() ? ViewSegment(sent.back().bytes) : frame; }
        PacketDirection LeavingDirection() const {
            return dropped && !sent.empty() ? sent.back().direction : direction;
        }
    };

    FrameDriver();

    Result Client(uint32_t seq, uint32_t ack, const std::string& payload = "", uint8_t flags = 0x18,
                  uint16_t window = 4000, uint16_t port = 40000);
    Result Server(uint32_t seq, uint32_t ack, const std::string& payload = "", uint8_t flags = 0x18,
                  uint16_t window = 6000, uint16_t port = 40000);
    Result Frame(PacketDirection direction, const std::vector<uint8_t>& bytes);
    // SYN, SYN-ACK and the client's ACK: client numbers start at clientIsn + 1, server at serverIsn + 1.
    void Handshake(uint32_t clientIsn, uint32_t serverIsn, uint16_t port = 40000);
    std::vector<MemoryPacketSource::SentFrame> Idle();

    TempFolder folder;
    FakeClock clock;
    ManualTicks ticks;
    FilterSettings settings;
    ScriptedAnalyzer analyzer{settings, clock};
    SettableKeys keys;
    RecordingMessageTarget target;
    Pop3Interceptor engine{settings, analyzer, keys, target, clock, ticks};
    MemoryPacketSource source;
};

}  // namespace bramvell::testing
