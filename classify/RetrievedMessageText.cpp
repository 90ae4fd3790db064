#include "classify/RetrievedMessageText.h"

namespace bramvell {

RetrievedMessageText::RetrievedMessageText(MessageLineSource& lines, std::string& buffer,
                                           std::size_t maxBytes)
    : lines_(lines), buffer_(buffer), maxBytes_(maxBytes) {
    buffer_.clear();
}

bool RetrievedMessageText::NextLine(MessageLine& line) {
    if (!lines_.NextLine(line)) {
        return false;
    }
    if (!statusLineSeen_) {
        statusLineSeen_ = true;
    } else if (!ended_) {
        Keep(line.text);
    }
    return true;
}

void RetrievedMessageText::Keep(std::string_view text) {
    if (text == ".") {
        ended_ = true;  // a "." inside the message comes stuffed as ".."
        return;
    }
    if (!text.empty() && text.front() == '.') {
        text.remove_prefix(1);
    }
    if (buffer_.size() + text.size() + 1 > maxBytes_) {
        ended_ = true;
        return;
    }
    buffer_ += text;
    buffer_ += '\n';
}

}  // namespace bramvell
