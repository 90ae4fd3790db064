// Throughput of the packet loop on frames that are not POP3: each is read into the frame buffer, tested
// on its headers, maybe announced to the main window, and sent on or dropped.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "config/Clock.h"
#include "config/FilterSettings.h"
#include "engine/KeyState.h"
#include "engine/MemoryPacketSource.h"
#include "engine/MessageTarget.h"
#include "engine/PacketFilterThread.h"
#include "support/FrameBuilder.h"

// Every allocation of the process is counted, so that the benchmark can show none happens per frame.
// The replacement pair is malloc/free on purpose; GCC cannot see that they match.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace bramvell {
namespace {

using testing::BuildEthernetFrame;
using testing::BuildTcpFrame;
using testing::BuildUdpFrame;
using testing::TcpFrameSpec;
using testing::UdpFrameSpec;

constexpr int kFramesPerRun = 1 << 16;

struct BenchFrame {
    PacketDirection direction;
    std::vector<uint8_t> bytes;
};

BenchFrame Tcp(PacketDirection direction, uint16_t sourcePort, uint16_t destinationPort,
               std::size_t payload) {
    TcpFrameSpec spec;
    spec.tcp.sourcePort = sourcePort;
    spec.tcp.destinationPort = destinationPort;
    spec.tcp.options = {0x01, 0x01, 0x08, 0x0A, 0, 0, 0, 1, 0, 0, 0, 2};  // timestamps, as Linux sends
    spec.payload.assign(payload, 'x');
    return {direction, BuildTcpFrame(spec)};
}

BenchFrame Udp(PacketDirection direction, uint16_t sourcePort, uint16_t destinationPort,
               std::size_t payload) {
    UdpFrameSpec spec;
    spec.udp.sourcePort = sourcePort;
    spec.udp.destinationPort = destinationPort;
    spec.payload.assign(payload, 'x');
    return {direction, BuildUdpFrame(spec)};
}

// A desktop's mix without POP3: bulk downloads and their ACKs, page requests, name lookups, some mail
// sent and chat, and a frame that is not IPv4.
std::vector<BenchFrame> TrafficMix() {
    const auto out = PacketDirection::Outbound;
    const auto in = PacketDirection::Inbound;
    testing::EthernetFields arp;
    arp.etherType = 0x0806;
    return {
        Tcp(in, 443, 50000, 1448), Tcp(out, 50000, 443, 0),
        Tcp(in, 443, 50000, 1448), Tcp(out, 50000, 443, 0),
        Tcp(in, 80, 50001, 1448),  Tcp(out, 50001, 80, 0),
        Tcp(out, 50001, 80, 400),  Udp(out, 50002, 53, 40),
        Udp(in, 53, 50002, 120),   Tcp(out, 50003, 25, 1000),
        Tcp(in, 25, 50003, 0),     Tcp(out, 50004, 6667, 60),
        Tcp(in, 6667, 50004, 200), Tcp(out, 50005, 8080, 0),
        Udp(in, 40000, 1026, 300), {in, BuildEthernetFrame(arp, std::vector<uint8_t>(28, 1))},
    };
}

class NullTarget final : public MessageTarget {
  public:
    void Post(uint32_t, uintptr_t) override { ++posted; }
    uint64_t posted = 0;
};

// Hands out prepared frames from memory with no locking, copying each into the frame buffer as any
// source must, and asks the loop to stop once a run's frames are used up.
class ReplaySource final : public PacketSource {
  public:
    ReplaySource(std::vector<BenchFrame> frames, FilterSettings& settings)
        : frames_(std::move(frames)), settings_(settings) {}

    void Refill(int count) { remaining_ = count; }
    uint64_t sent = 0;
    uint64_t dropped = 0;

    bool IsDriverLoaded() override { return true; }
    std::vector<AdapterInfo> GetTcpipBoundAdaptersInfo() override { return {{"bench0", 1}}; }
    bool SetPacketEvent(AdapterHandle, bool) override { return true; }
    bool WaitForPacketEvent(std::chrono::milliseconds) override { return remaining_ > 0; }
    void ResetPacketEvent() override {}
    bool SetAdapterMode(AdapterHandle, uint32_t) override { return true; }
    bool ReadPacket(AdapterHandle, PacketBuffer& buffer) override {
        if (remaining_ == 0) {
            settings_.stopRequested = 1;
            return false;
        }
        --remaining_;
        const BenchFrame& frame = frames_[next_];
        next_ = next_ + 1 == frames_.size() ? 0 : next_ + 1;
        buffer.deviceFlags = frame.direction;
        buffer.length = static_cast<uint32_t>(frame.bytes.size());
        std::memcpy(buffer.frame.data(), frame.bytes.data(), frame.bytes.size());
        return true;
    }
    bool SendPacketToAdapter(AdapterHandle, const PacketBuffer& buffer) override {
        sent += buffer.length != 0;
        return true;
    }
    bool SendPacketToMstcp(AdapterHandle, const PacketBuffer& buffer) override {
        sent += buffer.length != 0;
        return true;
    }
    void DropPacket(AdapterHandle, const PacketBuffer&) override { ++dropped; }
    void FlushAdapterPacketQueue(AdapterHandle) override {}

  private:
    std::vector<BenchFrame> frames_;
    FilterSettings& settings_;
    std::size_t next_ = 0;
    int remaining_ = 0;
};

void PrepareSettings(FilterSettings& settings) {
    settings.activityLogEnabled = 0;
    settings.lastDayOfMonth = DefaultClock().Now().day;
}

// The engine itself: frames come from memory without locks; the local clock is read for every frame.
void BM_DispatchNonPop3(benchmark::State& state) {
    FilterSettings settings;
    PrepareSettings(settings);
    ReplaySource source(TrafficMix(), settings);
    NullTarget target;
    NoKeyState keys;
    PacketFilterThread thread(settings, source, target, keys, DefaultClock());
    const uint64_t allocationsBefore = allocations.load();
    for (auto _ : state) {
        settings.stopRequested = 0;
        source.Refill(kFramesPerRun);
        thread.Run();
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerRun);
    // Start-up reads the adapter list once per run; nothing else may allocate.
    state.counters["allocs/run"] =
        static_cast<double>(allocations.load() - allocationsBefore) / static_cast<double>(state.iterations());
    state.counters["posts/frame"] = static_cast<double>(target.posted) / (state.iterations() * kFramesPerRun);
    if (source.sent + source.dropped != static_cast<uint64_t>(state.iterations()) * kFramesPerRun) {
        state.SkipWithError("a frame was neither sent nor dropped");
    }
}

BENCHMARK(BM_DispatchNonPop3)->Unit(benchmark::kMillisecond);

// The in-memory source of the tests, ending the run once its queue is empty.
class DrainingMemorySource final : public MemoryPacketSource {
  public:
    explicit DrainingMemorySource(FilterSettings& settings) : settings_(settings) {}
    bool ReadPacket(AdapterHandle adapter, PacketBuffer& buffer) override {
        const bool read = MemoryPacketSource::ReadPacket(adapter, buffer);
        if (!read) {
            settings_.stopRequested = 1;
        }
        return read;
    }

  private:
    FilterSettings& settings_;
};

// Through MemoryPacketSource: injection, its mutex and queue and the sink are part of the figure.
void BM_DispatchNonPop3_MemoryPacketSource(benchmark::State& state) {
    FilterSettings settings;
    PrepareSettings(settings);
    DrainingMemorySource source(settings);
    uint64_t sent = 0;
    source.SetSink([&sent](PacketDirection, std::span<const uint8_t>) { ++sent; });
    NullTarget target;
    NoKeyState keys;
    PacketFilterThread thread(settings, source, target, keys, DefaultClock());
    const std::vector<BenchFrame> mix = TrafficMix();
    constexpr int kBatch = 4096;
    const uint64_t allocationsBefore = allocations.load();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            const BenchFrame& frame = mix[static_cast<std::size_t>(i) % mix.size()];
            source.Inject(frame.direction, frame.bytes);
        }
        settings.stopRequested = 0;
        thread.Run();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["allocs/run"] =
        static_cast<double>(allocations.load() - allocationsBefore) / static_cast<double>(state.iterations());
    if (sent + source.DroppedCount() != static_cast<uint64_t>(state.iterations()) * kBatch) {
        state.SkipWithError("a frame was neither sent nor dropped");
    }
}
BENCHMARK(BM_DispatchNonPop3_MemoryPacketSource)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bramvell

BENCHMARK_MAIN();
