#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "classify/TokenRecord.h"
#include "classify/Tokenizer.h"

namespace bramvell {

class TokenTables;
enum class ScoringMode;

// Every probability a scorer can look up, worked out once for fixed tables, message counts and
// scoring mode: a token then costs one probe of a flat table, whose entries hold the token's letters
// and its three case-form probabilities inline. Made for batch classification, where nothing is learned
// meanwhile; the scorer uses it only while the tables' versions and the counts are the ones it was built
// from, and its results are the table lookups' exactly. Read-only once built: threads may share it.
class TokenProbabilities {
  public:
    // Reads the tables; the caller holds their mutex (shared is enough).
    void Build(const TokenTables& tables, int32_t spamMessages, int32_t hamMessages, ScoringMode mode);
    bool Fits(const TokenTables* tables, int32_t spamMessages, int32_t hamMessages, ScoringMode mode) const;

    // A lookup in two steps, so that the memory of several tokens can be fetched at once: Start works out
    // where the token lies and asks for that memory, Finish gives the probability of the token in the
    // header or body table, or -1 when that table lacks it.
    struct Probe {
        uint64_t letters = 0;
        uint32_t slot = 0;
        uint8_t last = 0;
        uint8_t form = 0;
        uint8_t header = 0;
    };
    void Start(const TokenWords& token, CaseForm form, bool headerLine, Probe& probe) const {
        const Code code = CodeOf(token);
        const int which = headerLine ? 1 : 0;
        probe.letters = code.letters;
        probe.last = code.last;
        probe.form = static_cast<uint8_t>(form);
        probe.header = static_cast<uint8_t>(which);
        probe.slot = static_cast<uint32_t>(Hash(code) >> tables_[which].shift);
        __builtin_prefetch(&tables_[which].entries[probe.slot]);
    }
    int32_t Finish(const Probe& probe) const {
        const Entry* entries = tables_[probe.header].entries.get();
        const std::size_t mask = tables_[probe.header].size - 1;
        for (std::size_t slot = probe.slot;; slot = (slot + 1) & mask) {
            const Entry& entry = entries[slot];
            if (entry.letters == probe.letters && entry.last == probe.last) {
                return entry.probability[probe.form];
            }
            if (entry.letters == 0) {
                return -1;
            }
        }
    }

  private:
    // The first thirteen letters as 5-bit codes (1..26, 0 past the token's end): letters 1 to 12 in
    // one word, the thirteenth apart. Case does not count.
    struct Code {
        uint64_t letters = 0;
        uint8_t last = 0;
    };
    struct Entry {
        uint64_t letters = 0;  // 0: empty (a token has at least three letters)
        uint8_t last = 0;
        int16_t probability[kCaseFormCount] = {};
    };
    static_assert(sizeof(Entry) == 16);

    // Five-bit codes of eight bytes packed into the low 40 bits.
    static uint64_t Pack8(uint64_t bytes) {
        bytes &= 0x1F1F1F1F1F1F1F1Full;
        bytes = (bytes & 0x001F001F001F001Full) | (bytes & 0x1F001F001F001F00ull) >> 3;
        bytes = (bytes & 0x000003FF000003FFull) | (bytes & 0x03FF000003FF0000ull) >> 6;
        return (bytes & 0x00000000000FFFFFull) | (bytes & 0x000FFFFF00000000ull) >> 12;
    }
    static Code CodeOf(const TokenWords& token) {
        Code code;
        code.letters = Pack8(token.head) | Pack8(token.tail & 0xFFFFFFFFull) << 40;
        code.last = static_cast<uint8_t>(token.tail >> 32 & 0x1F);
        return code;
    }
    static uint64_t Hash(const Code& code) {
        return (code.letters ^ static_cast<uint64_t>(code.last) << 59) * 0x9E3779B97F4A7C15ull;
    }

    struct FreeEntries {
        void operator()(Entry* entries) const { std::free(entries); }
    };
    // One open-addressing table, its size a power of two. A large one lies in huge pages where the
    // system grants them: lookups land all over it, and small pages would cost a TLB miss each.
    struct Table {
        std::unique_ptr<Entry[], FreeEntries> entries;
        std::size_t size = 0;
        int shift = 64;
        void Allocate(std::size_t entryCount);
    };

    // Adds the entry unless its token is there already (the first record of a key counts).
    void Insert(int which, const Entry& made);

    Table tables_[2];  // body, header
    const TokenTables* source_ = nullptr;
    uint64_t versions_[2] = {0, 0};
    int32_t spamMessages_ = -1;
    int32_t hamMessages_ = -1;
    int mode_ = -1;
};

}  // namespace bramvell
