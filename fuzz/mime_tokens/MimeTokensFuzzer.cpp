// A retrieved message is tokenized for the chi-square scorer, whatever its bytes. The quick reading of
// one-part messages must give exactly the tokens of GMime's parse, and every token stays within the
// tokenizer's bounds.
#include <string>
#include <vector>

#include "classify/MimeTokenizer.h"
#include "fuzz/support/FuzzInput.h"

namespace bramvell::fuzz {
namespace {

void Check(std::string_view message) {
    static const MimeTokenizer quick(MimeTokenizer::Options{true, true});
    static const MimeTokenizer parsed(MimeTokenizer::Options{true, false});
    const std::vector<std::string> viaQuick = quick.Tokenize(message);
    const std::vector<std::string> viaParse = parsed.Tokenize(message);
    Require(viaQuick == viaParse, "the quick reading gives the tokens of GMime's parse");
    Require(viaQuick.size() <= MimeTokenizer::kMaxTokens, "a message gives at most kMaxTokens tokens");
    for (const std::string& token : viaQuick) {
        Require(!token.empty(), "no token is empty");
    }
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bramvell::fuzz::Check(bramvell::fuzz::AsText(data, size));
    return 0;
}
