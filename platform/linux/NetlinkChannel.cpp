#include "platform/linux/NetlinkChannel.h"

#include <libmnl/libmnl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/Capabilities.h"
#include "platform/linux/NetfilterMessages.h"

namespace bramvell {
NetlinkChannel::~NetlinkChannel() {
    Close();
}

bool NetlinkChannel::Open(int receiveBufferBytes, std::size_t slotBytes) {
    Close();
    problem_.clear();
    // The kernel checks CAP_NET_ADMIN of the socket's opener as well as of each sender.
    const RaisedCapabilities raised({CAP_NET_ADMIN});
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
    slotBytes_ = NLMSG_ALIGN(slotBytes);
    slots_.assign(slotBytes_ * kDatagramsPerReceive, 0);
    lengths_.assign(kDatagramsPerReceive, 0);
    datagramCount_ = datagram_ = offset_ = 0;
    return true;
}

void NetlinkChannel::Close() {
    if (socket_) {
        mnl_socket_close(socket_);
        socket_ = nullptr;
    }
    datagramCount_ = datagram_ = offset_ = 0;
}

int NetlinkChannel::Descriptor() const {
    return socket_ ? mnl_socket_get_fd(socket_) : -1;
}

bool NetlinkChannel::Send(const nlmsghdr* message) {
    if (!socket_) {
        return false;
    }
    // nfnetlink takes no message, verdicts included, from a sender without CAP_NET_ADMIN.
    const RaisedCapabilities raised({CAP_NET_ADMIN});
    return mnl_socket_sendto(socket_, message, message->nlmsg_len) >= 0;
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

bool NetlinkChannel::Receive() {
    mmsghdr headers[kDatagramsPerReceive];
    iovec vectors[kDatagramsPerReceive];
    for (std::size_t i = 0; i < kDatagramsPerReceive; ++i) {
        vectors[i] = {slots_.data() + i * slotBytes_, slotBytes_};
        headers[i] = {};
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    for (;;) {
        const int n =
            recvmmsg(Descriptor(), headers, kDatagramsPerReceive, MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (n > 0) {
            // With MSG_TRUNC, netlink reports each datagram's full length, so a cut one shows.
            for (int i = 0; i < n; ++i) {
                lengths_[static_cast<std::size_t>(i)] = headers[i].msg_len;
            }
            datagramCount_ = static_cast<std::size_t>(n);
            datagram_ = offset_ = 0;
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
        datagramCount_ = datagram_ = offset_ = 0;
        return false;
    }
}

const nlmsghdr* NetlinkChannel::Next() {
    if (!socket_) {
        return nullptr;
    }
    for (;;) {
        while (datagram_ < datagramCount_) {
            const std::size_t used = std::min<std::size_t>(lengths_[datagram_], slotBytes_);
            if (offset_ < used) {
                auto* message = reinterpret_cast<nlmsghdr*>(slots_.data() + datagram_ * slotBytes_ + offset_);
                const std::size_t left = used - offset_;
                if (mnl_nlmsg_ok(message, static_cast<int>(left))) {
                    offset_ += NLMSG_ALIGN(message->nlmsg_len);
                    return message;
                }
                if (left >= sizeof(nlmsghdr) && message->nlmsg_len > left &&
                    lengths_[datagram_] > slotBytes_) {
                    // Cut by the slot: hand out what arrived. Its leading attributes (a packet's id
                    // comes first) still parse, so the packet can be let through unread.
                    message->nlmsg_len = static_cast<uint32_t>(left);
                    offset_ = used;
                    return message;
                }
            }
            // This datagram is done, or the rest of it does not parse.
            ++datagram_;
            offset_ = 0;
        }
        if (!Receive()) {
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
