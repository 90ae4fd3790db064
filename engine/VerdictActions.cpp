// What happens to a collected message once it has been analysed: replay for good mail; for spam a
// deletion on the server in the client's name, an optional quarantine copy, and an error line for the
// client in place of the server's answer.
#include <algorithm>
#include <cstring>
#include <string>

#include "config/FilterSettings.h"
#include "engine/SpamAnswer.h"
#include "engine/MessageTarget.h"
#include "engine/Pop3Interceptor.h"
#include "engine/QuarantineFile.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr std::size_t kMaxRememberedDeletions = 4096;

}  // namespace

void Pop3Interceptor::OnMessageClassified(Pop3Connection& connection, const MessageVerdict& verdict,
                                          FrameContext& frame) {
    connection.verdict = verdict;
    target_.PostClassified(verdict);

    if (!verdict.isSpam) {
        connection.EnterPhase(Pop3Phase::Passing);
        replay_.Start(connection, frame.source, frame.adapter);
        return;
    }

    bool deleteOnServer = true;
    std::string quarantinePath;
    if (settings_.quarantineEnabled != 0) {
        QuarantineFile file;
        const bool created = file.Create(settings_.QuarantineFolder(), clock_.Now());
        Log("Saving message to Quarantine folder: " + file.path() + "\n");
        if (!created || !file.Write(connection.held.Segments())) {
            // No copy, no deletion: the user asked to keep what is filtered.
            Log("The quarantine copy could not be written; the message was left on the server\n");
            deleteOnServer = false;
        } else {
            quarantinePath = file.path();
        }
    }
    SpamAnswerParts parts;
    parts.notice = settings_.spamAnswerNotice != 0;
    parts.deletedOnServer = deleteOnServer;
    parts.quarantinePath = quarantinePath;
    connection.spamAnswer = BuildSpamAnswer(verdict, parts);

    ReplacedAnswer& answer = connection.answer;
    answer.answerSeq = connection.expectedSeq;
    answer.cursor = answer.answerSeq;
    answer.errorClientSeq = connection.replyStartSeq + connection.server.toPeerOffset;
    connection.held.Clear();
    std::string command = "NOOP\r\n";
    if (deleteOnServer) {
        command = "DELE ";
        command += connection.retrArgument.data();
        command += "\r\n";
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
