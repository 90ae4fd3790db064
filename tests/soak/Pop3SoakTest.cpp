// Many POP3 sessions at once through the engine and the real packet loop, over a simulated network that
// loses and reorders frames: more sessions than connection slots, random good and spam messages of
// every size, random segment and write sizes. Every session must end as it would on a clean network,
// every frame the engine makes must be sound, and the engine must give back all it held.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "engine/MessageTarget.h"
#include "soak/SoakChecks.h"
#include "soak/SoakMail.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

constexpr std::size_t kFirstWave = ConnectionTable::kSlots;  // all at once: the table fills
constexpr std::size_t kSecondWave = 60;                      // while the table is full: uninspected
constexpr std::size_t kThirdWave = 80;                       // after the sweep: slots used again
constexpr uint64_t kSecondWaveStartMs = 20;
constexpr uint64_t kSecondWaveSpacingMs = 40;
constexpr uint64_t kThirdWaveStartMs = 270000;  // by then the first wave's records are swept
constexpr uint64_t kThirdWaveSpacingMs = 25;
constexpr uint64_t kSettleMs = 240000;  // after the last session: the sweep and the pool give-back are due
constexpr uint64_t kLimitMs = 30 * 60 * 1000;
constexpr uint32_t kLossPerMillion = 20000;   // on every leg
constexpr uint32_t kDelayPerMillion = 40000;  // held up 1 to 10 ms, so later frames overtake
constexpr std::size_t kGoodMessages = 40;
constexpr std::size_t kSpamMessages = 20;
constexpr std::size_t kMaxMessageSize = 400 * 1024;
constexpr std::size_t kReportedFailures = 5;
constexpr uint16_t kFirstPort = 20000;

uint32_t ServerIpOf(std::size_t index) {
    return kServerIp + static_cast<uint32_t>(index % 4);
}

uint16_t PortOf(std::size_t index) {
    return static_cast<uint16_t>(kFirstPort + index);
}

struct Totals {
    std::size_t sessions = 0;
    std::size_t inspected = 0;
    std::size_t uninspected = 0;
    std::size_t inspectedAfterSweep = 0;
    int goodDelivered = 0;
    int spamDeleted = 0;
    int analysed = 0;
    std::size_t failures = 0;
    std::size_t peakSlots = 0;
    std::size_t peakBlocks = 0;
    uint64_t lastFinishMs = 0;
};

TEST(Pop3SoakTest, ManySessionsOverALossyReorderingNetworkEndIntactAndLeaveNothingHeld) {
    const uint64_t seed = SoakSeed();
    std::cout << "[ soak ] seed " << seed << " (BRAMVELL_SOAK_SEED=" << seed << " repeats this run)"
              << std::endl;
    SCOPED_TRACE("BRAMVELL_SOAK_SEED=" + std::to_string(seed));
    RecordProperty("seed", std::to_string(seed));
    const auto wallStart = std::chrono::steady_clock::now();
    const std::size_t heapBefore = HeapInUse();

    Totals totals;
    uint64_t framesMoved = 0;
    uint64_t framesDropped = 0;
    uint64_t framesReordered = 0;
    uint64_t simulatedMs = 0;
    {
        SoakRandom mailRandom(seed);
        SoakRandom planRandom(seed ^ 0x9E3779B97F4A7C15u);
        SoakRandom netRandom(seed ^ 0xC2B2AE3D27D4EB4Fu);
        const std::vector<SoakMessage> pool =
            MakeMessagePool(mailRandom, kGoodMessages, kSpamMessages, kMaxMessageSize);

        Pop3World world;
        const Pop3Interceptor::MemoryUse start = world.engine.Memory();
        ASSERT_EQ(start.connections, 0u);

        const std::size_t sessionCount = kFirstWave + kSecondWave + kThirdWave;
        std::vector<SoakSessionPlan> plans;
        std::vector<uint64_t> startAt;
        for (std::size_t i = 0; i < sessionCount; ++i) {
            plans.push_back(MakeSessionPlan(planRandom, pool, static_cast<int>(i)));
            const SoakSessionPlan& plan = plans.back();
            auto& session = world.AddSession(Mailbox(plan, pool), Commands(plan), PortOf(i), plan.client,
                                             plan.server, ServerIpOf(i));
            if (plan.maxWrite != 0) {
                session.pop3Server->SetRetrSplitter(RandomWrites(plan.maxWrite, plan.splitSeed));
            }
            uint64_t at = 0;
            if (i >= kFirstWave + kSecondWave) {
                at = kThirdWaveStartMs + (i - kFirstWave - kSecondWave) * kThirdWaveSpacingMs;
            } else if (i >= kFirstWave) {
                at = kSecondWaveStartMs + (i - kFirstWave) * kSecondWaveSpacingMs;
            }
            startAt.push_back(at);
            if (at != 0) {
                session.startWhen = [&clock = world.clock, at] { return clock.NowMilliseconds() >= at; };
            }
        }

        world.network.SetDropFilter([&netRandom](sim::Hop, std::span<const uint8_t>) {
            return netRandom.PerMillion(kLossPerMillion);
        });
        world.network.SetExtraDelay([&netRandom](sim::Hop, std::span<const uint8_t>) -> uint32_t {
            return netRandom.PerMillion(kDelayPerMillion) ? static_cast<uint32_t>(netRandom.Between(1, 10))
                                                          : 0;
        });

        // Watches the run between steps (on the loop's thread): checks each session as it finishes, then
        // lets the table be swept and the pool give its blocks back, and reads what the engine holds.
        std::vector<std::size_t> running(sessionCount);
        for (std::size_t i = 0; i < sessionCount; ++i) {
            running[i] = i;
        }
        SettleAndWake settle;
        bool done = false;
        Pop3Interceptor::MemoryUse end;
        std::vector<std::string> failures;
        world.network.AddPoller([&] {
            const uint64_t now = world.clock.NowMilliseconds();
            const Pop3Interceptor::MemoryUse use = world.engine.Memory();
            totals.peakSlots = std::max(totals.peakSlots, use.connections);
            totals.peakBlocks = std::max(totals.peakBlocks, use.heldBlocks + use.pooledBlocks);
            for (std::size_t k = 0; k < running.size();) {
                const std::size_t i = running[k];
                const Pop3World::Session& session = *world.sessions[i];
                if (!session.Finished()) {
                    ++k;
                    continue;
                }
                // A record stays in the table for minutes after its connection closed.
                const bool inspected =
                    world.engine.table().Find(IpAddress::FromIpv4(kClientIp), PortOf(i),
                                              IpAddress::FromIpv4(ServerIpOf(i))) != nullptr;
                const SoakOutcome expected = ExpectedOutcome(plans[i], pool, inspected);
                const std::string problems = Check(session, expected);
                if (!problems.empty()) {
                    ++totals.failures;
                    if (failures.size() < kReportedFailures) {
                        failures.push_back("session " + std::to_string(i) +
                                           (inspected ? " (inspected)" : "") + ": " + problems);
                    }
                }
                ++totals.sessions;
                (inspected ? totals.inspected : totals.uninspected) += 1;
                totals.inspectedAfterSweep += inspected && startAt[i] >= kThirdWaveStartMs ? 1 : 0;
                totals.goodDelivered += expected.goodDelivered;
                totals.spamDeleted += expected.spamDeleted;
                totals.analysed += expected.analysed;
                totals.lastFinishMs = now;
                running[k] = running.back();
                running.pop_back();
            }
            if (!running.empty() || done) {
                return;
            }
            if (settle.Step(world.network, now, totals.lastFinishMs, kSettleMs)) {
                end = use;
                done = true;
            }
        });

        world.Connect();
        world.network.SetWaitHook([&done] { return done; }, [&world] { world.settings.stopRequested = 1; },
                                  kLimitMs);
        world.settings.stopRequested = 0;
        world.loop.Run();
        simulatedMs = world.clock.NowMilliseconds();

        EXPECT_FALSE(world.network.WaitTimedOut()) << running.size() << " sessions still running";
        for (const std::string& failure : failures) {
            ADD_FAILURE() << failure;
        }
        EXPECT_EQ(totals.failures, 0u);
        EXPECT_EQ(totals.sessions, sessionCount);
        EXPECT_EQ(world.network.badEngineFrames(), 0);
        EXPECT_EQ(world.analyzer.analysed, totals.analysed);
        std::size_t spamVerdicts = 0;
        for (uintptr_t verdict : world.Verdicts()) {
            spamVerdicts += verdict;
        }
        EXPECT_EQ(spamVerdicts, static_cast<std::size_t>(totals.spamDeleted));
        const auto quarantined = std::distance(std::filesystem::directory_iterator(world.QuarantineFolder()),
                                               std::filesystem::directory_iterator());
        EXPECT_EQ(quarantined, totals.spamDeleted);

        // The table filled, later sessions passed uninspected, and swept slots served new sessions.
        EXPECT_EQ(totals.peakSlots, ConnectionTable::kSlots);
        EXPECT_GT(totals.uninspected, 0u);
        EXPECT_GT(totals.inspectedAfterSweep, 0u);
        EXPECT_GT(totals.spamDeleted, 0);

        // Everything the engine held is given back once the connections are swept and the pool idles.
        EXPECT_TRUE(done);
        EXPECT_EQ(end.connections, start.connections);
        EXPECT_EQ(end.heldBlocks, start.heldBlocks);
        EXPECT_EQ(end.pooledBlocks, start.pooledBlocks);
        EXPECT_EQ(end.heldBytes, start.heldBytes);

        framesMoved = world.network.framesMoved();
        framesDropped = world.network.framesDropped();
        framesReordered = world.network.framesReordered();
        EXPECT_GT(framesDropped, 0u);
        EXPECT_GT(framesReordered, 0u);
    }
    // The process heap is back near where it was (the engine's blocks are 256 KiB each).
    const std::size_t heapAfter = HeapInUse();
    if (heapBefore != 0) {
        EXPECT_LT(heapAfter, heapBefore + (1u << 20))
            << "heap before " << heapBefore << ", after " << heapAfter;
    }

    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const std::pair<const char*, uint64_t> counts[] = {
        {"sessions", totals.sessions},
        {"inspected_sessions", totals.inspected},
        {"uninspected_sessions", totals.uninspected},
        {"good_delivered", static_cast<uint64_t>(totals.goodDelivered)},
        {"spam_deleted", static_cast<uint64_t>(totals.spamDeleted)},
        {"frames_moved", framesMoved},
        {"frames_dropped", framesDropped},
        {"frames_reordered", framesReordered},
        {"peak_slots", totals.peakSlots},
        {"peak_engine_blocks", totals.peakBlocks},
        {"simulated_seconds", simulatedMs / 1000},
    };
    std::cout << "[ soak ] seed " << seed;
    for (const auto& [name, value] : counts) {
        RecordProperty(name, std::to_string(value));
        std::cout << ", " << name << " " << value;
    }
    std::cout << ", wall " << wallSeconds << " s" << std::endl;
}

}  // namespace
}  // namespace bramvell::testing
