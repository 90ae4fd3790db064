#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "classify/TokenRecord.h"

namespace bramvell {

// Splits lines into tokens: runs of three or more ASCII letters outside HTML comments. Comments nest,
// and the depth carries from one line to the next until Reset.
class Tokenizer {
  public:
    void Reset() { commentDepth_ = 0; }
    int CommentDepth() const { return commentDepth_; }

    // Calls onToken(const Token&) for each token of the line, in order.
    //
    // Outside comments only letters and '<' matter, inside them only '<' and '-': the scan jumps
    // from one such byte to the next with a class table, and takes a letter run whole.
    template <typename OnToken>
    void Feed(std::string_view line, OnToken&& onToken) {
        const char* p = line.data();
        const char* const end = p + line.size();
        Token token;
        while (p < end) {
            if (commentDepth_ == 0) {
                while (p < end && (ClassOf(*p) & (kLetterClass | kOpenClass)) == 0) {
                    ++p;
                }
                if (p == end) {
                    break;
                }
                if ((ClassOf(*p) & kLetterClass) != 0) {
                    const char* start = p;
                    ++p;
                    while (p < end && (ClassOf(*p) & kLetterClass) != 0) {
                        ++p;
                    }
                    const std::ptrdiff_t run = p - start;
                    if (run >= 3) {
                        token.length =
                            run < kSignificantLetters ? static_cast<int>(run) : kSignificantLetters;
                        // Bytes past the token may be copied along: Token ignores them.
                        std::memcpy(token.letters, start,
                                    end - start >= kSignificantLetters
                                        ? kSignificantLetters
                                        : static_cast<std::size_t>(token.length));
                        onToken(static_cast<const Token&>(token));
                    }
                    continue;  // p is at the byte that ended the run, still to be looked at
                }
                if (end - p >= 4 && std::memcmp(p, "<!--", 4) == 0) {
                    ++commentDepth_;
                }
                ++p;
            } else {
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

  private:
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
    static uint8_t ClassOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }

    int commentDepth_ = 0;
};

}  // namespace bramvell
