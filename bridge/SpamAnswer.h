#pragma once

#include <string>

#include "engine/MessageVerdict.h"

namespace bramvell {

class FilterSettings;

// What the mail client gets in place of a spam message the bridge deleted: the engine's answer.
std::string SpamAnswer(const FilterSettings& settings, const MessageVerdict& verdict);

}  // namespace bramvell
