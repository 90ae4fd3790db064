#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "classify/MessageLineSource.h"

namespace bramvell {

// Passes the lines of a held retrieval reply on unchanged and keeps, in a buffer of the caller's, the
// message they carry as a file of it would hold it: the server's status line and the closing "." line
// left out, dot-stuffing undone, each line ended by LF. Keeps at most maxBytes, cut at a line end,
// since a scorer reads no further.
class RetrievedMessageText final : public MessageLineSource {
  public:
    RetrievedMessageText(MessageLineSource& lines, std::string& buffer, std::size_t maxBytes);

    bool NextLine(MessageLine& line) override;

    // The message of the lines read so far.
    std::span<const char> Message() const { return buffer_; }

  private:
    void Keep(std::string_view text);

    MessageLineSource& lines_;
    std::string& buffer_;
    std::size_t maxBytes_;
    bool statusLineSeen_ = false;
    bool ended_ = false;  // the closing line was read, or the buffer is full
};

}  // namespace bramvell
