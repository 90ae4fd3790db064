#pragma once

#include <array>
#include <string>

#include "engine/MessageLineReader.h"

namespace bramvell {

// What the engine needs to know about a collected message.
struct AnalysisVerdict {
    bool isSpam = false;
    std::array<char, 2> probabilityText{'?', '?'};  // "??" when the analysis leaves it unset
    std::string sender;                             // the From value; cut to 79 characters by the engine
};

// The analysis of one collected message, run on the filter thread between two frames. It reads the
// held reply through the reader (status line first) and may patch lines through it; it writes its own
// log lines. Renaming executable attachments is part of reading: an implementation calls
// RenameAttachmentInLine for each line it reads while "Rename executable attachments" is on.
class MessageAnalyzer {
  public:
    virtual ~MessageAnalyzer() = default;
    virtual AnalysisVerdict Analyze(MessageLineReader& reader) = 0;
};

}  // namespace bramvell
