#pragma once

#include <string>

#include "classify/MessageClassifier.h"
#include "engine/MessageAnalyzer.h"

namespace bramvell {

class ChiSquareClassifier;
class FilterSettings;
class SubjectMatcher;

// The engine's analysis of a collected message: the message classifier reading the held reply line
// by line, with executable attachments renamed in place as the lines go by. With a chi-square
// classifier, the From/To and passphrase rules still decide first; a message they leave open is
// scored by chi-square instead of the classic tables, against the spam cutoff of the threshold level
// as it stands, and one between the cutoffs is unsure: delivered unchanged, logged as unsure.
class ClassifierAnalyzer final : public MessageAnalyzer {
  public:
    ClassifierAnalyzer(FilterSettings& settings, const SubjectMatcher* passphrases,
                       const Clock& clock = DefaultClock(), const ChiSquareClassifier* chiSquare = nullptr);

    MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) override;

  private:
    MessageVerdict ScoreByChiSquare(MessageLineReader& reader, LineRewriter& rewriter);
    MessageVerdict VerdictOf(const ClassificationResult& result) const;

    const FilterSettings& settings_;
    const Clock& clock_;
    const ChiSquareClassifier* chiSquare_;
    MessageClassifier classifier_;
    std::string messageText_;  // the message as the chi-square scorer reads it, kept between messages
};

}  // namespace bramvell
