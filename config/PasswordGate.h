#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bramvell {

class FilterSettings;

inline constexpr std::string_view kIncorrectPasswordText = "Incorrect Password!";

// The questions the gate puts to the user: the unlock dialog and the message box in the
// application, scripted answers in tests.
class PasswordPrompt {
public:
    virtual ~PasswordPrompt() = default;
    // The entered text on "OK"; nothing on "Cancel", the close box, Escape, or when the dialog
    // cannot be shown at all.
    virtual std::optional<std::string> AskPassword() = 0;
    // A message box with an exclamation icon and an "OK" button.
    virtual void ShowWarning(std::string_view text) = 0;
};

// Protection is active when "Enable password protection :" is on, the password is not empty and the
// confirmation equals it byte for byte.
bool PasswordProtectionActive(const FilterSettings& settings);

// Asked on every restore of the control panel. True: show the panel. False: keep it hidden.
// Without active protection nothing is asked. A wrong answer shows "Incorrect Password!".
bool PasswordGate(const FilterSettings& settings, PasswordPrompt& prompt);

}  // namespace bramvell
