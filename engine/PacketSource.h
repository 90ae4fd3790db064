#pragma once

#include <algorithm>
#include <chrono>
#include <span>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/PacketBuffer.h"

namespace bramvell {

using AdapterHandle = uintptr_t;

struct AdapterInfo {
    std::string name;
    AdapterHandle handle = 0;
};

inline constexpr uint32_t kAdapterModeTunnel = 3;  // hold frames in both directions
inline constexpr uint32_t kAdapterModeNormal = 0;

// What the filter thread needs of the packet-filter layer: it holds back every frame of one adapter
// in both directions, signals their arrival, hands them over one at a time with their direction, and
// emits frames toward the network or toward the local stack.
//
// Every frame returned by ReadPacket must end in exactly one way before the next ReadPacket: one or more
// Send calls, or DropPacket. A source that must issue a verdict per held frame (NFQUEUE) treats the first
// send in the frame's own direction as "accept with these bytes", any other send as a frame of the
// program's own, and DropPacket (or a next read with the verdict still open) as "drop".
class PacketSource {
public:
    virtual ~PacketSource() = default;

    virtual bool IsDriverLoaded() = 0;
    // Why IsDriverLoaded said no, in words for the user; empty when there is nothing to add.
    virtual std::string FailureReason() const { return {}; }
    // After SetAdapterMode: what the source cannot filter on this machine (IPv6 without ip6tables, say),
    // for a line in the activity log; empty when it filters everything.
    virtual std::string FilteringNotice() const { return {}; }
    virtual std::vector<AdapterInfo> GetTcpipBoundAdaptersInfo() = 0;
    // Attaches (true) or detaches (false) the arrival signal of an adapter.
    virtual bool SetPacketEvent(AdapterHandle adapter, bool attach) = 0;
    // Waits until frames are waiting or the timeout passes; true when signalled.
    virtual bool WaitForPacketEvent(std::chrono::milliseconds timeout) = 0;
    virtual void ResetPacketEvent() = 0;
    virtual bool SetAdapterMode(AdapterHandle adapter, uint32_t flags) = 0;
    // Copies the next held frame into the buffer; false when none is waiting.
    virtual bool ReadPacket(AdapterHandle adapter, PacketBuffer& buffer) = 0;
    virtual bool SendPacketToAdapter(AdapterHandle adapter, const PacketBuffer& buffer) = 0;
    virtual bool SendPacketToMstcp(AdapterHandle adapter, const PacketBuffer& buffer) = 0;
    // Sends a frame kept in the caller's own memory toward the local stack, like SendPacketToMstcp.
    // Sources that can send from any memory override this to spare the copy into a buffer.
    virtual bool SendFrameToMstcp(AdapterHandle adapter, std::span<const uint8_t> frame) {
        if (frame.size() > kMaxFrameLength) {
            return false;
        }
        PacketBuffer buffer;
        buffer.deviceFlags = PacketDirection::Inbound;
        buffer.length = static_cast<uint32_t>(frame.size());
        std::copy(frame.begin(), frame.end(), buffer.frame.begin());
        return SendPacketToMstcp(adapter, buffer);
    }
    // The frame last read is not sent on.
    virtual void DropPacket(AdapterHandle adapter, const PacketBuffer& buffer) = 0;
    virtual void FlushAdapterPacketQueue(AdapterHandle adapter) = 0;
};

}  // namespace bramvell
