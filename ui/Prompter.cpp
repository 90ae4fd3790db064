#include "ui/Prompter.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "controls/BalloonPopup.h"
#include "ui/ContextHelp.h"
#include "ui/ListPageLogic.h"
#include "ui/TipOfTheDayDialog.h"
#include "ui/UnlockDialog.h"

namespace bramvell {

void QtPrompter::Warn(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QCoreApplication::applicationName(), text, QMessageBox::Ok);
}

bool QtPrompter::AskYesNo(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QCoreApplication::applicationName(), text,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<QString> QtPrompter::AskPassword(QWidget* parent) {
    UnlockDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.enteredPassword();
}

void QtPrompter::ShowTipOfTheDay(QWidget* parent) {
    TipOfTheDayDialog dialog(parent);
    dialog.exec();
}

QString QtPrompter::PickFolder(QWidget* parent, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

void QtPrompter::ExploreFolder(const QString& folder) {
    // Without a file manager the desktop opens nothing: say so rather than fail without a word.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
        Warn(nullptr, QStringLiteral("No file manager could open the folder %1").arg(folder));
    }
}

QString QtPrompter::PickImportFile(QWidget* parent) {
    return ChooseImportFile(parent).value_or(QString());
}

QString QtPrompter::PickSaveFile(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save message"), suggested,
                                        QStringLiteral("Mail messages (*.eml);;All files (*)"));
}

bool QtPrompter::OpenFile(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void QtPrompter::ShowNote(QWidget* parent, const QString& title, const QString& text, int lifetimeMs) {
    BalloonPopup::Request request;
    request.title = title;
    request.text = text;
    // The note points at the control it is about.
    request.anchor = parent != nullptr ? ContextHelp::AnchorOf(parent) : QCursor::pos();
    request.lifetimeMs = lifetimeMs;
    BalloonPopup::Launch(std::move(request));
}

}  // namespace bramvell
