#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

class TokenSink;

// The tokens of a decoded message for the chi-square scorer. GMime parses the message; every MIME
// part is walked, its transfer encoding undone and its text converted to UTF-8; encoded words in
// headers are decoded. Every field's name is a token ("header:list-id"); the words of the fields that
// HeaderFieldWordsAreTokenized names carry their field name ("subject:free"). HTML loses its tags but
// keeps its text (tag names and link targets become tokens of their own), URLs give their host and
// its parent domains ("url:example.com"), addresses their domain ("addr:example.com"). Words are
// lower-cased (ASCII). Each token appears once per message.
//
// Everything is bounded: only the first kMaxMessageBytes of a message are parsed (cut at a line
// end), at most kMaxNestedParts multipart levels, kMaxTokenBytes per token, kMaxTokens per message.
class MimeTokenizer {
  public:
    static constexpr std::size_t kMaxMessageBytes = std::size_t{256} << 10;
    static constexpr std::size_t kMaxNestedParts = 32;
    static constexpr std::size_t kMaxHeaderValueBytes = 2048;
    static constexpr std::size_t kMinTokenBytes = 2;
    static constexpr std::size_t kMaxTokenBytes = 40;
    static constexpr std::size_t kMaxTokens = 8000;

    struct Options {
        bool wordPairs = true;  // "first second" beside the single words of body text and the subject
        // A one-part text message with a plain header block is read without GMime's object tree (the
        // same tokens, in a third of the time); off, every message is parsed by GMime.
        bool quickSinglePart = true;
        bool partTypes = true;  // each part's type, charset and transfer encoding as tokens
    };

    MimeTokenizer();
    explicit MimeTokenizer(Options options);

    // The distinct tokens of the message, sorted byte-wise. Never fails: what cannot be parsed is
    // tokenized as plain text.
    std::vector<std::string> Tokenize(std::span<const char> message) const;
    // The same tokens as views into a buffer of the calling thread, valid until its next call of either
    // (no string made per token).
    std::vector<std::string_view> TokenizeInPlace(std::span<const char> message) const;

  private:
    // Tokenizes into the calling thread's sink.
    TokenSink& Fill(std::span<const char> message) const;
    // Tokenizes a message that SinglePartScan reads; false, with nothing added, for any other.
    bool TokenizeSinglePart(std::string_view message, TokenSink& sink) const;

    Options options_;
};

}  // namespace bramvell
