#pragma once

#include <cstddef>
#include <string_view>

namespace bramvell {

// Where a line starts in its source: for the engine's held reply the segment and the offset into its
// payload; a source in one piece (a file) is a single segment.
struct LinePosition {
    std::size_t segment = 0;
    std::size_t offset = 0;

    LinePosition() = default;
    LinePosition(std::size_t segmentIndex, std::size_t offsetInSegment)
        : segment(segmentIndex), offset(offsetInSegment) {}
    // A byte offset into a source in one piece.
    LinePosition(std::size_t offsetInSource)
        : offset(offsetInSource) {}  // NOLINT(google-explicit-constructor)
    bool operator==(const LinePosition&) const = default;
};

// One line of a message, without its line end.
struct MessageLine {
    std::string_view text;
    LinePosition position;  // so that a rewriter can change the line's bytes in place
};

// A message read line by line: the engine's held segments or a file.
class MessageLineSource {
  public:
    virtual ~MessageLineSource() = default;
    // The next line; false when there are no more. The text stays valid until the next call.
    virtual bool NextLine(MessageLine& line) = 0;
};

// Rewrites lines of the message being read, in place and at the same length (attachment renaming). The
// engine provides it over the reply it holds; the analysis calls it with every line it reads while
// "Rename executable attachments" is on, before it looks at the line.
class LineRewriter {
  public:
    virtual ~LineRewriter() = default;
    virtual void RewriteLine(const MessageLine& line) = 0;
};

}  // namespace bramvell
