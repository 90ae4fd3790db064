#include "engine/ErrorReply.h"

#include <cstring>

#include "config/PrintableText.h"

namespace bramvell {

std::string BuildErrorReply(const Pop3Connection& connection) {
    const char* sender = connection.sender.data();
    const std::size_t senderLength = strnlen(sender, connection.sender.size() - 1);
    std::string line = "-ERR Filtered by Bramvell - message from ";
    line += PrintableText(std::string_view(sender, senderLength));  // a CR or LF would end the line early
    line += " has a Spam probability of ";
    line.append(connection.probabilityText.data(), connection.probabilityText.size());
    line += "%\r\n";
    return line;
}

}  // namespace bramvell
