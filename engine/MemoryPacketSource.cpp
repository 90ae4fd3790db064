#include "engine/MemoryPacketSource.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace bramvell {

MemoryPacketSource::MemoryPacketSource() : adapters_{{"mem0", 1}} {}

void MemoryPacketSource::Inject(PacketDirection direction, std::span<const uint8_t> bytes) {
    Held held{direction, static_cast<uint32_t>(std::min(bytes.size(), kMaxFrameLength)), {}};
    std::memcpy(held.bytes.data(), bytes.data(), held.length);
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(held);
        signalled_ = true;
    }
    signal_.notify_all();
}

void MemoryPacketSource::SetSink(Sink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

std::vector<MemoryPacketSource::SentFrame> MemoryPacketSource::TakeSent() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
}

std::size_t MemoryPacketSource::PendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
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

bool MemoryPacketSource::IsDriverLoaded() { return driverLoaded_; }

std::vector<AdapterInfo> MemoryPacketSource::GetTcpipBoundAdaptersInfo() { return adapters_; }

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
    if (pending_.empty()) {
        return false;
    }
    const Held& held = pending_.front();
    buffer.deviceFlags = held.direction;
    buffer.length = held.length;
    std::memcpy(buffer.frame.data(), held.bytes.data(), held.length);
    pending_.pop_front();
    return true;
}

void MemoryPacketSource::Emit(PacketDirection direction, const PacketBuffer& buffer) {
    std::span<const uint8_t> bytes = buffer.Bytes();
    Sink sink;
    {
        std::lock_guard lock(mutex_);
        if (!sink_) {
            sent_.push_back({direction, std::vector<uint8_t>(bytes.begin(), bytes.end())});
            return;
        }
        sink = sink_;
    }
    sink(direction, bytes);
}

bool MemoryPacketSource::SendPacketToAdapter(AdapterHandle, const PacketBuffer& buffer) {
    Emit(PacketDirection::Outbound, buffer);
    return true;
}

bool MemoryPacketSource::SendPacketToMstcp(AdapterHandle, const PacketBuffer& buffer) {
    Emit(PacketDirection::Inbound, buffer);
    return true;
}

void MemoryPacketSource::DropPacket(AdapterHandle, const PacketBuffer&) {
    std::lock_guard lock(mutex_);
    ++dropped_;
}

void MemoryPacketSource::FlushAdapterPacketQueue(AdapterHandle) {
    std::lock_guard lock(mutex_);
    pending_.clear();
    flushed_ = true;
}

}  // namespace bramvell
