#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "classify/TokenProbabilities.h"
#include "classify/TokenRecord.h"
#include "classify/Tokenizer.h"

namespace bramvell {

class TokenTable;
class TokenTables;

inline constexpr int kSlotCount = 15;
inline constexpr int32_t kSpamOnlyProbability = 9900;
inline constexpr int32_t kHamOnlyProbability = 100;
inline constexpr int32_t kNeutralUnseen = 3500;  // a known token with no counts; an unseen one competing
inline constexpr int32_t kUnseenFill = 1000;     // an unseen token filling an empty slot in the filter
inline constexpr int32_t kCertain = 10000;

// The filter uses fixed values for one-sided tokens; the corpus evaluation uses the rate alone.
enum class ScoringMode { Filter, Evaluation };

struct TokenSlot {
    int32_t probability = 0;  // 0 while empty
    TokenKey key;
};
using TopTokenSlots = std::array<TokenSlot, kSlotCount>;

// Rate probability of a token seen s times in spam and with doubled ham count g, in double precision:
// a = trunc(s / spamMessages x 10000), b = a + trunc(g / hamMessages x 10000), p = trunc(a / b x 10000),
// or 100 when b is 0. A message count below 1 divides as 1.
int32_t RateProbability(uint64_t s, uint64_t g, int32_t spamMessages, int32_t hamMessages);

// Probability of a token whose record the primary table (header or body) holds: its counts for the
// form, or the secondary table's when the primary counts are both zero.
int32_t ProbabilityOfRecord(const TokenRecord& record, const TokenTable& secondary, int bucket,
                            const TokenKey& key, CaseForm form, ScoringMode mode, int32_t spamMessages,
                            int32_t hamMessages);

// Mean of the fifteen slots, empty slots counting 0: trunc(S / (S + T) x 10000).
int32_t ScoreOfSlots(const TopTokenSlots& slots);

// Turns the lines of one message into a score 0..10000 from the first fifteen token probabilities,
// later tokens replacing the least interesting slot when they are strictly more interesting.
// Reads the tables without locking: the caller holds their mutex shared for the whole message.
class TokenScorer {
  public:
    explicit TokenScorer(ScoringMode mode = ScoringMode::Filter) : mode_(mode) {}

    // Empties the slots and the comment depth; takes the tables (may be null: every token unseen)
    // and the message counts used for this message.
    void Reset(const TokenTables* tables, int32_t spamMessageCount, int32_t hamMessageCount);
    void FeedLine(std::string_view line, bool headerLine);
    // As FeedLine, but with precomputed probabilities the tokens may wait, so that lookups of several
    // lines overlap: call Flush before reading the slots or the score.
    void FeedLineDeferred(std::string_view line, bool headerLine);
    void Flush() { OfferPending(); }
    // Precomputed probabilities to use instead of table lookups whenever they fit the tables and counts
    // of a message (may be null). The object must outlive its use.
    void UseProbabilities(const TokenProbabilities* probabilities) { probabilities_ = probabilities; }
    int32_t Score() const { return ScoreOfSlots(slots_); }

    const TopTokenSlots& Slots() const { return slots_; }
    int FilledSlots() const { return filled_; }
    int CommentDepth() const { return tokenizer_.CommentDepth(); }

  private:
    // Remembers the probabilities of recent tokens across messages for as long as the tables and the
    // message counts stay as they were: common words then cost no table lookup.
    struct MemoEntry {
        TokenKey key;
        // bucket (15 bits), kind (3 bits: 0 empty, else 1 + header flag + 2 x form) and
        // probability + 1 (14 bits), so that an entry fits in 16 bytes.
        uint32_t packed = 0;
    };
    static_assert(sizeof(MemoEntry) == 16);
    static constexpr std::size_t kMemoBits = 12;
    static constexpr std::size_t kMemoSize = std::size_t{1} << kMemoBits;
    static constexpr int32_t kUnseen = -1;

    void ScoreToken(const Token& token, bool headerLine);
    // Looks up the tokens held back for a line in the precomputed probabilities and offers them in order.
    void OfferPending();
    // Probability of a token, or kUnseen when the primary table lacks it.
    int32_t Probability(int bucket, const TokenKey& key, CaseForm form, bool headerLine) const;
    // Empties the memo when the tables or the message counts have changed since it was filled.
    void CheckMemo();
    // token is a Token or TokenWords: its key is made only when it takes a slot.
    template <typename AnyToken>
    void Offer(int32_t fillValue, int32_t competeValue, const AnyToken& token);
    void FindLeastInteresting();

    ScoringMode mode_;
    const TokenTables* tables_ = nullptr;
    const TokenProbabilities* probabilities_ = nullptr;
    bool precomputed_ = false;  // probabilities_ fits this message
    int32_t spamMessages_ = 0;
    int32_t hamMessages_ = 0;
    Tokenizer tokenizer_;
    TopTokenSlots slots_{};
    int filled_ = 0;
    int leastInteresting_ = 0;
    std::vector<MemoEntry> memo_;
    // Tokens of the current line whose lookups have started (precomputed probabilities only).
    static constexpr int kPendingSize = 24;
    struct PendingToken {
        TokenWords token;
        TokenProbabilities::Probe probe;
    };
    std::array<PendingToken, kPendingSize> pending_;
    int pendingCount_ = 0;
    const TokenTables* memoTables_ = nullptr;
    uint64_t memoVersions_ = 0;
    int32_t memoSpamMessages_ = -1;
    int32_t memoHamMessages_ = -1;
};

}  // namespace bramvell
