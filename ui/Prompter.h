#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace bramvell {

class FilterSettings;

// Every question and message the control panel and its pages put to the user. The application uses
// the Qt dialogs; tests answer through their own implementation.
class Prompter {
  public:
    virtual ~Prompter() = default;
    // A message with the exclamation icon and an OK button.
    virtual void Warn(QWidget* parent, const QString& text) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
    // The unlock dialog; no value when it was cancelled or closed.
    virtual std::optional<QString> AskPassword(QWidget* parent) = 0;
    // The tip of the day, run modally.
    virtual void ShowTipOfTheDay(QWidget* parent) = 0;
    // The folder picker; an empty text when cancelled.
    virtual QString PickFolder(QWidget* parent, const QString& title, const QString& start) = 0;
    // Opens a folder in the desktop's file manager; the outcome is ignored.
    virtual void ExploreFolder(const QString& folder) = 0;
    // The open-file dialog of a list import (existing text files); an empty text when cancelled.
    virtual QString PickImportFile(QWidget* parent) = 0;
    // A titled note at the mouse pointer that goes by itself after the lifetime.
    virtual void ShowNote(QWidget* parent, const QString& title, const QString& text, int lifetimeMs) = 0;
    // The save-file dialog for a message (.eml); an empty text when cancelled.
    virtual QString PickSaveFile(QWidget* /*parent*/, const QString& /*suggested*/) { return {}; }
    // Opens a file with the desktop's program for it; false when none took it.
    virtual bool OpenFile(const QString& /*path*/) { return false; }
};

// The real dialogs. Message boxes carry the application name as their title.
class QtPrompter : public Prompter {
  public:
    void Warn(QWidget* parent, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& text) override;
    std::optional<QString> AskPassword(QWidget* parent) override;
    void ShowTipOfTheDay(QWidget* parent) override;
    QString PickFolder(QWidget* parent, const QString& title, const QString& start) override;
    void ExploreFolder(const QString& folder) override;
    QString PickImportFile(QWidget* parent) override;
    void ShowNote(QWidget* parent, const QString& title, const QString& text, int lifetimeMs) override;
    QString PickSaveFile(QWidget* parent, const QString& suggested) override;
    bool OpenFile(const QString& path) override;
};

}  // namespace bramvell
