#include "bridge/Pop3Command.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace bramvell {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

std::string Upper(std::string_view word) {
    std::string upper(word);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

// 1 to 7 printable characters, as the packet engine takes a "RETR" argument.
bool IsMessageArgument(std::string_view word) {
    return !word.empty() && word.size() <= kMaxMessageArgument &&
           std::all_of(word.begin(), word.end(), [](char c) { return c > 0x20 && c != 0x7F; });
}

bool IsWholeMessageLineCount(std::string_view word) {
    if (word.empty() || !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const std::string_view digits = word.substr(std::min(word.find_first_not_of('0'), word.size()));
    return digits.size() > 6 ||
           (digits.size() == 6 && std::stoul(std::string(digits)) >= kWholeMessageTopLines);
}

}  // namespace

PendingReply ShapeOfCommand(std::string_view line, bool& isQuit) {
    const std::vector<std::string_view> words = Words(line);
    const std::string verb = words.empty() ? std::string() : Upper(words[0]);
    isQuit = verb == "QUIT";
    PendingReply reply;
    if (verb == "RETR" && words.size() == 2 && IsMessageArgument(words[1])) {
        reply.shape = ReplyShape::Retrieval;
        reply.argument = words[1];
    } else if (verb == "TOP" && words.size() == 3) {
        const bool whole = IsMessageArgument(words[1]) && IsWholeMessageLineCount(words[2]);
        reply.shape = whole ? ReplyShape::Retrieval : ReplyShape::MultiLineIfOk;
        reply.argument = whole ? std::string(words[1]) : std::string();
    } else if (verb == "RETR" || verb == "TOP" || ((verb == "LIST" || verb == "UIDL") && words.size() == 1)) {
        reply.shape = ReplyShape::MultiLineIfOk;  // a RETR the bridge cannot answer for passes unjudged
    } else if (verb == "CAPA") {
        reply.shape = ReplyShape::Capa;
    } else if (verb == "AUTH") {
        // Without a mechanism some servers list theirs, as lines up to ".".
        reply.shape = words.size() == 1 ? ReplyShape::MultiLineIfOk : ReplyShape::Auth;
    } else if (verb == "STLS") {
        reply.shape = ReplyShape::Local;
        reply.localAnswer = "-ERR the bridge speaks TLS to the server; use no encryption towards it\r\n";
    }
    return reply;
}

}  // namespace bramvell
