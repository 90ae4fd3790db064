#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "classify/MessageLineSource.h"

namespace bramvell {

// A message held in memory, read as lines: a line ends at LF, and a CR just before the LF is dropped;
// a last line without LF still counts. Reuses its buffer from one message to the next.
class TextLineSource final : public MessageLineSource {
  public:
    // Files larger than this are read up to it: mail is far smaller.
    static constexpr std::size_t kMaxFileSize = std::size_t{64} << 20;

    // Reads a regular file whole; false (and no lines) when it cannot be opened or read.
    bool LoadFile(const std::string& path);
    void SetText(std::string_view text);
    bool NextLine(MessageLine& line) override;

  private:
    std::string buffer_;
    std::size_t next_ = 0;
};

}  // namespace bramvell
