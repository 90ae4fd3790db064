#pragma once

#include <QStringList>
#include <deque>
#include <optional>

#include "ui/Prompter.h"

namespace bramvell::testing {

// Answers the user-interface questions from queues and records what was shown.
class FakePrompter : public Prompter {
  public:
    void Warn(QWidget*, const QString& text) override { warnings.append(text); }
    bool AskYesNo(QWidget*, const QString& text) override {
        questions.append(text);
        if (yesNoAnswers.empty()) {
            return false;
        }
        const bool answer = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return answer;
    }
    std::optional<QString> AskPassword(QWidget*) override {
        ++passwordQuestions;
        if (passwordAnswers.empty()) {
            return std::nullopt;
        }
        const QString answer = passwordAnswers.front();
        passwordAnswers.pop_front();
        if (answer.isNull()) {
            return std::nullopt;
        }
        return std::make_optional(answer);
    }
    void ShowTipOfTheDay(QWidget*) override { ++tipsShown; }
    QString PickFolder(QWidget*, const QString& title, const QString&) override {
        pickerTitles.append(title);
        return pickedFolder;
    }
    void ExploreFolder(const QString& folder) override { explored.append(folder); }
    QString PickImportFile(QWidget*) override { return importFile; }
    void ShowNote(QWidget*, const QString& title, const QString& text, int lifetimeMs) override {
        notes.append(title + "|" + text);
        noteLifetimeMs = lifetimeMs;
    }

    QString PickSaveFile(QWidget*, const QString& suggested) override {
        suggestedSaveNames.append(suggested);
        return saveFile;
    }
    bool OpenFile(const QString& path) override {
        opened.append(path);
        return true;
    }

    QStringList warnings;
    QStringList questions;
    std::deque<bool> yesNoAnswers;
    std::deque<QString> passwordAnswers;  // a null text cancels the dialog
    int passwordQuestions = 0;
    int tipsShown = 0;
    QString pickedFolder;
    QStringList pickerTitles;
    QStringList explored;
    QString importFile;
    QStringList notes;
    int noteLifetimeMs = 0;
    QString saveFile;  // the answer of the save dialog; empty cancels
    QStringList suggestedSaveNames;
    QStringList opened;
};

}  // namespace bramvell::testing
