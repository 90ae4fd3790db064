#include "platform/linux/NfqueuePacketSource.h"

#include <linux/capability.h>
#include <linux/netfilter/nfnetlink_log.h>
#include <linux/netfilter/nfnetlink_queue.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/Frame.h"
#include "platform/linux/Capabilities.h"
#include "platform/linux/EthernetFraming.h"
#include "platform/linux/NetfilterRules.h"
#include "platform/linux/NetworkInterfaces.h"
#include "platform/linux/PacketSourceCheck.h"
#include "platform/linux/ProcessRunner.h"

namespace bramvell {
namespace {

constexpr auto kConfigTimeout = std::chrono::milliseconds(2000);
constexpr uint32_t kHoldBothDirections = 3;
// The kernel copies no more of a packet than a frame can carry; a longer one is let through unread.
constexpr uint32_t kCopyRange = kMaxFrameLength - kEthernetHeaderLength;

}  // namespace

NfqueuePacketSource::NfqueuePacketSource(NfqueueOptions options) : options_(std::move(options)) {}

NfqueuePacketSource::~NfqueuePacketSource() {
    Detach();
    if (rulesInstalled_) {
        NetfilterRules(options_).Remove();
    }
    if (rules6Installed_) {
        NetfilterRules(options_, IpFamily::Ipv6).Remove();
    }
    if (rawSocket_ >= 0) {
        close(rawSocket_);
    }
    if (rawSocket6_ >= 0) {
        close(rawSocket6_);
    }
}

bool NfqueuePacketSource::IsDriverLoaded() {
    if (!HasNetworkCapabilities(rawSocket_ >= 0, &problem_) || !OpenRawSocket()) {
        return false;
    }
    // While attached, the queue is ours: probing it from another socket would fail.
    return queue_.IsOpen() || IsPacketSourceUsable(options_, &problem_);
}

std::vector<AdapterInfo> NfqueuePacketSource::GetTcpipBoundAdaptersInfo() {
    return ListNetworkInterfaces();
}

bool NfqueuePacketSource::SetPacketEvent(AdapterHandle, bool attach) {
    if (!attach) {
        Detach();
        return true;
    }
    return queue_.IsOpen() || Attach();
}

bool NfqueuePacketSource::Attach() {
    alignas(nlmsghdr) uint8_t message[kNetfilterMessageRoom];
    const auto stray = [this](const nlmsghdr* m) { AnswerStray(m); };
    if (!queue_.Open(options_.receiveBufferBytes)) {
        problem_ = queue_.Problem();
        return false;
    }
    int error = queue_.Request(
        BuildQueueCommand(message, options_.queueNumber, NFQNL_CFG_CMD_BIND, queue_.NextSequence()),
        kConfigTimeout, stray);
    if (error == 0) {
        error = queue_.Request(BuildQueueParameters(message, options_.queueNumber, kCopyRange,
                                                    options_.queueMaxLength, queue_.NextSequence()),
                               kConfigTimeout, stray);
    }
    if (error != 0) {
        problem_ = "cannot bind netfilter queue " + std::to_string(options_.queueNumber) + ": " +
                   std::strerror(-error);
        queue_.Close();
        return false;
    }

    if (!OpenRawSocket()) {
        Detach();
        return false;
    }

    // Watching web and chat traffic is a nicety: without the log group the rest works as before.
    watching_ = false;
    if (options_.observeActivityPorts && log_.Open(options_.receiveBufferBytes / 4)) {
        error = log_.Request(
            BuildLogCommand(message, options_.logGroup, NFULNL_CFG_CMD_BIND, log_.NextSequence()),
            kConfigTimeout, {});
        if (error == 0) {
            error =
                log_.Request(BuildLogParameters(message, options_.logGroup, kCopyRange, log_.NextSequence()),
                             kConfigTimeout, {});
        }
        watching_ = error == 0;
        if (!watching_) {
            problem_ = "cannot bind netfilter log group " + std::to_string(options_.logGroup) + ": " +
                       std::strerror(-error) + "; web and chat traffic is not watched";
            log_.Close();
        }
    }
    return true;
}

void NfqueuePacketSource::Detach() {
    CloseCurrent();
    SendPendingAccepts();
    if (queue_.IsOpen()) {
        alignas(nlmsghdr) uint8_t message[kNetfilterMessageRoom];
        // Releasing the queue drops what it still holds, as a flush would.
        queue_.Request(
            BuildQueueCommand(message, options_.queueNumber, NFQNL_CFG_CMD_UNBIND, queue_.NextSequence()),
            kConfigTimeout, {});
        queue_.Close();
    }
    if (log_.IsOpen()) {
        alignas(nlmsghdr) uint8_t message[kNetfilterMessageRoom];
        log_.Request(BuildLogCommand(message, options_.logGroup, NFULNL_CFG_CMD_UNBIND, log_.NextSequence()),
                     kConfigTimeout, {});
        log_.Close();
    }
    watching_ = false;
}

bool NfqueuePacketSource::SetAdapterMode(AdapterHandle adapter, uint32_t flags) {
    NfqueueOptions ruleOptions = options_;
    // Rules that log to a group nobody reads would cost without use.
    ruleOptions.observeActivityPorts = watching_;
    NetfilterRules rules(ruleOptions);
    if ((flags & kHoldBothDirections) == 0) {
        CloseCurrent();
        NetfilterRules rules6(ruleOptions, IpFamily::Ipv6);
        const bool removed = rules.Remove();
        // Without ip6tables nothing can be listed or removed: there is nothing of ours either.
        const bool removed6 = rules6.Remove();
        rulesInstalled_ = !removed;
        rules6Installed_ = !removed6;
        ipv6Filtered_ = false;
        if (!removed || !removed6) {
            problem_ = !removed ? rules.Problem() : rules6.Problem();
        }
        return removed && removed6;
    }
    RuleScope scope = RuleScope::AllButLoopback();
    scopeInterface_ = 0;
    if (adapter != kAllInterfaces) {
        char name[IF_NAMESIZE] = {};
        if (adapter > UINT32_MAX || !if_indextoname(static_cast<unsigned>(adapter), name)) {
            problem_ = "no interface with index " + std::to_string(adapter);
            return false;
        }
        scope = RuleScope::Interface(name);
        scopeInterface_ = static_cast<unsigned>(adapter);
    }
    rulesInstalled_ = true;  // Install removes what it half made, but a crash is better cleaned twice
    if (!rules.Install(scope)) {
        problem_ = rules.Problem();
        rulesInstalled_ = rules.AnyPresent();
        return false;
    }
    InstallIpv6Rules(ruleOptions, scope);
    return true;
}

void NfqueuePacketSource::InstallIpv6Rules(const NfqueueOptions& ruleOptions, const RuleScope& scope) {
    NetfilterRules rules(ruleOptions, IpFamily::Ipv6);
    ipv6Filtered_ = false;
    std::string why;
    if (rawSocket6_ < 0) {
        why = rawSocket6Problem_;
    } else if (FindTrustedProgram(rules.Program(), &why).empty() ||
               FindTrustedProgram(rules.RestoreProgram(), &why).empty()) {
        why = "refused to run " + rules.Program() + ": " + why;
    } else {
        rules6Installed_ = true;
        if (rules.Install(scope)) {
            ipv6Filtered_ = true;
            ipv6Notice_.clear();
            return;
        }
        why = rules.Problem();
        rules6Installed_ = rules.AnyPresent();
    }
    // One log line: the programs' output may run over several.
    for (char& c : why) {
        c = c == '\n' || c == '\r' ? ' ' : c;
    }
    while (!why.empty() && why.back() == ' ') {
        why.pop_back();
    }
    ipv6Notice_ = "IPv6 is not filtered (" + why + "); only IPv4 mail is checked";
}

bool NfqueuePacketSource::WaitForPacketEvent(std::chrono::milliseconds timeout) {
    SendPendingAccepts();
    if (queue_.HasBuffered() || log_.HasBuffered()) {
        return true;
    }
    pollfd fds[2];
    nfds_t count = 0;
    if (queue_.IsOpen()) {
        fds[count++] = {queue_.Descriptor(), POLLIN, 0};
    }
    if (log_.IsOpen()) {
        fds[count++] = {log_.Descriptor(), POLLIN, 0};
    }
    if (count == 0) {
        return false;
    }
    return poll(fds, count, static_cast<int>(timeout.count())) > 0;
}

void NfqueuePacketSource::ResetPacketEvent() {
    // The event is the sockets' readability, which reading clears.
}

bool NfqueuePacketSource::ReadPacket(AdapterHandle, PacketBuffer& buffer) {
    CloseCurrent();
    if (TakeHeld(buffer) || TakeWatched(buffer)) {
        return true;
    }
    SendPendingAccepts();  // nothing else to do: let the accepted packets go now
    return false;
}

bool NfqueuePacketSource::TakeHeld(PacketBuffer& buffer) {
    while (const nlmsghdr* message = queue_.Next()) {
        NetfilterPacket packet;
        if (KindOf(message) != NetfilterMessageKind::QueuedPacket || !ParseQueuedPacket(message, packet)) {
            continue;
        }
        const std::optional<PacketDirection> direction = DirectionOfHook(packet.hook);
        if (!direction || packet.length > packet.payload.size() ||
            !WrapIpPacket(packet.payload, *direction, buffer)) {
            // Nothing the engine could read (larger than a frame, or neither IPv4 nor IPv6): let it pass.
            Accept(packet.packetId);
            counters_.passedUnread.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        current_ = {FrameKind::Held, true, *direction, packet.packetId, packet.payload};
        counters_.held.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    return false;
}

bool NfqueuePacketSource::TakeWatched(PacketBuffer& buffer) {
    while (const nlmsghdr* message = log_.Next()) {
        NetfilterPacket packet;
        if (KindOf(message) != NetfilterMessageKind::LoggedPacket || !ParseLoggedPacket(message, packet)) {
            continue;
        }
        const std::optional<PacketDirection> direction = DirectionOfHook(packet.hook);
        // A copy cut short (the packet was larger than a frame) is of no use.
        const std::size_t declared = DeclaredIpLength(packet.payload);
        const bool whole = declared > 0 && declared <= packet.payload.size();
        if (!direction || !whole || !WrapIpPacket(packet.payload, *direction, buffer)) {
            continue;
        }
        current_ = {FrameKind::Watched, true, *direction, 0, {}};
        counters_.watched.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    return false;
}

void NfqueuePacketSource::AnswerStray(const nlmsghdr* message) {
    // A packet that arrives while we wait for a configuration answer is not the caller's yet.
    NetfilterPacket packet;
    if (KindOf(message) == NetfilterMessageKind::QueuedPacket && ParseQueuedPacket(message, packet)) {
        SendVerdict(packet.packetId, kVerdictAccept, {});
        counters_.passedUnread.fetch_add(1, std::memory_order_relaxed);
    }
}

bool NfqueuePacketSource::SendPacketToAdapter(AdapterHandle, const PacketBuffer& buffer) {
    return Emit(PacketDirection::Outbound, buffer.Bytes());
}

bool NfqueuePacketSource::SendPacketToMstcp(AdapterHandle, const PacketBuffer& buffer) {
    return Emit(PacketDirection::Inbound, buffer.Bytes());
}

bool NfqueuePacketSource::SendFrameToMstcp(AdapterHandle, std::span<const uint8_t> frame) {
    return Emit(PacketDirection::Inbound, frame);
}

bool NfqueuePacketSource::Emit(PacketDirection direction, std::span<const uint8_t> frame) {
    const std::span<const uint8_t> packet = IpPacketOf(frame);
    if (current_.open && direction == current_.direction) {
        current_.open = false;
        if (current_.kind == FrameKind::Watched) {
            return true;  // the original is already on its way
        }
        if (packet.empty()) {
            // The frame no longer holds an IP packet; let the original go on as it was.
            return Accept(current_.packetId);
        }
        const bool unchanged = packet.size() == current_.queued.size() &&
                               std::memcmp(packet.data(), current_.queued.data(), packet.size()) == 0;
        if (unchanged) {
            counters_.accepted.fetch_add(1, std::memory_order_relaxed);
            return Accept(current_.packetId);
        }
        counters_.acceptedChanged.fetch_add(1, std::memory_order_relaxed);
        return SendVerdict(current_.packetId, kVerdictAccept, packet);
    }
    // Accepted packets go first, so that nothing we send overtakes them.
    SendPendingAccepts();
    return SendOwn(packet);
}

bool NfqueuePacketSource::Accept(uint32_t packetId) {
    if (options_.acceptBatch <= 1) {
        return SendVerdict(packetId, kVerdictAccept, {});
    }
    pendingAcceptId_ = packetId;
    if (++pendingAccepts_ >= options_.acceptBatch) {
        return SendPendingAccepts();
    }
    return true;
}

bool NfqueuePacketSource::SendPendingAccepts() {
    if (pendingAccepts_ == 0) {
        return true;
    }
    pendingAccepts_ = 0;
    // Every packet up to this id has been handed out in order and is accepted or already decided.
    if (!queue_.Send(
            BuildBatchVerdict(verdictBuffer_, options_.queueNumber, pendingAcceptId_, kVerdictAccept))) {
        counters_.verdictFailures.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

bool NfqueuePacketSource::SendVerdict(uint32_t packetId, uint32_t verdict, std::span<const uint8_t> payload) {
    SendPendingAccepts();
    if (payload.size() > kMaxFrameLength) {
        payload = {};
    }
    if (!queue_.Send(BuildVerdict(verdictBuffer_, options_.queueNumber, packetId, verdict, payload))) {
        counters_.verdictFailures.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

void NfqueuePacketSource::CloseCurrent() {
    if (current_.kind == FrameKind::Held && current_.open) {
        SendVerdict(current_.packetId, kVerdictDrop, {});
        counters_.dropped.fetch_add(1, std::memory_order_relaxed);
    }
    current_ = {};
}

void NfqueuePacketSource::DropPacket(AdapterHandle, const PacketBuffer&) {
    CloseCurrent();
}

void NfqueuePacketSource::FlushAdapterPacketQueue(AdapterHandle) {
    CloseCurrent();
    SendPendingAccepts();
    while (const nlmsghdr* message = queue_.Next()) {
        NetfilterPacket packet;
        if (KindOf(message) == NetfilterMessageKind::QueuedPacket && ParseQueuedPacket(message, packet)) {
            SendVerdict(packet.packetId, kVerdictDrop, {});
            counters_.dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }
    while (log_.Next()) {
    }
}

NfqueuePacketSource::Statistics NfqueuePacketSource::GetStatistics() const {
    Statistics s;
    s.held = counters_.held.load(std::memory_order_relaxed);
    s.watched = counters_.watched.load(std::memory_order_relaxed);
    s.accepted = counters_.accepted.load(std::memory_order_relaxed);
    s.acceptedChanged = counters_.acceptedChanged.load(std::memory_order_relaxed);
    s.dropped = counters_.dropped.load(std::memory_order_relaxed);
    s.ownSent = counters_.ownSent.load(std::memory_order_relaxed);
    s.ownSendFailures = counters_.ownSendFailures.load(std::memory_order_relaxed);
    s.passedUnread = counters_.passedUnread.load(std::memory_order_relaxed);
    s.overruns = queue_.Overruns() + log_.Overruns();
    s.verdictFailures = counters_.verdictFailures.load(std::memory_order_relaxed);
    return s;
}

}  // namespace bramvell
