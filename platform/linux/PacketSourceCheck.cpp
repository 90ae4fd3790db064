#include "platform/linux/PacketSourceCheck.h"

#include <linux/capability.h>
#include <linux/netfilter/nfnetlink_queue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

bool HasCapability(const __user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3], int capability) {
    return (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

}  // namespace

bool HasNetworkCapabilities(std::string* problem) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        Say(problem, std::string("cannot read the process capabilities: ") + std::strerror(errno));
        return false;
    }
    const bool admin = HasCapability(data, CAP_NET_ADMIN);
    const bool raw = HasCapability(data, CAP_NET_RAW);
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
    if (!HasNetworkCapabilities(problem)) {
        return false;
    }
    const int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (raw < 0) {
        Say(problem, std::string("cannot open a raw socket: ") + std::strerror(errno));
        return false;
    }
    close(raw);

    std::string output;
    if (RunProgram({options.iptables, "-w", "5", "-t", "raw", "-n", "-L", "OUTPUT"}, {}, &output) != 0) {
        Say(problem, options.iptables + " cannot list the raw table: " + output);
        return false;
    }
    if (FindProgram(options.iptablesRestore).empty()) {
        Say(problem, options.iptablesRestore + " not found");
        return false;
    }

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
