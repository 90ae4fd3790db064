#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace bramvell {

// One line of a message, without its line end.
struct MessageLine {
    std::string_view text;
    // Where the line lies in its source (for the engine, the byte offset in the held stream), so that
    // an inspector can patch its bytes in place.
    uint64_t position = 0;
};

// A message read line by line: the engine's held segments or a file.
class MessageLineSource {
  public:
    virtual ~MessageLineSource() = default;
    // The next line; false when there are no more. The text stays valid until the next call.
    virtual bool NextLine(MessageLine& line) = 0;
};

// Called with every line the analysis reads, before the analysis looks at it (attachment renaming).
using LineInspector = std::function<void(const MessageLine& line)>;

}  // namespace bramvell
