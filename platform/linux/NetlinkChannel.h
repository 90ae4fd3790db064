#pragma once

#include <linux/netlink.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct mnl_socket;

namespace bramvell {

// A NETLINK_NETFILTER socket that hands out the messages it receives one at a time. Up to
// kDatagramsPerReceive datagrams are received per system call into reused slots and walked message by
// message; the message returned by Next() stays valid until the following Next(). A datagram larger than
// a slot is cut; its first messages still parse, the rest of it is skipped.
class NetlinkChannel {
  public:
    static constexpr std::size_t kDatagramsPerReceive = 32;
    // Room for a packet message carrying a whole Ethernet-sized IP packet and its attributes.
    static constexpr std::size_t kDefaultSlotBytes = 4096;

    NetlinkChannel() = default;
    ~NetlinkChannel();
    NetlinkChannel(const NetlinkChannel&) = delete;
    NetlinkChannel& operator=(const NetlinkChannel&) = delete;

    // Opens and binds the socket; receiveBufferBytes sizes the kernel's queue for it (forced past the
    // system limit when the process may). False with Problem() set on failure.
    bool Open(int receiveBufferBytes, std::size_t slotBytes = kDefaultSlotBytes);
    void Close();
    bool IsOpen() const { return socket_ != nullptr; }
    int Descriptor() const;

    // Sends a request that asks for an acknowledgement and waits for it (at most the timeout). Other
    // messages that arrive meanwhile go to onOther. Returns 0 or the negative errno the kernel answered.
    int Request(nlmsghdr* message, std::chrono::milliseconds timeout,
                const std::function<void(const nlmsghdr*)>& onOther);
    // Sends without waiting. False when the kernel refused the message.
    bool Send(const nlmsghdr* message);

    // The next received message, or nullptr when nothing is waiting (never blocks). A receive queue
    // overrun (ENOBUFS) is counted and reading goes on.
    const nlmsghdr* Next();
    // True when a message is buffered or the socket is readable within the timeout.
    bool Wait(std::chrono::milliseconds timeout);
    bool HasBuffered() const { return datagram_ < datagramCount_; }

    uint32_t NextSequence() { return ++sequence_; }
    uint64_t Overruns() const { return overruns_.load(std::memory_order_relaxed); }
    const std::string& Problem() const { return problem_; }

  private:
    bool Receive();

    mnl_socket* socket_ = nullptr;
    std::vector<uint8_t> slots_;
    std::vector<uint32_t> lengths_;  // bytes received per slot
    std::size_t slotBytes_ = 0;
    std::size_t datagramCount_ = 0;  // datagrams in the slots
    std::size_t datagram_ = 0;       // the one being walked
    std::size_t offset_ = 0;         // within it
    uint32_t sequence_ = 0;
    std::atomic<uint64_t> overruns_{0};
    std::string problem_;
};

}  // namespace bramvell
