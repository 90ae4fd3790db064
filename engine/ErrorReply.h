#pragma once

#include <string>

#include "engine/Pop3Connection.h"

namespace bramvell {

// The line the mail client receives in place of a suspected spam message:
// "-ERR Filtered by Bramvell - message from <sender> has a Spam probability of <pp>%" CR LF.
std::string BuildErrorReply(const Pop3Connection& connection);

}  // namespace bramvell
