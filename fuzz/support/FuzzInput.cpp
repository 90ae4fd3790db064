#include "fuzz/support/FuzzInput.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bramvell::fuzz {

void PropertyFailed(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

std::vector<std::string_view> SplitParts(std::string_view input, std::string_view separator,
                                         std::size_t maxParts) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < maxParts) {
        const std::size_t at = input.find(separator);
        if (at == std::string_view::npos) {
            break;
        }
        parts.push_back(input.substr(0, at));
        input.remove_prefix(at + separator.size());
    }
    parts.push_back(input);
    return parts;
}

std::vector<NamedFile> SplitNamedFiles(std::string_view input, std::size_t maxFiles) {
    constexpr std::size_t kLongestName = 32;
    std::vector<NamedFile> files;
    for (std::string_view piece : SplitParts(input, kFileSeparator, maxFiles)) {
        const std::size_t end = std::min(piece.find('\n'), piece.size());
        NamedFile file;
        for (char c : piece.substr(0, std::min(end, kLongestName))) {
            const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                               c == '.' || c == '-' || c == '_';
            file.name.push_back(plain ? c : '_');
        }
        if (file.name.empty() || file.name == "." || file.name == "..") {
            file.name = "_" + file.name;
        }
        file.content = end < piece.size() ? piece.substr(end + 1) : std::string_view();
        files.push_back(std::move(file));
    }
    return files;
}

uint8_t InputReader::Byte() {
    if (rest_.empty()) {
        return 0;
    }
    const auto value = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return value;
}

uint16_t InputReader::Word() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
}

uint32_t InputReader::Long() {
    const uint32_t high = Word();
    return high << 16 | Word();
}

std::string_view InputReader::Text(std::size_t maxLength) {
    return Take(std::min<std::size_t>(Byte(), maxLength));
}

std::string_view InputReader::Take(std::size_t length) {
    const std::string_view taken = rest_.substr(0, std::min(length, rest_.size()));
    rest_.remove_prefix(taken.size());
    return taken;
}

}  // namespace bramvell::fuzz
