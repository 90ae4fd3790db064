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

// What a verdict does wherever the message was collected (held frames or a TLS bridge's stream):
// the main window hears of it (WM_MAIL_CLASSIFIED), and spam gets its quarantine copy when that
// option is on. Returns the command to send to the server in the client's name: "DELE n" for spam,
// "NOOP" when the copy could not be written (no copy, no deletion: the user asked to keep what is
// filtered); empty for good mail. The reply is the message as the server sent it, status line first;
// replyComplete false says that only its start could be kept (no copy can be made then).
std::string ApplyVerdictEffects(const FilterSettings& settings, MessageTarget& target, const Clock& clock,
                                const MessageVerdict& verdict, std::span<const HeldSegment> reply,
                                std::string_view retrArgument, bool replyComplete = true);

}  // namespace bramvell
