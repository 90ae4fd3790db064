#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "classify/MimeTokenizer.h"
#include "classify/TokenRecord.h"

namespace bramvell {

// Byte classes and case of the tokenizer (ASCII only: bytes of 0x80 and above are word bytes).
namespace text_tokens {
std::string Lowered(std::string_view text);
bool StartsWith(std::string_view text, std::string_view prefix);
bool IsDigit(unsigned char c);
bool IsAlnum(unsigned char c);
bool IsWordByte(unsigned char c);
// Runs are split at white space, controls and the brackets and quotes that surround URLs and addresses.
bool IsRunBreak(unsigned char c);
}  // namespace text_tokens

// Everything a message can make before the distinct ones are picked: a bound on memory and time.
inline constexpr std::size_t kMaxEmittedTokens = 4 * MimeTokenizer::kMaxTokens;

class TokenSink {
  public:
    explicit TokenSink(std::vector<std::string>& tokens) : tokens_(tokens) {}

    bool Full() const { return tokens_.size() >= kMaxEmittedTokens; }

    // Adds prefix + word when the word, without its leading and trailing dashes, fits the bounds.
    bool Add(std::string_view prefix, std::string_view word,
             std::size_t minBytes = MimeTokenizer::kMinTokenBytes) {
        while (!word.empty() && (word.front() == '-' || word.front() == '_' || word.front() == '\'')) {
            word.remove_prefix(1);
        }
        while (!word.empty() && (word.back() == '-' || word.back() == '_' || word.back() == '\'')) {
            word.remove_suffix(1);
        }
        if (word.size() < minBytes || word.size() > MimeTokenizer::kMaxTokenBytes || Full()) {
            return false;
        }
        std::string token;
        token.reserve(prefix.size() + word.size());
        token += prefix;
        for (char c : word) {
            token += LowerAscii(c);
        }
        tokens_.push_back(std::move(token));
        return true;
    }

  private:
    std::vector<std::string>& tokens_;
};

// The tokens of plain text: words (and word pairs), URLs as their hosts, addresses as their domains,
// each with the given prefix.
class TextTokenizer {
  public:
    TextTokenizer(TokenSink& sink, std::string_view prefix, bool wordPairs);

    void Run(std::string_view text);
    // The link target of an HTML tag: host tokens only, no words of the surrounding text.
    void Url(std::string_view run);

  private:
    void OneRun(std::string_view run);
    // Words are runs of word bytes; a dot between digits joins them ("3.50").
    void Words(std::string_view run, std::string_view prefix, bool pairs);
    void Word(std::string_view word, std::string_view prefix, bool pairs);

    TokenSink& sink_;
    std::string_view prefix_;
    bool wordPairs_;
    std::string urlPrefix_;
    std::string addressPrefix_;
    std::string previous_;
};

// The words of text with a prefix before each (what TextTokenizer makes), for the tests.
void TokenizeText(std::string_view text, std::string_view prefix, bool wordPairs,
                  std::vector<std::string>& tokens);

}  // namespace bramvell
