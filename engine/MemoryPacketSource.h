#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/PacketSource.h"

namespace bramvell {

// An in-memory packet source for tests, simulations and benchmarks. Frames are injected with Inject();
// what the filter thread sends toward the network or the stack is either recorded or handed to a sink
// (a simulated peer), so that whole conversations run in-process.
class MemoryPacketSource : public PacketSource {
  public:
    struct SentFrame {
        PacketDirection direction;  // Outbound = toward the network, Inbound = toward the stack
        std::vector<uint8_t> bytes;
    };
    using Sink = std::function<void(PacketDirection direction, std::span<const uint8_t> bytes)>;

    MemoryPacketSource();

    // Test knobs for the start-up failure paths.
    void SetDriverLoaded(bool loaded) { driverLoaded_ = loaded; }
    void SetAdapters(std::vector<AdapterInfo> adapters) { adapters_ = std::move(adapters); }
    void SetEventAttachFails(bool fails) { eventAttachFails_ = fails; }
    // What FilteringNotice answers (a source that cannot filter everything).
    void SetFilteringNotice(std::string notice) { notice_ = std::move(notice); }
    std::string FilteringNotice() const override { return notice_; }

    // Queues a frame as if the adapter had held it, and signals the event.
    void Inject(PacketDirection direction, std::span<const uint8_t> bytes);
    // When set, sent frames go to the sink instead of the record.
    void SetSink(Sink sink);
    std::vector<SentFrame> TakeSent();
    std::size_t PendingCount() const;
    std::size_t DroppedCount() const;
    uint32_t AdapterMode() const;
    bool EventAttached() const;
    bool Flushed() const;

    bool IsDriverLoaded() override;
    std::vector<AdapterInfo> GetTcpipBoundAdaptersInfo() override;
    bool SetPacketEvent(AdapterHandle adapter, bool attach) override;
    bool WaitForPacketEvent(std::chrono::milliseconds timeout) override;
    void ResetPacketEvent() override;
    bool SetAdapterMode(AdapterHandle adapter, uint32_t flags) override;
    bool ReadPacket(AdapterHandle adapter, PacketBuffer& buffer) override;
    bool SendPacketToAdapter(AdapterHandle adapter, const PacketBuffer& buffer) override;
    bool SendPacketToMstcp(AdapterHandle adapter, const PacketBuffer& buffer) override;
    bool SendFrameToMstcp(AdapterHandle adapter, std::span<const uint8_t> frame) override;
    void DropPacket(AdapterHandle adapter, const PacketBuffer& buffer) override;
    void FlushAdapterPacketQueue(AdapterHandle adapter) override;

  private:
    struct Held {
        PacketDirection direction;
        uint32_t length;
        std::array<uint8_t, kMaxFrameLength> bytes;
    };
    void Emit(PacketDirection direction, std::span<const uint8_t> bytes);
    Held& NextFreeSlot();

    bool driverLoaded_ = true;
    bool eventAttachFails_ = false;
    std::string notice_;
    std::vector<AdapterInfo> adapters_;

    mutable std::mutex mutex_;
    std::condition_variable signal_;
    bool signalled_ = false;
    bool eventAttached_ = false;
    bool flushed_ = false;
    uint32_t mode_ = kAdapterModeNormal;
    // Held frames in a ring of reused slots, so that queueing a frame allocates nothing once warm.
    std::vector<Held> ring_;
    std::size_t head_ = 0;
    std::size_t pendingCount_ = 0;
    std::vector<SentFrame> sent_;
    std::size_t dropped_ = 0;
    std::shared_ptr<const Sink> sink_;  // shared so a send can call it outside the lock without a copy
};

}  // namespace bramvell
