#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/Pop3Command.h"
#include "config/Clock.h"
#include "engine/MessageVerdict.h"

namespace bramvell {

class FilterSettings;
class MessageAnalyzer;
class MessageTarget;

struct Pop3StreamLimits {
    std::size_t maxHeldBytes = 64u << 20;  // one message; a larger one passes unfiltered
    std::size_t earlyVerdictBytes = 1u
                                    << 20;  // a reply growing past this is judged on what is held (0: never)
    std::size_t maxClientLine = 64u << 10;  // a longer client line passes uninterpreted
};

// The POP3 stream between a mail client and its server as the TLS bridge sees it, with no transport:
// bytes in from either side, bytes out to either side. Replies are paired with the client's commands
// through a queue (pipelined batches included); each whole-message retrieval is collected, analysed
// and acted on as the packet engine does: good mail goes on unchanged (attachments renamed when that
// is on), spam is "DELE"d in the client's name (the answer kept from the client), copied to the
// quarantine and answered with the spam answer. A reply that grows past the early-verdict size is
// judged on what is held; good mail then streams on.
class Pop3StreamFilter {
  public:
    struct Services {
        FilterSettings& settings;
        MessageAnalyzer& analyzer;
        MessageTarget& target;
        const Clock& clock;
    };
    using Limits = Pop3StreamLimits;
    // What goes out after one call; appended to, the caller sends and clears it.
    struct Output {
        std::string toClient;
        std::string toServer;
    };

    explicit Pop3StreamFilter(const Services& services, const Limits& limits = {});

    void FromClient(std::span<const uint8_t> bytes, Output& out);
    void FromServer(std::span<const uint8_t> bytes, Output& out);
    // The client has left (with or without QUIT). When a deletion was asked in its name and it sent no
    // QUIT, "QUIT" goes to the server, which deletes only then. Nothing goes to the client any more.
    void OnClientGone(Output& out);
    // The server has closed: the client gets what is held of a good or unjudged reply, as received.
    void OnServerGone(Output& out);

    // Commands (the client's and the bridge's own) the server has not answered yet.
    std::size_t Unanswered() const { return pending_.size(); }
    bool DeleteSent() const { return deleteSent_; }

  private:
    enum class Phase { StatusLine, Body };
    // Where the bytes of the reply being read go.
    // Renaming: good mail judged on its start, streamed on a line at a time with attachments renamed.
    enum class Sink { Client, Hidden, Held, CapaFilter, Discard, Renaming };

    void OnClientLine(std::string_view line, Output& out);
    void AnswerLocalCommands(Output& out);
    // A QUIT waits until every retrieval before it is judged, so that a "DELE" can still go first.
    void SendHeldQuit(Output& out);
    // Takes bytes up to and including the next LF of the current reply; returns how many.
    std::size_t TakeReplyBytes(std::string_view data, Output& out);
    void BeginReply(char firstByte);
    void Emit(std::string_view piece, bool lineEnds, Output& out);
    void EndLine(Output& out);
    void CompleteReply(Output& out);
    // The retrieval being held: judged early (complete false) or at its end.
    void Judge(bool complete, Output& out);
    void ActOnSpam(Output& out);
    void PassHeldUnfiltered(Output& out);
    // Renames an attachment the streamed line names, then sends the line on.
    void SendRenamedLine(bool lineEnds, Output& out);

    Services services_;
    Limits limits_;
    std::deque<PendingReply> pending_;
    std::string clientLine_;
    bool clientLineOverlong_ = false;
    bool authAwaitingAnswer_ = false;  // a "+ " continuation went to the client; its next line answers it
    bool quitSent_ = false;
    std::string heldQuit_;
    std::vector<std::string> deletedNumbers_;  // messages "DELE"d in the client's name
    bool deleteSent_ = false;
    bool clientGone_ = false;

    Phase phase_ = Phase::StatusLine;
    Sink sink_ = Sink::Client;
    bool positive_ = false;
    std::size_t lineLength_ = 0;
    std::string lineHead_;  // the current line's first bytes (up to three)
    std::string capaLine_;
    std::string streamedLine_;  // the line being streamed while attachments are renamed
    std::string held_;     // the retrieval being collected, status line first
    bool judged_ = false;  // an early verdict was spam: the rest is collected for the copy
    bool heldComplete_ = true;
    MessageVerdict verdict_;
};

}  // namespace bramvell
