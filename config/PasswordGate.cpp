#include "config/PasswordGate.h"

#include "config/FilterSettings.h"

namespace bramvell {

bool PasswordProtectionActive(const FilterSettings& settings) {
    return settings.passwordProtection == 1 && !settings.password.empty() &&
           settings.password == settings.passwordConfirm;
}

bool PasswordGate(const FilterSettings& settings, PasswordPrompt& prompt) {
    if (!PasswordProtectionActive(settings)) {
        return true;
    }
    std::optional<std::string> entered = prompt.AskPassword();
    if (!entered) {
        return false;
    }
    if (*entered != settings.password) {
        prompt.ShowWarning(kIncorrectPasswordText);
        return false;
    }
    return true;
}

}  // namespace bramvell
