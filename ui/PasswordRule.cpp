#include "ui/PasswordRule.h"

#include "config/FilterSettings.h"

namespace bramvell {

bool IsPasswordProtectionActive(const FilterSettings& settings) {
    return settings.passwordProtection.load() == 1 && !settings.password.empty() &&
           settings.password == settings.passwordConfirm;
}

bool IsPasswordCorrect(const FilterSettings& settings, std::string_view entered) {
    return entered == settings.password;
}

}  // namespace bramvell
