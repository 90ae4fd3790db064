#include "bridge/Pop3StreamFilter.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "engine/AttachmentRenamer.h"
#include "engine/EarlyVerdict.h"
#include "engine/MessageAnalyzer.h"
#include "engine/MessageLineReader.h"
#include "engine/VerdictEffects.h"

namespace bramvell {
namespace {

constexpr std::size_t kMaxCapaLine = 4096;
constexpr std::size_t kMaxStreamedLine = 64 * 1024;  // longer lines name no attachment worth renaming
constexpr std::size_t kMaxRememberedDeletions = 4096;

std::string_view AsText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsStlsCapability(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.remove_suffix(1);
    }
    return line.size() == 4 && std::equal(line.begin(), line.end(), "STLS", [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
           });
}

}  // namespace

Pop3StreamFilter::Pop3StreamFilter(const Services& services, const Limits& limits)
    : services_(services), limits_(limits) {
    pending_.push_back({BridgeReply::Greeting, {}, {}});
}

void Pop3StreamFilter::FromClient(std::span<const uint8_t> bytes, Output& out) {
    std::string_view data = AsText(bytes);
    while (!data.empty()) {
        const std::size_t lf = data.find('\n');
        const std::string_view piece = data.substr(0, lf == std::string_view::npos ? data.size() : lf + 1);
        data.remove_prefix(piece.size());
        if (!clientLineOverlong_ && clientLine_.size() + piece.size() > limits_.maxClientLine) {
            // Too long for a command: it goes to the server as it is, and its answer passes.
            clientLineOverlong_ = true;
            out.toServer += clientLine_;
            clientLine_.clear();
        }
        if (clientLineOverlong_) {
            out.toServer += piece;
        } else {
            clientLine_ += piece;
        }
        if (lf == std::string_view::npos) {
            return;
        }
        if (clientLineOverlong_) {
            clientLineOverlong_ = false;
            if (!std::exchange(authAwaitingAnswer_, false)) {
                pending_.push_back({BridgeReply::SingleLine, {}, {}});
            }
            continue;
        }
        OnClientLine(clientLine_, out);
        clientLine_.clear();
    }
}

void Pop3StreamFilter::OnClientLine(std::string_view line, Output& out) {
    if (std::exchange(authAwaitingAnswer_, false)) {
        out.toServer += line;  // a SASL answer: no reply of its own beyond the next status line
        return;
    }
    CommandLine::Kind kind = CommandLine::Kind::Other;
    PendingReply reply = ShapeOfCommand(line, kind);
    const bool isQuit = kind == CommandLine::Kind::Quit;
    quitSent_ = quitSent_ || isQuit;
    if (isQuit && std::any_of(pending_.begin(), pending_.end(),
                              [](const PendingReply& p) { return p.shape == BridgeReply::Retrieval; })) {
        heldQuit_.assign(line);
        return;
    }
    if (kind == CommandLine::Kind::Delete &&
        std::find(deletedNumbers_.begin(), deletedNumbers_.end(), reply.argument) != deletedNumbers_.end()) {
        // Deleted in the client's name already: the server would refuse, and some clients end there.
        reply.shape = BridgeReply::Local;
        reply.localAnswer = "+OK deleted\r\n";
    }
    if (reply.shape != BridgeReply::Local) {
        out.toServer += line;
    }
    pending_.push_back(std::move(reply));
    AnswerLocalCommands(out);
}

void Pop3StreamFilter::SendHeldQuit(Output& out) {
    if (heldQuit_.empty() || std::any_of(pending_.begin(), pending_.end(), [](const PendingReply& p) {
            return p.shape == BridgeReply::Retrieval;
        })) {
        return;
    }
    out.toServer += heldQuit_;
    heldQuit_.clear();
    pending_.push_back({BridgeReply::SingleLine, {}, {}});
}

void Pop3StreamFilter::AnswerLocalCommands(Output& out) {
    while (!pending_.empty() && pending_.front().shape == BridgeReply::Local && phase_ == Phase::StatusLine &&
           lineLength_ == 0) {
        if (!clientGone_) {
            out.toClient += pending_.front().localAnswer;
        }
        pending_.pop_front();
    }
}

void Pop3StreamFilter::FromServer(std::span<const uint8_t> bytes, Output& out) {
    std::string_view data = AsText(bytes);
    while (!data.empty()) {
        if (pending_.empty()) {
            // Nothing asked: a server's parting line ("-ERR disconnected for inactivity") passes.
            if (!clientGone_) {
                out.toClient += data;
            }
            return;
        }
        data.remove_prefix(TakeReplyBytes(data, out));
    }
}

std::size_t Pop3StreamFilter::TakeReplyBytes(std::string_view data, Output& out) {
    const std::size_t lf = data.find('\n');
    const std::string_view piece = data.substr(0, lf == std::string_view::npos ? data.size() : lf + 1);
    if (phase_ == Phase::StatusLine && lineLength_ == 0) {
        BeginReply(piece.front());
    }
    if (lineHead_.size() < 3) {
        lineHead_.append(piece.substr(0, 3 - lineHead_.size()));
    }
    lineLength_ += piece.size();
    Emit(piece, lf != std::string_view::npos, out);
    if (lf != std::string_view::npos) {
        EndLine(out);
    }
    return piece.size();
}

void Pop3StreamFilter::BeginReply(char firstByte) {
    positive_ = firstByte == '+';
    const PendingReply& reply = pending_.front();
    switch (reply.shape) {
        case BridgeReply::Injected:
            sink_ = Sink::Hidden;
            break;
        case BridgeReply::Retrieval:
            // While the filter is off, or once the client is gone, retrievals pass untouched.
            if (positive_ && !clientGone_ && services_.settings.filterEnabled != 0) {
                sink_ = Sink::Held;
                held_.clear();
                judged_ = false;
                heldComplete_ = true;
            } else {
                sink_ = Sink::Client;
            }
            break;
        case BridgeReply::Capa:
            sink_ = Sink::CapaFilter;
            break;
        default:
            sink_ = Sink::Client;
            break;
    }
    if (clientGone_ && sink_ != Sink::Held) {
        sink_ = Sink::Hidden;
    }
}

void Pop3StreamFilter::Emit(std::string_view piece, bool lineEnds, Output& out) {
    switch (sink_) {
        case Sink::Client:
            out.toClient += piece;
            return;
        case Sink::Hidden:
        case Sink::Discard:
            return;
        case Sink::CapaFilter:
            if (phase_ == Phase::StatusLine || capaLine_.size() + piece.size() > kMaxCapaLine) {
                out.toClient += capaLine_;
                out.toClient += piece;
                capaLine_.clear();
                return;
            }
            capaLine_ += piece;
            if (lineEnds) {
                if (!IsStlsCapability(capaLine_)) {
                    out.toClient += capaLine_;
                }
                capaLine_.clear();
            }
            return;
        case Sink::Renaming:
            streamedLine_ += piece;
            if (lineEnds || streamedLine_.size() >= kMaxStreamedLine) {
                SendRenamedLine(lineEnds, out);
            }
            return;
        case Sink::Held:
            if (held_.size() + piece.size() > limits_.maxHeldBytes) {
                if (judged_) {
                    heldComplete_ = false;  // spam already: the rest is not needed but for the copy
                    sink_ = Sink::Discard;
                    return;
                }
                LogActivity(services_.settings,
                            "Message too large to check: passed to the mail client unfiltered\n",
                            services_.clock);
                PassHeldUnfiltered(out);
                out.toClient += piece;
                return;
            }
            held_ += piece;
            if (!judged_ &&
                DueForEarlyVerdict(held_.size(), static_cast<uint32_t>(limits_.earlyVerdictBytes)) &&
                lineEnds) {
                Judge(false, out);
            }
            return;
    }
}

void Pop3StreamFilter::EndLine(Output& out) {
    const bool terminator =
        (lineLength_ == 3 && lineHead_ == ".\r\n") || (lineLength_ == 2 && lineHead_ == ".\n");
    const bool continuation = lineHead_.size() >= 2 && lineHead_[0] == '+' &&
                              (lineHead_[1] == ' ' || lineHead_[1] == '\r' || lineHead_[1] == '\n');
    lineLength_ = 0;
    lineHead_.clear();
    if (phase_ == Phase::Body) {
        if (terminator) {
            if (sink_ == Sink::Held || sink_ == Sink::Discard) {
                Judge(true, out);
            }
            CompleteReply(out);
        }
        return;
    }
    const BridgeReply shape = pending_.front().shape;
    if (shape == BridgeReply::Auth && continuation) {
        authAwaitingAnswer_ = !clientGone_;
        return;
    }
    const bool multiLine = positive_ && (shape == BridgeReply::Retrieval ||
                                         shape == BridgeReply::MultiLineIfOk || shape == BridgeReply::Capa);
    if (multiLine) {
        phase_ = Phase::Body;
        return;
    }
    if (sink_ == Sink::Held) {
        out.toClient += held_;  // cannot happen for "+OK"; kept safe for any other positive line
        held_.clear();
    }
    CompleteReply(out);
}

void Pop3StreamFilter::CompleteReply(Output& out) {
    pending_.pop_front();
    phase_ = Phase::StatusLine;
    sink_ = Sink::Client;
    capaLine_.clear();
    streamedLine_.clear();
    SendHeldQuit(out);
    AnswerLocalCommands(out);
}

void Pop3StreamFilter::Judge(bool complete, Output& out) {
    if (judged_) {
        ActOnSpam(out);
        return;
    }
    if (!complete) {
        LogEarlyVerdict(services_.settings, services_.clock, held_.size());
    }
    {
        std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(held_.data()), held_.size());
        MessageLineReader reader(bytes);
        AttachmentRenamer renamer(reader, services_.settings, services_.clock);
        verdict_ = services_.analyzer.Analyze(reader, renamer);
    }
    judged_ = true;
    if (verdict_.isSpam) {
        if (complete) {
            ActOnSpam(out);
        }
        return;  // judged early: the rest is collected for the quarantine copy
    }
    ApplyVerdictEffects(services_.settings, services_.target, services_.clock, verdict_, {},
                        pending_.front().argument);  // good mail: the main window hears of it
    out.toClient += held_;
    held_.clear();
    held_.shrink_to_fit();
    // The rest of a large message streams on, renamed line by line when attachments are renamed.
    sink_ = services_.settings.renameAttachments != 0 ? Sink::Renaming : Sink::Client;
}

void Pop3StreamFilter::SendRenamedLine(bool lineEnds, Output& out) {
    if (lineEnds) {
        std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(streamedLine_.data()), streamedLine_.size());
        MessageLineReader reader(bytes);
        AttachmentRenamer renamer(reader, services_.settings, services_.clock);
        MessageLine line;
        if (reader.NextLine(line)) {
            renamer.Rename(line);
        }
    }
    out.toClient += streamedLine_;  // a line too long to hold whole goes on as it is
    streamedLine_.clear();
}

void Pop3StreamFilter::ActOnSpam(Output& out) {
    std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(held_.data()), held_.size());
    const HeldSegment reply[] = {PlainBytesSegment(bytes)};
    const VerdictOutcome outcome =
        ApplyVerdictEffects(services_.settings, services_.target, services_.clock, verdict_, reply,
                            pending_.front().argument, heldComplete_);
    held_.clear();
    held_.shrink_to_fit();
    out.toServer += outcome.command;
    // Behind every command the server has already: it answers them first.
    pending_.push_back({BridgeReply::Injected, {}, {}});
    if (outcome.deletedOnServer) {
        deleteSent_ = true;
        if (deletedNumbers_.size() < kMaxRememberedDeletions) {
            deletedNumbers_.push_back(pending_.front().argument);
        }
    }
    out.toClient += SpamAnswerFor(services_.settings, verdict_, outcome);
}

void Pop3StreamFilter::PassHeldUnfiltered(Output& out) {
    out.toClient += held_;
    held_.clear();
    held_.shrink_to_fit();
    sink_ = Sink::Client;
}

void Pop3StreamFilter::OnClientGone(Output& out) {
    if (clientGone_) {
        return;
    }
    clientGone_ = true;
    authAwaitingAnswer_ = false;
    if (sink_ == Sink::Held || sink_ == Sink::Discard) {
        // Nobody will read this message: nothing is acted on for it.
        held_.clear();
        sink_ = Sink::Hidden;
    }
    if (!heldQuit_.empty()) {
        return;  // goes out once the retrievals before it are answered
    }
    if (deleteSent_ && !quitSent_) {
        LogActivity(services_.settings,
                    "The mail client left without QUIT: QUIT sent to the server so that the deletion holds\n",
                    services_.clock);
        out.toServer += "QUIT\r\n";
        pending_.push_back({BridgeReply::Injected, {}, {}});
        quitSent_ = true;
    }
}

void Pop3StreamFilter::OnServerGone(Output& out) {
    if (sink_ == Sink::Held && !judged_ && !clientGone_) {
        out.toClient += held_;  // the reply as far as it came, as the engine releases what it holds
    }
    held_.clear();
    pending_.clear();
    phase_ = Phase::StatusLine;
    sink_ = Sink::Client;
}

}  // namespace bramvell
