#include "runtime/ClassifierAnalyzer.h"

#include "classify/ChiSquareClassifier.h"
#include "classify/RetrievedMessageText.h"
#include "classify/ScorerChoice.h"
#include "classify/TokenScorer.h"
#include "config/ActivityLog.h"

namespace bramvell {
namespace {

// The client's error line shows whole percent: "99" for certainty, else the score's two leading digits.
std::array<char, 2> ProbabilityTextOfSpamScore(int32_t score) {
    if (score >= kCertain) {
        return {'9', '9'};
    }
    const std::string digits = std::to_string(score);
    return {digits[0], digits.size() > 1 ? digits[1] : '0'};
}

VerdictBasis BasisOfRule(DecidingRule rule) {
    switch (rule) {
        case DecidingRule::FromTo:
            return VerdictBasis::FromToRule;
        case DecidingRule::Passphrase:
            return VerdictBasis::PassphraseRule;
        case DecidingRule::None:
            break;
    }
    return VerdictBasis::ClassicScore;
}

}  // namespace

ClassifierAnalyzer::ClassifierAnalyzer(FilterSettings& settings, const SubjectMatcher* passphrases,
                                       const Clock& clock, const ChiSquareClassifier* chiSquare)
    : settings_(settings), clock_(clock), chiSquare_(chiSquare), classifier_(settings, passphrases, clock) {}

MessageVerdict ClassifierAnalyzer::Analyze(MessageLineReader& reader, LineRewriter& rewriter) {
    if (chiSquare_ != nullptr) {
        return ScoreByChiSquare(reader, rewriter);
    }
    return VerdictOf(classifier_.Classify(reader, &rewriter));
}

MessageVerdict ClassifierAnalyzer::VerdictOf(const ClassificationResult& result) const {
    MessageVerdict verdict;
    verdict.isSpam = result.isSpam;
    if (result.probabilityText.size() >= 2) {
        verdict.probabilityText = {result.probabilityText[0], result.probabilityText[1]};
    }
    verdict.sender.assign(classifier_.FromText());
    verdict.basis = BasisOfRule(result.rule);
    verdict.score = result.score;
    return verdict;
}

MessageVerdict ClassifierAnalyzer::ScoreByChiSquare(MessageLineReader& reader, LineRewriter& rewriter) {
    RetrievedMessageText text(reader, messageText_, MimeTokenizer::kMaxMessageBytes);
    const ClassificationResult rules = classifier_.ApplyRules(text, &rewriter);
    if (rules.decidedByRule) {
        return VerdictOf(rules);
    }
    const ChiSquareResult scored = chiSquare_->Classify(text.Message());
    // The threshold level may change while filtering; its cutoff is taken per message.
    const ChiSquareVerdict verdictOfScore = VerdictOfScore(scored.score, ChiSquareCutoffsOf(settings_));
    MessageVerdict verdict;
    verdict.isSpam = verdictOfScore == ChiSquareVerdict::Spam;
    verdict.isUnsure = verdictOfScore == ChiSquareVerdict::Unsure;
    verdict.sender.assign(classifier_.FromText());
    verdict.basis = VerdictBasis::ChiSquareScore;
    verdict.score = scored.score;
    if (verdict.isSpam) {
        verdict.probabilityText = ProbabilityTextOfSpamScore(scored.score);
    }
    const char* line = verdict.isSpam ? "Bramvell suspects this message is Spam\n"
                       : verdict.isUnsure
                           ? "Bramvell is unsure whether this message is Spam; it is delivered unchanged\n"
                           : "Bramvell suspects this message is NOT Spam\n";
    LogActivity(settings_, line, clock_);
    return verdict;
}

}  // namespace bramvell
