#pragma once

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
    template <typename OnToken>
    void Feed(std::string_view line, OnToken&& onToken) {
        const std::size_t length = line.size();
        const char* bytes = line.data();
        Token token;
        int run = 0;
        // Every byte of the line, then once more just past its end.
        for (std::size_t i = 0; i <= length; ++i) {
            const unsigned char c = i < length ? static_cast<unsigned char>(bytes[i]) : 0;
            if (commentDepth_ == 0 && IsLetter(c)) {
                if (run < kSignificantLetters) {
                    token.letters[run] = bytes[i];
                }
                ++run;
                continue;
            }
            if (c == '<' && i + 4 <= length && std::memcmp(bytes + i, "<!--", 4) == 0) {
                ++commentDepth_;
            } else if (c == '-' && i + 3 <= length && commentDepth_ > 0 &&
                       std::memcmp(bytes + i, "-->", 3) == 0) {
                --commentDepth_;
            }
            if (run >= 3) {
                token.length = run < kSignificantLetters ? run : kSignificantLetters;
                onToken(static_cast<const Token&>(token));
            }
            run = 0;
        }
    }

  private:
    int commentDepth_ = 0;
};

}  // namespace bramvell
