#include "engine/FrameEditor.h"

#include <algorithm>
#include <cstring>

namespace bramvell {

FrameEditor::FrameEditor(PacketBuffer& buffer, FrameLayout& layout)
    : frame_(buffer.frame.data()),
      layout_(&layout),
      tcp_(frame_ + layout.transportOffset),
      buffer_(&buffer),
      bufferLayout_(&layout) {}

FrameEditor::FrameEditor(std::span<uint8_t> frame, const FrameLayout& layout)
    : frame_(frame.data()), layout_(&layout), tcp_(frame_ + layout.transportOffset) {}

void FrameEditor::SetSequence(uint32_t value) {
    const uint32_t old = tcp_.Sequence();
    if (old != value) {
        delta_.Replace32(old, value);
        tcp_.SetSequence(value);
    }
}

void FrameEditor::SetAcknowledgement(uint32_t value) {
    const uint32_t old = tcp_.Acknowledgement();
    if (old != value) {
        delta_.Replace32(old, value);
        tcp_.SetAcknowledgement(value);
    }
}

void FrameEditor::SetWindow(uint16_t value) {
    const uint16_t old = tcp_.Window();
    if (old != value) {
        delta_.Replace16(old, value);
        tcp_.SetWindow(value);
    }
}

void FrameEditor::SetFlags(uint8_t value) {
    TcpHeader tcp = Tcp();
    const uint16_t old = tcp.OffsetAndFlags();
    tcp.SetFlags(value);
    if (tcp.OffsetAndFlags() != old) {
        delta_.Replace16(old, tcp.OffsetAndFlags());
    }
}

void FrameEditor::SetPorts(uint16_t source, uint16_t destination) {
    TcpHeader tcp = Tcp();
    delta_.Replace16(tcp.SourcePort(), source);
    delta_.Replace16(tcp.DestinationPort(), destination);
    tcp.SetSourcePort(source);
    tcp.SetDestinationPort(destination);
}

void FrameEditor::SetTimestamps(uint32_t tsVal, uint32_t tsEcr) {
    uint8_t* tcp = Tcp().data();
    const std::size_t at = FindTimestamp({tcp, layout().transportHeaderLength});
    if (at == kNoOption) {
        return;
    }
    if (at % 2 == 0) {
        Replace32At(tcp + at, tsVal);
        Replace32At(tcp + at + tcp_option::kTsEcrAfterTsVal, tsEcr);
        return;
    }
    // The option starts at an odd offset; the checksum sees the bytes as they fall on 16-bit word
    // boundaries, from the byte before it (the option's length).
    uint8_t* start = tcp + at - 1;
    constexpr int kWords = 5;
    uint16_t oldWords[kWords];
    for (int i = 0; i < kWords; ++i) {
        oldWords[i] = Load16(start + 2 * i);
    }
    Store32(tcp + at, tsVal);
    Store32(tcp + at + tcp_option::kTsEcrAfterTsVal, tsEcr);
    for (int i = 0; i < kWords; ++i) {
        const uint16_t now = Load16(start + 2 * i);
        if (now != oldWords[i]) {
            delta_.Replace16(oldWords[i], now);
        }
    }
}

void FrameEditor::Replace32At(uint8_t* field, uint32_t value) {
    const uint32_t old = Load32(field);
    if (old != value) {
        delta_.Replace32(old, value);
        Store32(field, value);
    }
}

void FrameEditor::SwapEnds() {
    EthernetHeader(frame_).SwapAddresses();
    SwapIpAddresses(Bytes(), layout());
    Tcp().SwapPorts();
    ipChanged_ = true;
    tcpReshaped_ = true;
}

void FrameEditor::KeepOnlyTimestamp() {
    if (bramvell::KeepOnlyTimestamp({Tcp().data(), layout().transportHeaderLength})) {
        tcpReshaped_ = true;
    }
}

void FrameEditor::StripSackBlocks() {
    if (bramvell::StripSackBlocks({Tcp().data(), layout().transportHeaderLength})) {
        tcpReshaped_ = true;
    }
}

void FrameEditor::TranslateSackBlocks(const SackTranslation& translation) {
    if (bramvell::TranslateSackBlocks({Tcp().data(), layout().transportHeaderLength}, translation)) {
        tcpReshaped_ = true;
    }
}

std::size_t FrameEditor::AddSackBlocks(std::span<const SackBlock> blocks) {
    if (bufferLayout_ == nullptr || blocks.empty() || layout().payloadLength != 0 ||
        layout().transportHeaderLength >= kMaxTcpHeaderLength) {
        return 0;
    }
    FrameLayout& layout = *bufferLayout_;
    uint8_t* headerEnd = frame_ + layout.payloadOffset;
    const std::size_t written =
        WriteSackOption({headerEnd, kMaxTcpHeaderLength - layout.transportHeaderLength}, blocks);
    if (written == 0) {
        return 0;
    }
    layout.transportHeaderLength += written;
    layout.payloadOffset += written;
    Tcp().SetHeaderLength(layout.transportHeaderLength);
    ResizePayload(0);
    return (written - 4) / 8;
}

void FrameEditor::ResizePayload(std::size_t payloadLength) {
    FrameLayout& layout = *bufferLayout_;
    layout.payloadLength = payloadLength;
    layout.ipTotalLength = layout.ipHeaderLength + layout.transportHeaderLength + payloadLength;
    buffer_->length = static_cast<uint32_t>(layout.ipOffset + layout.ipTotalLength);
    StoreIpLength(Bytes(), layout);
    ipChanged_ = true;
    tcpReshaped_ = true;
}

void FrameEditor::TrimPayloadFront(std::size_t count) {
    count = std::min(count, layout().payloadLength);
    uint8_t* payload = frame_ + layout().payloadOffset;
    std::memmove(payload, payload + count, layout().payloadLength - count);
    TcpHeader tcp = Tcp();
    tcp.SetSequence(tcp.Sequence() + static_cast<uint32_t>(count));
    ResizePayload(layout().payloadLength - count);
}

std::span<uint8_t> FrameEditor::Payload() {
    tcpReshaped_ = true;
    return {frame_ + layout().payloadOffset, layout().payloadLength};
}

void FrameEditor::Commit() {
    if (ipChanged_) {
        UpdateIpChecksum(Bytes(), layout());
    }
    if (tcpReshaped_) {
        UpdateTcpChecksum(Bytes(), layout());
    } else if (!delta_.Empty()) {
        tcp_.SetChecksum(delta_.Apply(tcp_.Checksum()));
    }
    delta_ = ChecksumDelta{};
    ipChanged_ = false;
    tcpReshaped_ = false;
}

void CopyIntoBuffer(PacketBuffer& buffer, std::span<const uint8_t> frame, PacketDirection direction) {
    std::memcpy(buffer.frame.data(), frame.data(), frame.size());
    buffer.length = static_cast<uint32_t>(frame.size());
    buffer.deviceFlags = direction;
}

}  // namespace bramvell
