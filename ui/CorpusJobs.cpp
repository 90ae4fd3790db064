#include "ui/CorpusJobs.h"

#include "classify/CorpusEvaluator.h"
#include "classify/CorpusTrainer.h"
#include "config/FilterSettings.h"

namespace bramvell {

namespace {

CorpusCallbacks ForClassify(const CorpusRunCallbacks& callbacks) {
    return CorpusCallbacks{callbacks.pump, callbacks.progress};
}

CorpusJob Learn(FilterSettings& settings, SampleClass sampleClass) {
    return [&settings, sampleClass](const CorpusRunCallbacks& callbacks) {
        CorpusTrainer trainer(settings, ForClassify(callbacks));
        return trainer.Learn(sampleClass) == CorpusRunStatus::Finished;
    };
}

}  // namespace

CorpusJobs MakeCorpusJobs(FilterSettings& settings, const Clock& clock) {
    CorpusJobs jobs;
    jobs.learnSpam = Learn(settings, SampleClass::Spam);
    jobs.learnHam = Learn(settings, SampleClass::Ham);
    jobs.test = [&settings, &clock](const CorpusRunCallbacks& callbacks) {
        CorpusEvaluator evaluator(settings, ForClassify(callbacks), clock);
        return evaluator.Evaluate() == CorpusRunStatus::Finished;
    };
    return jobs;
}

}  // namespace bramvell
