#include "bridge/SpamAnswer.h"

#include "engine/ErrorReply.h"

namespace bramvell {

std::string SpamAnswer(const FilterSettings& /*settings*/, const MessageVerdict& verdict) {
    return BuildErrorReply(verdict);
}

}  // namespace bramvell
