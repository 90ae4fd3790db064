// Learning, loading and classification speed over a corpus of messages.
//
// BRAMVELL_CORPUS names a folder with spam/ and ham/ sub-folders of one message per file
// (bench/compare-bogofilter prepares the SpamAssassin public corpus that way). Without it, a small
// generated corpus stands in so that the program runs anywhere.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <stdlib.h>
#include "classify/BatchClassifier.h"
#include "classify/CorpusTrainer.h"
#include "classify/MessageClassifier.h"
#include "classify/SampleFolder.h"
#include "classify/TextLineSource.h"
#include "classify/TokenTableLoader.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"

namespace bramvell {
namespace {

// A folder under the system temp directory, removed with its content at destruction.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bramvell-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

struct Corpus {
    ScratchFolder scratch;
    std::string spamFolder;
    std::string hamFolder;
    std::vector<std::string> spamFiles;
    std::vector<std::string> hamFiles;
    // A program folder that has learned the whole corpus, and the message counts it learned.
    ScratchFolder learned;
    int spamMessages = 0;
    int hamMessages = 0;
};

void Generate(const std::string& folder, int count, bool spam) {
    std::filesystem::create_directories(folder);
    std::mt19937 random(spam ? 1 : 2);
    const char* spamWords[] = {"FREE", "money", "offer", "Viagra", "click", "winner", "cash", "cheap"};
    const char* hamWords[] = {"meeting", "patch", "review", "Thanks", "lunch", "release", "build", "list"};
    for (int i = 0; i < count; ++i) {
        std::ofstream out(folder + "/" + std::to_string(i) + ".eml", std::ios::binary);
        out << "From: sender" << i << "@example.org\r\nTo: you@example.org\r\nSubject: "
            << (spam ? spamWords : hamWords)[random() % 8] << " number " << i << "\r\n\r\n";
        for (int line = 0; line < 40; ++line) {
            for (int word = 0; word < 10; ++word) {
                // A word of the other class now and then, not so often that every message holds them
                // all: doubled ham counts would make those the most telling tokens of every message.
                const char** words =
                    random() % 100 == 0 ? (spam ? hamWords : spamWords) : (spam ? spamWords : hamWords);
                out << words[random() % 8] << ' ';
            }
            out << "\r\n";
        }
    }
}

std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> files;
    for (const SampleEntry& entry : ListSampleFolder(folder)) {
        if (!entry.isDirectory) {
            files.push_back(entry.path);
        }
    }
    return files;
}

int Learn(const std::string& programFolder, const Corpus& corpus, int* spamMessages, int* hamMessages) {
    FilterSettings settings;
    settings.programFolder = programFolder;
    settings.SetDefaults();
    auto tables = std::make_unique<TokenTables>();
    settings.tokenTables = tables.get();
    LoadTokenTables(*tables, programFolder);
    CorpusTrainer trainer(settings);
    trainer.Learn(SampleClass::Spam, corpus.spamFolder);
    trainer.Learn(SampleClass::Ham, corpus.hamFolder);
    if (spamMessages != nullptr) {
        *spamMessages = settings.spamMessageCount;
        *hamMessages = settings.hamMessageCount;
    }
    return settings.spamMessageCount + settings.hamMessageCount;
}

Corpus& TheCorpus() {
    static Corpus* corpus = [] {
        auto* made = new Corpus;
        if (const char* folder = std::getenv("BRAMVELL_CORPUS"); folder != nullptr && *folder != '\0') {
            made->spamFolder = std::string(folder) + "/spam";
            made->hamFolder = std::string(folder) + "/ham";
        } else {
            made->spamFolder = made->scratch / "spam";
            made->hamFolder = made->scratch / "ham";
            Generate(made->spamFolder, 300, true);
            Generate(made->hamFolder, 600, false);
        }
        made->spamFiles = Files(made->spamFolder);
        made->hamFiles = Files(made->hamFolder);
        Learn(made->learned.path(), *made, &made->spamMessages, &made->hamMessages);
        return made;
    }();
    return *corpus;
}

void BM_LearnCorpus(benchmark::State& state) {
    Corpus& corpus = TheCorpus();
    int messages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto home = std::make_unique<ScratchFolder>();
        state.ResumeTiming();
        messages = Learn(home->path(), corpus, nullptr, nullptr);
        state.PauseTiming();
        home.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * messages);
    state.counters["messages"] = messages;
}
BENCHMARK(BM_LearnCorpus)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LoadTables(benchmark::State& state) {
    Corpus& corpus = TheCorpus();
    auto tables = std::make_unique<TokenTables>();
    for (auto _ : state) {
        LoadTokenTables(*tables, corpus.learned.path());
    }
    state.counters["records"] = static_cast<double>(tables->bodyTokenTable().RecordCount() +
                                                    tables->headerTokenTable().RecordCount());
}
BENCHMARK(BM_LoadTables)->Unit(benchmark::kMillisecond)->UseRealTime();

// Settings and token tables as a filter has them after learning the corpus, logging off.
struct LearnedFilter {
    explicit LearnedFilter(const Corpus& corpus) {
        settings.programFolder = corpus.learned.path();
        settings.SetDefaults();
        settings.activityLogEnabled = 0;
        settings.spamMessageCount = corpus.spamMessages;
        settings.hamMessageCount = corpus.hamMessages;
        settings.tokenTables = &tables;
        LoadTokenTables(tables, settings.programFolder);
    }

    FilterSettings settings;
    TokenTables tables;
};

// Classifies every file of the corpus, reading each from disk, as `bramvell classify` does.
void BM_ClassifyCorpus(benchmark::State& state) {
    Corpus& corpus = TheCorpus();
    LearnedFilter learned(corpus);
    FilterSettings& settings = learned.settings;
    MessageClassifier classifier(settings, nullptr);
    TextLineSource lines;
    int spamCaught = 0;
    int hamPassed = 0;
    for (auto _ : state) {
        spamCaught = 0;
        hamPassed = 0;
        for (const std::string& file : corpus.spamFiles) {
            lines.LoadFile(file);
            spamCaught += classifier.Classify(lines).isSpam ? 1 : 0;
        }
        for (const std::string& file : corpus.hamFiles) {
            lines.LoadFile(file);
            hamPassed += classifier.Classify(lines).isSpam ? 0 : 1;
        }
    }
    const double total = static_cast<double>(corpus.spamFiles.size() + corpus.hamFiles.size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(total));
    state.counters["spam_caught_%"] = 100.0 * spamCaught / std::max<double>(1, corpus.spamFiles.size());
    state.counters["ham_passed_%"] = 100.0 * hamPassed / std::max<double>(1, corpus.hamFiles.size());
}
BENCHMARK(BM_ClassifyCorpus)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same through the batch path of `bramvell classify`: probabilities worked out once (included in
// the time), files spread over state.range(0) worker threads, results formatted in input order.
void BM_ClassifyCorpusBatch(benchmark::State& state) {
    Corpus& corpus = TheCorpus();
    LearnedFilter learned(corpus);
    FilterSettings& settings = learned.settings;
    std::vector<std::string> files = corpus.spamFiles;
    files.insert(files.end(), corpus.hamFiles.begin(), corpus.hamFiles.end());
    std::size_t spamVerdicts = 0;
    for (auto _ : state) {
        spamVerdicts = 0;
        BatchClassifier batch(settings, nullptr);
        batch.Run(
            files, static_cast<int>(state.range(0)),
            [](std::string& out, std::string&, const std::string&, const ClassificationResult* result,
               const TopTokenSlots&) { out += result != nullptr && result->isSpam ? 'S' : 'H'; },
            [&spamVerdicts](std::string_view out, std::string_view) {
                spamVerdicts += static_cast<std::size_t>(std::count(out.begin(), out.end(), 'S'));
            });
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
    state.counters["spam_verdicts"] = static_cast<double>(spamVerdicts);
}
BENCHMARK(BM_ClassifyCorpusBatch)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace bramvell

BENCHMARK_MAIN();
