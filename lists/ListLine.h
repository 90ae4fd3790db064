#pragma once

#include <string>
#include <string_view>

#include "lists/ListKind.h"

namespace bramvell {

// One line of a bucket file: the text, and in the blocked lists " (", the expiry day as two digits
// and ")"; every line ends in CR LF.
std::string FormatListLine(ListKind kind, std::string_view text, int expiryDay);

// The suffix a blocked-list line and display string carry: " (07)".
std::string ExpirySuffix(int expiryDay);
inline constexpr std::size_t kExpirySuffixLength = 5;

// A loaded line is kept when it has at least 6 characters (blocked lists) or at least 1 (others).
bool KeepsLine(ListKind kind, std::string_view line);

struct ListLine {
    std::string_view text;  // C-string view: ends at an embedded NUL
    int expiryDay = 0;
};

// Splits a kept line: blocked lines lose their last five characters, and the day is the number in
// the third- and second-last characters (no digits read as 0).
ListLine SplitListLine(ListKind kind, std::string_view line);

}  // namespace bramvell
