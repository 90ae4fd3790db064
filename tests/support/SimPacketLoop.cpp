#include "support/SimPacketLoop.h"

#include "engine/Pop3Connection.h"

namespace bramvell::sim {

void SimPacketLoop::Turn() {
    handler_.SweepClosedConnections();
    while (source_.ReadPacket(adapter_, buffer_)) {
        bool dropMark = false;
        if (ParseFrame(buffer_.Bytes(), layout_) == FrameKind::Tcp && settings_.filterEnabled != 0) {
            TcpFrame tcp(buffer_.Bytes(), layout_);
            FrameContext frame{buffer_, layout_, dropMark, source_, adapter_};
            if (buffer_.deviceFlags == PacketDirection::Outbound && tcp.DestinationPort() == kPop3Port) {
                handler_.OnClientSegment(frame);
            } else if (buffer_.deviceFlags == PacketDirection::Inbound && tcp.SourcePort() == kPop3Port) {
                handler_.OnServerSegment(frame);
            }
        }
        if (dropMark) {
            source_.DropPacket(adapter_, buffer_);
        } else if (buffer_.deviceFlags == PacketDirection::Outbound) {
            source_.SendPacketToAdapter(adapter_, buffer_);
        } else {
            source_.SendPacketToMstcp(adapter_, buffer_);
        }
    }
    handler_.OnIdle(source_, adapter_);
}

}  // namespace bramvell::sim
