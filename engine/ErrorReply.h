#pragma once

#include <string>

#include "engine/MessageVerdict.h"

namespace bramvell {

// The line the mail client receives in place of a suspected spam message:
// "-ERR Filtered by Bramvell - message from <sender> has a Spam probability of <pp>%" CR LF.
std::string BuildErrorReply(const MessageVerdict& verdict);

}  // namespace bramvell
