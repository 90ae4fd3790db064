// The NFQUEUE packet source against the real kernel. Each test moves the test process into a network
// namespace of its own (unshare), with loopback and a veth pair, so rules and traffic never touch the
// machine's own network. Needs root; skipped otherwise.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/Frame.h"
#include "platform/linux/NetworkInterfaces.h"
#include "platform/linux/NfqueuePacketSource.h"
#include "platform/linux/PacketSourceCheck.h"
#include "platform/linux/ProcessRunner.h"

namespace bramvell {
namespace {

constexpr const char* kLocalAddress = "10.9.0.1";
constexpr const char* kPeerAddress = "10.9.0.2";  // on the veth's subnet, not ours
constexpr auto kShortWait = std::chrono::milliseconds(300);
constexpr auto kLongWait = std::chrono::milliseconds(3000);

int RunCommand(const std::vector<std::string>& arguments, std::string* output = nullptr) {
    return RunProgram(arguments, {}, output);
}

std::string OurRules(const char* save = "iptables-save") {
    std::string saved;
    RunCommand({save}, &saved);
    std::string ours;
    std::size_t at = 0;
    while (at < saved.size()) {
        std::size_t end = saved.find('\n', at);
        if (end == std::string::npos) {
            end = saved.size();
        }
        const std::string line = saved.substr(at, end - at);
        if (line.find("BRAMVELL") != std::string::npos) {
            ours += line + "\n";
        }
        at = end + 1;
    }
    return ours;
}

int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

sockaddr_in Address(const char* ip, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

class Socket {
  public:
    Socket(int type) : fd_(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        const timeval timeout{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        const int yes = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    }
    explicit Socket(int fd, bool) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

    bool Bind(const char* ip, uint16_t port) {
        const sockaddr_in address = Address(ip, port);
        return bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    bool Connect(const char* ip, uint16_t port) {
        const sockaddr_in address = Address(ip, port);
        return connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    bool SendTo(const std::string& bytes, const char* ip, uint16_t port) {
        const sockaddr_in address = Address(ip, port);
        return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                      sizeof address) == static_cast<ssize_t>(bytes.size());
    }
    // One datagram, or "" when none arrives within the wait; from receives its source address.
    std::string Receive(std::chrono::milliseconds wait, std::string* from = nullptr) {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
            return {};
        }
        char bytes[2048];
        sockaddr_in source{};
        socklen_t sourceLength = sizeof source;
        const ssize_t n =
            recvfrom(fd_, bytes, sizeof bytes, 0, reinterpret_cast<sockaddr*>(&source), &sourceLength);
        if (from) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &source.sin_addr, text, sizeof text);
            *from = text;
        }
        return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
    }

  private:
    int fd_;
};

class NfqueuePacketSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root: creates a network namespace and iptables rules inside it";
        }
        if (FindTrustedProgram("iptables").empty() || FindTrustedProgram("ip").empty()) {
            GTEST_SKIP() << "needs ip and iptables (scripts/bootstrap installs them)";
        }
        if (unshare(CLONE_NEWNET) != 0) {
            GTEST_SKIP() << "cannot create a network namespace: " << std::strerror(errno);
        }
        // Loopback with an Ethernet-sized MTU, so that local traffic fits the engine's frames.
        ASSERT_EQ(RunCommand({"ip", "link", "set", "lo", "mtu", "1500", "up"}), 0);
        ASSERT_EQ(RunCommand({"ip", "link", "add", "bv-a", "type", "veth", "peer", "name", "bv-b"}), 0);
        ASSERT_EQ(RunCommand({"ip", "addr", "add", std::string(kLocalAddress) + "/24", "dev", "bv-a"}), 0);
        ASSERT_EQ(RunCommand({"ip", "link", "set", "bv-a", "up"}), 0);
        ASSERT_EQ(RunCommand({"ip", "link", "set", "bv-b", "up"}), 0);
        loopback_ = if_nametoindex("lo");
        ASSERT_NE(loopback_, 0u);
    }

    // Attaches the source and installs its rules for loopback, where traffic between local sockets goes.
    void Start(NfqueuePacketSource& source) {
        ASSERT_TRUE(source.SetPacketEvent(loopback_, true)) << source.Problem();
        ASSERT_TRUE(source.SetAdapterMode(loopback_, kAdapterModeTunnel)) << source.Problem();
    }

    void Stop(NfqueuePacketSource& source) {
        source.SetPacketEvent(loopback_, false);
        EXPECT_TRUE(source.SetAdapterMode(loopback_, kAdapterModeNormal)) << source.Problem();
        source.FlushAdapterPacketQueue(loopback_);
    }

    bool ReadWithin(NfqueuePacketSource& source, PacketBuffer& buffer, std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (source.ReadPacket(loopback_, buffer)) {
                return true;
            }
            source.WaitForPacketEvent(std::chrono::milliseconds(50));
        }
        return false;
    }

    static std::string UdpPayload(const PacketBuffer& buffer) {
        FrameLayout layout;
        if (ParseFrame(buffer.Bytes(), layout) != FrameKind::Udp) {
            return {};
        }
        return std::string(reinterpret_cast<const char*>(buffer.frame.data() + layout.payloadOffset),
                           layout.payloadLength);
    }

    AdapterHandle loopback_ = 0;
};

TEST_F(NfqueuePacketSourceTest, RulesAreInstalledInOwnChainsAndRemovedAtStop) {
    NfqueuePacketSource source;
    ASSERT_TRUE(source.IsDriverLoaded()) << source.Problem();
    Start(source);
    const std::string rules = OurRules();
    EXPECT_EQ(Count(rules, "-A OUTPUT -j BRAMVELL-OUT"), 1) << rules;
    EXPECT_EQ(Count(rules, "-A INPUT -j BRAMVELL-IN"), 1) << rules;
    EXPECT_EQ(Count(rules, "--queue-bypass"), 4) << rules;
    EXPECT_EQ(Count(rules, "-j RETURN"), 2) << rules;  // our own frames, by mark
    EXPECT_EQ(Count(rules, "-o lo"), 2) << rules;
    EXPECT_EQ(Count(rules, "-i lo"), 3) << rules;
    EXPECT_TRUE(source.IsWatching());
    EXPECT_EQ(Count(rules, "NFLOG"), 1) << rules;

    Stop(source);
    EXPECT_EQ(OurRules(), "");
}

TEST_F(NfqueuePacketSourceTest, RulesLeftByACrashAreReplacedAtTheNextStart) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Installs and ends without any cleanup, as a crash would.
        NfqueuePacketSource crashing;
        const bool started = crashing.SetPacketEvent(loopback_, true) &&
                             crashing.SetAdapterMode(loopback_, kAdapterModeTunnel);
        _exit(started ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // A second jump, as an older crash between two starts could leave.
    ASSERT_EQ(RunCommand({"iptables", "-t", "raw", "-I", "OUTPUT", "-j", "BRAMVELL-OUT"}), 0);
    ASSERT_EQ(Count(OurRules(), "-A OUTPUT -j BRAMVELL-OUT"), 2);

    {
        NfqueuePacketSource source;
        Start(source);
        const std::string rules = OurRules();
        EXPECT_EQ(Count(rules, "-A OUTPUT -j BRAMVELL-OUT"), 1) << rules;
        EXPECT_EQ(Count(rules, "-A INPUT -j BRAMVELL-IN"), 1) << rules;
        EXPECT_EQ(Count(rules, "NFQUEUE"), 4) << rules;
        // No StopFiltering: the destructor still leaves the tables clean.
    }
    EXPECT_EQ(OurRules(), "");
}

TEST_F(NfqueuePacketSourceTest, HeldDatagramsAreDroppedAcceptedOrAcceptedChanged) {
    Socket receiver(SOCK_DGRAM);
    ASSERT_TRUE(receiver.Bind(kLocalAddress, 1026));
    Socket sender(SOCK_DGRAM);
    NfqueuePacketSource source;
    Start(source);
    PacketBuffer buffer;

    ASSERT_TRUE(sender.SendTo("first", kLocalAddress, 1026));
    ASSERT_TRUE(ReadWithin(source, buffer, kLongWait));
    EXPECT_EQ(buffer.deviceFlags, PacketDirection::Inbound);
    EXPECT_EQ(Load16(buffer.frame.data() + 12), kEtherTypeIpv4);
    EXPECT_EQ(UdpPayload(buffer), "first");
    source.DropPacket(loopback_, buffer);
    EXPECT_EQ(receiver.Receive(kShortWait), "");

    // An accepted frame leaves at the latest when a read finds nothing more.
    ASSERT_TRUE(sender.SendTo("second", kLocalAddress, 1026));
    ASSERT_TRUE(ReadWithin(source, buffer, kLongWait));
    EXPECT_TRUE(source.SendPacketToMstcp(loopback_, buffer));
    EXPECT_FALSE(source.ReadPacket(loopback_, buffer));
    EXPECT_EQ(receiver.Receive(kLongWait), "second");

    // Changed bytes travel with the verdict (UDP checksum 0 = none, so it needs no update).
    ASSERT_TRUE(sender.SendTo("third", kLocalAddress, 1026));
    ASSERT_TRUE(ReadWithin(source, buffer, kLongWait));
    FrameLayout layout;
    ASSERT_EQ(ParseFrame(buffer.Bytes(), layout), FrameKind::Udp);
    std::memcpy(buffer.frame.data() + layout.payloadOffset, "THIRD", 5);
    Store16(buffer.frame.data() + layout.transportOffset + 6, 0);
    EXPECT_TRUE(source.SendPacketToMstcp(loopback_, buffer));
    EXPECT_EQ(receiver.Receive(kLongWait), "THIRD");

    // Reading on with a verdict still open drops the frame in hand.
    ASSERT_TRUE(sender.SendTo("fourth", kLocalAddress, 1026));
    ASSERT_TRUE(sender.SendTo("fifth", kLocalAddress, 1026));
    ASSERT_TRUE(ReadWithin(source, buffer, kLongWait));
    EXPECT_EQ(UdpPayload(buffer), "fourth");
    ASSERT_TRUE(ReadWithin(source, buffer, kLongWait));
    EXPECT_EQ(UdpPayload(buffer), "fifth");
    EXPECT_TRUE(source.SendPacketToMstcp(loopback_, buffer));
    EXPECT_FALSE(source.ReadPacket(loopback_, buffer));
    EXPECT_EQ(receiver.Receive(kLongWait), "fifth");
    EXPECT_EQ(receiver.Receive(kShortWait), "");

    const NfqueuePacketSource::Statistics s = source.GetStatistics();
    EXPECT_EQ(s.held, 5u);
    EXPECT_EQ(s.dropped, 2u);
    EXPECT_EQ(s.accepted, 2u);
    EXPECT_EQ(s.acceptedChanged, 1u);
    EXPECT_EQ(s.ownSent, 0u);
    Stop(source);
}

TEST_F(NfqueuePacketSourceTest, FrameSentTowardTheStackReachesALocalSocketAndIsNotHeldAgain) {
    // Port 1027 is one our rules hold; the frame's mark must let it through.
    Socket receiver(SOCK_DGRAM);
    ASSERT_TRUE(receiver.Bind(kLocalAddress, 1027));
    NfqueuePacketSource source;
    Start(source);

    const std::string payload = "from the peer";
    PacketBuffer buffer;
    buffer.length = static_cast<uint32_t>(kEthernetHeaderLength + 20 + 8 + payload.size());
    uint8_t* ip = buffer.frame.data() + kEthernetHeaderLength;
    Store16(buffer.frame.data() + 12, kEtherTypeIpv4);
    ip[0] = 0x45;
    Store16(ip + 2, static_cast<uint16_t>(20 + 8 + payload.size()));
    ip[8] = 64;
    ip[9] = kProtocolUdp;
    inet_pton(AF_INET, kPeerAddress, ip + 12);
    inet_pton(AF_INET, kLocalAddress, ip + 16);
    Store16(ip + 20, 5353);
    Store16(ip + 22, 1027);
    Store16(ip + 24, static_cast<uint16_t>(8 + payload.size()));
    std::memcpy(ip + 28, payload.data(), payload.size());
    FrameLayout layout;
    ASSERT_EQ(ParseFrame(buffer.Bytes(), layout), FrameKind::Udp);
    UpdateIpChecksum(buffer.Bytes(), layout);
    buffer.deviceFlags = PacketDirection::Inbound;

    EXPECT_TRUE(source.SendPacketToMstcp(loopback_, buffer));
    std::string from;
    EXPECT_EQ(receiver.Receive(kLongWait, &from), payload);
    EXPECT_EQ(from, kPeerAddress);
    PacketBuffer held;
    EXPECT_FALSE(ReadWithin(source, held, kShortWait));
    EXPECT_EQ(source.GetStatistics().ownSent, 1u);
    Stop(source);
}

// A pass-through loop on its own thread while a POP3-port TCP stream runs through it.
class PassThroughLoop {
  public:
    PassThroughLoop(NfqueuePacketSource& source, AdapterHandle adapter, bool ownFrames)
        : thread_([this, &source, adapter, ownFrames] {
              PacketBuffer buffer;
              while (!stop_.load()) {
                  if (!source.WaitForPacketEvent(std::chrono::milliseconds(50))) {
                      continue;
                  }
                  while (!stop_.load() && source.ReadPacket(adapter, buffer)) {
                      if (ownFrames) {
                          source.DropPacket(adapter, buffer);
                      }
                      if (buffer.deviceFlags == PacketDirection::Outbound) {
                          source.SendPacketToAdapter(adapter, buffer);
                      } else {
                          source.SendPacketToMstcp(adapter, buffer);
                      }
                  }
              }
          }) {}
    ~PassThroughLoop() {
        stop_.store(true);
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void StreamThroughTheSource(bool ownFrames, NfqueuePacketSource::Statistics& statistics,
                            AdapterHandle loopback) {
    Socket listener(SOCK_STREAM);
    ASSERT_TRUE(listener.Bind(kLocalAddress, 110));
    ASSERT_EQ(listen(listener.fd(), 1), 0);
    NfqueuePacketSource source;
    ASSERT_TRUE(source.SetPacketEvent(loopback, true)) << source.Problem();
    ASSERT_TRUE(source.SetAdapterMode(loopback, kAdapterModeTunnel)) << source.Problem();

    std::string sent(300 * 1024, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
    }
    std::string received;
    {
        PassThroughLoop loop(source, loopback, ownFrames);
        Socket client(SOCK_STREAM);
        ASSERT_TRUE(client.Connect(kLocalAddress, 110));
        Socket server(accept(listener.fd(), nullptr, nullptr), true);
        ASSERT_GE(server.fd(), 0);
        ASSERT_EQ(send(client.fd(), "RETR 1\r\n", 8, 0), 8);
        char command[8];
        ASSERT_EQ(recv(server.fd(), command, sizeof command, MSG_WAITALL), 8);
        ASSERT_EQ(send(server.fd(), sent.data(), sent.size(), 0), static_cast<ssize_t>(sent.size()));
        shutdown(server.fd(), SHUT_WR);
        char chunk[16384];
        // Bounded, so that a fault that loops frames through the queue fails instead of hanging.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline && received.size() <= sent.size()) {
            const ssize_t n = recv(client.fd(), chunk, sizeof chunk, 0);
            if (n <= 0) {
                break;
            }
            received.append(chunk, static_cast<std::size_t>(n));
        }
    }
    EXPECT_TRUE(received == sent) << "received " << received.size() << " of " << sent.size() << " bytes";
    statistics = source.GetStatistics();
    source.SetPacketEvent(loopback, false);
    EXPECT_TRUE(source.SetAdapterMode(loopback, kAdapterModeNormal));
}

TEST_F(NfqueuePacketSourceTest, TcpStreamPassesIntactWithVerdictsAndAsOwnFrames) {
    NfqueuePacketSource::Statistics verdicts;
    StreamThroughTheSource(false, verdicts, loopback_);
    EXPECT_GT(verdicts.held, 10u);
    EXPECT_EQ(verdicts.accepted, verdicts.held);
    EXPECT_EQ(verdicts.ownSent, 0u);

    NfqueuePacketSource::Statistics own;
    StreamThroughTheSource(true, own, loopback_);
    EXPECT_GT(own.held, 10u);
    EXPECT_EQ(own.dropped, own.held);
    EXPECT_EQ(own.ownSent, own.held);
    EXPECT_EQ(own.ownSendFailures, 0u);
}

TEST_F(NfqueuePacketSourceTest, PacketsLargerThanAFramePassUnread) {
    ASSERT_EQ(RunCommand({"ip", "link", "set", "lo", "mtu", "9000"}), 0);
    NfqueuePacketSource::Statistics s;
    StreamThroughTheSource(false, s, loopback_);
    EXPECT_GT(s.passedUnread, 0u);
    EXPECT_GT(s.held, 0u);  // the small ones: handshake, command, acknowledgements
}

TEST_F(NfqueuePacketSourceTest, WebSegmentsAreWatchedNotHeld) {
    Socket listener(SOCK_STREAM);
    ASSERT_TRUE(listener.Bind(kLocalAddress, 80));
    ASSERT_EQ(listen(listener.fd(), 1), 0);
    NfqueuePacketSource source;
    Start(source);
    ASSERT_TRUE(source.IsWatching());

    // Nobody reads the source while the connection opens and the request travels: watched traffic
    // does not wait for us.
    Socket client(SOCK_STREAM);
    ASSERT_TRUE(client.Connect(kLocalAddress, 80));
    Socket server(accept(listener.fd(), nullptr, nullptr), true);
    const std::string request = "GET / HTTP/1.0\r\nHost: example\r\n\r\n";
    ASSERT_EQ(send(client.fd(), request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::string arrived(request.size(), '\0');
    ASSERT_EQ(recv(server.fd(), arrived.data(), arrived.size(), MSG_WAITALL),
              static_cast<ssize_t>(request.size()));
    EXPECT_EQ(arrived, request);

    PacketBuffer buffer;
    bool sawRequest = false;
    while (ReadWithin(source, buffer, kShortWait)) {
        EXPECT_EQ(buffer.deviceFlags, PacketDirection::Outbound);
        FrameLayout layout;
        if (ParseFrame(buffer.Bytes(), layout) == FrameKind::Tcp && layout.payloadLength == request.size()) {
            sawRequest = true;
        }
        EXPECT_TRUE(source.SendPacketToAdapter(loopback_, buffer));  // nothing to do: already sent
    }
    EXPECT_TRUE(sawRequest);
    const NfqueuePacketSource::Statistics s = source.GetStatistics();
    EXPECT_GE(s.watched, 1u);
    EXPECT_EQ(s.held, 0u);
    EXPECT_EQ(s.ownSent, 0u);
    Stop(source);
}

TEST_F(NfqueuePacketSourceTest, AdaptersAreTheNamespacesInterfacesAndAutoSelectFollowsTheDefaultRoute) {
    NfqueuePacketSource source;
    const std::vector<AdapterInfo> adapters = source.GetTcpipBoundAdaptersInfo();
    ASSERT_EQ(adapters.size(), 3u);
    EXPECT_EQ(adapters[0].name, "lo");
    EXPECT_EQ(adapters[0].handle, loopback_);
    EXPECT_EQ(adapters[1].handle, if_nametoindex(adapters[1].name.c_str()));

    EXPECT_EQ(DefaultRouteInterfaceIndex(), 0u);
    ASSERT_EQ(RunCommand({"ip", "route", "add", "default", "via", kPeerAddress, "dev", "bv-a"}), 0);
    const unsigned veth = if_nametoindex("bv-a");
    EXPECT_EQ(DefaultRouteInterfaceIndex(), veth);
    EXPECT_EQ(adapters[AdapterPosition(adapters, veth)].name, "bv-a");

    // Rules for the chosen interface name it, and nothing else.
    ASSERT_TRUE(source.SetPacketEvent(veth, true));
    ASSERT_TRUE(source.SetAdapterMode(veth, kAdapterModeTunnel));
    const std::string rules = OurRules();
    EXPECT_EQ(Count(rules, "-o bv-a"), 2) << rules;
    EXPECT_EQ(Count(rules, "-i bv-a"), 3) << rules;
    EXPECT_EQ(Count(rules, " lo "), 0) << rules;
    EXPECT_FALSE(source.SetAdapterMode(999, kAdapterModeTunnel));
}

TEST_F(NfqueuePacketSourceTest, DriverCheckFailsWithoutNetworkCapabilities) {
    EXPECT_EQ(kNetworkDriverFailedMessage, "Bramvell network driver failed to load or was not installed.");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        syscall(SYS_capget, &header, data);
        data[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
        if (syscall(SYS_capset, &header, data) != 0) {
            _exit(2);
        }
        NfqueuePacketSource source;
        const bool loaded = source.IsDriverLoaded();
        const bool named = source.Problem().find("CAP_NET_ADMIN") != std::string::npos;
        _exit(!loaded && named ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    NfqueuePacketSource source;
    EXPECT_TRUE(source.IsDriverLoaded()) << source.Problem();
}

// IPv6 sockets on loopback (::1), for the IPv6 rules and the IPv6 raw socket.
class Socket6 {
  public:
    Socket6() : fd_(socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket6() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Socket6(const Socket6&) = delete;
    Socket6& operator=(const Socket6&) = delete;
    static sockaddr_in6 Loopback(uint16_t port) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = in6addr_loopback;
        return address;
    }
    bool Bind(uint16_t port) {
        const sockaddr_in6 address = Loopback(port);
        return bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    bool SendTo(const std::string& bytes, uint16_t port) {
        const sockaddr_in6 address = Loopback(port);
        return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                      sizeof address) == static_cast<ssize_t>(bytes.size());
    }
    std::string Receive(std::chrono::milliseconds wait) {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
            return {};
        }
        char bytes[2048];
        const ssize_t n = recv(fd_, bytes, sizeof bytes, 0);
        return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
    }

  private:
    int fd_;
};

TEST_F(NfqueuePacketSourceTest, Ipv6RulesStandBesideTheIpv4OnesAndIpv6FramesAreHeldAndSent) {
    if (FindTrustedProgram("ip6tables").empty()) {
        GTEST_SKIP() << "needs ip6tables";
    }
    Socket6 receiver;
    ASSERT_TRUE(receiver.Bind(1026));
    Socket6 sender;
    NfqueuePacketSource source;
    ASSERT_TRUE(source.IsDriverLoaded()) << source.Problem();
    Start(source);
    EXPECT_TRUE(source.FiltersIpv6());
    EXPECT_EQ(source.FilteringNotice(), "");
    const std::string rules6 = OurRules("ip6tables-save");
    EXPECT_EQ(Count(rules6, "-A OUTPUT -j BRAMVELL-OUT"), 1) << rules6;
    EXPECT_EQ(Count(rules6, "-A INPUT -j BRAMVELL-IN"), 1) << rules6;
    EXPECT_EQ(Count(rules6, "--queue-bypass"), 4) << rules6;
    EXPECT_EQ(Count(rules6, "--length 73:65535"), 1) << rules6;
    EXPECT_EQ(Count(OurRules(), "--queue-bypass"), 4);

    // A held IPv6 datagram arrives as an IPv6 frame; dropping it keeps it from the socket.
    PacketBuffer buffer;
    ASSERT_TRUE(sender.SendTo("first", 1026));
    ASSERT_TRUE(ReadWithin(source, buffer, kLongWait));
    EXPECT_EQ(Load16(buffer.frame.data() + 12), kEtherTypeIpv6);
    EXPECT_EQ(UdpPayload(buffer), "first");
    source.DropPacket(loopback_, buffer);
    EXPECT_EQ(receiver.Receive(kShortWait), "");

    // The same bytes as a frame of our own, through the IPv6 raw socket toward the stack: they arrive
    // once and, marked, are not held again.
    ASSERT_TRUE(sender.SendTo("second", 1026));
    ASSERT_TRUE(ReadWithin(source, buffer, kLongWait));
    const PacketBuffer held = buffer;
    source.DropPacket(loopback_, buffer);
    EXPECT_TRUE(source.SendPacketToMstcp(loopback_, held));
    EXPECT_TRUE(source.SendPacketToMstcp(loopback_, held));  // no verdict open: this one is our own too
    EXPECT_EQ(receiver.Receive(kLongWait), "second");
    EXPECT_FALSE(ReadWithin(source, buffer, kShortWait));
    EXPECT_EQ(source.GetStatistics().ownSendFailures, 0u);
    EXPECT_GE(source.GetStatistics().ownSent, 1u);

    Stop(source);
    EXPECT_EQ(OurRules("ip6tables-save"), "");
    EXPECT_EQ(OurRules(), "");
}

TEST_F(NfqueuePacketSourceTest, WithoutIp6tablesIpv4IsFilteredAndTheNoticeSaysIpv6IsNot) {
    NfqueueOptions options;
    options.ip6tables = "/nonexistent/ip6tables";
    NfqueuePacketSource source(options);
    ASSERT_TRUE(source.IsDriverLoaded()) << source.Problem();
    Start(source);
    EXPECT_FALSE(source.FiltersIpv6());
    EXPECT_NE(source.FilteringNotice().find("IPv6 is not filtered"), std::string::npos)
        << source.FilteringNotice();
    EXPECT_NE(source.FilteringNotice().find("/nonexistent/ip6tables"), std::string::npos)
        << source.FilteringNotice();
    EXPECT_EQ(Count(OurRules(), "--queue-bypass"), 4);
    EXPECT_EQ(OurRules("ip6tables-save"), "");
    Stop(source);
    EXPECT_EQ(OurRules(), "");
}

}  // namespace
}  // namespace bramvell
