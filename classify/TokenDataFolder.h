#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bramvell {

// The two sections of learned text and their token files: body tokens in "01nn", Subject-line
// tokens in "21nn", nn being the first letter's index 00..25.
enum class TokenSection : int { Body = 0, Header = 1 };

// "<programFolder>/Data"
std::string DataFolder(std::string_view programFolder);

// "01nn" or "21nn" for a first letter 0..25.
std::string TokenFileName(TokenSection section, int firstLetter);

// Section and first letter of a token file name; nothing for any other name (exactly four
// characters, "01" or "21", then two digits forming 00..25).
struct TokenFileId {
    TokenSection section;
    int firstLetter;
};
std::optional<TokenFileId> ParseTokenFileName(std::string_view name);

// Index of the table of a section among the twelve.
int TableOfSection(TokenSection section);

}  // namespace bramvell
