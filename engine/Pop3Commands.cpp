#include "engine/Pop3Commands.h"

#include <charconv>

namespace bramvell {

namespace {

char Upper(uint8_t byte) {
    return static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
}

// The words of a line, split at single spaces, without its line end.
struct Words {
    static constexpr std::size_t kMax = 4;
    std::string_view word[kMax];
    std::size_t count = 0;
    bool tooMany = false;
};

Words SplitWords(std::string_view text) {
    Words words;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        if (words.count == Words::kMax) {
            words.tooMany = true;
            break;
        }
        words.word[words.count++] = word;
        if (space == std::string_view::npos) {
            break;
        }
        text.remove_prefix(space + 1);
    }
    return words;
}

bool NameIs(std::string_view word, std::string_view name) {
    if (word.size() != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (Upper(static_cast<uint8_t>(word[i])) != name[i]) {
            return false;
        }
    }
    return true;
}

// 1 to 7 printable characters: longer ones would not fit the "DELE" the engine repeats them in.
bool IsMessageNumber(std::string_view word) {
    if (word.empty() || word.size() > kMaxMessageNumber) {
        return false;
    }
    for (const char c : word) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

bool IsWholeMessageLineCount(std::string_view word) {
    uint64_t lines = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), lines);
    if (error == std::errc::result_out_of_range) {
        return true;  // digits beyond 64 bits: more lines than any message has
    }
    return error == std::errc() && end == word.data() + word.size() && lines >= kWholeMessageTopLines;
}

}  // namespace

CommandLine ParseCommandLine(std::span<const uint8_t> line) {
    std::string_view text(reinterpret_cast<const char*>(line.data()), line.size());
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    if (text.ends_with('\r')) {
        text.remove_suffix(1);
    }
    CommandLine command;
    const Words words = SplitWords(text);
    if (words.count == 0 || words.tooMany) {
        return command;
    }
    const std::string_view name = words.word[0];
    const bool noArgument = words.count == 1;
    if (NameIs(name, "RETR") || NameIs(name, "TOP")) {
        command.reply = ReplyShape::MultiLineIfPositive;
        const bool whole = NameIs(name, "RETR") ? words.count == 2
                                                : words.count == 3 && IsWholeMessageLineCount(words.word[2]);
        if (whole && IsMessageNumber(words.word[1])) {
            command.kind = CommandLine::Kind::Retrieval;
            command.messageNumber = words.word[1];
        }
    } else if (NameIs(name, "DELE") && words.count == 2 && IsMessageNumber(words.word[1])) {
        command.kind = CommandLine::Kind::Delete;
        command.messageNumber = words.word[1];
    } else if (NameIs(name, "CAPA")) {
        command.reply = ReplyShape::MultiLineIfPositive;
    } else if ((NameIs(name, "LIST") || NameIs(name, "UIDL") || NameIs(name, "AUTH")) && noArgument) {
        command.reply = ReplyShape::MultiLineIfPositive;  // every message, or every mechanism
    } else if (NameIs(name, "QUIT") && noArgument) {
        command.kind = CommandLine::Kind::Quit;
    } else if (NameIs(name, "STLS") && noArgument) {
        command.kind = CommandLine::Kind::StartTls;
    }
    return command;
}

}  // namespace bramvell
