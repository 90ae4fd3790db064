#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "config/FilterSettings.h"
#include "engine/KeyState.h"
#include "engine/MemoryPacketSource.h"
#include "engine/PacketFilterThread.h"
#include "engine/Pop3Handler.h"
#include "support/FakeClock.h"
#include "support/RecordingMessageTarget.h"
#include "support/TempFolder.h"

namespace bramvell::testing {

// Counts the packet loop's calls into the POP3 side; a test may give the segment calls something to do.
class FakePop3Handler final : public Pop3Handler {
  public:
    void OnClientSegment(FrameContext& frame) override {
        ++clientSegments;
        if (onClient) {
            onClient(frame);
        }
    }
    void OnServerSegment(FrameContext& frame) override {
        ++serverSegments;
        if (onServer) {
            onServer(frame);
        }
    }
    void SweepClosedConnections() override { ++sweeps; }
    void OnIdle(PacketSource&, AdapterHandle) override { ++idleTurns; }
    void FreeAll() override { ++freeAlls; }

    std::function<void(FrameContext&)> onClient;
    std::function<void(FrameContext&)> onServer;
    std::atomic<int> clientSegments{0};
    std::atomic<int> serverSegments{0};
    std::atomic<int> sweeps{0};
    std::atomic<int> idleTurns{0};
    std::atomic<int> freeAlls{0};
};

// A memory source that, while stopWhenEmpty is set, asks the loop to stop as soon as it has nothing more
// to hand over, so that Run() can be driven to the end on the test thread. It also remembers which adapter
// was put into tunnel mode.
class LoopSource final : public MemoryPacketSource {
  public:
    explicit LoopSource(FilterSettings& settings) : settings_(settings) {}

    bool WaitForPacketEvent(std::chrono::milliseconds timeout) override {
        const bool signalled = MemoryPacketSource::WaitForPacketEvent(timeout);
        if (!signalled && stopWhenEmpty) {
            settings_.stopRequested = 1;
        }
        return signalled;
    }
    bool ReadPacket(AdapterHandle adapter, PacketBuffer& buffer) override {
        const bool read = MemoryPacketSource::ReadPacket(adapter, buffer);
        if (!read && stopWhenEmpty) {
            settings_.stopRequested = 1;
        }
        return read;
    }
    bool SetAdapterMode(AdapterHandle adapter, uint32_t flags) override {
        modeAdapter = adapter;
        return MemoryPacketSource::SetAdapterMode(adapter, flags);
    }

    std::atomic<bool> stopWhenEmpty{true};
    std::atomic<AdapterHandle> modeAdapter{0};

  private:
    FilterSettings& settings_;
};

// Everything a packet loop needs, with logging into a temporary folder and the clock on a known day.
struct LoopRig {
    LoopRig() {
        settings.SetLogFolder(logFolder.path());
        settings.lastDayOfMonth = clock.Now().day;
    }
    std::unique_ptr<PacketFilterThread> MakeThread(bool withPop3 = true) {
        auto thread = std::make_unique<PacketFilterThread>(settings, source, target, keys, clock,
                                                           withPop3 ? &pop3 : nullptr);
        thread->SetWaitTimeout(std::chrono::milliseconds(20));
        return thread;
    }
    // Posts other than the start-up announcement.
    std::vector<RecordingMessageTarget::Posted> PostsAfterStart() const {
        std::vector<RecordingMessageTarget::Posted> posts;
        for (const auto& posted : target.Messages()) {
            if (posted.message != WM_FILTER_STARTED) {
                posts.push_back(posted);
            }
        }
        return posts;
    }

    TempFolder logFolder;
    FakeClock clock;
    FilterSettings settings;
    LoopSource source{settings};
    RecordingMessageTarget target;
    NoKeyState keys;
    FakePop3Handler pop3;
};

}  // namespace bramvell::testing
