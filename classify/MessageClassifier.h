#pragma once

#include <string>

#include "classify/ClassificationResult.h"
#include "classify/MessageLineSource.h"
#include "classify/TokenScorer.h"
#include "config/Clock.h"

namespace bramvell {

class FilterSettings;
class SubjectMatcher;

// Decides whether one collected message is spam: captures the From, To and Subject header values,
// applies the From/To rule and the subject passphrase rule at the end of the header, scores the
// remaining lines and compares the score with the threshold. Reading stops as soon as a rule decides.
// Reads the token tables of settings.tokenTables under their shared lock for the whole message.
// One object serves every message of the filter thread; it keeps its buffers between messages.
class MessageClassifier {
  public:
    // passphrases may be null: no passphrase ever matches.
    MessageClassifier(const FilterSettings& settings, const SubjectMatcher* passphrases,
                      const Clock& clock = DefaultClock());

    // rewriter, when set, sees every line read while "Rename executable attachments" is on.
    ClassificationResult Classify(MessageLineSource& lines, LineRewriter* rewriter = nullptr);

    // The same walk and rules without the classic score, for another scorer: a rule's verdict, logged as
    // Classify logs it, or else, once every line has been read, a result with decidedByRule false and no
    // verdict line written; the caller scores the message and logs its verdict.
    ClassificationResult ApplyRules(MessageLineSource& lines, LineRewriter* rewriter = nullptr);

    // The From value of the last analysis as captured (not cut), for reports of a verdict.
    std::string_view FromText() const { return fromText_; }

    // Precomputed probabilities for batch runs (may be null); see TokenProbabilities.
    void UseProbabilities(const TokenProbabilities* probabilities) {
        scorer_.UseProbabilities(probabilities);
    }

    // The slots as they stood when the last analysis ended.
    const TopTokenSlots& Slots() const { return scorer_.Slots(); }

  private:
    enum class Scoring { Classic, ByCaller };
    ClassificationResult Run(MessageLineSource& lines, LineRewriter* rewriter, Scoring scoring);
    void CaptureHeader(std::string_view line);
    bool PassphraseMatches();
    ClassificationResult Finish(DecidingRule rule, bool ruleSaysSpam, Scoring scoring);

    const FilterSettings& settings_;
    const SubjectMatcher* passphrases_;
    const Clock& clock_;
    TokenScorer scorer_;
    std::string fromText_;
    std::string toText_;
    std::string subjectText_;
    std::string lowerSubject_;
    std::string logLine_;
};

}  // namespace bramvell
