#include "lists/TextLineReader.h"

namespace bramvell {

TextLineReader::TextLineReader(const std::string& path) : in_(path, std::ios::binary) {}

bool TextLineReader::Next(std::string& line) {
    if (!in_.is_open() || !std::getline(in_, line)) {
        return false;
    }
    const bool endedByLineFeed = !in_.eof();
    if (endedByLineFeed && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

}  // namespace bramvell
