#pragma once

#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/PacketBuffer.h"

namespace bramvell {

inline constexpr uint32_t kVerdictDrop = 0;    // NF_DROP
inline constexpr uint32_t kVerdictAccept = 1;  // NF_ACCEPT

// The direction of a packet taken at a netfilter hook: local output and post-routing are on the way
// to the network, pre-routing and local input on the way to the host. Forwarded packets are neither.
std::optional<PacketDirection> DirectionOfHook(uint8_t hook);

// One packet as nfnetlink_queue (held, needs a verdict) or nfnetlink_log (a copy, already on its way)
// hands it over. payload points into the received message.
struct NetfilterPacket {
    uint32_t packetId = 0;  // queue only
    uint32_t length = 0;    // the whole packet's length; more than payload.size() when the copy was cut
    uint16_t hwProtocol = 0;
    uint8_t hook = 0;
    std::span<const uint8_t> payload;
};

enum class NetfilterMessageKind {
    QueuedPacket,
    LoggedPacket,
    Error,  // NLMSG_ERROR: an acknowledgement (code 0) or a failure
    Other,
};

// Classifies a message that mnl_nlmsg_ok accepted.
NetfilterMessageKind KindOf(const nlmsghdr* message);

// Reads a packet message. False when a needed attribute is missing, too short, or the attributes do
// not parse; payload may be empty when the message carries none.
bool ParseQueuedPacket(const nlmsghdr* message, NetfilterPacket& packet);
bool ParseLoggedPacket(const nlmsghdr* message, NetfilterPacket& packet);

// The sequence number and negative errno (0 = acknowledgement) of an NLMSG_ERROR message. False
// when the message is too short to hold them.
bool ParseError(const nlmsghdr* message, uint32_t& sequence, int& error);

// Message builders. Each writes one message at the start of buffer (which must hold
// kNetfilterMessageRoom bytes plus any payload) and returns it; the caller sends nlmsg_len bytes.
inline constexpr std::size_t kNetfilterMessageRoom = 256;
// Room for a verdict that carries a whole frame's IP packet.
inline constexpr std::size_t kNetfilterVerdictRoom = kNetfilterMessageRoom + kMaxFrameLength;

nlmsghdr* BuildQueueCommand(void* buffer, uint16_t queue, uint8_t command, uint32_t sequence);
// Copy up to copyRange bytes of each packet, queue at most maxLength, and switch off GSO delivery and
// fail-open.
nlmsghdr* BuildQueueParameters(void* buffer, uint16_t queue, uint32_t copyRange, uint32_t maxLength,
                               uint32_t sequence);
// A verdict for one packet; with a non-empty payload the packet continues with those bytes.
nlmsghdr* BuildVerdict(void* buffer, uint16_t queue, uint32_t packetId, uint32_t verdict,
                       std::span<const uint8_t> payload);
// One verdict for every packet of the queue whose id is at most lastPacketId.
nlmsghdr* BuildBatchVerdict(void* buffer, uint16_t queue, uint32_t lastPacketId, uint32_t verdict);
nlmsghdr* BuildLogCommand(void* buffer, uint16_t group, uint8_t command, uint32_t sequence);
// Copy up to copyRange bytes of each packet and hand each over at once.
nlmsghdr* BuildLogParameters(void* buffer, uint16_t group, uint32_t copyRange, uint32_t sequence);

}  // namespace bramvell
