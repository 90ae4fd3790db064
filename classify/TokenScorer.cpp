#include "classify/TokenScorer.h"

#include <cmath>
#include <cstdlib>

#include "classify/TokenProbabilities.h"
#include "classify/TokenTables.h"

namespace bramvell {
namespace {

int32_t Interest(int32_t probability) {
    return std::abs(probability - kCertain / 2);
}

struct Counts {
    uint64_t spam = 0;
    uint64_t doubledHam = 0;
};

Counts CountsOf(const TokenRecord& record, CaseForm form) {
    return {record.Sum(SampleClass::Spam, form), 2 * record.Sum(SampleClass::Ham, form)};
}

}  // namespace

int32_t RateProbability(uint64_t s, uint64_t g, int32_t spamMessages, int32_t hamMessages) {
    const double spamDivisor = spamMessages < 1 ? 1.0 : static_cast<double>(spamMessages);
    const double hamDivisor = hamMessages < 1 ? 1.0 : static_cast<double>(hamMessages);
    const int64_t a = static_cast<int64_t>(std::trunc(static_cast<double>(s) / spamDivisor * 10000.0));
    const int64_t b = a + static_cast<int64_t>(std::trunc(static_cast<double>(g) / hamDivisor * 10000.0));
    if (b <= 0) {
        return kHamOnlyProbability;
    }
    return static_cast<int32_t>(std::trunc(static_cast<double>(a) / static_cast<double>(b) * 10000.0));
}

int32_t ScoreOfSlots(const TopTokenSlots& slots) {
    int64_t spamSum = 0;
    int64_t hamSum = 0;
    for (const TokenSlot& slot : slots) {
        spamSum += slot.probability;
        hamSum += kCertain - slot.probability;
    }
    const int64_t total = spamSum + hamSum;
    if (total == 0) {
        return 0;
    }
    return static_cast<int32_t>(
        std::trunc(static_cast<double>(spamSum) / static_cast<double>(total) * 10000.0));
}

int32_t ProbabilityOfRecord(const TokenRecord& record, const TokenTable& secondary, int bucket,
                            const TokenKey& key, CaseForm form, ScoringMode mode, int32_t spamMessages,
                            int32_t hamMessages) {
    Counts counts = CountsOf(record, form);
    if (counts.spam == 0 && counts.doubledHam == 0) {
        if (const TokenRecord* other = secondary.Find(bucket, key)) {
            counts = CountsOf(*other, form);
        }
    }
    if (mode == ScoringMode::Evaluation) {
        return RateProbability(counts.spam, counts.doubledHam, spamMessages, hamMessages);
    }
    if (counts.spam > 0 && counts.doubledHam == 0) {
        return kSpamOnlyProbability;
    }
    if (counts.spam == 0 && counts.doubledHam > 0) {
        return kHamOnlyProbability;
    }
    if (counts.spam == 0) {
        return kNeutralUnseen;
    }
    return RateProbability(counts.spam, counts.doubledHam, spamMessages, hamMessages);
}

void TokenScorer::Reset(const TokenTables* tables, int32_t spamMessageCount, int32_t hamMessageCount) {
    pendingCount_ = 0;
    tables_ = tables;
    precomputed_ =
        probabilities_ != nullptr && probabilities_->Fits(tables, spamMessageCount, hamMessageCount, mode_);
    spamMessages_ = spamMessageCount;
    hamMessages_ = hamMessageCount;
    tokenizer_.Reset();
    slots_ = {};
    filled_ = 0;
    leastInteresting_ = 0;
}

void TokenScorer::FeedLine(std::string_view line, bool headerLine) {
    FeedLineDeferred(line, headerLine);
    OfferPending();
}

void TokenScorer::FeedLineDeferred(std::string_view line, bool headerLine) {
    if (precomputed_) {
        tokenizer_.FeedWords(line, [this, headerLine](const TokenWords& token) {
            PendingToken& pending = pending_[pendingCount_++];
            pending.token = token;
            probabilities_->Start(token, token.Form(), headerLine, pending.probe);
            if (pendingCount_ == kPendingSize) {
                OfferPending();
            }
        });
        return;
    }
    CheckMemo();
    tokenizer_.Feed(line, [this, headerLine](const Token& token) { ScoreToken(token, headerLine); });
}

void TokenScorer::OfferPending() {
    for (int i = 0; i < pendingCount_; ++i) {
        const int32_t probability = probabilities_->Finish(pending_[i].probe);
        if (probability == kUnseen) {
            Offer(mode_ == ScoringMode::Filter ? kUnseenFill : kNeutralUnseen, kNeutralUnseen,
                  pending_[i].token);
        } else {
            Offer(probability, probability, pending_[i].token);
        }
    }
    pendingCount_ = 0;
}

void TokenScorer::CheckMemo() {
    const uint64_t versions =
        tables_ == nullptr ? 0 : tables_->bodyTokenTable().Version() + tables_->headerTokenTable().Version();
    if (memo_.empty()) {
        memo_.resize(kMemoSize);
    } else if (tables_ == memoTables_ && versions == memoVersions_ && spamMessages_ == memoSpamMessages_ &&
               hamMessages_ == memoHamMessages_) {
        return;
    } else {
        std::fill(memo_.begin(), memo_.end(), MemoEntry{});
    }
    memoTables_ = tables_;
    memoVersions_ = versions;
    memoSpamMessages_ = spamMessages_;
    memoHamMessages_ = hamMessages_;
}

int32_t TokenScorer::Probability(int bucket, const TokenKey& key, CaseForm form, bool headerLine) const {
    if (tables_ == nullptr) {
        return kUnseen;
    }
    const TokenTable& primary = headerLine ? tables_->headerTokenTable() : tables_->bodyTokenTable();
    const TokenRecord* record = primary.Find(bucket, key);
    if (record == nullptr) {
        return kUnseen;
    }
    const TokenTable& secondary = headerLine ? tables_->bodyTokenTable() : tables_->headerTokenTable();
    return ProbabilityOfRecord(*record, secondary, bucket, key, form, mode_, spamMessages_, hamMessages_);
}

void TokenScorer::ScoreToken(const Token& token, bool headerLine) {
    const int bucket = token.Bucket();
    const TokenKey key = token.Key();
    const CaseForm form = token.Form();
    int32_t probability;
    if (memo_.empty()) {
        probability = Probability(bucket, key, form, headerLine);
    } else {
        const uint32_t kind = 1 + (headerLine ? 1 : 0) + 2 * static_cast<uint32_t>(form);
        const uint32_t tag = static_cast<uint32_t>(bucket) | kind << 15;
        uint64_t low = 0;
        std::memcpy(&low, key.bytes.data(), 8);
        const uint64_t hash = (low ^ static_cast<uint64_t>(tag) << 40) * 0x9E3779B97F4A7C15ull;
        MemoEntry& entry = memo_[hash >> (64 - kMemoBits)];
        if ((entry.packed & 0x3FFFF) == tag && entry.key == key) {
            probability = static_cast<int32_t>(entry.packed >> 18) - 1;
        } else {
            probability = Probability(bucket, key, form, headerLine);
            entry.key = key;
            entry.packed = tag | static_cast<uint32_t>(probability + 1) << 18;
        }
    }
    if (probability == kUnseen) {
        Offer(mode_ == ScoringMode::Filter ? kUnseenFill : kNeutralUnseen, kNeutralUnseen, token);
    } else {
        Offer(probability, probability, token);
    }
}

template <typename AnyToken>
void TokenScorer::Offer(int32_t fillValue, int32_t competeValue, const AnyToken& token) {
    if (filled_ < kSlotCount) {
        slots_[filled_++] = {fillValue, token.Key()};
        if (filled_ == kSlotCount) {
            FindLeastInteresting();
        }
        return;
    }
    if (Interest(competeValue) > Interest(slots_[leastInteresting_].probability)) {
        slots_[leastInteresting_] = {competeValue, token.Key()};
        FindLeastInteresting();
    }
}

void TokenScorer::FindLeastInteresting() {
    int least = 0;
    for (int i = 1; i < kSlotCount; ++i) {
        if (Interest(slots_[i].probability) < Interest(slots_[least].probability)) {
            least = i;
        }
    }
    leastInteresting_ = least;
}

}  // namespace bramvell
