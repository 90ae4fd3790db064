#include "platform/linux/NetlinkChannel.h"

#include <libmnl/libmnl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/NetfilterMessages.h"

namespace bramvell {
namespace {

// Large enough for one whole packet of 64 KiB plus its attributes, or a batch of logged copies.
constexpr std::size_t kReceiveBufferBytes = 256 * 1024;

}  // namespace

NetlinkChannel::~NetlinkChannel() {
    Close();
}

bool NetlinkChannel::Open(int receiveBufferBytes) {
    Close();
    problem_.clear();
    socket_ = mnl_socket_open2(NETLINK_NETFILTER, SOCK_CLOEXEC);
    if (!socket_) {
        problem_ = std::string("cannot open a netfilter netlink socket: ") + std::strerror(errno);
        return false;
    }
    const int fd = mnl_socket_get_fd(socket_);
    // Past the system's rmem_max when we hold CAP_NET_ADMIN; otherwise as much as it allows.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes, sizeof receiveBufferBytes) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    if (mnl_socket_bind(socket_, 0, MNL_SOCKET_AUTOPID) != 0) {
        problem_ = std::string("cannot bind a netfilter netlink socket: ") + std::strerror(errno);
        Close();
        return false;
    }
    buffer_.resize(kReceiveBufferBytes);
    used_ = offset_ = 0;
    return true;
}

void NetlinkChannel::Close() {
    if (socket_) {
        mnl_socket_close(socket_);
        socket_ = nullptr;
    }
    used_ = offset_ = 0;
}

int NetlinkChannel::Descriptor() const {
    return socket_ ? mnl_socket_get_fd(socket_) : -1;
}

bool NetlinkChannel::Send(const nlmsghdr* message) {
    return socket_ && mnl_socket_sendto(socket_, message, message->nlmsg_len) >= 0;
}

int NetlinkChannel::Request(nlmsghdr* message, std::chrono::milliseconds timeout,
                            const std::function<void(const nlmsghdr*)>& onOther) {
    if (!Send(message)) {
        return -errno;
    }
    const uint32_t sequence = message->nlmsg_seq;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const nlmsghdr* reply = Next();
        if (!reply) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Wait(left)) {
                return -ETIMEDOUT;
            }
            continue;
        }
        uint32_t answered = 0;
        int error = 0;
        if (KindOf(reply) == NetfilterMessageKind::Error && ParseError(reply, answered, error) &&
            answered == sequence) {
            return error;
        }
        if (onOther) {
            onOther(reply);
        }
    }
}

bool NetlinkChannel::Receive(int flags) {
    for (;;) {
        const ssize_t n = recv(Descriptor(), buffer_.data(), buffer_.size(), flags);
        if (n > 0) {
            used_ = static_cast<std::size_t>(n);
            offset_ = 0;
            return true;
        }
        if (n < 0 && errno == ENOBUFS) {
            // The kernel could not queue some messages for us; those packets were dropped (and will
            // be retransmitted). Count it and read on.
            overruns_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

const nlmsghdr* NetlinkChannel::Next() {
    if (!socket_) {
        return nullptr;
    }
    for (;;) {
        if (offset_ < used_) {
            const auto* message = reinterpret_cast<const nlmsghdr*>(buffer_.data() + offset_);
            int left = static_cast<int>(used_ - offset_);
            if (mnl_nlmsg_ok(message, left)) {
                offset_ += NLMSG_ALIGN(message->nlmsg_len);
                if (offset_ > used_) {
                    offset_ = used_;
                }
                return message;
            }
            offset_ = used_;  // the rest of this datagram does not parse
        }
        if (!Receive(MSG_DONTWAIT)) {
            return nullptr;
        }
    }
}

bool NetlinkChannel::Wait(std::chrono::milliseconds timeout) {
    if (HasBuffered()) {
        return true;
    }
    if (!socket_) {
        return false;
    }
    pollfd fd{Descriptor(), POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(timeout.count()));
    // POLLERR counts too: a receive queue overrun is reported that way, and Next() clears it.
    return ready > 0;
}

}  // namespace bramvell
