#include "engine/MemoryPacketSource.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace bramvell {

MemoryPacketSource::MemoryPacketSource() : adapters_{{"mem0", 1}} {}

MemoryPacketSource::Held& MemoryPacketSource::NextFreeSlot() {
    if (pendingCount_ == ring_.size()) {
        std::vector<Held> larger(std::max<std::size_t>(64, ring_.size() * 2));
        for (std::size_t i = 0; i < pendingCount_; ++i) {
            larger[i] = ring_[(head_ + i) % ring_.size()];
        }
        ring_.swap(larger);
        head_ = 0;
    }
    return ring_[(head_ + pendingCount_) % ring_.size()];
}

void MemoryPacketSource::Inject(PacketDirection direction, std::span<const uint8_t> bytes) {
    const auto length = static_cast<uint32_t>(std::min(bytes.size(), kMaxFrameLength));
    {
        std::lock_guard lock(mutex_);
        Held& held = NextFreeSlot();
        held.direction = direction;
        held.length = length;
        if (length > 0) {  // an empty span may carry a null pointer
            std::memcpy(held.bytes.data(), bytes.data(), length);
        }
        ++pendingCount_;
        signalled_ = true;
    }
    signal_.notify_all();
}

void MemoryPacketSource::SetSink(Sink sink) {
    std::lock_guard lock(mutex_);
    sink_ = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
}

std::vector<MemoryPacketSource::SentFrame> MemoryPacketSource::TakeSent() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
}

std::size_t MemoryPacketSource::PendingCount() const {
    std::lock_guard lock(mutex_);
    return pendingCount_;
}

std::size_t MemoryPacketSource::DroppedCount() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

uint32_t MemoryPacketSource::AdapterMode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

bool MemoryPacketSource::EventAttached() const {
    std::lock_guard lock(mutex_);
    return eventAttached_;
}

bool MemoryPacketSource::Flushed() const {
    std::lock_guard lock(mutex_);
    return flushed_;
}

bool MemoryPacketSource::IsDriverLoaded() {
    return driverLoaded_;
}

std::vector<AdapterInfo> MemoryPacketSource::GetTcpipBoundAdaptersInfo() {
    return adapters_;
}

bool MemoryPacketSource::SetPacketEvent(AdapterHandle, bool attach) {
    if (attach && eventAttachFails_) {
        return false;
    }
    std::lock_guard lock(mutex_);
    eventAttached_ = attach;
    return true;
}

bool MemoryPacketSource::WaitForPacketEvent(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return signal_.wait_for(lock, timeout, [this] { return signalled_; });
}

void MemoryPacketSource::ResetPacketEvent() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool MemoryPacketSource::SetAdapterMode(AdapterHandle, uint32_t flags) {
    std::lock_guard lock(mutex_);
    mode_ = flags;
    return true;
}

bool MemoryPacketSource::ReadPacket(AdapterHandle, PacketBuffer& buffer) {
    std::lock_guard lock(mutex_);
    if (pendingCount_ == 0) {
        return false;
    }
    const Held& held = ring_[head_];
    buffer.deviceFlags = held.direction;
    buffer.length = held.length;
    std::memcpy(buffer.frame.data(), held.bytes.data(), held.length);
    head_ = (head_ + 1) % ring_.size();
    --pendingCount_;
    return true;
}

void MemoryPacketSource::Emit(PacketDirection direction, std::span<const uint8_t> bytes) {
    std::shared_ptr<const Sink> sink;
    {
        std::lock_guard lock(mutex_);
        if (!sink_) {
            sent_.push_back({direction, std::vector<uint8_t>(bytes.begin(), bytes.end())});
            return;
        }
        sink = sink_;
    }
    (*sink)(direction, bytes);
}

bool MemoryPacketSource::SendPacketToAdapter(AdapterHandle, const PacketBuffer& buffer) {
    Emit(PacketDirection::Outbound, buffer.Bytes());
    return true;
}

bool MemoryPacketSource::SendPacketToMstcp(AdapterHandle, const PacketBuffer& buffer) {
    Emit(PacketDirection::Inbound, buffer.Bytes());
    return true;
}

bool MemoryPacketSource::SendFrameToMstcp(AdapterHandle, std::span<const uint8_t> frame) {
    if (frame.size() > kMaxFrameLength) {
        return false;
    }
    Emit(PacketDirection::Inbound, frame);
    return true;
}

void MemoryPacketSource::DropPacket(AdapterHandle, const PacketBuffer&) {
    std::lock_guard lock(mutex_);
    ++dropped_;
}

void MemoryPacketSource::FlushAdapterPacketQueue(AdapterHandle) {
    std::lock_guard lock(mutex_);
    head_ = 0;
    pendingCount_ = 0;
    flushed_ = true;
}

}  // namespace bramvell
