#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace bramvell {

// How a server reply to a command ends.
enum class ReplyShape : uint8_t {
    SingleLine,          // one line
    MultiLineIfPositive  // "+OK" then lines up to a "." line; "-ERR" is one line
};

// What the engine needs to know of one client command line.
struct CommandLine {
    enum class Kind : uint8_t { Other, Retrieval, Delete, Quit, StartTls };
    Kind kind = Kind::Other;
    ReplyShape reply = ReplyShape::SingleLine;
    std::string_view messageNumber;  // retrievals and deletions: the argument that names the message
};

// TOP with at least this many body lines asks for the whole message (fetchmail asks for 99999999).
inline constexpr uint64_t kWholeMessageTopLines = 100000;
// A message number the engine may repeat in a "DELE": 1 to 7 characters.
inline constexpr std::size_t kMaxMessageNumber = 7;

// Reads one command line (its CR LF or LF included). Command names are matched without regard to case.
// A retrieval is "RETR n", or "TOP n k" with k of at least kWholeMessageTopLines.
CommandLine ParseCommandLine(std::span<const uint8_t> line);

}  // namespace bramvell
