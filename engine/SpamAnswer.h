#pragma once

#include <string>
#include <string_view>

#include "engine/MessageVerdict.h"

namespace bramvell {

// What the mail client gets in place of a message judged spam.
struct SpamAnswerParts {
    bool notice = false;            // the stand-in message instead of the error line
    bool deletedOnServer = true;    // false: the message was left on the server
    std::string_view quarantinePath;  // empty: no copy was kept
};

// "Filtered by Bramvell - message from <sender> has a Spam probability of <pp>%": the error line's text,
// and the stand-in message's subject.
std::string FilteredText(const MessageVerdict& verdict);

// The whole answer: the error line, or "+OK" and a short stand-in message (From: Bramvell, the filtered
// text as its subject, a body that says where the message went) ending with the "." line. Never longer
// than kMaxSpamAnswer bytes, so that it fits one frame.
inline constexpr std::size_t kMaxSpamAnswer = 1024;
std::string BuildSpamAnswer(const MessageVerdict& verdict, const SpamAnswerParts& parts);

}  // namespace bramvell
