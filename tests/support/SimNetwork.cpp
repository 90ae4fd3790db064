#include "support/SimNetwork.h"

#include <algorithm>

#include "engine/Frame.h"

namespace bramvell::sim {

namespace {

constexpr uint64_t kNever = UINT64_MAX;
constexpr uint64_t kLoopWakeMs = 1000;  // the packet loop wakes at least this often

}  // namespace

SimNetwork::SimNetwork(SimClock& clock, Mode mode, uint32_t networkDelayMs)
    : clock_(clock), mode_(mode), delayMs_(networkDelayMs) {
    source_.SetSink([this](PacketDirection direction, std::span<const uint8_t> bytes) {
        FrameLayout layout;
        if (ParseFrame(bytes, layout) != FrameKind::Tcp || !ChecksumsValid(bytes, layout)) {
            ++badEngineFrames_;
        }
        Emit(direction == PacketDirection::Outbound ? Hop::EngineToServer : Hop::EngineToClient, bytes);
    });
}

SimTcpEndpoint& SimNetwork::AddClient(SimAddress local, SimAddress server, TcpTuning tuning, uint32_t isn) {
    endpoints_.push_back(std::make_unique<SimTcpEndpoint>(
        clock_, local, server, tuning, isn,
        [this](std::span<const uint8_t> frame) { Emit(Hop::ClientToEngine, frame); }));
    clients_[{local.ip, local.port, server.ip, server.port}] = endpoints_.back().get();
    return *endpoints_.back();
}

SimTcpEndpoint& SimNetwork::AddServer(SimAddress local, SimAddress client, TcpTuning tuning, uint32_t isn) {
    endpoints_.push_back(std::make_unique<SimTcpEndpoint>(
        clock_, local, client, tuning, isn,
        [this](std::span<const uint8_t> frame) { Emit(Hop::ServerToEngine, frame); }));
    servers_[{local.ip, local.port, client.ip, client.port}] = endpoints_.back().get();
    return *endpoints_.back();
}

void SimNetwork::Schedule(uint64_t time, Hop hop, std::span<const uint8_t> frame) {
    std::vector<uint8_t> bytes;
    if (!spare_.empty()) {
        bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    bytes.assign(frame.begin(), frame.end());
    (time == clock_.NowMilliseconds() ? local_ : network_).push_back({time, hop, std::move(bytes)});
}

void SimNetwork::Emit(Hop hop, std::span<const uint8_t> frame) {
    ++framesMoved_;
    if (observe_) {
        observe_(hop, frame);
    }
    if (drop_ && drop_(hop, frame)) {
        return;
    }
    const uint64_t now = clock_.NowMilliseconds();
    if (mode_ == Mode::Direct) {
        Schedule(now + delayMs_, hop, frame);
        return;
    }
    switch (hop) {
        case Hop::ClientToEngine:
            source_.Inject(PacketDirection::Outbound, frame);
            break;
        case Hop::EngineToClient:
            Schedule(now, hop, frame);
            break;
        case Hop::EngineToServer:
        case Hop::ServerToEngine:
            Schedule(now + delayMs_, hop, frame);
            break;
    }
}

SimTcpEndpoint* SimNetwork::Route(std::span<const uint8_t> frame, bool toServer) {
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return nullptr;
    }
    const uint8_t* ip = frame.data() + layout.ipOffset;
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    const Key key{Load32(ip + 16), Load16(tcp + 2), Load32(ip + 12), Load16(tcp)};
    auto& table = toServer ? servers_ : clients_;
    auto found = table.find(key);
    return found == table.end() ? nullptr : found->second;
}

void SimNetwork::Deliver(Event& event) {
    const bool fromClient = event.hop == Hop::ClientToEngine || event.hop == Hop::EngineToServer;
    if (mode_ == Mode::Engine && event.hop == Hop::ServerToEngine) {
        source_.Inject(PacketDirection::Inbound, event.bytes);
    } else if (SimTcpEndpoint* endpoint = Route(event.bytes, fromClient)) {
        endpoint->Receive(event.bytes);
    }
    spare_.push_back(std::move(event.bytes));
}

bool SimNetwork::Run(const std::function<bool()>& done, uint64_t limitMs) {
    while (!done()) {
        const uint64_t now = clock_.NowMilliseconds();
        if (now > limitMs) {
            return false;
        }
        while (!local_.empty() && local_.front().time <= now) {
            Event event = std::move(local_.front());
            local_.pop_front();
            Deliver(event);
        }
        while (!network_.empty() && network_.front().time <= now) {
            Event event = std::move(network_.front());
            network_.pop_front();
            Deliver(event);
        }
        for (auto& endpoint : endpoints_) {
            endpoint->Poll();
        }
        for (auto& poll : pollers_) {
            poll();
        }
        if (loop_ != nullptr) {
            if (source_.PendingCount() > 0) {
                loop_->Turn();
                lastTurn_ = now;
            } else if (now >= lastTurn_ + kLoopWakeMs) {
                loop_->Idle();
                lastTurn_ = now;
            }
        }
        const bool dueNow = (!local_.empty() && local_.front().time <= now) ||
                            (!network_.empty() && network_.front().time <= now) || source_.PendingCount() > 0;
        if (dueNow) {
            continue;
        }
        uint64_t next = kNever;
        if (!local_.empty()) {
            next = std::min(next, local_.front().time);
        }
        if (!network_.empty()) {
            next = std::min(next, network_.front().time);
        }
        for (auto& endpoint : endpoints_) {
            next = std::min(next, endpoint->NextDeadline());
        }
        if (loop_ != nullptr) {
            next = std::min(next, lastTurn_ + kLoopWakeMs);
        }
        if (next == kNever) {
            return done();
        }
        clock_.Set(std::max(next, now + (next <= now ? 1 : 0)));
    }
    return true;
}

}  // namespace bramvell::sim
