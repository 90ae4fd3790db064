#include "engine/ErrorReply.h"

#include "config/PrintableText.h"

namespace bramvell {

std::string BuildErrorReply(const MessageVerdict& verdict) {
    std::string_view sender = verdict.sender.view();
    sender = sender.substr(0, sender.find('\0'));  // the sender ends at a NUL, as a C string would
    std::string line = "-ERR Filtered by Bramvell - message from ";
    line += PrintableText(sender);  // a CR or LF would end the line early
    line += " has a Spam probability of ";
    line.append(verdict.probabilityText.data(), verdict.probabilityText.size());
    line += "%\r\n";
    return line;
}

}  // namespace bramvell
