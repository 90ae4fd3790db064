// The control panel's comings and goings: hiding to the tray and coming back, the outbound lock from
// the tray menu, and the ways the run ends.
#include <QCloseEvent>
#include <QKeyEvent>

#include "config/FilterSettings.h"
#include "ui/ControlPanel.h"
#include "ui/CSAPrefsSubDlg.h"
#include "ui/Prompter.h"
#include "ui/WindowPlacement.h"

namespace bramvell {

bool ControlPanel::PagesReadyToHide() {
    const auto& entries = pages_.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        CSAPrefsSubDlg* page = entries[i].page;
        if (page != nullptr && page->HasWindow() && !page->ReadyToHide()) {
            if (static_cast<int>(i) != currentPage_) {
                ShowPage(static_cast<int>(i));
                page->ReadyToHide();  // again, so that the note points at the control now on screen
            }
            return false;
        }
    }
    return true;
}

void ControlPanel::HideToTray() {
    if (currentPage_ >= 0) {
        CSAPrefsSubDlg* page = pages_.entries()[static_cast<std::size_t>(currentPage_)].page;
        if (page != nullptr && page->HasWindow()) {
            page->ReadControls();
        }
    }
    if (!PagesReadyToHide()) {
        return;
    }
    UpdateTrayTip();
    if (trayPresence_ == TrayPresence::None) {
        // Nowhere to hide: keep the panel reachable from the task bar.
        showMinimized();
        return;
    }
    panelVisible_ = false;
    tray_->Show();
    hide();
}

void ControlPanel::Restore() {
    if (hooks_.passwordGate && !hooks_.passwordGate()) {
        tray_->Show();
        return;
    }
    panelVisible_ = true;
    showNormal();
    MoveFullyOnScreen(this);
    raise();
    activateWindow();
    if (settings_->showTips.load() == 1 && settings_->tipsShownThisSession.load() == 0) {
        settings_->tipsShownThisSession = 1;
        if (prompter_ != nullptr) {
            prompter_->ShowTipOfTheDay(this);
        }
    }
}

void ControlPanel::ToggleOutboundLock() {
    const uint8_t engaged = settings_->outboundEmailLock.load() == 1 ? 0 : 1;
    settings_->outboundEmailLock = engaged;
    tray_->SetLockShown(engaged == 1);
    UpdateTrayTip();
}

bool ControlPanel::ReadAllPages(bool quiet) {
    const auto& entries = pages_.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        CSAPrefsSubDlg* page = entries[i].page;
        if (page == nullptr || !page->HasWindow()) {
            continue;
        }
        if (!page->ReadControls(quiet ? CSAPrefsSubDlg::Report::Quiet : CSAPrefsSubDlg::Report::Show) &&
            !quiet) {
            ShowPage(static_cast<int>(i));
            return false;
        }
    }
    return true;
}

void ControlPanel::Shutdown() {
    if (prompter_ == nullptr || !prompter_->AskYesNo(this, QString::fromLatin1(kShutdownQuestion))) {
        return;
    }
    ConfirmedShutdown();
}

void ControlPanel::ConfirmedShutdown() {
    if (ended_ || !ReadAllPages(false)) {
        return;
    }
    for (const PageEntry& entry : pages_.entries()) {
        if (entry.page != nullptr && entry.page->HasWindow()) {
            entry.page->OnConfirm();
        }
    }
    ended_ = true;
    if (hooks_.onShutdown) {
        hooks_.onShutdown();
    }
}

void ControlPanel::ShutdownWithoutQuestion() {
    if (ended_) {
        return;
    }
    ReadAllPages(true);
    ended_ = true;
    if (hooks_.onShutdown) {
        hooks_.onShutdown();
    }
}

void ControlPanel::EndRun() {
    ended_ = true;
    settings_->stopRequested = 1;
    tray_->Remove();
    panelVisible_ = false;
    hide();
}

void ControlPanel::setVisible(bool visible) {
    // Nothing but Restore brings the panel on screen.
    if (visible && !panelVisible_) {
        return;
    }
    QDialog::setVisible(visible);
}

void ControlPanel::accept() {
    HideToTray();
}

void ControlPanel::reject() {
    HideToTray();
}

void ControlPanel::closeEvent(QCloseEvent* event) {
    // Without a notification area the close box is the way out: ask instead of leaving a program that
    // nobody can reach.
    if (trayPresence_ == TrayPresence::None && !ended_) {
        event->ignore();
        if (prompter_ != nullptr &&
            prompter_->AskYesNo(this, QString::fromLatin1(kQuitWithoutTrayQuestion))) {
            ConfirmedShutdown();
        } else {
            showMinimized();
        }
        return;
    }
    QDialog::closeEvent(event);
}

void ControlPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace bramvell
