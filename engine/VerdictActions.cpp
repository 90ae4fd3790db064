// What happens to a collected message once it has been analysed: replay for good mail; for spam a
// deletion on the server in the client's name, an optional quarantine copy, and an error line for the
// client in place of the server's answer.
#include <algorithm>
#include <cstring>
#include <string>

#include "config/FilterSettings.h"
#include "engine/MessageTarget.h"
#include "engine/Pop3Interceptor.h"
#include "engine/VerdictEffects.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr std::size_t kMaxRememberedDeletions = 4096;

}  // namespace

void Pop3Interceptor::OnMessageClassified(Pop3Connection& connection, const MessageVerdict& verdict,
                                          FrameContext& frame) {
    connection.verdict = verdict;
    const VerdictOutcome outcome =
        ApplyVerdictEffects(settings_, target_, clock_, verdict, connection.held.Segments(),
                            connection.retrArgument.data(), !connection.replyCut);

    if (!verdict.isSpam) {
        connection.EnterPhase(Pop3Phase::Passing);
        replay_.Start(connection, frame.source, frame.adapter);
        return;
    }
    connection.spamAnswer = SpamAnswerFor(settings_, verdict, outcome);

    ReplacedAnswer& answer = connection.answer;
    answer.answerSeq = connection.expectedSeq;
    answer.cursor = answer.answerSeq;
    answer.errorClientSeq = connection.replyStartSeq + connection.server.toPeerOffset;
    connection.held.Clear();
    const std::string& command = outcome.command;
    if (outcome.deletedOnServer) {
        connection.deletedForClient = true;
        if (connection.deletedNumbers.size() < kMaxRememberedDeletions) {
            connection.deletedNumbers.push_back(connection.retrArgument);
        }
    }
    // The command follows the acknowledgement just sent, with the same numbers.
    connection.EnterPhase(Pop3Phase::AwaitingAnswer);
    SendOwnCommand(connection, frame.buffer.Bytes(), frame.layout, true, frame.source, frame.adapter,
                   {reinterpret_cast<const uint8_t*>(command.data()), command.size()}, kPsh | kAck, true);
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
