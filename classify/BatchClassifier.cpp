#include "classify/BatchClassifier.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "classify/MessageClassifier.h"
#include "classify/TextLineSource.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"

namespace bramvell {

// Files [first, first + count) of the input and their formatted text once done.
struct BatchClassifier::Chunk {
    std::size_t first = 0;
    std::size_t count = 0;
    std::string out;
    std::string err;
    std::size_t unreadable = 0;
    bool done = false;  // guarded by the run's mutex
};

BatchClassifier::BatchClassifier(const FilterSettings& settings, const SubjectMatcher* passphrases)
    : settings_(settings), passphrases_(passphrases) {
    if (const TokenTables* tables = settings.tokenTables) {
        std::shared_lock lock(tables->mutex);
        probabilities_.Build(*tables, settings.spamMessageCount.load(), settings.hamMessageCount.load(),
                             ScoringMode::Filter);
    }
}

void BatchClassifier::Classify(const std::vector<std::string>& files, Chunk& chunk, const Format& format,
                               MessageClassifier& classifier, TextLineSource& lines) const {
    for (std::size_t i = chunk.first; i < chunk.first + chunk.count; ++i) {
        if (!lines.LoadFile(files[i])) {
            ++chunk.unreadable;
            format(chunk.out, chunk.err, files[i], nullptr, classifier.Slots());
            continue;
        }
        const ClassificationResult result = classifier.Classify(lines);
        format(chunk.out, chunk.err, files[i], &result, classifier.Slots());
    }
}

std::size_t BatchClassifier::Run(const std::vector<std::string>& files, int jobs, const Format& format,
                                 const Write& write) {
    // Small chunks keep the threads evenly busy; each is written out as soon as it and all before it are
    // done.
    constexpr std::size_t kChunkFiles = 32;
    std::vector<Chunk> chunks((files.size() + kChunkFiles - 1) / kChunkFiles);
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        chunks[k].first = k * kChunkFiles;
        chunks[k].count = std::min(kChunkFiles, files.size() - chunks[k].first);
    }
    std::size_t unreadable = 0;
    jobs = std::clamp<int>(jobs, 1, static_cast<int>(std::max<std::size_t>(1, chunks.size())));
    if (jobs == 1) {
        MessageClassifier classifier(settings_, passphrases_);
        classifier.UseProbabilities(&probabilities_);
        TextLineSource lines;
        for (Chunk& chunk : chunks) {
            Classify(files, chunk, format, classifier, lines);
            write(chunk.out, chunk.err);
            unreadable += chunk.unreadable;
            chunk = Chunk{};
        }
        return unreadable;
    }

    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(jobs));
    for (int j = 0; j < jobs; ++j) {
        workers.emplace_back([&] {
            MessageClassifier classifier(settings_, passphrases_);
            classifier.UseProbabilities(&probabilities_);
            TextLineSource lines;
            for (std::size_t k = next++; k < chunks.size(); k = next++) {
                Classify(files, chunks[k], format, classifier, lines);
                std::lock_guard lock(mutex);
                chunks[k].done = true;
                finished.notify_all();
            }
        });
    }
    for (Chunk& chunk : chunks) {
        {
            std::unique_lock lock(mutex);
            finished.wait(lock, [&chunk] { return chunk.done; });
        }
        write(chunk.out, chunk.err);
        unreadable += chunk.unreadable;
        chunk.out = std::string();
        chunk.err = std::string();
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    return unreadable;
}

}  // namespace bramvell
