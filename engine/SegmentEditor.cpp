#include "engine/SegmentEditor.h"

#include <algorithm>
#include <cstring>

namespace bramvell {

SegmentEditor::SegmentEditor(std::span<uint8_t> frame, const FrameLayout& layout)
    : tcp_(frame.data() + layout.transportOffset), headerLength_(layout.transportHeaderLength) {}

void SegmentEditor::Set32(std::size_t offset, uint32_t value) {
    const uint32_t old = Load32(tcp_ + offset);
    if (old != value) {
        delta_.Replace32(old, value);
        Store32(tcp_ + offset, value);
    }
}

void SegmentEditor::SetWindow(uint16_t value) {
    const uint16_t old = Load16(tcp_ + 14);
    if (old != value) {
        delta_.Replace16(old, value);
        Store16(tcp_ + 14, value);
    }
}

void SegmentEditor::SetTimestamps(uint32_t tsVal, uint32_t tsEcr) {
    const std::size_t at = FindTimestamp({tcp_, headerLength_});
    if (at == kNoOption) {
        return;
    }
    // The option may start at an odd offset; sum the bytes as they fall on 16-bit word boundaries.
    if (at % 2 == 0) {
        Set32(at, tsVal);
        Set32(at + 4, tsEcr);
        return;
    }
    uint8_t* start = tcp_ + at - 1;  // the preceding byte (the option's length) starts a word
    uint16_t oldWords[5];
    for (int i = 0; i < 5; ++i) {
        oldWords[i] = Load16(start + 2 * i);
    }
    Store32(tcp_ + at, tsVal);
    Store32(tcp_ + at + 4, tsEcr);
    for (int i = 0; i < 5; ++i) {
        const uint16_t now = Load16(start + 2 * i);
        if (now != oldWords[i]) {
            delta_.Replace16(oldWords[i], now);
        }
    }
}

void SegmentEditor::Commit() {
    if (delta_.Empty()) {
        return;
    }
    Store16(tcp_ + 16, delta_.Apply(Load16(tcp_ + 16)));
    delta_ = ChecksumDelta{};
}

bool ReadTimestamps(std::span<const uint8_t> frame, const FrameLayout& layout, uint32_t& tsVal,
                    uint32_t& tsEcr) {
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    const std::size_t at = FindTimestamp({tcp, layout.transportHeaderLength});
    if (at == kNoOption) {
        return false;
    }
    tsVal = Load32(tcp + at);
    tsEcr = Load32(tcp + at + 4);
    return true;
}

void ResizePayload(PacketBuffer& buffer, FrameLayout& layout, std::size_t payloadLength) {
    layout.payloadLength = payloadLength;
    layout.ipTotalLength = layout.ipHeaderLength + layout.transportHeaderLength + payloadLength;
    Store16(buffer.frame.data() + layout.ipOffset + 2, static_cast<uint16_t>(layout.ipTotalLength));
    buffer.length = static_cast<uint32_t>(layout.ipOffset + layout.ipTotalLength);
}

void SwapEnds(PacketBuffer& buffer, const FrameLayout& layout) {
    uint8_t* bytes = buffer.frame.data();
    std::swap_ranges(bytes, bytes + 6, bytes + 6);
    uint8_t* ip = bytes + layout.ipOffset;
    std::swap_ranges(ip + 12, ip + 16, ip + 16);
    uint8_t* tcp = bytes + layout.transportOffset;
    std::swap_ranges(tcp, tcp + 2, tcp + 2);
}

void TrimPayloadFront(PacketBuffer& buffer, FrameLayout& layout, std::size_t count) {
    count = std::min(count, layout.payloadLength);
    uint8_t* payload = buffer.frame.data() + layout.payloadOffset;
    std::memmove(payload, payload + count, layout.payloadLength - count);
    uint8_t* tcp = buffer.frame.data() + layout.transportOffset;
    Store32(tcp + 4, Load32(tcp + 4) + static_cast<uint32_t>(count));
    ResizePayload(buffer, layout, layout.payloadLength - count);
    UpdateChecksums(buffer, layout);
}

void UpdateChecksums(PacketBuffer& buffer, const FrameLayout& layout) {
    UpdateIpChecksum(buffer.Bytes(), layout);
    UpdateTcpChecksum(buffer.Bytes(), layout);
}

}  // namespace bramvell
