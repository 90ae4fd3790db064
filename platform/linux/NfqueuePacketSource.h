#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "engine/PacketSource.h"
#include "platform/linux/NetfilterMessages.h"
#include "platform/linux/NetfilterRules.h"
#include "platform/linux/NetlinkChannel.h"
#include "platform/linux/NfqueueOptions.h"

namespace bramvell {

// The packet source of a Linux machine. iptables and ip6tables rules (see NetfilterRules) hold the POP3,
// SMTP and Messenger traffic of one interface in an NFQUEUE queue and copy outbound web and chat
// segments to an NFLOG group; each packet is handed over as an Ethernet frame (a 14-byte header with
// EtherType 0x0800 or 0x86DD in front of the IP packet, direction from the hook it was taken at).
// IPv6 is filtered when the machine has it (an IPv6 raw socket opens, ip6tables installs the rules);
// otherwise IPv4 alone is, and FilteringNotice says so.
//
// Verdicts: the first send of a held frame in its own direction accepts it, with the buffer's bytes
// when they differ from what was queued. Any other send (the other direction, a second send, or a
// send after DropPacket) emits a frame of our own through a raw IP socket whose packets carry the
// mark, so our rules let them pass (an IPv4 or an IPv6 one after the packet's version): toward the network it
// goes to its destination, toward the stack to the local address and arrives through loopback. DropPacket, or
// the next ReadPacket while the verdict is still open, drops the held frame. A watched (logged) frame is
// already on its way: its first own-direction send does nothing, and it cannot be dropped.
//
// Frames accepted unchanged are released together (one batch verdict) to save a system call per
// frame: at the latest when a read finds nothing more, at a wait, or before any other verdict or frame
// of our own, so their order on the wire is kept.
//
// Operations map onto the kernel like this: SetPacketEvent binds (or releases) the queue and log
// group (the raw socket is opened once, by the first driver check or attach, and kept); SetAdapterMode 3
// removes any stale rules and installs ours for the adapter, mode 0 removes them; the packet event is the
// netlink socket, waited on with poll(). Adapter handles are interface indexes; kAllInterfaces covers every
// interface but loopback.
//
// Used by one thread at a time; only the statistics may be read from another.
class NfqueuePacketSource : public PacketSource {
  public:
    static constexpr AdapterHandle kAllInterfaces = 0;

    struct Statistics {
        uint64_t held = 0;             // queued frames handed to the caller
        uint64_t watched = 0;          // logged copies handed to the caller
        uint64_t accepted = 0;         // held frames accepted unchanged
        uint64_t acceptedChanged = 0;  // held frames accepted with new bytes
        uint64_t dropped = 0;          // held frames dropped (DropPacket, next read, flush)
        uint64_t ownSent = 0;          // frames of our own sent through the raw socket
        uint64_t ownSendFailures = 0;
        uint64_t passedUnread = 0;  // held packets accepted without a look (over 1500 bytes, not IP)
        uint64_t overruns = 0;      // ENOBUFS: the kernel could not queue packets for us
        uint64_t verdictFailures = 0;
    };

    explicit NfqueuePacketSource(NfqueueOptions options = {});
    ~NfqueuePacketSource() override;
    NfqueuePacketSource(const NfqueuePacketSource&) = delete;
    NfqueuePacketSource& operator=(const NfqueuePacketSource&) = delete;

    bool IsDriverLoaded() override;
    std::vector<AdapterInfo> GetTcpipBoundAdaptersInfo() override;
    bool SetPacketEvent(AdapterHandle adapter, bool attach) override;
    bool WaitForPacketEvent(std::chrono::milliseconds timeout) override;
    void ResetPacketEvent() override;
    bool SetAdapterMode(AdapterHandle adapter, uint32_t flags) override;
    bool ReadPacket(AdapterHandle adapter, PacketBuffer& buffer) override;
    bool SendPacketToAdapter(AdapterHandle adapter, const PacketBuffer& buffer) override;
    bool SendPacketToMstcp(AdapterHandle adapter, const PacketBuffer& buffer) override;
    bool SendFrameToMstcp(AdapterHandle adapter, std::span<const uint8_t> frame) override;
    void DropPacket(AdapterHandle adapter, const PacketBuffer& buffer) override;
    void FlushAdapterPacketQueue(AdapterHandle adapter) override;
    std::string FilteringNotice() const override { return ipv6Notice_; }

    Statistics GetStatistics() const;
    // Why the last failing operation failed, for a log line.
    const std::string& Problem() const { return problem_; }
    std::string FailureReason() const override { return problem_; }
    // True while outbound web and chat segments are watched (the log group could be bound).
    bool IsWatching() const { return watching_; }
    // True while the IPv6 rules are installed beside the IPv4 ones.
    bool FiltersIpv6() const { return ipv6Filtered_; }
    const NfqueueOptions& Options() const { return options_; }

  private:
    enum class FrameKind { None, Held, Watched };
    struct CurrentFrame {
        FrameKind kind = FrameKind::None;
        bool open = false;  // held: no verdict yet; watched: its own-direction send still to come
        PacketDirection direction = PacketDirection::Outbound;
        uint32_t packetId = 0;
        std::span<const uint8_t> queued;  // the packet as queued, inside the channel's buffer
    };

    // Opens the marked raw sockets for frames of our own, once: they stay open for the source's life.
    // The IPv6 one may fail (no IPv6 on the machine); the IPv4 one must not.
    bool OpenRawSocket();
    // Installs the IPv6 rules when the machine can take them; otherwise sets the notice that says why not.
    void InstallIpv6Rules(const NfqueueOptions& ruleOptions, const RuleScope& scope);
    bool Attach();
    void Detach();
    bool Emit(PacketDirection direction, std::span<const uint8_t> frame);
    bool SendVerdict(uint32_t packetId, uint32_t verdict, std::span<const uint8_t> payload);
    // Accepts an unchanged packet, possibly together with the ones after it.
    bool Accept(uint32_t packetId);
    bool SendPendingAccepts();
    bool SendOwn(std::span<const uint8_t> packet);
    void CloseCurrent();
    // Takes the next usable frame from a channel into buffer; false when the channel has none.
    bool TakeHeld(PacketBuffer& buffer);
    bool TakeWatched(PacketBuffer& buffer);
    void AnswerStray(const nlmsghdr* message);

    NfqueueOptions options_;
    NetlinkChannel queue_;
    NetlinkChannel log_;
    int rawSocket_ = -1;
    int rawSocket6_ = -1;
    std::string rawSocket6Problem_;
    unsigned scopeInterface_ = 0;  // for link-local IPv6 destinations of frames of our own
    bool watching_ = false;
    bool rulesInstalled_ = false;
    bool rules6Installed_ = false;
    bool ipv6Filtered_ = false;
    std::string ipv6Notice_;
    CurrentFrame current_;
    uint32_t pendingAcceptId_ = 0;  // the last packet of the pending accepts
    uint32_t pendingAccepts_ = 0;
    std::string problem_;
    alignas(nlmsghdr) uint8_t verdictBuffer_[kNetfilterVerdictRoom];

    struct Counters {
        std::atomic<uint64_t> held{0}, watched{0}, accepted{0}, acceptedChanged{0}, dropped{0}, ownSent{0},
            ownSendFailures{0}, passedUnread{0}, verdictFailures{0};
    };
    Counters counters_;
};

}  // namespace bramvell
