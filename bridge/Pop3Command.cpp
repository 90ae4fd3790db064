#include "bridge/Pop3Command.h"

#include <cctype>

namespace bramvell {
namespace {

bool StartsWithWord(std::string_view line, std::string_view name) {
    if (line.size() < name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(line[i])) != name[i]) {
            return false;
        }
    }
    return line.size() == name.size() || line[name.size()] == ' ' || line[name.size()] == '\r' ||
           line[name.size()] == '\n';
}

}  // namespace

PendingReply ShapeOfCommand(std::string_view line, CommandLine::Kind& kind) {
    const CommandLine command =
        ParseCommandLine({reinterpret_cast<const uint8_t*>(line.data()), line.size()});
    kind = command.kind;
    PendingReply reply;
    reply.shape = command.reply == ReplyShape::MultiLineIfPositive ? BridgeReply::MultiLineIfOk
                                                                   : BridgeReply::SingleLine;
    switch (command.kind) {
        case CommandLine::Kind::Retrieval:
            reply.shape = BridgeReply::Retrieval;
            reply.argument = command.messageNumber;
            break;
        case CommandLine::Kind::Delete:
            reply.argument = command.messageNumber;
            break;
        case CommandLine::Kind::StartTls:
            reply.shape = BridgeReply::Local;
            reply.localAnswer = "-ERR the bridge speaks TLS to the server; use no encryption towards it\r\n";
            break;
        case CommandLine::Kind::Quit:
        case CommandLine::Kind::Other:
            if (StartsWithWord(line, "CAPA")) {
                reply.shape = BridgeReply::Capa;
            } else if (StartsWithWord(line, "AUTH") && reply.shape == BridgeReply::SingleLine) {
                reply.shape = BridgeReply::Auth;  // with a mechanism: a SASL exchange
            }
            break;
    }
    return reply;
}

}  // namespace bramvell
