#pragma once

#include <string>
#include <string_view>

namespace bramvell {

// How the server's answer to one client command is shaped, and what the bridge does with it.
enum class ReplyShape {
    Greeting,       // the server's first line
    SingleLine,     // one status line
    MultiLineIfOk,  // "+OK" then lines up to "." (LIST, UIDL without argument; TOP below the threshold)
    Capa,           // like MultiLineIfOk; the "STLS" capability is left out (TLS is the bridge's business)
    Auth,           // "+ " continuations, then a status line; the client's lines meanwhile are SASL answers
    Retrieval,      // a whole message (RETR n, TOP n k with k >= kWholeMessageTopLines): judged
    Injected,       // a command the bridge sent in the client's name: the answer is kept from the client
    Local,          // answered by the bridge itself, in turn (STLS)
};

// A command whose answer has not been read yet, in the order the server answers.
struct PendingReply {
    ReplyShape shape = ReplyShape::SingleLine;
    std::string argument;     // Retrieval: the message number, for the "DELE"
    std::string localAnswer;  // Local: the line the client gets
};

// fetchmail retrieves with "TOP n 99999999": a line count this high asks for the whole message.
inline constexpr unsigned long kWholeMessageTopLines = 100000;
// Longer message numbers are not intercepted: a cut argument would make the "DELE" hit another message.
inline constexpr std::size_t kMaxMessageArgument = 7;

// The shape of the answer to a client command line (without its line end). isQuit is set for QUIT.
PendingReply ShapeOfCommand(std::string_view line, bool& isQuit);

}  // namespace bramvell
