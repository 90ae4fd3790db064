#include "soak/SoakChecks.h"

#include <malloc.h>

#include <sstream>

#include "support/FrameBuilder.h"

namespace bramvell::testing {

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

std::string EndpointAnomalies(const Pop3World::Session& session) {
    std::ostringstream problems;
    for (const auto* endpoint : {session.client, session.server}) {
        const sim::TcpAnomalies& seen = endpoint->anomalies();
        if (seen.badChecksum != 0 || seen.ackOfUnsent != 0 || seen.beyondWindow != 0 ||
            seen.sackBlocks != 0) {
            problems << (endpoint == session.client ? "client " : "server ") << seen << "; ";
        }
    }
    return problems.str();
}

std::string Check(const Pop3World::Session& session, const SoakOutcome& expected) {
    std::ostringstream problems;
    if (session.client->WasReset() || session.server->WasReset()) {
        problems << "reset (client " << session.client->WasReset() << ", server "
                 << session.server->WasReset() << "); ";
    }
    if (session.ClientStream() != expected.clientStream) {
        problems << "client stream: " << FirstDifference(session.ClientStream(), expected.clientStream)
                 << "; ";
    }
    if (session.pop3Server->commands() != expected.serverCommands) {
        problems << "server commands:";
        for (const std::string& command : session.pop3Server->commands()) {
            problems << " [" << command << "]";
        }
        problems << "; ";
    }
    if (session.pop3Server->committedDeletions() != expected.deletions) {
        problems << "deletions differ; ";
    }
    problems << EndpointAnomalies(session);
    return problems.str();
}

bool SettleAndWake::Step(sim::SimNetwork& network, uint64_t now, uint64_t quietSinceMs, uint64_t settleMs) {
    if (!woken_ && now >= quietSinceMs + settleMs) {
        TcpFrameSpec spec;
        spec.ip.source = kClientIp;
        spec.ip.destination = kServerIp;
        spec.tcp.sourcePort = 50000;
        spec.tcp.destinationPort = 80;
        network.source().Inject(PacketDirection::Outbound, BuildTcpFrame(spec));
        woken_ = true;
    } else if (woken_ && network.source().PendingCount() == 0) {
        done_ = true;
    }
    return done_;
}

}  // namespace bramvell::testing
