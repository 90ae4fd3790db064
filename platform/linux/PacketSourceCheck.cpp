#include "platform/linux/PacketSourceCheck.h"

#include <linux/capability.h>
#include <linux/netfilter/nfnetlink_queue.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/Capabilities.h"
#include "platform/linux/NetfilterMessages.h"
#include "platform/linux/NetlinkChannel.h"
#include "platform/linux/ProcessRunner.h"

namespace bramvell {
namespace {

constexpr auto kProbeTimeout = std::chrono::milliseconds(2000);

void Say(std::string* problem, std::string text) {
    if (problem) {
        *problem = std::move(text);
    }
}

}  // namespace

bool HasNetworkCapabilities(bool rawSocketOpen, std::string* problem) {
    const bool admin = HoldsCapability(CAP_NET_ADMIN);
    const bool raw = rawSocketOpen || HoldsCapability(CAP_NET_RAW);
    if (!admin || !raw) {
        std::string missing = !admin && !raw ? "CAP_NET_ADMIN and CAP_NET_RAW"
                              : !admin       ? "CAP_NET_ADMIN"
                                             : "CAP_NET_RAW";
        Say(problem, "the process lacks " + missing);
        return false;
    }
    return true;
}

bool IsPacketSourceUsable(const NfqueueOptions& options, std::string* problem) {
    if (!HasNetworkCapabilities(true, problem)) {
        return false;
    }
    std::string output;
    if (RunProgram({options.iptables, "-w", "5", "-t", "raw", "-n", "-L", "OUTPUT"}, {}, &output) != 0) {
        Say(problem, options.iptables + " cannot list the raw table: " + output);
        return false;
    }
    std::string refused;
    if (FindTrustedProgram(options.iptablesRestore, &refused).empty()) {
        Say(problem, "refused to run " + options.iptablesRestore + ": " + refused);
        return false;
    }

    const RaisedCapabilities raised({CAP_NET_ADMIN});
    NetlinkChannel channel;
    if (!channel.Open(64 * 1024)) {
        Say(problem, channel.Problem());
        return false;
    }
    alignas(nlmsghdr) uint8_t buffer[kNetfilterMessageRoom];
    alignas(nlmsghdr) uint8_t verdict[kNetfilterMessageRoom];
    // Rules left behind by a crash may queue packets to us while the probe holds the queue: let
    // them through untouched.
    const auto passOn = [&](const nlmsghdr* message) {
        NetfilterPacket packet;
        if (KindOf(message) == NetfilterMessageKind::QueuedPacket && ParseQueuedPacket(message, packet)) {
            channel.Send(BuildVerdict(verdict, options.queueNumber, packet.packetId, kVerdictAccept, {}));
        }
    };
    const int bound = channel.Request(
        BuildQueueCommand(buffer, options.queueNumber, NFQNL_CFG_CMD_BIND, channel.NextSequence()),
        kProbeTimeout, passOn);
    if (bound != 0) {
        Say(problem, "cannot bind netfilter queue " + std::to_string(options.queueNumber) + ": " +
                         std::strerror(-bound) + (bound == -EPERM ? " (another program holds it)" : ""));
        return false;
    }
    channel.Request(
        BuildQueueCommand(buffer, options.queueNumber, NFQNL_CFG_CMD_UNBIND, channel.NextSequence()),
        kProbeTimeout, passOn);
    return true;
}

}  // namespace bramvell
