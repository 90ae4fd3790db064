#pragma once

#include <string>
#include <string_view>

namespace bramvell {

// Bytes below 0x20 and DEL: in header text from mail they could clear or retitle a terminal that
// shows a log, or break the line a mail client reads.
constexpr bool IsControlByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// text with every control byte written as '?'.
inline std::string PrintableText(std::string_view text) {
    std::string printable(text);
    for (char& c : printable) {
        if (IsControlByte(c)) {
            c = '?';
        }
    }
    return printable;
}

}  // namespace bramvell
