#include "lists/ListLine.h"

#include <cstdio>

#include "lists/ListText.h"

namespace bramvell {

namespace {

constexpr std::size_t kShortestBlockedLine = 6;

// The two characters as a decimal number: leading blanks skipped, then digits; none reads as 0.
int DayFromPair(std::string_view pair) {
    std::size_t at = 0;
    while (at < pair.size() && pair[at] == ' ') {
        ++at;
    }
    int day = 0;
    for (; at < pair.size() && pair[at] >= '0' && pair[at] <= '9'; ++at) {
        day = day * 10 + (pair[at] - '0');
    }
    return day;
}

}  // namespace

std::string ExpirySuffix(int expiryDay) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, " (%02d)", expiryDay);
    return suffix;
}

std::string FormatListLine(ListKind kind, std::string_view text, int expiryDay) {
    std::string line(text);
    if (TraitsOf(kind).blocked) {
        line += ExpirySuffix(expiryDay);
    }
    line += "\r\n";
    return line;
}

bool KeepsLine(ListKind kind, std::string_view line) {
    return line.size() >= (TraitsOf(kind).blocked ? kShortestBlockedLine : 1);
}

ListLine SplitListLine(ListKind kind, std::string_view line) {
    if (!TraitsOf(kind).blocked) {
        return {UpToNul(line), 0};
    }
    if (line.size() < kExpirySuffixLength) {
        return {};
    }
    const std::size_t textLength = line.size() - kExpirySuffixLength;
    return {UpToNul(line.substr(0, textLength)), DayFromPair(line.substr(line.size() - 3, 2))};
}

}  // namespace bramvell
