#pragma once

#include <lmdb.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "classify/ChiSquareCounts.h"
#include "classify/ChiSquareDeltas.h"
#include "classify/LmdbMapGate.h"
#include "classify/TokenCountTable.h"
#include "classify/TokenList.h"

namespace bramvell {

// SHA-256 of a message's raw bytes: how the store knows a message it has learned.
using MessageDigest = std::array<uint8_t, 32>;
MessageDigest DigestOfMessage(std::span<const char> message);

enum class MailClass : uint8_t { Spam = 's', Ham = 'h' };

// What a learn or unlearn did to one message.
enum class StoreOutcome {
    Learned,     // new to the store, counted in its class
    Duplicate,   // already learned as this class: nothing changed
    Moved,       // learned as the other class before: taken out of it and counted in this one
    Unlearned,   // taken back out of its class
    NotLearned,  // unlearn or relearn of a message the store does not hold as that class: nothing changed
    Relearned,   // held as this class already and counted once more
};

// The chi-square scorer's counts in one LMDB environment, a folder of its own in Data/ (folder 0700,
// files 0600). LMDB lets several processes read and write at once (the tray application filtering
// while `bramvell learn` runs): readers see the last committed state, one writer at a time, and a
// commit is all or nothing, so a crash never leaves a message half counted. Three databases: token →
// counts (two 32-bit numbers in host order), the message totals, and digest → class of every
// learned message, followed by how many times it is counted when that is more than once (one byte,
// 2 to kMaxWeight; training on errors counts a misjudged message again).
class ChiSquareStore {
  public:
    static constexpr std::string_view kFolderName = "chisquare.lmdb";
    static constexpr std::size_t kDefaultMapBytes = std::size_t{64} << 20;
    static constexpr uint32_t kMaxWeight = 16;  // the most times one message is counted

    ChiSquareStore() = default;
    ~ChiSquareStore();
    ChiSquareStore(const ChiSquareStore&) = delete;
    ChiSquareStore& operator=(const ChiSquareStore&) = delete;

    // Opens, creating when asked, the store in folder (the path of the environment's folder itself).
    // A symbolic link in place of the folder or its files is refused. False with problem set on failure.
    bool Open(const std::string& folder, bool create, std::string& problem,
              std::size_t initialMapBytes = kDefaultMapBytes);
    bool IsOpen() const { return env_ != nullptr; }

    // A consistent view of the store for scoring; holds an LMDB read transaction while it lives. Made
    // and ended on one thread (other threads may read through it); on that thread, a write that has to
    // grow the map fails while it lives, since growing waits for every transaction to end.
    class Snapshot {
      public:
        explicit Snapshot(const ChiSquareStore& store);
        ~Snapshot();
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;

        bool Valid() const { return txn_ != nullptr; }
        MessageTotals Totals() const;
        TokenCounts Counts(std::string_view token) const;
        // Counts of many tokens, counts[i] for tokens[i], through one cursor: in byte-wise order, a token
        // on the page of the one before is found without walking the B-tree from its root.
        void CountsInOrder(std::span<const std::string_view> tokens, std::span<TokenCounts> counts) const;
        // The class a message was learned as, or false when the store does not hold it.
        bool LearnedClass(const MessageDigest& digest, MailClass& learned) const;
        // The same, with how many times it is counted.
        bool Learned(const MessageDigest& digest, MailClass& learned, uint32_t& weight) const;

      private:
        const ChiSquareStore& store_;
        MDB_txn* txn_ = nullptr;
    };

    // A message to learn, unlearn or relearn as mailClass, with its distinct tokens. Learning a message
    // held as the other class takes all its counts out of that class; unlearning takes all of them out;
    // relearning counts a message held as this class once more (up to kMaxWeight times).
    struct Change {
        enum class Kind { Learn, Unlearn, Relearn };
        Kind kind = Kind::Learn;
        MailClass mailClass = MailClass::Spam;
        MessageDigest digest{};
        TokenList tokens;  // distinct, in byte-wise order as the tokenizer gives them
        bool summedAhead = false;  // counted once in its class in the batch's BatchHelp::summedAsNew
    };

    // What a learning run can hand a batch's write, so that less of the work is done while the store's
    // one writer waits.
    struct BatchHelp {
        // The token deltas of the changes marked summedAhead, summed ahead in runs as
        // ChiSquareDeltas::Summed gives them, as if each counted its message once more in its class (a
        // message new to the store, or a relearn of one held as that class); the write corrects for the
        // messages that turn out otherwise. None: all are summed in the write.
        std::span<const std::span<const ChiSquareDeltas::Entry>> summedAsNew;
        // Given, gets every token count written (views into the changes' tokens) once committed, so that
        // a learning run knows the counts it left.
        std::vector<TokenCountTable::Assignment>* written = nullptr;
    };

    // Applies the changes in order in one write transaction: all of them or, on failure, none. A map that
    // fills up is grown and the transaction run again. outcomes gets one entry per change.
    bool Apply(std::span<const Change> changes, std::vector<StoreOutcome>& outcomes, std::string& problem,
               const BatchHelp& help);
    bool Apply(std::span<const Change> changes, std::vector<StoreOutcome>& outcomes, std::string& problem) {
        return Apply(changes, outcomes, problem, BatchHelp{});
    }

    std::size_t MapBytes() const { return mapBytes_; }
    // Doubles the map when more than half of it is used, so that few write transactions fill it and
    // have to be run again. Waits until no transaction of this process is open (none may be open on
    // the calling thread): a learning run calls it between batches.
    void GrowMapAhead();

  private:
    int TryApply(std::span<const Change> changes, std::vector<StoreOutcome>& outcomes, const BatchHelp& help);
    // Through the gate (EDEADLK when this thread holds a transaction), keeping mapBytes_.
    int SetMapSize(std::size_t bytes) const;
    void Close();

    MDB_env* env_ = nullptr;
    MDB_dbi tokens_ = 0;
    MDB_dbi totals_ = 0;
    MDB_dbi messages_ = 0;
    mutable std::size_t mapBytes_ = 0;
    mutable LmdbMapGate gate_;  // every transaction passes it, so that the map grows only between them
    // Kept from batch to batch: its buffers are tens of megabytes, and fresh ones would be faulted in
    // page by page each time.
    ChiSquareDeltas deltas_;
};

}  // namespace bramvell
