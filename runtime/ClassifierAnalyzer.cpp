#include "runtime/ClassifierAnalyzer.h"

namespace bramvell {

ClassifierAnalyzer::ClassifierAnalyzer(FilterSettings& settings, const SubjectMatcher* passphrases,
                                       const Clock& clock)
    : classifier_(settings, passphrases, clock) {}

MessageVerdict ClassifierAnalyzer::Analyze(MessageLineReader& reader, LineRewriter& rewriter) {
    const ClassificationResult result = classifier_.Classify(reader, &rewriter);
    MessageVerdict verdict;
    verdict.isSpam = result.isSpam;
    if (result.probabilityText.size() >= 2) {
        verdict.probabilityText = {result.probabilityText[0], result.probabilityText[1]};
        verdict.sender = result.sender;
    }
    return verdict;
}

}  // namespace bramvell
