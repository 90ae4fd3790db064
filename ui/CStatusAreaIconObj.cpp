#include "ui/CStatusAreaIconObj.h"

#include "ui/TrayImages.h"

namespace bramvell {

CStatusAreaIconObj::CStatusAreaIconObj(bool useSystemTray, QObject* parent) : QObject(parent) {
    if (useSystemTray) {
        tray_ = std::make_unique<QSystemTrayIcon>();
    }
    connect(&timer_, &QTimer::timeout, this, &CStatusAreaIconObj::OnTimer);
}

CStatusAreaIconObj::~CStatusAreaIconObj() {
    if (tray_) {
        tray_->setContextMenu(nullptr);
    }
}

void CStatusAreaIconObj::Create(const QString& tipText) {
    tipText_ = tipText.left(63);
    menu_ = std::make_unique<QMenu>();
    menu_->setObjectName(QStringLiteral("Taskbar"));
    auto addCommand = [this](const QString& text, int code) {
        QAction* action = menu_->addAction(text);
        action->setObjectName(QString::number(code));
        connect(action, &QAction::triggered, this, [this, code] { emit Command(code); });
        return action;
    };
    lockAction_ = addCommand(QStringLiteral("Engage Outbound Email Lock"), ID_OUTBOUND_LOCK);
    lockAction_->setCheckable(true);
    menu_->addSeparator();
    addCommand(QStringLiteral("Restore Bramvell Control Panel"), ID_RESTORE_PANEL);
    addCommand(QStringLiteral("Shutdown Bramvell"), ID_SHUTDOWN);
    menu_->addSeparator();
    addCommand(QStringLiteral("Cancel"), ID_CANCEL_MENU);
    connect(menu_.get(), &QMenu::aboutToShow, this, &CStatusAreaIconObj::OnRButtonDown);

    for (int i = 0; i < kTrayImageCount; ++i) {
        images_[static_cast<std::size_t>(i)] = TrayImageIcon(i);
    }
    if (tray_) {
        tray_->setToolTip(tipText_);
        tray_->setIcon(images_[ICON_NORMAL]);
        tray_->setContextMenu(menu_.get());
        connect(tray_.get(), &QSystemTrayIcon::activated, this, &CStatusAreaIconObj::OnActivated);
    }
}

void CStatusAreaIconObj::Show() {
    active_ = true;
    added_ = true;
    if (tray_) {
        tray_->show();
    }
}

void CStatusAreaIconObj::Hide() {
    if (added_ && tray_) {
        tray_->hide();
    }
    added_ = false;
}

void CStatusAreaIconObj::Remove() {
    if (!active_) {
        return;
    }
    active_ = false;
    if (timer_.isActive()) {
        timer_.stop();
        animation_.TimerStopped();
    }
    if (added_ && tray_) {
        tray_->hide();
    }
    added_ = false;
}

void CStatusAreaIconObj::SetMode(int periodMs, int mode) {
    if (animation_.SetMode(periodMs, mode)) {
        timer_.start(periodMs);
    }
}

void CStatusAreaIconObj::OnTimer() {
    if (animation_.OnTimer() == TrayAnimation::Step::StopTimer) {
        timer_.stop();
        return;
    }
    ShowImage();
}

void CStatusAreaIconObj::ShowImage() {
    shownImage_ = animation_.image();
    if (tray_) {
        tray_->setIcon(images_[static_cast<std::size_t>(shownImage_)]);
    }
}

void CStatusAreaIconObj::OnLButtonUp() {
    // The icon stays: it is the way back to the panel whatever the window manager does with it.
    emit Command(ID_RESTORE_PANEL);
}

void CStatusAreaIconObj::ShowNotification(const QString& title, const QString& text) {
    ++notificationsShown_;
    if (tray_ && added_ && QSystemTrayIcon::supportsMessages()) {
        tray_->showMessage(title, text, QSystemTrayIcon::Information, 5000);
    }
}

void CStatusAreaIconObj::SetTipText(const QString& text) {
    tipText_ = text;
    if (tray_) {
        tray_->setToolTip(tipText_);
    }
}

void CStatusAreaIconObj::OnRButtonDown() {
    if (lockAction_ != nullptr) {
        lockAction_->setChecked(lockShown_);
    }
}

void CStatusAreaIconObj::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    // A left click restores; a double click does nothing; the context menu is opened by Qt itself.
    if (reason == QSystemTrayIcon::Trigger) {
        OnLButtonUp();
    }
}

}  // namespace bramvell
