#include "engine/SpamAnswer.h"

#include "config/PrintableText.h"
#include "engine/ErrorReply.h"

namespace bramvell {

namespace {

constexpr std::size_t kMaxShownPath = 400;

}  // namespace

std::string FilteredText(const MessageVerdict& verdict) {
    std::string_view sender = verdict.sender.view();
    sender = sender.substr(0, sender.find('\0'));  // the sender ends at a NUL, as a C string would
    std::string text = "Filtered by Bramvell - message from ";
    text += PrintableText(sender);  // a CR or LF would end the line early
    text += " has a Spam probability of ";
    text.append(verdict.probabilityText.data(), verdict.probabilityText.size());
    text += "%";
    return text;
}

std::string BuildSpamAnswer(const MessageVerdict& verdict, const SpamAnswerParts& parts) {
    if (!parts.notice) {
        return BuildErrorReply(verdict);
    }
    std::string answer = "+OK stand-in message follows\r\n";
    answer += "From: Bramvell <bramvell@localhost>\r\n";
    answer += "Subject: " + FilteredText(verdict) + "\r\n";
    answer += "MIME-Version: 1.0\r\n";
    answer += "Content-Type: text/plain; charset=utf-8\r\n";
    answer += "X-Bramvell: stand-in\r\n";
    answer += "\r\n";
    if (parts.deletedOnServer) {
        answer += "Bramvell judged this message spam and deleted it on the server.\r\n";
    } else {
        answer += "Bramvell judged this message spam; it was left on the server.\r\n";
    }
    if (parts.quarantinePath.empty()) {
        answer += "No copy of it was kept.\r\n";
    } else {
        std::string path = PrintableText(parts.quarantinePath.substr(0, kMaxShownPath));
        if (!path.empty() && path.front() == '.') {
            path.insert(0, 1, '.');  // a line that starts with "." is sent doubled
        }
        answer += "Its copy is in the quarantine folder:\r\n" + path + "\r\n";
    }
    answer += ".\r\n";
    return answer;
}

}  // namespace bramvell
