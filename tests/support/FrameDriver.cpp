#include "support/FrameDriver.h"

#include <cstring>
#include <filesystem>

#include "engine/Frame.h"

namespace bramvell::testing {

std::vector<uint8_t> BuildSegment(const SegmentSpec& spec) {
    std::vector<uint8_t> options = spec.options;
    while (options.size() % 4 != 0) {
        options.push_back(1);
    }
    const std::size_t tcpLength = 20 + options.size();
    std::vector<uint8_t> frame(14 + 20 + tcpLength + spec.payload.size(), 0);
    uint8_t* f = frame.data();
    const uint8_t clientMac[6] = {2, 0, 0, 0, 0, 1};
    const uint8_t serverMac[6] = {2, 0, 0, 0, 0, 2};
    const bool fromClient = spec.destinationPort == 110;
    std::memcpy(f, fromClient ? serverMac : clientMac, 6);
    std::memcpy(f + 6, fromClient ? clientMac : serverMac, 6);
    Store16(f + 12, kEtherTypeIpv4);
    uint8_t* ip = f + 14;
    ip[0] = 0x45;
    Store16(ip + 2, static_cast<uint16_t>(20 + tcpLength + spec.payload.size()));
    Store16(ip + 6, 0x4000);
    ip[8] = 64;
    ip[9] = kProtocolTcp;
    Store32(ip + 12, spec.sourceIp);
    Store32(ip + 16, spec.destinationIp);
    uint8_t* tcp = ip + 20;
    Store16(tcp, spec.sourcePort);
    Store16(tcp + 2, spec.destinationPort);
    Store32(tcp + 4, spec.seq);
    Store32(tcp + 8, spec.ack);
    tcp[12] = static_cast<uint8_t>((tcpLength / 4) << 4);
    tcp[13] = spec.flags;
    Store16(tcp + 14, spec.window);
    if (!options.empty()) {
        std::memcpy(tcp + 20, options.data(), options.size());
    }
    std::memcpy(tcp + tcpLength, spec.payload.data(), spec.payload.size());
    FrameLayout layout;
    ParseFrame(frame, layout);
    UpdateIpChecksum(frame, layout);
    UpdateTcpChecksum(frame, layout);
    return frame;
}

SegmentView ViewSegment(const std::vector<uint8_t>& frame) {
    SegmentView view;
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return view;
    }
    view.valid = ChecksumsValid(frame, layout) && layout.ipOffset + layout.ipTotalLength == frame.size();
    const uint8_t* ip = frame.data() + layout.ipOffset;
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    view.sourceIp = Load32(ip + 12);
    view.destinationIp = Load32(ip + 16);
    view.sourcePort = Load16(tcp);
    view.destinationPort = Load16(tcp + 2);
    view.seq = Load32(tcp + 4);
    view.ack = Load32(tcp + 8);
    view.flags = tcp[13];
    view.window = Load16(tcp + 14);
    view.payload.assign(reinterpret_cast<const char*>(frame.data() + layout.payloadOffset),
                        layout.payloadLength);
    view.length = frame.size();
    return view;
}

FrameDriver::FrameDriver() {
    settings.programFolder = folder.path();
    settings.SetDefaults();
    settings.mainWindow = &target;
    std::filesystem::create_directories(folder / "quarantine");
    std::filesystem::create_directories(folder / "log");
    settings.SetQuarantineFolder(folder / "quarantine");
    settings.SetLogFolder(folder / "log");
}

FrameDriver::Result FrameDriver::Frame(PacketDirection direction, const std::vector<uint8_t>& bytes) {
    PacketBuffer buffer;
    buffer.deviceFlags = direction;
    buffer.length = static_cast<uint32_t>(bytes.size());
    std::memcpy(buffer.frame.data(), bytes.data(), bytes.size());
    FrameLayout layout;
    Result result;
    if (ParseFrame(buffer.Bytes(), layout) == FrameKind::Tcp) {
        FrameContext context{buffer, layout, result.dropped, source, 1};
        if (direction == PacketDirection::Outbound) {
            engine.OnClientSegment(context);
        } else {
            engine.OnServerSegment(context);
        }
    }
    result.direction = buffer.deviceFlags;
    result.bytes.assign(buffer.Bytes().begin(), buffer.Bytes().end());
    result.frame = ViewSegment(result.bytes);
    result.sent = source.TakeSent();
    return result;
}

FrameDriver::Result FrameDriver::Client(uint32_t seq, uint32_t ack, const std::string& payload, uint8_t flags,
                                        uint16_t window, uint16_t port) {
    return Frame(PacketDirection::Outbound,
                 BuildSegment({kClient, kServer, port, 110, seq, ack, flags, window, payload, {}}));
}

FrameDriver::Result FrameDriver::Server(uint32_t seq, uint32_t ack, const std::string& payload, uint8_t flags,
                                        uint16_t window, uint16_t port) {
    return Frame(PacketDirection::Inbound,
                 BuildSegment({kServer, kClient, 110, port, seq, ack, flags, window, payload, {}}));
}

void FrameDriver::Handshake(uint32_t clientIsn, uint32_t serverIsn, uint16_t port) {
    Client(clientIsn, 0, "", 0x02, 4000, port);
    Server(serverIsn, clientIsn + 1, "", 0x12, 6000, port);
    Client(clientIsn + 1, serverIsn + 1, "", 0x10, 4000, port);
}

std::vector<MemoryPacketSource::SentFrame> FrameDriver::Idle() {
    engine.OnIdle(source, 1);
    return source.TakeSent();
}

}  // namespace bramvell::testing
