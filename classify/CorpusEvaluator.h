#pragma once

#include <string>

#include "classify/CorpusRun.h"
#include "classify/SampleFolder.h"
#include "classify/TokenScorer.h"
#include "config/Clock.h"

namespace bramvell {

class FilterSettings;

struct EvaluationTotals {
    int count = 0;  // Cnt: samples read
    int ham = 0;
    int spam = 0;
};

// Scores every sample of a folder with the rate formula alone (unseen tokens 3500) and writes, per
// entry, a line with the score and the fifteen slots (samples only) and a line of running totals to
// the activity log. Changes no table, file or counter.
class CorpusEvaluator {
  public:
    static constexpr int32_t kSpamScore = 4400;

    explicit CorpusEvaluator(const FilterSettings& settings, CorpusCallbacks callbacks = {},
                             const Clock& clock = DefaultClock());

    // Evaluates the quarantine folder.
    CorpusRunStatus Evaluate();
    CorpusRunStatus Evaluate(const std::string& folder);

    const EvaluationTotals& Totals() const { return totals_; }

  private:
    const FilterSettings& settings_;
    CorpusCallbacks callbacks_;
    const Clock& clock_;
    SampleReader reader_;
    TokenScorer scorer_{ScoringMode::Evaluation};
    EvaluationTotals totals_;
};

}  // namespace bramvell
