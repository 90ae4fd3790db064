#pragma once

#include "classify/MessageLineSource.h"
#include "engine/MessageLineReader.h"
#include "engine/MessageVerdict.h"

namespace bramvell {

// The analysis of one collected message, run on the filter thread between two frames. It reads the
// held reply through the reader (status line first) and writes its own log lines. The reply is the
// engine's: the analysis changes it only through the rewriter, which it calls with every line it reads
// while "Rename executable attachments" is on.
class MessageAnalyzer {
  public:
    virtual ~MessageAnalyzer() = default;
    virtual MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) = 0;
};

}  // namespace bramvell
