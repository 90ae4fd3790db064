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
    const auto script = Script({"USER bob", "PASS pw", "RETR 1", "QUIT"});
    sim::TcpTuning client;
    client.receiveBuffer = 256 * 1024;
    client.windowScale = 3;
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto world = std::make_unique<Pop3World>(
            path == Path::Direct ? sim::SimNetwork::Mode::Direct : sim::SimNetwork::Mode::Engine, 2,
            path == Path::Engine);
        auto& session = world->AddSession(Mailbox(), script, 40000, client);
        state.ResumeTiming();
        if (!world->RunAll()) {
            state.SkipWithError("the retrieval did not finish");
            break;
        }
        bytes += session.ClientStream().size();
        state.PauseTiming();
        if (path == Path::Engine && world->analyzer.analysed != 1) {
            state.SkipWithError("the message was not intercepted");
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
