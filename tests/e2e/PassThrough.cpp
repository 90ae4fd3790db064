// A stand-in for the filter thread: holds the traffic of one interface through NfqueuePacketSource
// and sends every frame on unchanged. The end-to-end tests and the retrieval benchmark run it inside
// a network namespace to see what the packet source alone costs and whether it keeps streams intact.
//
//   bramvell_passthrough [--interface NAME | --all] [--own-frames] [--accept-batch N] [--ready-file PATH]
//
// --own-frames drops each held frame and sends a copy of it as a frame of our own (raw socket
// toward the network, loopback toward the stack) instead of accepting it: every byte then travels
// the way the engine's own frames do. --accept-batch sets how many unchanged frames share one verdict
// (1 = a verdict per frame). Runs until SIGINT or SIGTERM, then removes its rules and
// prints its counters on standard error.

#include <net/if.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/linux/NetworkInterfaces.h"
#include "platform/linux/NfqueuePacketSource.h"
#include "platform/linux/PacketSourceCheck.h"

namespace {

std::atomic<bool> stopRequested{false};

void RequestStop(int) {
    stopRequested.store(true);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bramvell_passthrough [--interface NAME | --all] [--own-frames] [--accept-batch N] "
                 "[--ready-file PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace bramvell;
    std::string interfaceName;
    bool allInterfaces = false;
    bool ownFrames = false;
    std::string readyFile;
    NfqueueOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--interface" && i + 1 < argc) {
            interfaceName = argv[++i];
        } else if (argument == "--all") {
            allInterfaces = true;
        } else if (argument == "--own-frames") {
            ownFrames = true;
        } else if (argument == "--accept-batch" && i + 1 < argc) {
            options.acceptBatch = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (argument == "--ready-file" && i + 1 < argc) {
            readyFile = argv[++i];
        } else {
            return Usage();
        }
    }

    NfqueuePacketSource source(options);
    if (!source.IsDriverLoaded()) {
        std::fprintf(stderr, "%.*s (%s)\n", static_cast<int>(kNetworkDriverFailedMessage.size()),
                     kNetworkDriverFailedMessage.data(), source.Problem().c_str());
        return 1;
    }
    AdapterHandle adapter = NfqueuePacketSource::kAllInterfaces;
    if (!allInterfaces) {
        const unsigned index =
            interfaceName.empty() ? DefaultRouteInterfaceIndex() : if_nametoindex(interfaceName.c_str());
        if (index == 0) {
            std::fprintf(stderr, "bramvell_passthrough: no such interface (or no default route)\n");
            return 1;
        }
        adapter = index;
    }

    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    if (!source.SetPacketEvent(adapter, true) || !source.SetAdapterMode(adapter, kAdapterModeTunnel)) {
        std::fprintf(stderr, "bramvell_passthrough: %s\n", source.Problem().c_str());
        source.SetPacketEvent(adapter, false);
        source.SetAdapterMode(adapter, kAdapterModeNormal);
        return 1;
    }
    if (!readyFile.empty()) {
        std::ofstream(readyFile) << "ready\n";
    }

    PacketBuffer buffer;
    while (!stopRequested.load()) {
        if (!source.WaitForPacketEvent(std::chrono::milliseconds(200))) {
            continue;
        }
        source.ResetPacketEvent();
        while (!stopRequested.load() && source.ReadPacket(adapter, buffer)) {
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

    source.SetPacketEvent(adapter, false);
    const bool removed = source.SetAdapterMode(adapter, kAdapterModeNormal);
    source.FlushAdapterPacketQueue(adapter);
    const NfqueuePacketSource::Statistics s = source.GetStatistics();
    std::fprintf(
        stderr,
        "held %llu watched %llu accepted %llu changed %llu dropped %llu own %llu own-failed %llu "
        "unread %llu overruns %llu verdict-failed %llu\n",
        static_cast<unsigned long long>(s.held), static_cast<unsigned long long>(s.watched),
        static_cast<unsigned long long>(s.accepted), static_cast<unsigned long long>(s.acceptedChanged),
        static_cast<unsigned long long>(s.dropped), static_cast<unsigned long long>(s.ownSent),
        static_cast<unsigned long long>(s.ownSendFailures), static_cast<unsigned long long>(s.passedUnread),
        static_cast<unsigned long long>(s.overruns), static_cast<unsigned long long>(s.verdictFailures));
    if (!removed) {
        std::fprintf(stderr, "bramvell_passthrough: rules not removed: %s\n", source.Problem().c_str());
        return 1;
    }
    return 0;
}
