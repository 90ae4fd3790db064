#pragma once

#include "config/Clock.h"
#include "ui/CorpusTools.h"

namespace bramvell {

class FilterSettings;

// The corpus tool's three runs over the quarantine folder, with the token tables of the settings:
// "Spam" and "Ham" learn with CorpusTrainer, "Test" evaluates with CorpusEvaluator into the activity
// log. The settings (and the clock) must outlive the jobs.
CorpusJobs MakeCorpusJobs(FilterSettings& settings, const Clock& clock = DefaultClock());

}  // namespace bramvell
