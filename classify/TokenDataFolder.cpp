#include "classify/TokenDataFolder.h"

#include "classify/TokenTables.h"

namespace bramvell {

std::string DataFolder(std::string_view programFolder) {
    std::string folder(programFolder);
    folder += "/Data";
    return folder;
}

std::string TokenFileName(TokenSection section, int firstLetter) {
    std::string name = section == TokenSection::Body ? "01" : "21";
    name += static_cast<char>('0' + firstLetter / 10);
    name += static_cast<char>('0' + firstLetter % 10);
    return name;
}

std::optional<TokenFileId> ParseTokenFileName(std::string_view name) {
    if (name.size() != 4 || name[1] != '1' || (name[0] != '0' && name[0] != '2')) {
        return std::nullopt;
    }
    if (name[2] < '0' || name[2] > '9' || name[3] < '0' || name[3] > '9') {
        return std::nullopt;
    }
    const int letter = (name[2] - '0') * 10 + (name[3] - '0');
    if (letter >= kLetterCount) {
        return std::nullopt;
    }
    return TokenFileId{name[0] == '0' ? TokenSection::Body : TokenSection::Header, letter};
}

int TableOfSection(TokenSection section) {
    return section == TokenSection::Body ? kBodyTable : kHeaderTable;
}

}  // namespace bramvell
