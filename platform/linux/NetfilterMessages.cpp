#include "platform/linux/NetfilterMessages.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_log.h>
#include <linux/netfilter/nfnetlink_queue.h>
#include <sys/socket.h>

#include <cstring>

namespace bramvell {
namespace {

uint16_t MessageType(const nlmsghdr* message) {
    return message->nlmsg_type;
}

nlmsghdr* PutHeader(void* buffer, uint16_t subsystem, uint16_t type, uint16_t resource, uint16_t flags,
                    uint32_t sequence) {
    nlmsghdr* message = mnl_nlmsg_put_header(buffer);
    message->nlmsg_type = static_cast<uint16_t>(subsystem << 8 | type);
    message->nlmsg_flags = flags;
    message->nlmsg_seq = sequence;
    auto* header = static_cast<nfgenmsg*>(mnl_nlmsg_put_extra_header(message, sizeof(nfgenmsg)));
    header->nfgen_family = AF_UNSPEC;
    header->version = NFNETLINK_V0;
    header->res_id = htons(resource);
    return message;
}

struct AttributeTable {
    const nlattr** slots;
    uint16_t count;
};

int CollectAttribute(const nlattr* attribute, void* data) {
    auto* table = static_cast<AttributeTable*>(data);
    const uint16_t type = mnl_attr_get_type(attribute);
    if (type < table->count) {
        table->slots[type] = attribute;
    }
    return MNL_CB_OK;
}

bool ParseAttributes(const nlmsghdr* message, const nlattr** slots, uint16_t count) {
    if (message->nlmsg_len < mnl_nlmsg_size(sizeof(nfgenmsg))) {
        return false;
    }
    AttributeTable table{slots, count};
    return mnl_attr_parse(message, sizeof(nfgenmsg), CollectAttribute, &table) >= MNL_CB_STOP;
}

std::span<const uint8_t> PayloadOf(const nlattr* attribute) {
    if (!attribute) {
        return {};
    }
    return {static_cast<const uint8_t*>(mnl_attr_get_payload(attribute)),
            mnl_attr_get_payload_len(attribute)};
}

static_assert(kVerdictDrop == NF_DROP && kVerdictAccept == NF_ACCEPT);

}  // namespace

std::optional<PacketDirection> DirectionOfHook(uint8_t hook) {
    switch (hook) {
        case NF_INET_LOCAL_OUT:
        case NF_INET_POST_ROUTING:
            return PacketDirection::Outbound;
        case NF_INET_PRE_ROUTING:
        case NF_INET_LOCAL_IN:
            return PacketDirection::Inbound;
        default:
            return std::nullopt;
    }
}

NetfilterMessageKind KindOf(const nlmsghdr* message) {
    const uint16_t type = MessageType(message);
    if (type == NLMSG_ERROR) {
        return NetfilterMessageKind::Error;
    }
    if (type == (NFNL_SUBSYS_QUEUE << 8 | NFQNL_MSG_PACKET)) {
        return NetfilterMessageKind::QueuedPacket;
    }
    if (type == (NFNL_SUBSYS_ULOG << 8 | NFULNL_MSG_PACKET)) {
        return NetfilterMessageKind::LoggedPacket;
    }
    return NetfilterMessageKind::Other;
}

bool ParseQueuedPacket(const nlmsghdr* message, NetfilterPacket& packet) {
    const nlattr* slots[NFQA_MAX + 1] = {};
    if (!ParseAttributes(message, slots, NFQA_MAX + 1)) {
        return false;
    }
    const std::span<const uint8_t> header = PayloadOf(slots[NFQA_PACKET_HDR]);
    nfqnl_msg_packet_hdr fields;
    if (header.size() < sizeof fields) {
        return false;
    }
    std::memcpy(&fields, header.data(), sizeof fields);
    packet.packetId = ntohl(fields.packet_id);
    packet.hwProtocol = ntohs(fields.hw_protocol);
    packet.hook = fields.hook;
    packet.payload = PayloadOf(slots[NFQA_PAYLOAD]);
    packet.length = static_cast<uint32_t>(packet.payload.size());
    if (slots[NFQA_CAP_LEN] && mnl_attr_get_payload_len(slots[NFQA_CAP_LEN]) >= sizeof(uint32_t)) {
        packet.length = ntohl(mnl_attr_get_u32(slots[NFQA_CAP_LEN]));
    }
    return true;
}

bool ParseLoggedPacket(const nlmsghdr* message, NetfilterPacket& packet) {
    const nlattr* slots[NFULA_MAX + 1] = {};
    if (!ParseAttributes(message, slots, NFULA_MAX + 1)) {
        return false;
    }
    const std::span<const uint8_t> header = PayloadOf(slots[NFULA_PACKET_HDR]);
    nfulnl_msg_packet_hdr fields;
    if (header.size() < sizeof fields) {
        return false;
    }
    std::memcpy(&fields, header.data(), sizeof fields);
    packet.packetId = 0;
    packet.hwProtocol = ntohs(fields.hw_protocol);
    packet.hook = fields.hook;
    packet.payload = PayloadOf(slots[NFULA_PAYLOAD]);
    packet.length = static_cast<uint32_t>(packet.payload.size());
    return true;
}

bool ParseError(const nlmsghdr* message, uint32_t& sequence, int& error) {
    if (message->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr))) {
        return false;
    }
    nlmsgerr fields;
    std::memcpy(&fields, mnl_nlmsg_get_payload(message), sizeof fields);
    sequence = fields.msg.nlmsg_seq;
    error = fields.error;
    return true;
}

nlmsghdr* BuildQueueCommand(void* buffer, uint16_t queue, uint8_t command, uint32_t sequence) {
    nlmsghdr* message =
        PutHeader(buffer, NFNL_SUBSYS_QUEUE, NFQNL_MSG_CONFIG, queue, NLM_F_REQUEST | NLM_F_ACK, sequence);
    nfqnl_msg_config_cmd fields{};
    fields.command = command;
    fields.pf = htons(AF_INET);
    mnl_attr_put(message, NFQA_CFG_CMD, sizeof fields, &fields);
    return message;
}

nlmsghdr* BuildQueueParameters(void* buffer, uint16_t queue, uint32_t copyRange, uint32_t maxLength,
                               uint32_t sequence) {
    nlmsghdr* message =
        PutHeader(buffer, NFNL_SUBSYS_QUEUE, NFQNL_MSG_CONFIG, queue, NLM_F_REQUEST | NLM_F_ACK, sequence);
    nfqnl_msg_config_params parameters{};
    parameters.copy_range = htonl(copyRange);
    parameters.copy_mode = NFQNL_COPY_PACKET;
    mnl_attr_put(message, NFQA_CFG_PARAMS, sizeof parameters, &parameters);
    mnl_attr_put_u32(message, NFQA_CFG_QUEUE_MAXLEN, htonl(maxLength));
    // GSO off: the kernel then splits large packets and completes checksums before queueing, so
    // every packet is an ordinary segment. Fail-open off: a packet the queue cannot take is dropped
    // and retransmitted rather than slipping past unseen.
    mnl_attr_put_u32(message, NFQA_CFG_MASK, htonl(NFQA_CFG_F_GSO | NFQA_CFG_F_FAIL_OPEN));
    mnl_attr_put_u32(message, NFQA_CFG_FLAGS, htonl(0));
    return message;
}

nlmsghdr* BuildVerdict(void* buffer, uint16_t queue, uint32_t packetId, uint32_t verdict,
                       std::span<const uint8_t> payload) {
    nlmsghdr* message = PutHeader(buffer, NFNL_SUBSYS_QUEUE, NFQNL_MSG_VERDICT, queue, NLM_F_REQUEST, 0);
    nfqnl_msg_verdict_hdr fields{};
    fields.verdict = htonl(verdict);
    fields.id = htonl(packetId);
    mnl_attr_put(message, NFQA_VERDICT_HDR, sizeof fields, &fields);
    if (!payload.empty()) {
        mnl_attr_put(message, NFQA_PAYLOAD, payload.size(), payload.data());
    }
    return message;
}

nlmsghdr* BuildBatchVerdict(void* buffer, uint16_t queue, uint32_t lastPacketId, uint32_t verdict) {
    nlmsghdr* message =
        PutHeader(buffer, NFNL_SUBSYS_QUEUE, NFQNL_MSG_VERDICT_BATCH, queue, NLM_F_REQUEST, 0);
    nfqnl_msg_verdict_hdr fields{};
    fields.verdict = htonl(verdict);
    fields.id = htonl(lastPacketId);
    mnl_attr_put(message, NFQA_VERDICT_HDR, sizeof fields, &fields);
    return message;
}

nlmsghdr* BuildLogCommand(void* buffer, uint16_t group, uint8_t command, uint32_t sequence) {
    nlmsghdr* message =
        PutHeader(buffer, NFNL_SUBSYS_ULOG, NFULNL_MSG_CONFIG, group, NLM_F_REQUEST | NLM_F_ACK, sequence);
    nfulnl_msg_config_cmd fields{};
    fields.command = command;
    mnl_attr_put(message, NFULA_CFG_CMD, sizeof fields, &fields);
    return message;
}

nlmsghdr* BuildLogParameters(void* buffer, uint16_t group, uint32_t copyRange, uint32_t sequence) {
    nlmsghdr* message =
        PutHeader(buffer, NFNL_SUBSYS_ULOG, NFULNL_MSG_CONFIG, group, NLM_F_REQUEST | NLM_F_ACK, sequence);
    nfulnl_msg_config_mode mode{};
    mode.copy_range = htonl(copyRange);
    mode.copy_mode = NFULNL_COPY_PACKET;
    mnl_attr_put(message, NFULA_CFG_MODE, sizeof mode, &mode);
    mnl_attr_put_u32(message, NFULA_CFG_QTHRESH, htonl(1));
    return message;
}

}  // namespace bramvell
