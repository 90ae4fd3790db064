#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <tuple>
#include <vector>

#include "engine/MemoryPacketSource.h"
#include "support/SimClock.h"
#include "support/SimTcpEndpoint.h"

namespace bramvell::sim {

// The four legs a frame can travel: the client's stack and the engine share the host; servers are
// networkDelayMs away.
enum class Hop { ClientToEngine, EngineToServer, ServerToEngine, EngineToClient };

// Simulated hosts and links around the engine. Clients live on the filtering host: their frames go
// to the engine as outbound frames, and what the engine sends toward the stack reaches them. Servers
// are across the network. In Direct mode there is no engine: frames go straight across.
class SimNetwork {
  public:
    enum class Mode { Direct, Engine };
    using DropFilter = std::function<bool(Hop hop, std::span<const uint8_t> frame)>;
    using Observer = std::function<void(Hop hop, std::span<const uint8_t> frame)>;
    // Milliseconds a frame is held up on its way beyond the leg's own delay (0: none). Frames held up
    // let later ones of the same leg overtake them.
    using ExtraDelay = std::function<uint32_t(Hop hop, std::span<const uint8_t> frame)>;

    SimNetwork(SimClock& clock, Mode mode, uint32_t networkDelayMs = 2);

    // The packet source the engine's loop reads (Engine mode). Its wait for the packet event runs the
    // simulation, so the real loop drives everything on the calling thread, in simulated time.
    class Source final : public MemoryPacketSource {
      public:
        explicit Source(SimNetwork& network) : network_(network) {}
        bool WaitForPacketEvent(std::chrono::milliseconds timeout) override;

      private:
        SimNetwork& network_;
    };
    Source& source() { return source_; }
    // What the loop's wait ends on: done() holding asks the loop to stop (through stopRequested).
    void SetWaitHook(std::function<bool()> done, std::function<void()> stop, uint64_t limitMs) {
        waitDone_ = std::move(done);
        waitStop_ = std::move(stop);
        waitLimit_ = limitMs;
    }
    bool WaitTimedOut() const { return waitTimedOut_; }

    SimTcpEndpoint& AddClient(SimAddress local, SimAddress server, TcpTuning tuning, uint32_t isn);
    SimTcpEndpoint& AddServer(SimAddress local, SimAddress client, TcpTuning tuning, uint32_t isn);
    // Frames for the endpoint's address pair go to it from now on (a later endpoint on the same pair
    // takes over).
    void Attach(SimTcpEndpoint& endpoint, bool server);
    // Applications polled after every step.
    void AddPoller(std::function<void()> poll) { pollers_.push_back(std::move(poll)); }

    void SetDropFilter(DropFilter filter) { drop_ = std::move(filter); }
    void SetObserver(Observer observer) { observe_ = std::move(observer); }
    // Off by default; frames then travel in the order sent.
    void SetExtraDelay(ExtraDelay delay) { extraDelay_ = std::move(delay); }

    // Runs until done() holds (true) or simulated time passes limitMs (false). Direct mode.
    bool Run(const std::function<bool()>& done, uint64_t limitMs = 10 * 60 * 1000);
    // Runs the simulation until frames wait for the engine (true), or simulated time reaches `until`,
    // or done() holds, or nothing is left to happen (false).
    bool Advance(uint64_t until, const std::function<bool()>& done);

    // Frames the engine sent on whose IP or TCP checksum does not verify.
    int badEngineFrames() const { return badEngineFrames_; }
    // Whether every frame the engine sends is verified here (on by default). Benchmarks turn it off:
    // the receiving endpoints verify every frame anyway (their anomalies count bad checksums), and this
    // extra pass exists only when an engine is in the path, so it would be charged to the engine.
    void SetCheckEngineFrames(bool check) { checkEngineFrames_ = check; }
    uint64_t framesMoved() const { return framesMoved_; }
    uint64_t framesDropped() const { return framesDropped_; }
    // Frames delivered after a frame of the same connection and direction that was sent later.
    uint64_t framesReordered() const { return framesReordered_; }

  private:
    // destination host/port, source host/port (hosts as SimHostOf gives them)
    using Key = std::tuple<uint64_t, uint16_t, uint64_t, uint16_t>;
    struct Event {
        uint64_t time;
        Hop hop;
        std::vector<uint8_t> bytes;
        uint64_t serial = 0;  // order of sending, counted while extra delays are on
    };

    void Emit(Hop hop, std::span<const uint8_t> frame);
    void Schedule(uint64_t time, Hop hop, std::span<const uint8_t> frame, uint64_t serial = 0);
    void NoteDeliveryOrder(const Event& event, std::span<const uint8_t> frame);
    void Deliver(Event& event);
    SimTcpEndpoint* Route(std::span<const uint8_t> frame, bool toServer);

    SimClock& clock_;
    Mode mode_;
    uint32_t delayMs_;
    Source source_{*this};
    std::function<bool()> waitDone_;
    std::function<void()> waitStop_;
    uint64_t waitLimit_ = 0;
    bool waitTimedOut_ = false;
    std::vector<std::unique_ptr<SimTcpEndpoint>> endpoints_;
    std::map<Key, SimTcpEndpoint*> clients_;
    std::map<Key, SimTcpEndpoint*> servers_;
    std::vector<std::function<void()>> pollers_;
    std::deque<Event> local_;    // no delay
    std::deque<Event> network_;  // in time order (appended, unless extra delays are on)
    std::vector<std::vector<uint8_t>> spare_;
    DropFilter drop_;
    Observer observe_;
    ExtraDelay extraDelay_;
    uint64_t nextSerial_ = 0;
    std::map<std::tuple<int, uint64_t, uint16_t, uint64_t, uint16_t>, uint64_t> lastDelivered_;
    int badEngineFrames_ = 0;
    bool checkEngineFrames_ = true;
    uint64_t framesMoved_ = 0;
    uint64_t framesDropped_ = 0;
    uint64_t framesReordered_ = 0;
};

}  // namespace bramvell::sim
