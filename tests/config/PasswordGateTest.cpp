#include "config/PasswordGate.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "config/FilterSettings.h"

namespace bramvell {
namespace {

// Answers the unlock dialog from a script; nothing means "Cancel".
class ScriptedPrompt final : public PasswordPrompt {
public:
    std::optional<std::string> AskPassword() override {
        ++questions;
        if (answers.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowWarning(std::string_view text) override { warnings.emplace_back(text); }

    std::deque<std::optional<std::string>> answers;
    int questions = 0;
    std::vector<std::string> warnings;
};

FilterSettings& Protected(FilterSettings& settings, const std::string& password, const std::string& confirm) {
    settings.passwordProtection = 1;
    settings.password = password;
    settings.passwordConfirm = confirm;
    return settings;
}

TEST(PasswordGateTest, HalfSetUpProtectionAsksNothing) {
    FilterSettings settings;
    ScriptedPrompt prompt;
    EXPECT_TRUE(PasswordGate(Protected(settings, "Secret", "secret"), prompt));  // differ in case
    EXPECT_TRUE(PasswordGate(Protected(settings, "", ""), prompt));
    Protected(settings, "Secret", "Secret").passwordProtection = 0;
    EXPECT_TRUE(PasswordGate(settings, prompt));
    EXPECT_EQ(prompt.questions, 0);
}

TEST(PasswordGateTest, OnlyTheExactPasswordOpensAndEveryRestoreAsksAgain) {
    FilterSettings settings;
    Protected(settings, "Secret", "Secret");
    ScriptedPrompt prompt;
    prompt.answers = {"secret", "Secret ", std::nullopt, "Secret", "Secret"};

    EXPECT_FALSE(PasswordGate(settings, prompt));
    EXPECT_FALSE(PasswordGate(settings, prompt));
    EXPECT_EQ(prompt.warnings, (std::vector<std::string>{"Incorrect Password!", "Incorrect Password!"}));
    EXPECT_FALSE(PasswordGate(settings, prompt));  // cancel: refused without a message
    EXPECT_EQ(prompt.warnings.size(), 2u);
    EXPECT_TRUE(PasswordGate(settings, prompt));
    EXPECT_TRUE(PasswordGate(settings, prompt));
    EXPECT_EQ(prompt.questions, 5);
    // A dialog that cannot be shown answers nothing: the panel stays hidden.
    EXPECT_FALSE(PasswordGate(settings, prompt));
}

}  // namespace
}  // namespace bramvell
