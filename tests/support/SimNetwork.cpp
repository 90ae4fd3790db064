#include "support/SimNetwork.h"

#include <algorithm>

#include "engine/Frame.h"

namespace bramvell::sim {

namespace {

constexpr uint64_t kNever = UINT64_MAX;

}  // namespace

SimNetwork::SimNetwork(SimClock& clock, Mode mode, uint32_t networkDelayMs)
    : clock_(clock), mode_(mode), delayMs_(networkDelayMs) {
    source_.SetSink([this](PacketDirection direction, std::span<const uint8_t> bytes) {
        FrameLayout layout;
        if (checkEngineFrames_ &&
            (ParseFrame(bytes, layout) != FrameKind::Tcp || !ChecksumsValid(bytes, layout))) {
            ++badEngineFrames_;
        }
        Emit(direction == PacketDirection::Outbound ? Hop::EngineToServer : Hop::EngineToClient, bytes);
    });
}

SimTcpEndpoint& SimNetwork::AddClient(SimAddress local, SimAddress server, TcpTuning tuning, uint32_t isn) {
    endpoints_.push_back(std::make_unique<SimTcpEndpoint>(
        clock_, local, server, tuning, isn,
        [this](std::span<const uint8_t> frame) { Emit(Hop::ClientToEngine, frame); }));
    return *endpoints_.back();
}

SimTcpEndpoint& SimNetwork::AddServer(SimAddress local, SimAddress client, TcpTuning tuning, uint32_t isn) {
    endpoints_.push_back(std::make_unique<SimTcpEndpoint>(
        clock_, local, client, tuning, isn,
        [this](std::span<const uint8_t> frame) { Emit(Hop::ServerToEngine, frame); }));
    return *endpoints_.back();
}

void SimNetwork::Attach(SimTcpEndpoint& endpoint, bool server) {
    const SimAddress& local = endpoint.local();
    const SimAddress& remote = endpoint.remote();
    (server ? servers_ : clients_)[{SimHostOf(local), local.port, SimHostOf(remote), remote.port}] =
        &endpoint;
}

void SimNetwork::Schedule(uint64_t time, Hop hop, std::span<const uint8_t> frame, uint64_t serial) {
    std::vector<uint8_t> bytes;
    if (!spare_.empty()) {
        bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    bytes.assign(frame.begin(), frame.end());
    auto& queue = time == clock_.NowMilliseconds() ? local_ : network_;
    if (queue.empty() || queue.back().time <= time) {
        queue.push_back({time, hop, std::move(bytes), serial});
        return;
    }
    // Held up by an extra delay: behind everything due at the same time or earlier.
    auto at = std::upper_bound(queue.begin(), queue.end(), time,
                               [](uint64_t t, const Event& event) { return t < event.time; });
    queue.insert(at, Event{time, hop, std::move(bytes), serial});
}

void SimNetwork::Emit(Hop hop, std::span<const uint8_t> frame) {
    ++framesMoved_;
    if (observe_) {
        observe_(hop, frame);
    }
    if (drop_ && drop_(hop, frame)) {
        ++framesDropped_;
        return;
    }
    const uint64_t now = clock_.NowMilliseconds();
    uint64_t serial = 0;
    uint32_t extra = 0;
    if (extraDelay_) {
        serial = ++nextSerial_;
        extra = extraDelay_(hop, frame);
    }
    if (mode_ == Mode::Direct) {
        Schedule(now + delayMs_ + extra, hop, frame, serial);
        return;
    }
    switch (hop) {
        case Hop::ClientToEngine:
            if (extra > 0) {
                Schedule(now + extra, hop, frame, serial);
                break;
            }
            if (serial != 0) {
                NoteDeliveryOrder(Event{now, hop, {}, serial}, frame);
            }
            source_.Inject(PacketDirection::Outbound, frame);
            break;
        case Hop::EngineToClient:
            Schedule(now + extra, hop, frame, serial);
            break;
        case Hop::EngineToServer:
        case Hop::ServerToEngine:
            Schedule(now + delayMs_ + extra, hop, frame, serial);
            break;
    }
}

void SimNetwork::NoteDeliveryOrder(const Event& event, std::span<const uint8_t> frame) {
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return;
    }
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    uint64_t& last = lastDelivered_[{static_cast<int>(event.hop), SimHostOf(frame, false), Load16(tcp),
                                     SimHostOf(frame, true), Load16(tcp + 2)}];
    if (event.serial < last) {
        ++framesReordered_;
    } else {
        last = event.serial;
    }
}

SimTcpEndpoint* SimNetwork::Route(std::span<const uint8_t> frame, bool toServer) {
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return nullptr;
    }
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    const Key key{SimHostOf(frame, true), Load16(tcp + 2), SimHostOf(frame, false), Load16(tcp)};
    auto& table = toServer ? servers_ : clients_;
    auto found = table.find(key);
    return found == table.end() ? nullptr : found->second;
}

void SimNetwork::Deliver(Event& event) {
    const bool fromClient = event.hop == Hop::ClientToEngine || event.hop == Hop::EngineToServer;
    if (event.serial != 0) {
        NoteDeliveryOrder(event, event.bytes);
    }
    if (mode_ == Mode::Engine && event.hop == Hop::ServerToEngine) {
        source_.Inject(PacketDirection::Inbound, event.bytes);
    } else if (mode_ == Mode::Engine && event.hop == Hop::ClientToEngine) {
        source_.Inject(PacketDirection::Outbound, event.bytes);  // held up by an extra delay
    } else if (SimTcpEndpoint* endpoint = Route(event.bytes, fromClient)) {
        endpoint->Receive(event.bytes);
    }
    spare_.push_back(std::move(event.bytes));
}

bool SimNetwork::Advance(uint64_t until, const std::function<bool()>& done) {
    while (true) {
        const uint64_t now = clock_.NowMilliseconds();
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
        if (source_.PendingCount() > 0) {
            return true;
        }
        if (done()) {
            return false;
        }
        if ((!local_.empty() && local_.front().time <= now) ||
            (!network_.empty() && network_.front().time <= now)) {
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
        if (next >= until) {
            if (until != kNever && until > now) {
                clock_.Set(until);
            }
            return false;
        }
        clock_.Set(next > now ? next : now + 1);
    }
}

bool SimNetwork::Run(const std::function<bool()>& done, uint64_t limitMs) {
    while (!done()) {
        if (clock_.NowMilliseconds() >= limitMs) {
            return false;
        }
        if (!Advance(limitMs, done) && !done() && clock_.NowMilliseconds() < limitMs) {
            return false;  // nothing left to happen
        }
    }
    return true;
}

bool SimNetwork::Source::WaitForPacketEvent(std::chrono::milliseconds timeout) {
    SimNetwork& network = network_;
    const uint64_t now = network.clock_.NowMilliseconds();
    if (now >= network.waitLimit_) {
        network.waitTimedOut_ = true;
        network.waitStop_();
        return false;
    }
    const uint64_t until =
        std::min<uint64_t>(now + static_cast<uint64_t>(timeout.count()), network.waitLimit_);
    if (network.Advance(until, network.waitDone_)) {
        return MemoryPacketSource::WaitForPacketEvent(std::chrono::milliseconds(0));
    }
    if (network.waitDone_()) {
        network.waitStop_();
    }
    return false;
}

}  // namespace bramvell::sim
