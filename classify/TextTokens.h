#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// The tokens of one message as they are made: their bytes back to back in one buffer, so that adding a
// token allocates nothing once the buffer has grown, and picking the distinct ones sorts small entries.
class TokenSink {
  public:
    // A sink that keeps a token once however often it is added (a hash of what it holds finds repeats
    // as they come), so that picking the distinct ones sorts far fewer entries. Size and At then count
    // distinct tokens; Full still counts every token added.
    void KeepDistinctOnly() { distinctOnly_ = true; }

    bool Full() const { return emitted_ >= kMaxEmittedTokens; }
    std::size_t Size() const { return entries_.size(); }
    std::string_view At(std::size_t i) const {
        return std::string_view(bytes_).substr(entries_[i].offset, entries_[i].length);
    }

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
        const std::size_t offset = bytes_.size();
        bytes_.resize(offset + prefix.size() + word.size());
        char* out = bytes_.data() + offset;
        out = std::copy(prefix.begin(), prefix.end(), out);
        std::transform(word.begin(), word.end(), out, LowerAscii);
        Push(offset);
        return true;
    }

    // Empties the sink; its buffers keep their room for the next message unless they grew large.
    void Clear();
    // The distinct tokens in byte-wise order, the first `limit` of them (sorts what was added); the views
    // point into the sink and stay valid until it changes.
    std::vector<std::string_view> DistinctViews(std::size_t limit);
    std::vector<std::string> Distinct(std::size_t limit);
    // Every token in the order added.
    std::vector<std::string> All() const;

  private:
    struct Entry {
        // The first sixteen bytes as two big-endian words, zero past the end: most orders at one or two
        // compares (header tokens share their first eight bytes, "received:...").
        uint64_t head[2];
        uint32_t offset;
        uint32_t length;
    };
    void Push(std::size_t offset);
    static uint64_t HashOf(const Entry& entry, std::string_view bytes);
    // Whether the token just appended at entry's place is held already (then its bytes are dropped).
    bool HeldAlready(const Entry& entry);
    void GrowSlots();

    std::string bytes_;
    std::vector<Entry> entries_;
    std::size_t emitted_ = 0;
    bool distinctOnly_ = false;
    std::vector<uint32_t> slots_;    // entry index + 1 of each held token by hash, 0 for none
    std::vector<uint32_t> touched_;  // the slots set for this message, emptied by Clear
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
    std::string previous_;  // the last word, lower-cased, for the next pair
    std::string current_;
    std::string pair_;
};

// The words of text with a prefix before each (what TextTokenizer makes), for the tests.
void TokenizeText(std::string_view text, std::string_view prefix, bool wordPairs,
                  std::vector<std::string>& tokens);

}  // namespace bramvell
