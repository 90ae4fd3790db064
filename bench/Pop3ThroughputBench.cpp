// POP3 interception throughput: a 10 MB message retrieved through the simulated network, with and
// without the engine, and the cost of one segment of an idle tracked connection.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "engine/MemoryPacketSource.h"
#include "support/FrameDriver.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

constexpr std::size_t kMessageBytes = 10u << 20;

const std::vector<std::string>& Mailbox() {
    static const std::vector<std::string> mailbox = {MakeMessage("Large report", kMessageBytes)};
    return mailbox;
}

enum class Path { Direct, LoopOnly, Engine };

void RetrieveLargeMessage(benchmark::State& state, Path path) {
    // The same message four times in one session: after the first, the engine works with warm memory,
    // as it does once it has run for a while.
    const auto script = Script({"USER bob", "PASS pw", "RETR 1", "RETR 1", "RETR 1", "RETR 1", "QUIT"});
    sim::TcpTuning client;
    client.receiveBuffer = 256 * 1024;
    client.windowScale = 3;
    client.reserveReceived =
        4 * kMessageBytes + (1u << 20);  // the stream is kept; its growth is not measured
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto world = std::make_unique<Pop3World>(
            path == Path::Direct ? sim::SimNetwork::Mode::Direct : sim::SimNetwork::Mode::Engine, 2,
            path == Path::Engine);
        // The endpoints verify every frame they receive; the network's own second check of the engine's
        // frames is harness work that only engine runs would pay.
        world->network.SetCheckEngineFrames(false);
        auto& session = world->AddSession(Mailbox(), script, 40000, client);
        state.ResumeTiming();
        if (!world->RunAll()) {
            state.SkipWithError("the retrieval did not finish");
            break;
        }
        bytes += session.ClientStream().size();
        state.PauseTiming();
        if (path == Path::Engine && world->analyzer.analysed != 4) {
            state.SkipWithError("the message was not intercepted");
        }
        if (!session.client->anomalies().Clean() || !session.server->anomalies().Clean()) {
            state.SkipWithError("a peer saw a damaged or out-of-window frame");
        }
        world.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// The simulated peers and network alone: the harness's own cost of moving the bytes.
void BM_Retrieve10MB_Direct(benchmark::State& state) {
    RetrieveLargeMessage(state, Path::Direct);
}
// The packet loop in between, POP3 frames passed as they come.
void BM_Retrieve10MB_LoopWithoutInterception(benchmark::State& state) {
    RetrieveLargeMessage(state, Path::LoopOnly);
}
// Collected, acknowledged, analysed, replayed.
void BM_Retrieve10MB_Intercepted(benchmark::State& state) {
    RetrieveLargeMessage(state, Path::Engine);
}

BENCHMARK(BM_Retrieve10MB_Direct)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Retrieve10MB_LoopWithoutInterception)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Retrieve10MB_Intercepted)->Unit(benchmark::kMillisecond)->MinTime(3);

// The engine alone on the same message: the server's segments (built beforehand, with timestamps)
// handed to it one by one as the loop would, then the client's acknowledgements of the replay. What it
// sends goes to a source that only counts. This is the engine's own cost of collecting, analysing and
// replaying 10 MB.
class CountingSource final : public MemoryPacketSource {
  public:
    bool SendPacketToAdapter(AdapterHandle, const PacketBuffer&) override { return ++sent, true; }
    bool SendPacketToMstcp(AdapterHandle, const PacketBuffer&) override { return ++sent, true; }
    bool SendFrameToMstcp(AdapterHandle, std::span<const uint8_t>) override { return ++sent, true; }
    std::size_t sent = 0;
};

void BM_CollectAndReplay10MB_EngineOnly(benchmark::State& state) {
    constexpr uint32_t kC = 1000;
    constexpr uint32_t kS = 0xFFF00000u;  // the server's numbers wrap during the message
    constexpr std::size_t kSegment = 1448;
    const std::vector<uint8_t> timestamp = {1, 1, 8, 10, 0, 0, 0, 50, 0, 0, 0, 40};
    const std::string reply = sim::SimPop3Server::RetrReply(Mailbox()[0]);
    std::vector<std::vector<uint8_t>> serverFrames;
    for (std::size_t at = 0; at < reply.size(); at += kSegment) {
        serverFrames.push_back(BuildSegment({FrameDriver::kServer, FrameDriver::kClient, 110, 40000,
                                             kS + 1 + static_cast<uint32_t>(at), kC + 9, 0x18, 2000,
                                             reply.substr(at, kSegment), timestamp}));
    }
    std::vector<std::vector<uint8_t>> clientAcks;
    for (std::size_t at = 2 * kSegment; at < reply.size() + 2 * kSegment; at += 2 * kSegment) {
        const auto acked = static_cast<uint32_t>(std::min(at, reply.size()));
        clientAcks.push_back(BuildSegment({FrameDriver::kClient, FrameDriver::kServer, 40000, 110, kC + 9,
                                           kS + 1 + acked, 0x10, 2048, "", timestamp}));
    }
    auto syn = BuildSegment({FrameDriver::kClient,
                             FrameDriver::kServer,
                             40000,
                             110,
                             kC,
                             0,
                             0x02,
                             65535,
                             "",
                             {2, 4, 5, 180, 1, 3, 3, 7, 8, 10, 0, 0, 0, 40, 0, 0, 0, 0}});
    auto synAck = BuildSegment({FrameDriver::kServer,
                                FrameDriver::kClient,
                                110,
                                40000,
                                kS,
                                kC + 1,
                                0x12,
                                65535,
                                "",
                                {2, 4, 5, 180, 1, 3, 3, 7, 8, 10, 0, 0, 0, 50, 0, 0, 0, 40}});
    auto retr = BuildSegment({FrameDriver::kClient, FrameDriver::kServer, 40000, 110, kC + 1, kS + 1, 0x18,
                              2048, "RETR 1\r\n", timestamp});

    // The connection ends with a reset, so that the next handshake starts its record afresh.
    auto reset =
        BuildSegment({FrameDriver::kClient, FrameDriver::kServer, 40000, 110, kC + 9, 0, 0x04, 0, "", {}});

    FrameDriver driver;
    CountingSource source;
    PacketBuffer buffer;
    FrameLayout layout;
    auto feed = [&](PacketDirection direction, const std::vector<uint8_t>& frame) {
        buffer.deviceFlags = direction;
        buffer.length = static_cast<uint32_t>(frame.size());
        std::memcpy(buffer.frame.data(), frame.data(), frame.size());
        ParseFrame(buffer.Bytes(), layout);
        bool dropped = false;
        FrameContext context{buffer, layout, dropped, source, 1};
        if (direction == PacketDirection::Outbound) {
            driver.engine.OnClientSegment(context);
        } else {
            driver.engine.OnServerSegment(context);
        }
        if (!dropped) {
            ++source.sent;
        }
    };
    for (auto _ : state) {
        feed(PacketDirection::Outbound, syn);
        feed(PacketDirection::Inbound, synAck);  // a fresh record each time (a new handshake)
        feed(PacketDirection::Outbound, retr);
        for (const auto& frame : serverFrames) {
            feed(PacketDirection::Inbound, frame);
        }
        for (const auto& frame : clientAcks) {
            feed(PacketDirection::Outbound, frame);
        }
        feed(PacketDirection::Outbound, reset);
    }
    if (driver.analyzer.analysed != static_cast<int>(state.iterations())) {
        state.SkipWithError("the message was not intercepted every time");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_CollectAndReplay10MB_EngineOnly)->Unit(benchmark::kMillisecond)->MinTime(3);

// One full-sized server segment of an idle connection, with the table full, as the loop hands it over:
// copied into the buffer, parsed, looked up, numbers translated (after a spam exchange, so that the
// translation changes them), forwarded.
void BM_IdleConnectionSegment(benchmark::State& state) {
    FrameDriver driver;
    constexpr uint32_t kC = 1000;
    constexpr uint32_t kS = 5000;
    driver.Handshake(kC, kS, 40000);  // takes the last slot, which the lookup reaches last
    for (uint16_t port = 30000; port < 30099; ++port) {
        driver.Handshake(kC, kS, port);
    }
    driver.Client(kC + 1, kS + 1, "RETR 1\r\n");
    driver.Server(kS + 1, kC + 9, "+OK\r\nSubject: SPAM\r\n\r\n.\r\n");
    driver.Server(kS + 26, kC + 17, "+OK\r\n");
    driver.Client(kC + 9, kS + 120, "", 0x10);
    driver.source.TakeSent();

    const std::vector<uint8_t> frame = BuildSegment({FrameDriver::kServer,
                                                     FrameDriver::kClient,
                                                     110,
                                                     40000,
                                                     kS + 31,
                                                     kC + 17,
                                                     0x18,
                                                     6000,
                                                     std::string(1460, 'x'),
                                                     {}});
    PacketBuffer buffer;
    FrameLayout layout;
    const bool withEngine = state.range(0) != 0;
    for (auto _ : state) {
        buffer.deviceFlags = PacketDirection::Inbound;
        buffer.length = static_cast<uint32_t>(frame.size());
        std::memcpy(buffer.frame.data(), frame.data(), frame.size());
        ParseFrame(buffer.Bytes(), layout);
        bool dropped = false;
        if (withEngine) {
            FrameContext context{buffer, layout, dropped, driver.source, 1};
            driver.engine.OnServerSegment(context);
        }
        benchmark::DoNotOptimize(buffer.frame.data());
        benchmark::DoNotOptimize(dropped);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleConnectionSegment)->Arg(0)->Arg(1);

}  // namespace
}  // namespace bramvell::testing

BENCHMARK_MAIN();
