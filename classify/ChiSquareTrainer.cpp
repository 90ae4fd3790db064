#include "classify/ChiSquareTrainer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <iterator>
#include <optional>
#include <thread>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareCountCache.h"
#include "classify/SampleFolder.h"
#include "classify/ThreadHeap.h"
#include "config/FileHandle.h"

namespace bramvell {

bool ReadMessageFile(const std::string& path, std::string& bytes) {
    return ReadRegularFile(path, kMaxMessageFileBytes, bytes);
}

ChiSquareTrainer::ChiSquareTrainer(ChiSquareStore& store, MimeTokenizer::Options options,
                                   ChiSquareParameters parameters)
    : store_(store), tokenizer_(options), parameters_(parameters) {}

bool ChiSquareTrainer::LearnFolders(const std::vector<std::pair<MailClass, std::string>>& folders,
                                    ChiSquareTrainingSummary& summary, std::string& problem,
                                    const Progress& progress) {
    // One run over the files of every folder in turn: a batch may end in one folder and go on in the
    // next, so that no batch is written alone between two folders.
    std::vector<Sample> samples;
    for (const auto& [mailClass, folder] : folders) {
        for (const SampleEntry& entry : ListSampleFolder(folder)) {
            if (!entry.isDirectory) {
                samples.push_back({mailClass, entry.path});
            }
        }
    }
    std::vector<ChiSquareStore::Change> learned;
    TokenCountTable counts;
    kept_ = &learned;
    written_ = &counts;
    const bool written = Run(ChiSquareStore::Change::Kind::Learn, samples, summary, problem, progress);
    kept_ = nullptr;
    written_ = nullptr;
    return written && RelearnMisjudged(learned, std::move(counts), summary, problem);
}

namespace {

// A learned message of this run that training on errors looks at, and how often the store counts it.
struct Candidate {
    const ChiSquareStore::Change* change;
    uint32_t weight;
};

void TokensOf(const ChiSquareStore::Change& change, std::vector<std::string_view>& tokens) {
    tokens.resize(change.tokens.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        tokens[i] = change.tokens[i];
    }
}

// One round of training on errors over candidates[indices]: each one the counts misjudge, its own left
// out, is counted once more in them at once and added to misjudged.
void RelearnRound(const ChiSquareParameters& parameters, ChiSquareCountCache& cache,
                  std::vector<Candidate>& candidates, std::span<const std::size_t> indices,
                  std::vector<std::size_t>& misjudged) {
    std::vector<std::string_view> tokens;
    std::vector<TokenCounts> counts;
    for (const std::size_t index : indices) {
        Candidate& candidate = candidates[index];
        if (candidate.weight >= ChiSquareStore::kMaxWeight) {
            continue;
        }
        const bool spam = candidate.change->mailClass == MailClass::Spam;
        TokensOf(*candidate.change, tokens);
        // Scored as if it had not been learned: its own counts left out.
        cache.CountsOf(tokens, counts);
        for (TokenCounts& count : counts) {
            uint32_t& own = spam ? count.spam : count.ham;
            own = own > candidate.weight ? own - candidate.weight : 0;
        }
        MessageTotals totals = cache.Totals();
        uint64_t& ownTotal = spam ? totals.spam : totals.ham;
        ownTotal = ownTotal > candidate.weight ? ownTotal - candidate.weight : 0;
        const int32_t score = ScoreTokenCounts(tokens, counts, totals, parameters, {}, 0).score;
        if (spam ? score < ChiSquareTrainer::kRelearnSpamBelow : score > ChiSquareTrainer::kRelearnHamAbove) {
            cache.Raise(tokens, spam, 1);
            ++candidate.weight;
            misjudged.push_back(index);
        }
    }
}

}  // namespace

bool ChiSquareTrainer::RelearnMisjudged(const std::vector<ChiSquareStore::Change>& learned,
                                        TokenCountTable written, ChiSquareTrainingSummary& summary,
                                        std::string& problem) {
    // Worked out in memory, each relearning counted at once so that the next message is scored with it;
    // then written in one transaction. The first round looks at every message, in two halves side by
    // side (each with a snapshot and counts of its own; the second half does not see what the first
    // relearns until the round ends); the later rounds look at few.
    std::vector<ChiSquareStore::Change> relearn;
    {
        const ChiSquareStore::Snapshot snapshot(store_);
        if (!snapshot.Valid()) {
            problem = "the store could not be read";
            return false;
        }
        std::vector<Candidate> candidates;
        for (const ChiSquareStore::Change& change : learned) {
            MailClass held = MailClass::Spam;
            uint32_t weight = 0;
            if (snapshot.Learned(change.digest, held, weight) && held == change.mailClass) {
                candidates.push_back({&change, weight});
            }
        }
        // The counts this run wrote are the snapshot's (unless another process wrote since, which only
        // shifts a score a little): only the tokens of messages learned before are looked up. The second
        // half of the first round starts from a copy of its own.
        const bool split = candidates.size() >= 2 * kSplitFrom;
        TokenCountTable forSecondHalf;
        if (split) {
            forSecondHalf = written;
        }
        ChiSquareCountCache cache(snapshot, std::move(written));
        std::vector<std::size_t> current(candidates.size());
        for (std::size_t i = 0; i < current.size(); ++i) {
            current[i] = i;
        }
        std::vector<std::size_t> misjudged;
        std::vector<std::string_view> tokens;
        std::vector<TokenCounts> counts;
        for (int round = 0; round < kRelearnRounds && !current.empty(); ++round) {
            misjudged.clear();
            const std::span<const std::size_t> all(current);
            if (round == 0 && split) {
                const std::size_t half = current.size() / 2;
                std::vector<std::size_t> secondHalf;
                bool readable = true;
                std::thread helper([&] {
                    AdviseThreadHeapForHugePages();
                    const ChiSquareStore::Snapshot own(store_);
                    readable = own.Valid();
                    if (readable) {
                        ChiSquareCountCache ownCache(own, std::move(forSecondHalf));
                        RelearnRound(parameters_, ownCache, candidates, all.subspan(half), secondHalf);
                    }
                });
                RelearnRound(parameters_, cache, candidates, all.first(half), misjudged);
                helper.join();
                if (!readable) {
                    problem = "the store could not be read";
                    return false;
                }
                for (const std::size_t index : secondHalf) {
                    TokensOf(*candidates[index].change, tokens);
                    cache.CountsOf(tokens, counts);
                    cache.Raise(tokens, candidates[index].change->mailClass == MailClass::Spam, 1);
                }
                misjudged.insert(misjudged.end(), secondHalf.begin(), secondHalf.end());
            } else {
                RelearnRound(parameters_, cache, candidates, all, misjudged);
            }
            for (const std::size_t index : misjudged) {
                const ChiSquareStore::Change& change = *candidates[index].change;
                relearn.push_back({ChiSquareStore::Change::Kind::Relearn, change.mailClass, change.digest,
                                   change.tokens, false});
            }
            current.swap(misjudged);
        }
    }
    if (relearn.empty()) {
        return true;
    }
    // Their tokens summed ahead in two halves side by side, so that the write has little left to do.
    std::array<ChiSquareDeltas, 2> sums;
    auto sum = [&relearn](std::size_t from, std::size_t to, ChiSquareDeltas* into) {
        AdviseThreadHeapForHugePages();
        for (std::size_t i = from; i < to; ++i) {
            const bool spam = relearn[i].mailClass == MailClass::Spam;
            into->Add(relearn[i].tokens, spam ? 1 : 0, spam ? 0 : 1);
            relearn[i].summedAhead = true;
        }
        into->Summed();
    };
    std::thread helper(sum, relearn.size() / 2, relearn.size(), &sums[1]);
    sum(0, relearn.size() / 2, &sums[0]);
    helper.join();
    const std::array<std::span<const ChiSquareDeltas::Entry>, 2> runs = {sums[0].Summed(), sums[1].Summed()};
    std::vector<StoreOutcome> outcomes;
    store_.GrowMapAhead();
    if (!store_.Apply(relearn, outcomes, problem, {.summedAsNew = runs, .written = nullptr})) {
        return false;
    }
    summary.relearned +=
        static_cast<std::size_t>(std::count(outcomes.begin(), outcomes.end(), StoreOutcome::Relearned));
    return true;
}

bool ChiSquareTrainer::LearnFolder(MailClass mailClass, const std::string& folder,
                                   ChiSquareTrainingSummary& summary, std::string& problem,
                                   const Progress& progress) {
    std::vector<std::string> files;
    for (const SampleEntry& entry : ListSampleFolder(folder)) {
        if (!entry.isDirectory) {
            files.push_back(entry.path);
        }
    }
    return Learn(mailClass, files, summary, problem, progress);
}

std::vector<ChiSquareTrainer::Sample> ChiSquareTrainer::SamplesOf(MailClass mailClass,
                                                                  const std::vector<std::string>& files) {
    std::vector<Sample> samples;
    samples.reserve(files.size());
    for (const std::string& file : files) {
        samples.push_back({mailClass, file});
    }
    return samples;
}

bool ChiSquareTrainer::Learn(MailClass mailClass, const std::vector<std::string>& files,
                             ChiSquareTrainingSummary& summary, std::string& problem, const Progress& progress) {
    return Run(ChiSquareStore::Change::Kind::Learn, SamplesOf(mailClass, files), summary, problem, progress);
}

bool ChiSquareTrainer::Unlearn(MailClass mailClass, const std::vector<std::string>& files,
                               ChiSquareTrainingSummary& summary, std::string& problem) {
    return Run(ChiSquareStore::Change::Kind::Unlearn, SamplesOf(mailClass, files), summary, problem, {});
}

void ChiSquareTrainer::Tokenize(ChiSquareStore::Change::Kind kind, std::span<const Sample> samples,
                                std::vector<ChiSquareStore::Change>& batch, std::size_t& unreadable,
                                std::array<ChiSquareDeltas, 2>* sums,
                                std::array<ChiSquareDeltas::Buffer, 2>* scratch) const {
    std::vector<ChiSquareStore::Change> changes(samples.size());
    std::vector<uint8_t> read(samples.size(), 0);
    // The two threads take the messages a few at a time, so that neither waits for the other when the
    // large ones lie together; which thread sums a message does not matter.
    constexpr std::size_t kTaken = 4;
    std::atomic<std::size_t> next{0};
    auto work = [&](ChiSquareDeltas* sum, ChiSquareDeltas::Buffer* spare) {
        AdviseThreadHeapForHugePages();
        std::string bytes;
        // A message the store holds as its class already is left out of the sums (learning a folder
        // again then sums nothing); the write corrects for any that turn out otherwise.
        std::optional<ChiSquareStore::Snapshot> held;
        if (sum != nullptr) {
            sum->Clear();
            held.emplace(store_);
        }
        for (std::size_t from = next.fetch_add(kTaken, std::memory_order_relaxed); from < samples.size();
             from = next.fetch_add(kTaken, std::memory_order_relaxed)) {
            for (std::size_t i = from; i < std::min(from + kTaken, samples.size()); ++i) {
                if (!ReadMessageFile(samples[i].path, bytes)) {
                    continue;
                }
                read[i] = 1;
                changes[i].kind = kind;
                changes[i].mailClass = samples[i].mailClass;
                changes[i].digest = DigestOfMessage(bytes);
                changes[i].tokens.Assign(tokenizer_.TokenizeInPlace(bytes));
                MailClass learned = MailClass::Spam;
                if (sum != nullptr &&
                    !(held->LearnedClass(changes[i].digest, learned) && learned == samples[i].mailClass)) {
                    const bool spam = samples[i].mailClass == MailClass::Spam;
                    sum->Add(changes[i].tokens, spam ? 1 : 0, spam ? 0 : 1);
                    changes[i].summedAhead = true;
                }
            }
        }
        if (sum != nullptr) {
            sum->Summed(spare);
        }
    };
    ChiSquareDeltas* firstSum = sums != nullptr ? &(*sums)[0] : nullptr;
    ChiSquareDeltas* secondSum = sums != nullptr ? &(*sums)[1] : nullptr;
    ChiSquareDeltas::Buffer* firstSpare = scratch != nullptr ? &(*scratch)[0] : nullptr;
    ChiSquareDeltas::Buffer* secondSpare = scratch != nullptr ? &(*scratch)[1] : nullptr;
    // Two threads side by side when there are enough messages to be worth one more.
    if (samples.size() >= kSplitFrom) {
        std::thread helper(work, secondSum, secondSpare);
        work(firstSum, firstSpare);
        helper.join();
    } else {
        work(firstSum, firstSpare);
        if (secondSum != nullptr) {
            secondSum->Clear();
        }
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (read[i] != 0) {
            batch.push_back(std::move(changes[i]));
        } else {
            ++unreadable;
        }
    }
}

bool ChiSquareTrainer::Run(ChiSquareStore::Change::Kind kind, const std::vector<Sample>& samples,
                           ChiSquareTrainingSummary& summary, std::string& problem,
                           const Progress& progress) {
    // A pipeline over the batches. This thread tokenizes a batch (with a second one beside it, each
    // summing its token deltas ahead when learning), while a writer thread writes the batch before it; once
    // the writer of the new batch is under way, this thread records the counts the batch before wrote and
    // keeps its changes for training on errors. So the store's one writer does little more than write.
    // Batches are written in order, one at a time. The writer counts the outcomes in summary and this
    // thread only the unreadable files (another member), so the two never touch the same field.
    std::array<Batch, 2> batches;  // by batch number: the one tokenized and the one written before it
    std::array<ChiSquareDeltas::Buffer, 2> scratch;  // for summing, by tokenizing thread
    bool written = true;
    std::thread writer;
    struct JoinOnExit {
        std::thread& thread;
        ~JoinOnExit() {
            if (thread.joinable()) {
                thread.join();
            }
        }
    } joinOnExit{writer};
    auto writerDone = [&writer, &written] {
        if (writer.joinable()) {
            writer.join();
        }
        return written;
    };
    Batch* writing = nullptr;
    std::size_t number = 0;
    for (std::size_t first = 0; first < samples.size(); ++number) {
        // The last batch is kept small: it is written after everything else, with little beside it.
        std::size_t end = std::min(first + kBatchMessages, samples.size());
        const std::size_t left = samples.size() - first;
        if (left > kLastBatchMessages && left <= kBatchMessages + kLastBatchMessages) {
            end = samples.size() - kLastBatchMessages;
        }
        Batch& batch = batches[number % 2];
        batch.changes.clear();
        const bool learning = kind == ChiSquareStore::Change::Kind::Learn;
        Tokenize(kind, std::span(samples).subspan(first, end - first), batch.changes, summary.unreadable,
                 learning ? &batch.sums : nullptr, &scratch);
        batch.help = {};
        if (learning) {
            batch.summed = {batch.sums[0].Summed(), batch.sums[1].Summed()};
            batch.help.summedAsNew = batch.summed;
        }
        batch.help.written = kept_ != nullptr ? &batch.written : nullptr;
        first = end;
        if (progress) {
            progress(first, samples.size());
        }
        if (!writerDone()) {
            return false;
        }
        store_.GrowMapAhead();  // here, where this run has no transaction open
        Batch* before = writing;
        writing = &batch;
        writer = std::thread([this, writing, &written, &summary, &problem] {
            AdviseThreadHeapForHugePages();
            written = Flush(*writing, summary, problem);
        });
        if (before != nullptr) {
            Keep(*before);
        }
    }
    if (!writerDone()) {
        return false;
    }
    if (writing != nullptr) {
        Keep(*writing);
    }
    return true;
}

bool ChiSquareTrainer::Flush(const Batch& batch, ChiSquareTrainingSummary& summary, std::string& problem) {
    if (batch.changes.empty()) {
        return true;
    }
    std::vector<StoreOutcome> outcomes;
    if (!store_.Apply(batch.changes, outcomes, problem, batch.help)) {
        return false;
    }
    for (StoreOutcome outcome : outcomes) {
        switch (outcome) {
            case StoreOutcome::Learned:
                ++summary.learned;
                break;
            case StoreOutcome::Duplicate:
                ++summary.duplicates;
                break;
            case StoreOutcome::Moved:
                ++summary.moved;
                break;
            case StoreOutcome::Unlearned:
                ++summary.unlearned;
                break;
            case StoreOutcome::NotLearned:
                ++summary.notLearned;
                break;
            case StoreOutcome::Relearned:
                ++summary.relearned;
                break;
        }
    }
    return true;
}

void ChiSquareTrainer::Keep(Batch& batch) {
    if (kept_ != nullptr) {
        // The counts refer to the changes' tokens: recorded before the changes move (their token bytes
        // stay where they are) or go.
        written_->AssignAll(batch.written);
        const std::size_t room = kMaxRelearnMessages - std::min(kMaxRelearnMessages, kept_->size());
        const auto end =
            batch.changes.begin() + static_cast<std::ptrdiff_t>(std::min(room, batch.changes.size()));
        std::move(batch.changes.begin(), end, std::back_inserter(*kept_));
    }
    batch.changes.clear();
    batch.written.clear();
}

}  // namespace bramvell
