// The raw sockets the packet source sends the engine's own packets through, and how it opens them.
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/Frame.h"
#include "platform/linux/Capabilities.h"
#include "platform/linux/NfqueuePacketSource.h"
#include "platform/linux/ProcessRunner.h"

namespace bramvell {
namespace {

constexpr int kRawSendBufferBytes = 4 * 1024 * 1024;
// A send that cannot get buffer space within this time is given up; TCP retransmits the frame.
constexpr suseconds_t kRawSendTimeoutMicroseconds = 200 * 1000;
constexpr std::size_t kDestinationOffset = 16;
constexpr std::size_t kDestinationOffset6 = 24;
constexpr std::size_t kAddressLength6 = 16;

bool ProgramUsesRawSockets(const std::string& path) {
    return path.find("legacy") != std::string::npos;
}

// A socket for sending whole IP packets of one family, marked so that our rules let them by.
int OpenMarkedRawSocket(int family, uint32_t mark, std::string& problem) {
    const int descriptor = socket(family, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    const int markValue = static_cast<int>(mark);
    if (descriptor < 0 || setsockopt(descriptor, SOL_SOCKET, SO_MARK, &markValue, sizeof markValue) != 0) {
        problem = std::string("cannot open a marked raw socket") + (family == AF_INET6 ? " for IPv6" : "") +
                  ": " + std::strerror(errno);
        if (descriptor >= 0) {
            close(descriptor);
        }
        return -1;
    }
    if (setsockopt(descriptor, SOL_SOCKET, SO_SNDBUFFORCE, &kRawSendBufferBytes,
                   sizeof kRawSendBufferBytes) != 0) {
        setsockopt(descriptor, SOL_SOCKET, SO_SNDBUF, &kRawSendBufferBytes, sizeof kRawSendBufferBytes);
    }
    const timeval sendTimeout{0, kRawSendTimeoutMicroseconds};
    setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    return descriptor;
}

}  // namespace

bool NfqueuePacketSource::OpenRawSocket() {
    if (rawSocket_ >= 0) {
        return true;
    }
    {
        const RaisedCapabilities raised({CAP_NET_RAW, CAP_NET_ADMIN});
        rawSocket_ = OpenMarkedRawSocket(AF_INET, options_.mark, problem_);
        if (rawSocket_ < 0) {
            return false;
        }
        // IPPROTO_RAW makes an IPv6 raw socket take the whole packet, header included, like IPv4's.
        rawSocket6_ = OpenMarkedRawSocket(AF_INET6, options_.mark, rawSocket6Problem_);
    }
    // The sockets are kept for the source's life, so CAP_NET_RAW has done its work - unless iptables
    // itself needs it (the legacy variant talks to the kernel through a raw socket).
    if (!ProgramUsesRawSockets(FindTrustedProgram(options_.iptables)) &&
        !ProgramUsesRawSockets(FindTrustedProgram(options_.ip6tables))) {
        std::string problem;
        if (!DropCapabilityForGood(CAP_NET_RAW, &problem)) {
            problem_ = "CAP_NET_RAW is still held: " + problem;
        }
    }
    return true;
}

bool NfqueuePacketSource::SendOwn(std::span<const uint8_t> packet) {
    // Toward the network the destination is the server; toward the stack it is a local address and
    // the packet arrives through loopback. Either way the packet's own destination is the address.
    ssize_t sent = -1;
    if (!packet.empty() && packet[0] >> 4 == Ipv6Header::kVersion) {
        if (rawSocket6_ >= 0 && packet.size() >= kDestinationOffset6 + kAddressLength6) {
            sockaddr_in6 destination{};
            destination.sin6_family = AF_INET6;
            std::memcpy(&destination.sin6_addr, packet.data() + kDestinationOffset6, kAddressLength6);
            if (IN6_IS_ADDR_LINKLOCAL(&destination.sin6_addr)) {
                destination.sin6_scope_id = scopeInterface_;
            }
            sent = sendto(rawSocket6_, packet.data(), packet.size(), 0,
                          reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        }
    } else if (rawSocket_ >= 0 && packet.size() >= kDestinationOffset + 4) {
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        std::memcpy(&destination.sin_addr, packet.data() + kDestinationOffset, 4);
        sent = sendto(rawSocket_, packet.data(), packet.size(), 0,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    }
    if (sent != static_cast<ssize_t>(packet.size())) {
        counters_.ownSendFailures.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    counters_.ownSent.fetch_add(1, std::memory_order_relaxed);
    return true;
}

}  // namespace bramvell
