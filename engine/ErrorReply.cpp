#include "engine/ErrorReply.h"

#include <cstring>

namespace bramvell {

std::string BuildErrorReply(const Pop3Connection& connection) {
    const char* sender = connection.sender.data();
    const std::size_t senderLength = strnlen(sender, connection.sender.size() - 1);
    std::string line = "-ERR Filtered by Bramvell - message from ";
    line.append(sender, senderLength);
    line += " has a Spam probability of ";
    line.append(connection.probabilityText.data(), connection.probabilityText.size());
    line += "%\r\n";
    return line;
}

}  // namespace bramvell
