#pragma once

#include <string>
#include <string_view>

namespace bramvell {

// Case folding of list texts. Only ASCII letters fold: list texts arrive as UTF-8 on this platform,
// and folding bytes 128..255 one by one would break multi-byte characters.
constexpr char LowerCaseChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerCase(std::string_view text);

bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// True when needle occurs in haystack, letter case ignored on both sides. Allocates nothing.
bool ContainsIgnoringCase(std::string_view haystack, std::string_view needle);

// The text as a C string sees it: up to the first NUL.
std::string_view UpToNul(std::string_view text);

// The part of a text that can be one line of a list file: up to the first NUL or line feed.
std::string_view SingleLine(std::string_view text);

}  // namespace bramvell
