#pragma once

#include <string_view>

namespace bramvell {

class FilterSettings;

// Protection is active when the box is on, the password is not empty and the confirmation equals it
// byte for byte (letter case counts). A half set-up protection asks nothing.
bool IsPasswordProtectionActive(const FilterSettings& settings);
// The entered text opens the panel only when it equals the password exactly.
bool IsPasswordCorrect(const FilterSettings& settings, std::string_view entered);

}  // namespace bramvell
