#pragma once

#include <string_view>

namespace bramvell {

// Whether the words of a header field (its lower-cased name) become tokens. Those of the fields that
// say who sent the message, to whom, by what route and software, and about what do. Those of every
// other field do not; the field's name is still a token. Mailing lists and relays repeat one name in
// many fields (List-Id, List-Post, Sender, Errors-To...), and each copy would count as separate
// evidence: a list that once carried spam would then mark all its good mail as spam.
bool HeaderFieldWordsAreTokenized(std::string_view loweredName);

}  // namespace bramvell
