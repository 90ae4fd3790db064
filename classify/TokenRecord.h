#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bramvell {

static_assert(std::endian::native == std::endian::little,
              "token records are stored as they lie in memory, which must be little-endian");

inline constexpr int kLetterCount = 26;
inline constexpr int kBucketCount = kLetterCount * kLetterCount * kLetterCount;  // 17576
inline constexpr int kKeyLength = 12;
// Letters of a token that matter: the first picks the file, the first three the bucket, the first
// thirteen the case form, letters 2 to 13 the key.
inline constexpr int kSignificantLetters = 13;

enum class CaseForm : int { Lower = 0, Capitalised = 1, Upper = 2 };
inline constexpr int kCaseFormCount = 3;

enum class SampleClass : int { Ham = 0, Spam = 1 };

// The letters 2 to 13 of a token in lower case, padded with zero bytes.
struct TokenKey {
    std::array<char, kKeyLength> bytes{};
    bool operator==(const TokenKey& other) const {
        return std::memcmp(bytes.data(), other.bytes.data(), kKeyLength) == 0;
    }
};

// One token's occurrence counts, 40 bytes, laid out exactly as in a token file.
struct TokenRecord {
    int32_t offset = 0;                  // byte offset of this record in its token file
    uint32_t ham[kCaseFormCount] = {};   // Lower, Capitalised, Upper
    uint32_t spam[kCaseFormCount] = {};  // Lower, Capitalised, Upper
    char key[kKeyLength] = {};

    // Occurrences of a class counted for a form: Lower counts Lower, Capitalised counts Lower and
    // Capitalised, Upper counts all three. Summed in 64 bits so nothing wraps.
    uint64_t Sum(SampleClass sampleClass, CaseForm form) const {
        const uint32_t* counters = sampleClass == SampleClass::Spam ? spam : ham;
        uint64_t sum = 0;
        for (int i = 0; i <= static_cast<int>(form); ++i) {
            sum += counters[i];
        }
        return sum;
    }
    uint32_t& Counter(SampleClass sampleClass, CaseForm form) {
        return (sampleClass == SampleClass::Spam ? spam : ham)[static_cast<int>(form)];
    }
};
static_assert(sizeof(TokenRecord) == 40);
static_assert(offsetof(TokenRecord, ham) == 4);
static_assert(offsetof(TokenRecord, spam) == 16);
static_assert(offsetof(TokenRecord, key) == 28);

// Bytes of a record that change when a counter is raised: the offset field and the six counters.
inline constexpr int kRecordCounterBytes = 28;
inline constexpr int kRecordSize = static_cast<int>(sizeof(TokenRecord));
inline constexpr int kTokenFileHeaderSize = 4;

// a or A is 0 ... z or Z is 25; every other byte is 0.
inline int LetterIndex(unsigned char c) {
    if (c >= 'a' && c <= 'z') {
        return c - 'a';
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    return 0;
}

inline bool IsLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool IsCapital(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}
inline char LowerAscii(char c) {
    return IsCapital(static_cast<unsigned char>(c)) ? static_cast<char>(c + 32) : c;
}

// The first thirteen letters of a token of three or more letters.
struct Token {
    char letters[kSignificantLetters] = {};
    int length = 0;  // letters held, at most kSignificantLetters

    int FirstLetter() const { return LetterIndex(static_cast<unsigned char>(letters[0])); }
    int Bucket() const {
        return kLetterCount * kLetterCount * LetterIndex(static_cast<unsigned char>(letters[0])) +
               kLetterCount * LetterIndex(static_cast<unsigned char>(letters[1])) +
               LetterIndex(static_cast<unsigned char>(letters[2]));
    }
    // Letters 2 to 13 as two words, bytes past the token zero. A token holds only ASCII letters,
    // whose case is bit 0x20 alone, so whole words are tested and lower-cased at once.
    void KeyWords(uint64_t& low, uint32_t& high) const {
        std::memcpy(&low, letters + 1, 8);
        std::memcpy(&high, letters + 9, 4);
        const int rest = length - 1;
        low &= rest >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * rest)) - 1;
        high &= rest <= 8 ? 0u : rest >= 12 ? ~0u : (uint32_t{1} << (8 * (rest - 8))) - 1;
    }
    CaseForm Form() const {
        uint64_t low = 0;
        uint32_t high = 0;
        KeyWords(low, high);
        // A letter with its 0x20 bit clear is a capital; only the token's own bytes are tested.
        const uint64_t lowCapitals = ~low & 0x2020202020202020ull & MaskOf(length - 1, 8);
        const uint32_t highCapitals = ~high & 0x20202020u & static_cast<uint32_t>(MaskOf(length - 9, 4));
        if (lowCapitals != 0 || highCapitals != 0) {
            return CaseForm::Upper;
        }
        return IsCapital(static_cast<unsigned char>(letters[0])) ? CaseForm::Capitalised : CaseForm::Lower;
    }
    TokenKey Key() const {
        uint64_t low = 0;
        uint32_t high = 0;
        KeyWords(low, high);
        low |= 0x2020202020202020ull & MaskOf(length - 1, 8);
        high |= 0x20202020u & static_cast<uint32_t>(MaskOf(length - 9, 4));
        TokenKey key;
        std::memcpy(key.bytes.data(), &low, 8);
        std::memcpy(key.bytes.data() + 8, &high, 4);
        return key;
    }

  private:
    // Ones in the first `count` bytes of a word of `width` bytes (none when count <= 0).
    static uint64_t MaskOf(int count, int width) {
        if (count <= 0) {
            return 0;
        }
        if (count >= width) {
            return width == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
        }
        return (uint64_t{1} << (8 * count)) - 1;
    }
};

// Bucket of a stored record: the first letter comes from its file, the next two from the key.
inline int RecordBucket(int firstLetter, const TokenRecord& record) {
    return kLetterCount * kLetterCount * firstLetter +
           kLetterCount * LetterIndex(static_cast<unsigned char>(record.key[0])) +
           LetterIndex(static_cast<unsigned char>(record.key[1]));
}

}  // namespace bramvell
