// Runs the packet loop over NfqueuePacketSource without a POP3 handler, so every frame of the chosen
// interface is held, looked at and sent on unchanged. The end-to-end tests and the retrieval
// benchmark run it inside a network namespace to see what the packet source costs and whether it
// keeps streams intact.
//
//   bramvell_passthrough [--interface NAME | --all] [--bare-loop] [--own-frames] [--accept-batch N]
//                        [--ready-file PATH]
//
// By default the real PacketFilterThread runs the loop (its datagram and SMTP filters included).
// --bare-loop uses a minimal read-and-send loop instead; --own-frames (bare loop) drops each held frame
// and sends a copy as a frame of our own (raw socket toward the network, loopback toward the stack),
// so every byte travels the way the engine's own frames do. --all (bare loop) covers every interface
// but loopback. --accept-batch sets how many unchanged frames share one verdict (1 = one each). Runs
// until SIGINT or SIGTERM, then removes its rules and prints its counters on standard error.

#include <net/if.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "config/Clock.h"
#include "config/FilterSettings.h"
#include "engine/KeyState.h"
#include "engine/MessageTarget.h"
#include "engine/PacketFilterThread.h"
#include "platform/linux/NetfilterRules.h"
#include "platform/linux/NetworkInterfaces.h"
#include "platform/linux/NfqueuePacketSource.h"
#include "platform/linux/PacketSourceCheck.h"

namespace {

using namespace bramvell;

std::atomic<bool> stopRequested{false};

void RequestStop(int) {
    stopRequested.store(true);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bramvell_passthrough [--interface NAME | --all] [--bare-loop] [--own-frames] "
                 "[--accept-batch N] [--ready-file PATH]\n");
    return 2;
}

// Counts what the filter thread posts; the main thread waits on it for the start.
class CountingTarget final : public MessageTarget {
  public:
    void Post(uint32_t message, uintptr_t) override {
        if (message == WM_FILTER_STARTED) {
            started.store(true);
        } else if (message == WM_FILTER_FAILED) {
            failed.store(true);
        } else if (message == WM_WEB_ACTIVITY || message == WM_IRC_ACTIVITY || message == WM_SMTP_ACTIVITY) {
            activity.fetch_add(1);
        }
    }
    std::atomic<bool> started{false};
    std::atomic<bool> failed{false};
    std::atomic<int> activity{0};
};

void MarkReady(const std::string& readyFile) {
    if (!readyFile.empty()) {
        std::ofstream(readyFile) << "ready\n";
    }
}

// The engine's packet loop with no POP3 handler.
int RunFilterThread(NfqueuePacketSource& source, AdapterHandle adapter, const std::string& readyFile) {
    const int position = AdapterPosition(source.GetTcpipBoundAdaptersInfo(), static_cast<unsigned>(adapter));
    FilterSettings settings;
    settings.activityLogEnabled = 0;
    settings.adapterIndex = position;
    CountingTarget target;
    NoKeyState keys;
    PacketFilterThread thread(settings, source, target, keys, DefaultClock(), nullptr);
    thread.SetWaitTimeout(std::chrono::milliseconds(200));
    thread.Start();
    while (!target.started.load() && !target.failed.load()) {
        usleep(10 * 1000);
    }
    if (target.failed.load()) {
        std::fprintf(stderr, "bramvell_passthrough: the filter thread did not start: %s\n",
                     source.Problem().c_str());
        thread.StopFiltering();
        return 1;
    }
    MarkReady(readyFile);
    while (!stopRequested.load()) {
        usleep(50 * 1000);
    }
    settings.stopRequested = 1;
    thread.Join();
    thread.StopFiltering();
    std::fprintf(stderr, "activity messages %d\n", target.activity.load());
    return 0;
}

int RunBareLoop(NfqueuePacketSource& source, AdapterHandle adapter, bool ownFrames,
                const std::string& readyFile) {
    if (!source.SetPacketEvent(adapter, true) || !source.SetAdapterMode(adapter, kAdapterModeTunnel)) {
        std::fprintf(stderr, "bramvell_passthrough: %s\n", source.Problem().c_str());
        source.SetPacketEvent(adapter, false);
        source.SetAdapterMode(adapter, kAdapterModeNormal);
        return 1;
    }
    MarkReady(readyFile);
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
    source.SetAdapterMode(adapter, kAdapterModeNormal);
    source.FlushAdapterPacketQueue(adapter);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string interfaceName;
    bool allInterfaces = false;
    bool bareLoop = false;
    bool ownFrames = false;
    std::string readyFile;
    NfqueueOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--interface" && i + 1 < argc) {
            interfaceName = argv[++i];
        } else if (argument == "--all") {
            allInterfaces = bareLoop = true;
        } else if (argument == "--bare-loop") {
            bareLoop = true;
        } else if (argument == "--own-frames") {
            ownFrames = bareLoop = true;
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

    const int status = bareLoop ? RunBareLoop(source, adapter, ownFrames, readyFile)
                                : RunFilterThread(source, adapter, readyFile);

    const NfqueuePacketSource::Statistics s = source.GetStatistics();
    // Processor time of the whole run (the verdicts' share of the stack's work is counted here too).
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long cpuMilliseconds = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
                                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    std::fprintf(stderr,
                 "held %llu watched %llu accepted %llu changed %llu dropped %llu own %llu own-failed %llu "
                 "unread %llu overruns %llu verdict-failed %llu cpu-ms %ld\n",
                 static_cast<unsigned long long>(s.held), static_cast<unsigned long long>(s.watched),
                 static_cast<unsigned long long>(s.accepted),
                 static_cast<unsigned long long>(s.acceptedChanged),
                 static_cast<unsigned long long>(s.dropped), static_cast<unsigned long long>(s.ownSent),
                 static_cast<unsigned long long>(s.ownSendFailures),
                 static_cast<unsigned long long>(s.passedUnread), static_cast<unsigned long long>(s.overruns),
                 static_cast<unsigned long long>(s.verdictFailures), cpuMilliseconds);
    if (NetfilterRules(source.Options()).AnyPresent()) {
        std::fprintf(stderr, "bramvell_passthrough: rules left after stop: %s\n", source.Problem().c_str());
        return 1;
    }
    return status;
}
