#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "classify/TokenRecord.h"

namespace bramvell {

// The first thirteen letters of a token in two words: letters 1 to 8 in head, 9 to 13 in the low bytes
// of tail, zero bytes past the token's end. Holds what Token holds, without a trip through memory.
struct TokenWords {
    uint64_t head = 0;
    uint64_t tail = 0;
    int length = 0;

    // Capitals are the letters with bit 0x20 clear; every letter has bit 0x40 set, zero bytes do not.
    static uint64_t Capitals(uint64_t word) { return (word & 0x4040404040404040ull) >> 1 & ~word; }
    static uint64_t Lowered(uint64_t word) { return word | (word & 0x4040404040404040ull) >> 1; }

    CaseForm Form() const {
        if ((Capitals(head) & ~uint64_t{0xFF}) != 0 || Capitals(tail) != 0) {
            return CaseForm::Upper;
        }
        return (Capitals(head) & 0xFF) != 0 ? CaseForm::Capitalised : CaseForm::Lower;
    }
    TokenKey Key() const {
        const uint64_t low = Lowered(head >> 8 | tail << 56);
        const uint32_t high = static_cast<uint32_t>(Lowered(tail >> 8));
        TokenKey key;
        std::memcpy(key.bytes.data(), &low, 8);
        std::memcpy(key.bytes.data() + 8, &high, 4);
        return key;
    }
};

// Splits lines into tokens: runs of three or more ASCII letters outside HTML comments. Comments nest,
// and the depth carries from one line to the next until Reset.
class Tokenizer {
  public:
    void Reset() { commentDepth_ = 0; }
    int CommentDepth() const { return commentDepth_; }

    // Calls onToken(const Token&) for each token of the line, in order.
    template <typename OnToken>
    void Feed(std::string_view line, OnToken&& onToken) {
        Token token;
        Scan(line, [&token, &onToken](const char* start, const char* end, int length) {
            token.length = length;
            // Bytes past the token may be copied along: Token ignores them.
            if (end - start >= kSignificantLetters) {
                std::memcpy(token.letters, start, kSignificantLetters);
            } else {
                for (int i = 0; i < length; ++i) {
                    token.letters[i] = start[i];
                }
            }
            onToken(static_cast<const Token&>(token));
        });
    }

    // Calls onToken(const TokenWords&) for each token of the line, in order: the same tokens as Feed,
    // held in two words.
    template <typename OnToken>
    void FeedWords(std::string_view line, OnToken&& onToken) {
        Scan(line, [&onToken](const char* start, const char* end, int length) {
            TokenWords words;
            words.length = length;
            if (end - start >= 16) {
                std::memcpy(&words.head, start, 8);
                std::memcpy(&words.tail, start + 8, 8);
                words.head &= length >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * length)) - 1;
                words.tail &= length <= 8 ? 0 : (uint64_t{1} << (8 * (length - 8))) - 1;
            } else {
                for (int i = 0; i < length; ++i) {
                    const uint64_t byte = static_cast<unsigned char>(start[i]);
                    if (i < 8) {
                        words.head |= byte << (8 * i);
                    } else {
                        words.tail |= byte << (8 * (i - 8));
                    }
                }
            }
            onToken(static_cast<const TokenWords&>(words));
        });
    }

  private:
    // Calls onRun(start, lineEnd, length) for each run of three or more letters outside comments, with
    // length cut to the significant letters.
    //
    // Outside comments only letters and '<' matter, inside them only '<' and '-': the scan jumps
    // from one such byte to the next with a class table, and takes a letter run whole.
    template <typename OnRun>
    void Scan(std::string_view line, OnRun&& onRun) {
        const char* p = line.data();
        const char* const end = p + line.size();
        while (p < end) {
            if (commentDepth_ == 0) {
                SkipBlocks(p, end, [](const Block& block) { return block.Letters() | block.Equal('<'); });
                while (p < end && (ClassOf(*p) & (kLetterClass | kOpenClass)) == 0) {
                    ++p;
                }
                if (p == end) {
                    break;
                }
                if ((ClassOf(*p) & kLetterClass) != 0) {
                    const char* start = p;
                    ++p;
                    SkipBlocks(p, end, [](const Block& block) { return ~block.Letters() & 0xFFFFu; });
                    while (p < end && (ClassOf(*p) & kLetterClass) != 0) {
                        ++p;
                    }
                    const std::ptrdiff_t run = p - start;
                    if (run >= 3) {
                        onRun(start, end,
                              run < kSignificantLetters ? static_cast<int>(run) : kSignificantLetters);
                    }
                    continue;  // p is at the byte that ended the run, still to be looked at
                }
                if (end - p >= 4 && std::memcmp(p, "<!--", 4) == 0) {
                    ++commentDepth_;
                }
                ++p;
            } else {
                SkipBlocks(p, end, [](const Block& block) { return block.Equal('<') | block.Equal('-'); });
                while (p < end && (ClassOf(*p) & (kOpenClass | kDashClass)) == 0) {
                    ++p;
                }
                if (p == end) {
                    break;
                }
                if (*p == '<') {
                    if (end - p >= 4 && std::memcmp(p, "<!--", 4) == 0) {
                        ++commentDepth_;
                    }
                } else if (end - p >= 3 && std::memcmp(p, "-->", 3) == 0) {
                    --commentDepth_;
                }
                ++p;
            }
        }
    }

    // Sixteen bytes of a line, asked which of them are letters or a given byte (bit i: byte i). The
    // scan moves a block at a time to the first byte it looks for, then goes on byte by byte.
#if defined(__SSE2__)
    struct Block {
        __m128i bytes;
        explicit Block(const char* p) : bytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) {}
        uint32_t Letters() const {
            // (c | 0x20) - 'a' is below 26 exactly for the ASCII letters.
            const __m128i offset = _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
            const __m128i letter = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(25)), offset);
            return static_cast<uint32_t>(_mm_movemask_epi8(letter));
        }
        uint32_t Equal(char c) const {
            return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
        }
    };
    // Moves p to the first byte of a whole block that `wanted` marks, or to where less than a block is left.
    template <typename Wanted>
    static void SkipBlocks(const char*& p, const char* end, Wanted&& wanted) {
        while (end - p >= 16) {
            const uint32_t found = wanted(Block(p));
            if (found != 0) {
                p += __builtin_ctz(found);
                return;
            }
            p += 16;
        }
    }
#else
    struct Block {
        uint32_t Letters() const { return 0; }
        uint32_t Equal(char) const { return 0; }
    };
    template <typename Wanted>
    static void SkipBlocks(const char*&, const char*, Wanted&&) {}
#endif

    static constexpr uint8_t kLetterClass = 1;
    static constexpr uint8_t kOpenClass = 2;  // '<'
    static constexpr uint8_t kDashClass = 4;  // '-'
    static constexpr std::array<uint8_t, 256> kClasses = [] {
        std::array<uint8_t, 256> classes{};
        for (int c = 'a'; c <= 'z'; ++c) {
            classes[c] = kLetterClass;
            classes[c - 32] = kLetterClass;
        }
        classes['<'] = kOpenClass;
        classes['-'] = kDashClass;
        return classes;
    }();
    static uint8_t ClassOf(char c) {
        return kClasses[static_cast<unsigned char>(c)];
    }

    int commentDepth_ = 0;
};

}  // namespace bramvell
