// A network link in user space between two TUN devices, for end-to-end runs on kernels without
// sch_netem: each direction delays packets, limits them to a rate (a queue that drops its tail when
// full, as a router's does) and loses a share of them at random.
//
//   bramvell_link NAME_A NAME_B DELAY_MS RATE_KBIT LOSS_PERCENT READY_FILE
//
// Creates the two devices in the current network namespace and writes READY_FILE; the caller then moves
// each device into the namespace it belongs to (the open descriptors keep working) and gives them
// addresses. Runs until SIGTERM or SIGINT. RATE_KBIT 0 is no limit.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxPacket = 65536;
constexpr std::size_t kQueueLimitBytes = 256 * 1024;

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

int OpenTun(const char* name) {
    const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::snprintf(request.ifr_name, IFNAMSIZ, "%s", name);
    if (ioctl(fd, TUNSETIFF, &request) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uint64_t NowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

struct Packet {
    uint64_t deliverAt = 0;
    std::vector<uint8_t> bytes;
};

// One direction of the link.
class Direction {
  public:
    Direction(int from, int to, uint64_t delayMicros, uint64_t rateBitsPerSecond, double loss, uint32_t seed)
        : from_(from), to_(to), delay_(delayMicros), rate_(rateBitsPerSecond), loss_(loss), random_(seed) {}

    int from() const { return from_; }

    void ReadAll() {
        std::array<uint8_t, kMaxPacket> buffer{};
        for (;;) {
            const ssize_t n = read(from_, buffer.data(), buffer.size());
            if (n <= 0) {
                return;
            }
            if (std::uniform_real_distribution<double>(0, 100)(random_) < loss_ ||
                queuedBytes_ > kQueueLimitBytes) {
                continue;
            }
            const uint64_t now = NowMicros();
            // Serialised at the link's rate after what is queued, then the propagation delay.
            uint64_t sent = now;
            if (rate_ != 0) {
                sent = std::max(now, lastSent_) + static_cast<uint64_t>(n) * 8 * 1000000 / rate_;
                lastSent_ = sent;
            }
            queue_.push_back({sent + delay_, std::vector<uint8_t>(buffer.data(), buffer.data() + n)});
            queuedBytes_ += static_cast<std::size_t>(n);
        }
    }

    // Writes what is due; returns microseconds until the next packet is (or -1 when none waits).
    int64_t Deliver() {
        const uint64_t now = NowMicros();
        while (!queue_.empty() && queue_.front().deliverAt <= now) {
            const Packet& packet = queue_.front();
            if (write(to_, packet.bytes.data(), packet.bytes.size()) < 0) {
                // A full device queue loses the packet, as a congested link would.
            }
            queuedBytes_ -= packet.bytes.size();
            queue_.pop_front();
        }
        return queue_.empty() ? -1 : static_cast<int64_t>(queue_.front().deliverAt - now);
    }

  private:
    int from_;
    int to_;
    uint64_t delay_;
    uint64_t rate_;
    double loss_;
    std::mt19937 random_;
    std::deque<Packet> queue_;
    std::size_t queuedBytes_ = 0;
    uint64_t lastSent_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s NAME_A NAME_B DELAY_MS RATE_KBIT LOSS_PERCENT READY_FILE\n", argv[0]);
        return 2;
    }
    const int a = OpenTun(argv[1]);
    const int b = OpenTun(argv[2]);
    if (a < 0 || b < 0) {
        std::perror("bramvell_link: TUN device");
        return 1;
    }
    const uint64_t delay = std::strtoull(argv[3], nullptr, 10) * 1000;
    const uint64_t rate = std::strtoull(argv[4], nullptr, 10) * 1000;
    const double loss = std::strtod(argv[5], nullptr);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    if (FILE* ready = std::fopen(argv[6], "w")) {
        std::fclose(ready);
    }
    std::array<Direction, 2> directions = {Direction(a, b, delay, rate, loss, 1),
                                           Direction(b, a, delay, rate, loss, 2)};
    while (stopRequested == 0) {
        int64_t wait = -1;
        for (Direction& direction : directions) {
            const int64_t next = direction.Deliver();
            if (next >= 0 && (wait < 0 || next < wait)) {
                wait = next;
            }
        }
        std::array<pollfd, 2> fds = {pollfd{a, POLLIN, 0}, pollfd{b, POLLIN, 0}};
        const int timeoutMs = wait < 0 ? 100 : static_cast<int>(wait / 1000);
        if (poll(fds.data(), fds.size(), timeoutMs) > 0) {
            for (Direction& direction : directions) {
                direction.ReadAll();
            }
        }
    }
    close(a);
    close(b);
    return 0;
}
