#include "classify/TokenProbabilities.h"

#include <sys/mman.h>

#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "classify/TokenScorer.h"
#include "classify/TokenTables.h"

namespace bramvell {
namespace {

// The token a stored record answers to: its first letter from the bucket, the rest from the key.
// False when no token can find the record: a key that is not two or more letters followed only by
// zero bytes, or one whose letters do not match its bucket (damaged or hand-made files).
bool TokenOfRecord(int bucket, const TokenRecord& record, Token& token, TokenKey& lowerKey) {
    int length = 0;
    while (length < kKeyLength && record.key[length] != 0) {
        if (!IsLetter(static_cast<unsigned char>(record.key[length]))) {
            return false;
        }
        lowerKey.bytes[length] = LowerAscii(record.key[length]);
        ++length;
    }
    for (int i = length; i < kKeyLength; ++i) {
        if (record.key[i] != 0) {
            return false;
        }
        lowerKey.bytes[i] = 0;
    }
    if (length < 2 || bucket < 0 || bucket >= kBucketCount ||
        bucket % (kLetterCount * kLetterCount) !=
            kLetterCount * (lowerKey.bytes[0] - 'a') + (lowerKey.bytes[1] - 'a')) {
        return false;
    }
    token.letters[0] = static_cast<char>('a' + bucket / (kLetterCount * kLetterCount));
    std::memcpy(token.letters + 1, lowerKey.bytes.data(), kKeyLength);
    token.length = 1 + length;
    return true;
}

TokenWords WordsOf(const Token& token) {
    TokenWords words;
    words.length = token.length;
    for (int i = 0; i < token.length; ++i) {
        const uint64_t byte = static_cast<unsigned char>(token.letters[i]);
        (i < 8 ? words.head : words.tail) |= byte << (8 * (i % 8));
    }
    return words;
}

}  // namespace

void TokenProbabilities::Build(const TokenTables& tables, int32_t spamMessages, int32_t hamMessages,
                               ScoringMode mode) {
    source_ = &tables;
    versions_[0] = tables.bodyTokenTable().Version();
    versions_[1] = tables.headerTokenTable().Version();
    spamMessages_ = spamMessages;
    hamMessages_ = hamMessages;
    mode_ = static_cast<int>(mode);
    for (int which = 0; which < 2; ++which) {
        const TokenTable& primary = which == 1 ? tables.headerTokenTable() : tables.bodyTokenTable();
        const TokenTable& secondary = which == 1 ? tables.bodyTokenTable() : tables.headerTokenTable();
        std::size_t size = 16;
        while (size < 2 * primary.RecordCount() + 2) {
            size *= 2;
        }
        tables_[which].Allocate(size);
        // Worked out in record order first, then placed with the table memory of later entries fetched
        // ahead: the placing is what costs, one cache miss per entry otherwise.
        std::vector<Entry> made;
        made.reserve(primary.RecordCount());
        for (int bucket = 0; bucket < kBucketCount; ++bucket) {
            // In arrival order: when a damaged file holds a key twice, the first one counts, as in a lookup.
            for (const TokenRecord& record : primary.Bucket(bucket)) {
                Token token;
                TokenKey key;
                if (!TokenOfRecord(bucket, record, token, key)) {
                    continue;
                }
                const Code code = CodeOf(WordsOf(token));
                Entry& entry = made.emplace_back();
                entry.letters = code.letters;
                entry.last = code.last;
                for (int form = 0; form < kCaseFormCount; ++form) {
                    entry.probability[form] = static_cast<int16_t>(
                        ProbabilityOfRecord(record, secondary, bucket, key, static_cast<CaseForm>(form), mode,
                                            spamMessages, hamMessages));
                }
            }
        }
        constexpr std::size_t kAhead = 8;
        const Table& table = tables_[which];
        for (std::size_t i = 0; i < made.size(); ++i) {
            if (i + kAhead < made.size()) {
                const Entry& later = made[i + kAhead];
                __builtin_prefetch(&table.entries[Hash(Code{later.letters, later.last}) >> table.shift]);
            }
            Insert(which, made[i]);
        }
    }
}

void TokenProbabilities::Table::Allocate(std::size_t entryCount) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    std::size_t bytes = entryCount * sizeof(Entry);
    const bool huge = bytes >= kHugePage / 2;
    if (huge) {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    }
    void* memory = std::aligned_alloc(huge ? kHugePage : 64, (bytes + 63) / 64 * 64);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    if (huge) {
        ::madvise(memory, bytes, MADV_HUGEPAGE);  // a hint: without it the table works the same
    }
    std::memset(memory, 0, bytes);
    entries.reset(static_cast<Entry*>(memory));
    size = entryCount;
    shift = 64 - std::countr_zero(entryCount);
}

void TokenProbabilities::Insert(int which, const Entry& made) {
    const Code code{made.letters, made.last};
    Entry* entries = tables_[which].entries.get();
    const std::size_t mask = tables_[which].size - 1;
    for (std::size_t slot = Hash(code) >> tables_[which].shift;; slot = (slot + 1) & mask) {
        Entry& entry = entries[slot];
        if (entry.letters == code.letters && entry.last == code.last) {
            return;  // a later record with the same key: the first one stays
        }
        if (entry.letters == 0) {
            entry = made;
            return;
        }
    }
}

bool TokenProbabilities::Fits(const TokenTables* tables, int32_t spamMessages, int32_t hamMessages,
                              ScoringMode mode) const {
    return tables != nullptr && tables == source_ && tables->bodyTokenTable().Version() == versions_[0] &&
           tables->headerTokenTable().Version() == versions_[1] && spamMessages == spamMessages_ &&
           hamMessages == hamMessages_ && static_cast<int>(mode) == mode_;
}

}  // namespace bramvell
