#pragma once

#include "classify/MessageClassifier.h"
#include "engine/MessageAnalyzer.h"

namespace bramvell {

class FilterSettings;
class SubjectMatcher;

// The engine's analysis of a collected message: the message classifier reading the held reply line
// by line, with executable attachments renamed in place as the lines go by.
class ClassifierAnalyzer final : public MessageAnalyzer {
  public:
    ClassifierAnalyzer(FilterSettings& settings, const SubjectMatcher* passphrases,
                       const Clock& clock = DefaultClock());

    MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) override;

  private:
    MessageClassifier classifier_;
};

}  // namespace bramvell
