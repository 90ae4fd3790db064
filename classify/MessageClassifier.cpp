#include "classify/MessageClassifier.h"

#include <mutex>
#include <shared_mutex>

#include "classify/TokenTables.h"
#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "lists/SubjectMatcher.h"

namespace bramvell {
namespace {

bool StartsWithIgnoringCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(line[i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

// The value after a header name and the one character that follows it.
std::string_view ValueAfter(std::string_view line, std::size_t cut) {
    return cut < line.size() ? line.substr(cut) : std::string_view();
}

}  // namespace

MessageClassifier::MessageClassifier(const FilterSettings& settings, const SubjectMatcher* passphrases,
                                     const Clock& clock)
    : settings_(settings), passphrases_(passphrases), clock_(clock) {}

void MessageClassifier::CaptureHeader(std::string_view line) {
    if (line.size() <= 4) {
        return;
    }
    if (StartsWithIgnoringCase(line, "To:")) {
        toText_.assign(ValueAfter(line, 4));
    }
    if (StartsWithIgnoringCase(line, "From:")) {
        fromText_.assign(ValueAfter(line, 6));
        logLine_.assign("Analysing email message from: ");
        logLine_ += fromText_;
        logLine_ += '\n';
        LogActivity(settings_, logLine_, clock_);
    }
    if (StartsWithIgnoringCase(line, "Subject:")) {
        subjectText_.assign(ValueAfter(line, 9));
    }
}

bool MessageClassifier::PassphraseMatches() {
    if (passphrases_ == nullptr) {
        return false;
    }
    lowerSubject_.resize(subjectText_.size());
    for (std::size_t i = 0; i < subjectText_.size(); ++i) {
        lowerSubject_[i] = LowerAscii(subjectText_[i]);
    }
    return passphrases_->MatchSubject(lowerSubject_);
}

ClassificationResult MessageClassifier::Classify(MessageLineSource& lines, LineRewriter* rewriter) {
    return Run(lines, rewriter, Scoring::Classic);
}

ClassificationResult MessageClassifier::ApplyRules(MessageLineSource& lines, LineRewriter* rewriter) {
    return Run(lines, rewriter, Scoring::ByCaller);
}

ClassificationResult MessageClassifier::Run(MessageLineSource& lines, LineRewriter* rewriter,
                                            Scoring scoring) {
    const bool classic = scoring == Scoring::Classic;
    const TokenTables* tables = classic ? settings_.tokenTables : nullptr;
    std::shared_lock<std::shared_mutex> lock;
    if (tables != nullptr) {
        lock = std::shared_lock(tables->mutex);
    }
    scorer_.Reset(tables, settings_.spamMessageCount.load(), settings_.hamMessageCount.load());
    fromText_.clear();
    toText_.clear();
    subjectText_.clear();
    const bool rewriting = rewriter != nullptr && settings_.renameAttachments != 0;
    bool inHeader = true;

    MessageLine line;
    while (lines.NextLine(line)) {
        if (rewriting) {
            rewriter->RewriteLine(line);
        }
        const std::string_view text = line.text;
        if (text.empty() && inHeader) {
            inHeader = false;
            if (settings_.checkFromToDiffer != 0 && EqualIgnoringCase(fromText_, toText_)) {
                return Finish(DecidingRule::FromTo, true, scoring);
            }
            if (settings_.subjectPassphrasesEnabled != 0 && PassphraseMatches()) {
                return Finish(DecidingRule::Passphrase, false, scoring);
            }
        }
        if (inHeader) {
            CaptureHeader(text);
        }
        if (classic && !text.empty() && (!inHeader || !subjectText_.empty())) {
            scorer_.FeedLineDeferred(text, inHeader);
        }
    }
    return Finish(DecidingRule::None, false, scoring);
}

ClassificationResult MessageClassifier::Finish(DecidingRule rule, bool ruleSaysSpam, Scoring scoring) {
    scorer_.Flush();
    ClassificationResult result;
    if (rule == DecidingRule::None && scoring == Scoring::ByCaller) {
        return result;
    }
    if (rule != DecidingRule::None) {
        result.decidedByRule = true;
        result.rule = rule;
        result.isSpam = ruleSaysSpam;
        result.probabilityText = "99";
        result.sender.assign(fromText_);
    } else {
        result.score = scorer_.Score();
        result.isSpam = result.score >= settings_.Threshold();
        if (result.isSpam) {
            result.sender.assign(fromText_);
            result.probabilityText =
                result.score >= kCertain ? std::string("99") : std::to_string(result.score).substr(0, 2);
        }
    }
    LogActivity(settings_,
                result.isSpam ? "Bramvell suspects this message is Spam\n"
                              : "Bramvell suspects this message is NOT Spam\n",
                clock_);
    return result;
}

}  // namespace bramvell
