#pragma once

#include <string>
#include <string_view>

#include "engine/Pop3Commands.h"

namespace bramvell {

// How the bridge treats the server's answer to one client command.
enum class BridgeReply {
    Greeting,       // the server's first line
    SingleLine,     // one status line
    MultiLineIfOk,  // "+OK" then lines up to "." (LIST, UIDL, TOP below the whole-message count...)
    Capa,           // like MultiLineIfOk; the "STLS" capability is left out (TLS is the bridge's business)
    Auth,           // "+ " continuations, then a status line; the client's lines meanwhile are SASL answers
    Retrieval,      // a whole message (RETR n, TOP n k with k >= kWholeMessageTopLines): judged
    Injected,       // a command the bridge sent in the client's name: the answer is kept from the client
    Local,          // answered by the bridge itself, in turn
};

// A command whose answer has not been read yet, in the order the server answers.
struct PendingReply {
    BridgeReply shape = BridgeReply::SingleLine;
    std::string argument;     // Retrieval and Delete: the message number
    std::string localAnswer;  // Local: what the client gets
};

// The bridge's view of a client command line (its line end included), read by the engine's parser.
// kind is the parser's; a "DELE" is a SingleLine reply with its message number as argument.
PendingReply ShapeOfCommand(std::string_view line, CommandLine::Kind& kind);

}  // namespace bramvell
