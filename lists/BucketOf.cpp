#include "lists/BucketOf.h"

#include <cstdio>

namespace bramvell {

namespace {

constexpr int kOtherClass = 36;

int LetterClass(unsigned char c) {
    if (c >= 'a' && c <= 'z') {
        return c - 'a';
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    return -1;
}

// The decimal number at the start of a name pair, 0 when it does not start with a digit.
int LeadingNumber(std::string_view pair) {
    int value = 0;
    for (char c : pair) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string_view Slice(std::string_view text, std::size_t from, std::size_t length) {
    return from < text.size() ? text.substr(from, length) : std::string_view();
}

}  // namespace

int FirstCharacterClass(unsigned char c) {
    if (int letter = LetterClass(c); letter >= 0) {
        return letter;
    }
    if (c >= '0' && c <= '9') {
        return 26 + (c - '0');
    }
    return kOtherClass;
}

int SecondCharacterClass(unsigned char c) {
    int letter = LetterClass(c);
    return letter >= 0 ? letter : kOtherClass;
}

int BucketOf(std::string_view text) {
    // A C string ends at its NUL: a first character NUL leaves no second character to read.
    unsigned char first = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
    unsigned char second = (first == 0 || text.size() < 2) ? 0 : static_cast<unsigned char>(text[1]);
    return FirstCharacterClass(first) * kClassCount + SecondCharacterClass(second);
}

std::string BucketFileName(ListKind kind, int bucket) {
    char name[16];
    std::snprintf(name, sizeof name, "%c%02d%02d", TraitsOf(kind).letter, bucket / kClassCount,
                  bucket % kClassCount);
    return name;
}

std::optional<int> BucketFromFileName(std::string_view name) {
    const int first = LeadingNumber(Slice(name, 1, 2));
    const int second = LeadingNumber(Slice(name, 3, 2));
    if (first >= kClassCount || second >= kClassCount) {
        return std::nullopt;
    }
    return first * kClassCount + second;
}

}  // namespace bramvell
