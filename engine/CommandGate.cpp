// The client's commands go to the server one at a time: a client that sends several at once (pipelining)
// has the rest queued, and each goes on once the server is done with the one before. The server's replies
// then never run into each other, and every retrieval among them is collected and judged on its own.
#include <cstring>

#include "config/FilterSettings.h"
#include "engine/FrameEditor.h"
#include "engine/Pop3Interceptor.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

// Bytes that go on at a time once the stream is no longer read as POP3 lines.
constexpr std::size_t kOpaqueChunk = 1024;
// A longer line is not a POP3 command (they are at most 255 bytes): the stream is then passed as it is.
constexpr std::size_t kMaxCommandLine = 1024;

constexpr uint8_t kQuit[] = {'Q', 'U', 'I', 'T', '\r', '\n'};

bool IsOneWholeLine(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.back() != '\n') {
        return false;
    }
    return std::memchr(bytes.data(), '\n', bytes.size() - 1) == nullptr;
}

}  // namespace

bool Pop3Interceptor::ReadyForCommand(const Pop3Connection& connection) {
    return connection.phase() == Pop3Phase::Passing && !connection.replies.Awaiting();
}

bool Pop3Interceptor::TakeClientData(Pop3Connection& connection, FrameContext& frame) {
    if (connection.opaque && connection.commands.Empty()) {
        return true;
    }
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const uint32_t seq = tcp.Sequence();
    const std::span<const uint8_t> payload = tcp.Payload();
    const uint32_t forwarded = connection.clientForwardedSeq;
    const uint32_t queuedEnd = forwarded + static_cast<uint32_t>(connection.commands.Size());
    if (!SeqAfter(seq, queuedEnd)) {
        const std::size_t known = queuedEnd - seq;
        const std::span<const uint8_t> fresh =
            known < payload.size() ? payload.subspan(known) : payload.last(0);
        if (connection.commands.Empty() && seq == forwarded && !connection.opaque &&
            ReadyForCommand(connection) && IsOneWholeLine(payload)) {
            return true;  // the common case: one command, the server waiting for it
        }
        if (!fresh.empty() && connection.commands.Append(fresh)) {
            if (connection.commandsWaitingSince == 0) {
                connection.commandsWaitingSince = ticks_.NowMilliseconds();
            }
            connection.clientModel.assign(frame.buffer.frame.data(),
                                          frame.buffer.frame.data() + frame.layout.payloadOffset);
            connection.clientModelLayout = frame.layout;
            connection.clientModelLayout.payloadLength = 0;
        }
        // Bytes that do not fit are sent again by the client once the queue has room.
    }
    // What stays is the part that had gone on before (a copy sent again), or nothing.
    const std::size_t before =
        SeqAfter(forwarded, seq) ? std::min<std::size_t>(forwarded - seq, payload.size()) : 0;
    FrameEditor edit(frame.buffer, frame.layout);
    if (before == 0) {
        edit.SetSequence(forwarded);
    }
    edit.ResizePayload(before);
    return false;
}

void Pop3Interceptor::OnCommandForwarded(Pop3Connection& connection, const CommandLine& command) {
    if (connection.opaque) {
        return;
    }
    switch (command.kind) {
        case CommandLine::Kind::Quit:
            connection.quitForwarded = true;
            break;
        case CommandLine::Kind::StartTls:
            // What follows a positive answer is TLS; the engine cannot read it, so it only passes it on.
            connection.opaque = true;
            return;
        case CommandLine::Kind::Retrieval:
            if (settings_.filterEnabled != 0 && !stopping_ && !keys_.IsPauseKeyHeld() &&
                connection.phase() == Pop3Phase::Passing) {
                connection.EnterPhase(Pop3Phase::Collecting);
                connection.judgedEarly = false;
                connection.streamSendable = static_cast<std::size_t>(-1);
                connection.streamRenameFrom = 0;
                connection.replyCut = false;
                connection.expectedSeq = connection.replies.cursor();
                connection.replyStartSeq = connection.expectedSeq;
                connection.retrArgument.fill('\0');
                std::memcpy(connection.retrArgument.data(), command.messageNumber.data(),
                            command.messageNumber.size());
                connection.held.Clear();
                connection.outOfOrder.Clear();
                return;
            }
            break;
        case CommandLine::Kind::Delete:
        case CommandLine::Kind::Other:
            break;
    }
    connection.replies.Await(command.reply);
}

bool Pop3Interceptor::AnswerDeletedAgain(Pop3Connection& connection, std::span<const uint8_t> model,
                                         const FrameLayout& layout, bool modelFromServer,
                                         PacketSource& source, AdapterHandle adapter, std::size_t lineLength,
                                         const CommandLine& command) {
    if (command.kind != CommandLine::Kind::Delete) {
        return false;
    }
    bool deleted = false;
    for (const auto& number : connection.deletedNumbers) {
        deleted = deleted || std::string_view(number.data()) == command.messageNumber;
    }
    if (!deleted) {
        return false;
    }
    static constexpr uint8_t kAnswer[] = {'+', 'O', 'K', ' ', 'd', 'e', 'l', 'e', 't', 'e', 'd', '\r', '\n'};
    // The client's line never reaches the server, and the answer takes its place in the server's stream.
    connection.clientForwardedSeq += static_cast<uint32_t>(lineLength);
    connection.client.toPeerOffset -= static_cast<uint32_t>(lineLength);
    const uint32_t seq = connection.replies.cursor() + connection.server.toPeerOffset;
    connection.server.toPeerOffset += sizeof(kAnswer);
    source.SendPacketToMstcp(adapter, ownFrames_.AnswerToClient(model, layout, modelFromServer, connection,
                                                                seq, connection.clientForwardedSeq, kAnswer));
    return true;
}

void Pop3Interceptor::SendOwnCommand(Pop3Connection& connection, std::span<const uint8_t> model,
                                     const FrameLayout& layout, bool modelFromServer, PacketSource& source,
                                     AdapterHandle adapter, std::span<const uint8_t> bytes, uint8_t flags,
                                     bool engineBytes) {
    const uint32_t seq = connection.clientForwardedSeq + connection.client.toPeerOffset;
    const PacketBuffer& out = ownFrames_.CommandToServer(model, layout, modelFromServer, connection, seq,
                                                         connection.serverAckEdge, flags, bytes);
    InjectedCommand& injected = connection.injected;
    injected.frame.assign(out.Bytes().begin(), out.Bytes().end());
    injected.layout = ownFrames_.layout();
    injected.endSeq = seq + static_cast<uint32_t>(bytes.size()) + ((flags & kFin) != 0 ? 1 : 0);
    injected.lastSendTick = ticks_.NowMilliseconds();
    injected.timeoutMs = limits_.initialTimeoutMs;
    injected.timeouts = 0;
    injected.pending = true;
    if (engineBytes) {
        // From now on the server's view of the client's stream holds these extra bytes.
        connection.client.toPeerOffset += static_cast<uint32_t>(bytes.size());
    } else {
        connection.clientForwardedSeq += static_cast<uint32_t>(bytes.size());
    }
    source.SendPacketToAdapter(adapter, out);
}

void Pop3Interceptor::ReleaseQueuedCommand(Pop3Connection& connection, FrameContext& frame,
                                           bool modelFromServer) {
    if (connection.phase() != Pop3Phase::Passing) {
        return;
    }
    CommandQueue& commands = connection.commands;
    const std::span<const uint8_t> model = frame.buffer.Bytes();
    if (connection.opaque) {
        if (!commands.Empty() && !connection.injected.pending) {
            const std::span<const uint8_t> chunk =
                commands.All().first(std::min(commands.Size(), kOpaqueChunk));
            const bool last = chunk.size() == commands.Size();
            const bool fin = last && connection.heldEnd == kFin;
            SendOwnCommand(connection, model, frame.layout, modelFromServer, frame.source, frame.adapter,
                           chunk, static_cast<uint8_t>(kPsh | kAck | (fin ? kFin : 0)), false);
            commands.PopFront(chunk.size());
            if (fin) {
                connection.heldEnd = 0;
            }
        }
        return;
    }
    if (connection.replies.Awaiting()) {
        return;
    }
    const std::span<const uint8_t> line = commands.FrontLine();
    if (line.empty()) {
        if (commands.Size() > kMaxCommandLine) {
            connection.opaque = true;  // not POP3 lines: passed on as they are
            ReleaseQueuedCommand(connection, frame, modelFromServer);
        } else if (commands.Empty() && connection.heldEnd != 0) {
            EndClientStream(connection, frame, modelFromServer);
        }
        return;
    }
    const CommandLine command = ParseCommandLine(line);
    if (AnswerDeletedAgain(connection, model, frame.layout, modelFromServer, frame.source, frame.adapter,
                           line.size(), command)) {
        commands.PopFront(line.size());
        ReleaseQueuedCommand(connection, frame,
                             modelFromServer);  // nothing went to the server: on to the next
        return;
    }
    const bool last = line.size() == commands.Size();
    const bool quitAfter = command.kind == CommandLine::Kind::Quit || connection.quitForwarded;
    const bool fin = last && connection.heldEnd == kFin && (quitAfter || !connection.deletedForClient);
    SendOwnCommand(connection, model, frame.layout, modelFromServer, frame.source, frame.adapter, line,
                   static_cast<uint8_t>(kPsh | kAck | (fin ? kFin : 0)), false);
    OnCommandForwarded(connection, command);  // reads the line, so before it leaves the queue
    commands.PopFront(line.size());
    connection.commandsWaitingSince = commands.Empty() ? 0 : ticks_.NowMilliseconds();
    if (fin) {
        connection.heldEnd = 0;
    }
}

void Pop3Interceptor::EndClientStream(Pop3Connection& connection, FrameContext& frame, bool modelFromServer) {
    if (NeedsQuit(connection)) {
        StartQuit(connection, frame, modelFromServer);
        return;
    }
    const uint8_t end = connection.heldEnd;
    connection.heldEnd = 0;
    SendOwnCommand(connection, frame.buffer.Bytes(), frame.layout, modelFromServer, frame.source,
                   frame.adapter, {}, static_cast<uint8_t>(end | kAck), false);
}

void Pop3Interceptor::StartQuit(Pop3Connection& connection, FrameContext& frame, bool modelFromServer) {
    Log("The mail client left without QUIT: QUIT sent to the server so that the deletion holds\n");
    // A reset carries no timestamps, which the server would insist on: the "DELE" frame serves instead.
    const InjectedCommand& dele = connection.injected;
    const bool useDele = !modelFromServer && !dele.frame.empty();
    const std::vector<uint8_t> model = useDele ? dele.frame : std::vector<uint8_t>();
    SendOwnCommand(connection, useDele ? std::span<const uint8_t>(model) : frame.buffer.Bytes(),
                   useDele ? dele.layout : frame.layout, modelFromServer, frame.source, frame.adapter, kQuit,
                   kPsh | kAck, true);
    connection.quitForwarded = true;
    connection.replies.Await(ReplyShape::SingleLine);
    connection.quitDeadline = ticks_.NowMilliseconds() + limits_.quitAnswerWaitMs;
    connection.EnterPhase(Pop3Phase::Quitting);
}

void Pop3Interceptor::FinishQuit(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
    const uint8_t end = connection.heldEnd != 0 ? connection.heldEnd : kFin;
    connection.heldEnd = 0;
    const InjectedCommand& quit = connection.injected;
    const uint32_t ack = SeqMax(connection.serverAckEdge, connection.replies.cursor());
    connection.serverAckEdge = ack;
    const uint32_t seq = connection.clientForwardedSeq + connection.client.toPeerOffset;
    source.SendPacketToAdapter(
        adapter, ownFrames_.EndAfter(quit.frame, quit.layout, seq, ack, static_cast<uint8_t>(end | kAck)));
    connection.injected.pending = false;
    connection.replies.Reset(connection.replies.cursor());
    connection.EnterPhase(Pop3Phase::Passing);
    if (end == kRst) {
        StampClosed(connection);
    }
}

// The answer to the engine's "QUIT" (and whatever of an earlier reply the client left behind) is taken
// in the client's name and kept from it; the client's end follows once the answer is complete.
void Pop3Interceptor::ServerWhileQuitting(Pop3Connection& connection, FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    const uint32_t cursor = connection.replies.cursor();
    if (length > 0 && SeqAfter(seq, cursor)) {
        frame.dropMark = true;  // beyond a gap: the server sends the missing part again
        return;
    }
    if (length > 0 && SeqAfter(seq + length, cursor)) {
        const uint32_t fresh = seq + length - cursor;
        connection.replies.Feed(tcp.Payload().subspan(cursor - seq));
        connection.server.toPeerOffset -= fresh;  // these bytes never reach the client
    }
    const bool serverEnds = (tcp.Flags() & kFin) != 0;
    if (connection.replies.Awaiting() && !serverEnds) {
        AcknowledgeToServer(connection, frame, connection.replies.cursor());
        return;
    }
    const bool clientListens = connection.heldEnd == kFin;
    FinishQuit(connection, frame.source, frame.adapter);  // its FIN acknowledges the answer
    if (serverEnds && clientListens) {
        // The server's end reaches the client (still reading after its FIN), without the answer.
        FrameEditor(frame.buffer, frame.layout).TrimPayloadFront(length);
        TranslateServerSegment(connection, frame);
        return;
    }
    frame.dropMark = true;
}

void Pop3Interceptor::OnClientReset(Pop3Connection& connection, FrameContext& frame) {
    connection.commands.Clear();
    const bool answerLineOpen =
        connection.answer.lineOpen && (connection.phase() == Pop3Phase::DeliveringErrorReply ||
                                       connection.phase() == Pop3Phase::ErrorReplyDelivered);
    Abandon(connection);
    if (!NeedsQuit(connection)) {
        // The server must learn that the client is gone (it holds the mailbox locked until then).
        TranslateClientSegment(connection, frame);
        return;
    }
    if (answerLineOpen) {
        connection.replies.SetCursor(connection.answer.cursor);
        connection.replies.AwaitFirst(ReplyShape::SingleLine);  // the rest of the deletion's answer
    }
    connection.heldEnd = kRst;
    frame.dropMark = true;
    StartQuit(connection, frame, false);
}

bool Pop3Interceptor::FollowPassingReply(Pop3Connection& connection, const TcpFrame& tcp) {
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    const uint32_t cursor = connection.replies.cursor();
    if (length == 0 || connection.opaque || !SeqAfter(seq + length, cursor)) {
        return true;  // nothing new to read
    }
    if (SeqAfter(seq, cursor)) {
        if (connection.replies.Awaiting()) {
            return false;
        }
        connection.replies.SetCursor(seq + length);
        return true;
    }
    connection.replies.Feed(tcp.Payload().subspan(cursor - seq));
    return true;
}

void Pop3Interceptor::HandHeldReplyToScanner(Pop3Connection& connection) {
    ReplyScanner& replies = connection.replies;
    replies.SetCursor(connection.replyStartSeq);
    replies.AwaitFirst(ReplyShape::MultiLineIfPositive);
    if (connection.phase() == Pop3Phase::Streaming) {
        // Its start is gone (delivered): a positive status line, then its last bytes, read inside a line
        // so that a "." among them is not taken for the start of the end line.
        static constexpr uint8_t kInsideBody[] = {'+', 'O', 'K', '\r', '\n', 'x'};
        replies.Feed(kInsideBody);
        replies.Feed(connection.held.Tail());
    } else {
        for (const HeldSegment& segment : connection.held.Segments()) {
            replies.Feed(segment.Payload());
        }
    }
    replies.SetCursor(connection.expectedSeq);
}

void Pop3Interceptor::OnCommandTimers(Pop3Connection& connection, uint64_t now, PacketSource& source,
                                      AdapterHandle adapter) {
    if (connection.phase() == Pop3Phase::Quitting && now >= connection.quitDeadline) {
        FinishQuit(connection, source, adapter);
        return;
    }
    // A reply that never seemed to end while the server has said everything it had and the client has
    // it all: the reply was of a shape the engine did not expect, and the waiting command goes on.
    if (connection.phase() != Pop3Phase::Passing || connection.commands.Empty() ||
        !connection.replies.Awaiting() || connection.clientModel.empty() ||
        now - connection.commandsWaitingSince < limits_.unfollowedReplyMs ||
        connection.server.highestSeq != connection.replies.cursor() ||
        SeqBefore(ClientAckToServer(connection, connection.client.ack), connection.replies.cursor())) {
        return;
    }
    Log("A server reply could not be followed; the next command goes on\n");
    connection.replies.Reset(connection.replies.cursor());
    PacketBuffer model;
    CopyIntoBuffer(model, connection.clientModel, PacketDirection::Outbound);
    FrameLayout layout = connection.clientModelLayout;
    bool dropMark = false;
    FrameContext frame{model, layout, dropMark, source, adapter};
    ReleaseQueuedCommand(connection, frame, false);
}

}  // namespace bramvell
