#pragma once

#include <span>
#include <string>
#include <string_view>

#include "config/Clock.h"
#include "engine/HeldSegment.h"
#include "engine/MessageVerdict.h"

namespace bramvell {

class FilterSettings;
class MessageTarget;

// What a verdict came to: the command to send the server in the client's name, and what the client's
// spam answer says.
struct VerdictOutcome {
    std::string command;  // "DELE n" for spam, "NOOP" when it stays on the server; empty: good mail
    bool deletedOnServer = false;
    std::string quarantinePath;  // the copy, empty when none was kept
};

// What a verdict does wherever the message was collected (held frames or a TLS bridge's stream): the
// main window hears of it (WM_MAIL_CLASSIFIED), and spam gets its quarantine copy when that option is
// on. No copy, no deletion: when the copy cannot be written the command is "NOOP" (the user asked to
// keep what is filtered). The reply is the message as the server sent it, status line first;
// replyComplete false says that only its start could be kept (no copy can be made then).
VerdictOutcome ApplyVerdictEffects(const FilterSettings& settings, MessageTarget& target, const Clock& clock,
                                   const MessageVerdict& verdict, std::span<const HeldSegment> reply,
                                   std::string_view retrArgument, bool replyComplete = true);

// The client's answer in place of a spam message, as the option spam-answer asks.
std::string SpamAnswerFor(const FilterSettings& settings, const MessageVerdict& verdict,
                          const VerdictOutcome& outcome);

}  // namespace bramvell
