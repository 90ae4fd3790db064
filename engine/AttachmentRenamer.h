#pragma once

#include "classify/MessageLineSource.h"
#include "config/Clock.h"
#include "engine/MessageLineReader.h"

namespace bramvell {

class FilterSettings;

// The engine's rewriter of the reply it holds, handed to the analysis: makes an executable attachment
// harmless. When a line names a quoted file whose last three characters are an executable or script
// extension, the extension is overwritten in the held reply ("a.exe" becomes "a.tb ", "x.js" becomes
// "x.tb"), so the message keeps its length. Writes one activity-log line per renaming.
class AttachmentRenamer final : public LineRewriter {
  public:
    AttachmentRenamer(MessageLineReader& reader, const FilterSettings& settings,
                      const Clock& clock = DefaultClock())
        : reader_(reader), settings_(settings), clock_(clock) {}

    void RewriteLine(const MessageLine& line) override { Rename(line); }
    // True when the line was patched.
    bool Rename(const MessageLine& line);

  private:
    MessageLineReader& reader_;
    const FilterSettings& settings_;
    const Clock& clock_;
};

}  // namespace bramvell
