#include "classify/TokenizedHeaderFields.h"

#include <algorithm>
#include <array>

namespace bramvell {

namespace {

// Sorted, for the binary search.
constexpr std::array<std::string_view, 18> kTokenizedFields = {
    "cc",           "content-transfer-encoding",
    "content-type", "date",
    "delivered-to", "from",
    "message-id",   "mime-version",
    "organization", "received",
    "reply-to",     "return-path",
    "subject",      "thread-topic",
    "to",           "user-agent",
    "x-mailer",     "x-mimeole",
};
static_assert(std::is_sorted(kTokenizedFields.begin(), kTokenizedFields.end()));

}  // namespace

bool HeaderFieldWordsAreTokenized(std::string_view loweredName) {
    return std::binary_search(kTokenizedFields.begin(), kTokenizedFields.end(), loweredName);
}

}  // namespace bramvell
