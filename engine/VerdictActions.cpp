// What happens to a collected message once it has been analysed: replay for good mail; for spam a
// deletion on the server in the client's name, an optional quarantine copy, and an error line for the
// client in place of the server's answer.
#include <algorithm>
#include <cstring>
#include <string>

#include "config/FilterSettings.h"
#include "engine/ErrorReply.h"
#include "engine/MessageTarget.h"
#include "engine/Pop3Interceptor.h"
#include "engine/VerdictEffects.h"

namespace bramvell {

using namespace tcp_flags;

void Pop3Interceptor::OnMessageClassified(Pop3Connection& connection, const MessageVerdict& verdict,
                                          FrameContext& frame) {
    connection.verdict = verdict;
    const std::string command = ApplyVerdictEffects(settings_, target_, clock_, verdict, connection.held.Segments(),
                                                    connection.retrArgument.data());
    if (!verdict.isSpam) {
        connection.EnterPhase(Pop3Phase::Passing);
        replay_.Start(connection, frame.source, frame.adapter);
        return;
    }
    ReplacedAnswer& answer = connection.answer;
    answer.answerSeq = connection.expectedSeq;
    answer.cursor = answer.answerSeq;
    answer.errorClientSeq = connection.replyStartSeq + connection.server.toPeerOffset;
    connection.held.Clear();
    SendInjectedCommand(connection, frame, command);
}

// The command follows the acknowledgement just sent, with the same numbers.
void Pop3Interceptor::SendInjectedCommand(Pop3Connection& connection, FrameContext& frame,
                                          std::string_view command) {
    const PacketBuffer& out = ownFrames_.ToServer(frame.buffer.Bytes(), frame.layout, connection,
                                                  connection.expectedSeq, kPsh | kAck, command);
    connection.EnterPhase(Pop3Phase::AwaitingAnswer);

    InjectedCommand& injected = connection.injected;
    injected.frame.assign(out.Bytes().begin(), out.Bytes().end());
    injected.endSeq = connection.server.ack + static_cast<uint32_t>(command.size());
    injected.lastSendTick = ticks_.NowMilliseconds();
    injected.timeoutMs = limits_.initialTimeoutMs;
    injected.timeouts = 0;
    injected.pending = true;
    // From now on the server's view of the client's stream holds these extra bytes.
    connection.client.toPeerOffset += static_cast<uint32_t>(command.size());
    frame.source.SendPacketToAdapter(frame.adapter, out);
}

void Pop3Interceptor::OnInjectedTimer(Pop3Connection& connection, uint64_t now, PacketSource& source,
                                      AdapterHandle adapter) {
    InjectedCommand& injected = connection.injected;
    if (!injected.pending || connection.closedAtMinute != 0 ||
        now - injected.lastSendTick < injected.timeoutMs) {
        return;
    }
    if (++injected.timeouts > limits_.maxTimeouts) {
        injected.pending = false;
        return;
    }
    source.SendPacketToAdapter(adapter, ownFrames_.Copy(injected.frame, PacketDirection::Outbound));
    injected.lastSendTick = now;
    injected.timeoutMs = std::min(injected.timeoutMs * 2, limits_.maxTimeoutMs);
}

}  // namespace bramvell
