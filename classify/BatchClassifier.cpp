#include "classify/BatchClassifier.h"

#include <memory>
#include <shared_mutex>

#include "classify/MessageClassifier.h"
#include "classify/OrderedChunks.h"
#include "classify/TextLineSource.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"

namespace bramvell {

BatchClassifier::BatchClassifier(const FilterSettings& settings, const SubjectMatcher* passphrases)
    : settings_(settings), passphrases_(passphrases) {
    if (const TokenTables* tables = settings.tokenTables) {
        std::shared_lock lock(tables->mutex);
        probabilities_.Build(*tables, settings.spamMessageCount.load(), settings.hamMessageCount.load(),
                             ScoringMode::Filter);
    }
}

std::size_t BatchClassifier::Run(const std::vector<std::string>& files, int jobs, const Format& format,
                                 const Write& write) {
    return OrderedChunks::Run(
        files.size(), jobs,
        [&]() -> OrderedChunks::Worker {
            auto classifier = std::make_shared<MessageClassifier>(settings_, passphrases_);
            classifier->UseProbabilities(&probabilities_);
            auto lines = std::make_shared<TextLineSource>();
            return
                [&files, &format, classifier, lines](std::size_t first, std::size_t count, ChunkText& text) {
                    for (std::size_t i = first; i < first + count; ++i) {
                        if (!lines->LoadFile(files[i])) {
                            ++text.failed;
                            format(text.out, text.err, files[i], nullptr, classifier->Slots());
                            continue;
                        }
                        const ClassificationResult result = classifier->Classify(*lines);
                        format(text.out, text.err, files[i], &result, classifier->Slots());
                    }
                };
        },
        write);
}

}  // namespace bramvell
