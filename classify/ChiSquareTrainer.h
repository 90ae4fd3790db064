#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "classify/ChiSquareMath.h"
#include "classify/ChiSquareStore.h"
#include "classify/MimeTokenizer.h"
#include "classify/TokenCountTable.h"

namespace bramvell {

// Reads a message file (a regular file, no link followed) of at most kMaxMessageFileBytes.
inline constexpr std::size_t kMaxMessageFileBytes = std::size_t{64} << 20;
bool ReadMessageFile(const std::string& path, std::string& bytes);

struct ChiSquareTrainingSummary {
    std::size_t learned = 0;
    std::size_t duplicates = 0;  // already learned as that class
    std::size_t moved = 0;       // learned as the other class before
    std::size_t unlearned = 0;
    std::size_t notLearned = 0;  // unlearn of a message not held as that class
    std::size_t unreadable = 0;
    std::size_t relearned = 0;  // times a misjudged message was learned again
};

// Learns messages into, and unlearns them from, the chi-square store: tokenized here, written in
// batches of at most kBatchMessages, one write transaction each, so that a crash or a failed write loses
// at most the batch under way and never half a message. A batch is tokenized by two threads side by side
// and written on a thread of its own while the next one is tokenized. The store ends as if each message
// had been learned in turn.
class ChiSquareTrainer {
  public:
    static constexpr std::size_t kBatchMessages = 1024;
    static constexpr std::size_t kLastBatchMessages = 128;
    static constexpr std::size_t kSplitFrom = 64;  // fewer messages are tokenized on one thread
    using Progress = std::function<void(std::size_t done, std::size_t total)>;

    // Training on errors: after learning folders, a message the store still scores below this (spam)
    // or above that (good mail), its own counts left out, is learned once more, and the messages after
    // it are scored with that; in up to this many rounds, each after the first looking again only at
    // the messages learned again in the one before. All of it is written in one transaction.
    static constexpr int32_t kRelearnSpamBelow = 9500;
    static constexpr int32_t kRelearnHamAbove = 1000;
    static constexpr int kRelearnRounds = 6;
    // The tokens of the messages learned are kept for it (a few hundred bytes each); past this many
    // messages in one run, the later ones are learned but not looked at again.
    static constexpr std::size_t kMaxRelearnMessages = 100000;

    explicit ChiSquareTrainer(ChiSquareStore& store, MimeTokenizer::Options options = {},
                              ChiSquareParameters parameters = {});

    // Learns each folder in turn as its class, then trains on errors over all their messages (see
    // above). Given both classes, this gives a far more accurate store than learning each alone.
    bool LearnFolders(const std::vector<std::pair<MailClass, std::string>>& folders,
                      ChiSquareTrainingSummary& summary, std::string& problem, const Progress& progress = {});

    // Every regular file of the folder, in byte-wise name order.
    bool LearnFolder(MailClass mailClass, const std::string& folder, ChiSquareTrainingSummary& summary,
                     std::string& problem, const Progress& progress = {});
    bool Learn(MailClass mailClass, const std::vector<std::string>& files, ChiSquareTrainingSummary& summary,
               std::string& problem, const Progress& progress = {});
    bool Unlearn(MailClass mailClass, const std::vector<std::string>& files, ChiSquareTrainingSummary& summary,
                 std::string& problem);

  private:
    struct Sample {
        MailClass mailClass;
        std::string path;
    };
    static std::vector<Sample> SamplesOf(MailClass mailClass, const std::vector<std::string>& files);

    // Reads and tokenizes the files, appending a change per readable file to batch, in their order.
    // Given sums, each tokenizing thread sums its changes' tokens into one, as new learns of their class;
    // a message the store holds as its class already is left out (and not marked summedAhead).
    // Each thread merges its sums through its own of scratch, which the batches share.
    void Tokenize(ChiSquareStore::Change::Kind kind, std::span<const Sample> samples,
                  std::vector<ChiSquareStore::Change>& batch, std::size_t& unreadable,
                  std::array<ChiSquareDeltas, 2>* sums = nullptr,
                  std::array<ChiSquareDeltas::Buffer, 2>* scratch = nullptr) const;
    // Learns or unlearns the samples in order, in batches that may hold both classes.
    bool Run(ChiSquareStore::Change::Kind kind, const std::vector<Sample>& samples,
             ChiSquareTrainingSummary& summary, std::string& problem, const Progress& progress);
    // A batch of the pipeline Run drives, its buffers used again two batches later.
    struct Batch {
        std::vector<ChiSquareStore::Change> changes;
        // The changes' tokens summed ahead of the write when learning, one run per tokenizing thread.
        std::array<ChiSquareDeltas, 2> sums;
        std::array<std::span<const ChiSquareDeltas::Entry>, 2> summed;
        ChiSquareStore::BatchHelp help;
        std::vector<TokenCountTable::Assignment> written;  // the counts its write left, when kept_
    };
    // Writes the batch and counts the outcomes.
    bool Flush(const Batch& batch, ChiSquareTrainingSummary& summary, std::string& problem);
    // Once written: records the counts the batch left in written_ and moves its changes to kept_.
    void Keep(Batch& batch);
    // Learns again, round by round, the messages of learned that the store still misjudges.
    bool RelearnMisjudged(const std::vector<ChiSquareStore::Change>& learned, TokenCountTable written,
                          ChiSquareTrainingSummary& summary, std::string& problem);

    ChiSquareStore& store_;
    MimeTokenizer tokenizer_;
    ChiSquareParameters parameters_;
    // While LearnFolders runs: every change written, kept for training on errors (Keep adds to it).
    std::vector<ChiSquareStore::Change>* kept_ = nullptr;
    // ... and the counts it wrote of each token, which training on errors then need not look up.
    TokenCountTable* written_ = nullptr;
};

}  // namespace bramvell
