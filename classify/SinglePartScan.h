#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

// A quick reading of a message that is one part with a plain header block, so that tokenizing it needs
// no parsed object tree. It reads the header block as GMime's parser does for such a message: a
// leading mbox "From " line is skipped, the Content- fields belong to the part and not to the message's
// own list, and a field's value is unfolded and trimmed. Whatever it does not read exactly so (an 8-bit
// byte or an encoded word in a field, a line that is neither a field nor a continuation, a repeated
// Content-Type or Content-Transfer-Encoding) makes it give up, and the caller parses with GMime.
struct SinglePartMessage {
    struct Field {
        std::string_view name;
        std::string_view rawValue;  // after the colon, folding and the line end included
    };
    std::vector<Field> fields;          // the message's own fields in order (no Content- field)
    bool hasContentType = false;
    std::string_view contentType;  // its raw value
    bool hasTransferEncoding = false;
    std::string_view transferEncoding;  // its raw value
    std::string_view body;              // after the blank line; empty when there is none
};

// False when the message is not one this scan reads (see above); out is then unspecified.
bool ScanSinglePart(std::string_view message, SinglePartMessage& out);

// A raw field value as GMime gives it for plain ASCII text: line ends removed, white space at either
// end trimmed.
void UnfoldedValue(std::string_view rawValue, std::string& out);

}  // namespace bramvell
