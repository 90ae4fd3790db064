#include "classify/CorpusEvaluator.h"

#include <cstdio>
#include <mutex>
#include <shared_mutex>

#include "classify/TokenTables.h"
#include "config/ActivityLog.h"
#include "config/FilterSettings.h"

namespace bramvell {

CorpusEvaluator::CorpusEvaluator(const FilterSettings& settings, CorpusCallbacks callbacks,
                                 const Clock& clock)
    : settings_(settings), callbacks_(std::move(callbacks)), clock_(clock) {}

CorpusRunStatus CorpusEvaluator::Evaluate() {
    return Evaluate(settings_.QuarantineFolder());
}

CorpusRunStatus CorpusEvaluator::Evaluate(const std::string& folder) {
    totals_ = {};
    const TokenTables* tables = settings_.tokenTables;
    const std::vector<SampleEntry> entries = ListSampleFolder(folder);
    char text[256];
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SampleEntry& entry = entries[i];
        if (!entry.isDirectory && reader_.Open(entry.path)) {
            ++totals_.count;
            scorer_.Reset(tables, settings_.spamMessageCount.load(), settings_.hamMessageCount.load());
            const SampleReadStatus read =
                reader_.ReadOpened(callbacks_.pump, [this, tables](std::string_view line, bool subjectLine) {
                    std::shared_lock<std::shared_mutex> lock;
                    if (tables != nullptr) {
                        lock = std::shared_lock(tables->mutex);
                    }
                    scorer_.FeedLine(line, subjectLine);
                });
            if (read == SampleReadStatus::Stopped) {
                return CorpusRunStatus::Stopped;
            }
            const int32_t score = scorer_.Score();
            (score >= kSpamScore ? totals_.spam : totals_.ham) += 1;
            const TopTokenSlots& slots = scorer_.Slots();
            std::snprintf(text, sizeof text, "%d||%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d\n", score,
                          slots[0].probability, slots[1].probability, slots[2].probability,
                          slots[3].probability, slots[4].probability, slots[5].probability,
                          slots[6].probability, slots[7].probability, slots[8].probability,
                          slots[9].probability, slots[10].probability, slots[11].probability,
                          slots[12].probability, slots[13].probability, slots[14].probability);
            LogActivity(settings_, text, clock_);
        }
        std::snprintf(text, sizeof text, "Cnt: %d  Ham: %d  Spam: %d\n", totals_.count, totals_.ham,
                      totals_.spam);
        LogActivity(settings_, text, clock_);
        if (callbacks_.progress) {
            callbacks_.progress(i + 1, entries.size());
        }
    }
    return CorpusRunStatus::Finished;
}

}  // namespace bramvell
