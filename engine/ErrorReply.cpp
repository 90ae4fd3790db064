#include "engine/ErrorReply.h"

#include "engine/SpamAnswer.h"

namespace bramvell {

std::string BuildErrorReply(const MessageVerdict& verdict) {
    return "-ERR " + FilteredText(verdict) + "\r\n";
}

}  // namespace bramvell
