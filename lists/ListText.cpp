#include "lists/ListText.h"

#include <algorithm>

namespace bramvell {

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = LowerCaseChar(c);
    }
    return lower;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerCaseChar(x) == LowerCaseChar(y);
           });
}

bool ContainsIgnoringCase(std::string_view haystack, std::string_view needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                       [](char x, char y) { return LowerCaseChar(x) == LowerCaseChar(y); }) != haystack.end();
}

std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

std::string_view SingleLine(std::string_view text) {
    text = UpToNul(text);
    return text.substr(0, text.find('\n'));
}

}  // namespace bramvell
