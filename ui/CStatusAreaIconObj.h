#pragma once

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <array>
#include <memory>

#include "ui/TrayAnimation.h"

namespace bramvell {

// Command codes of the tray menu and of the control panel.
enum PanelCommand : int {
    ID_SHUTDOWN = 1,
    ID_OK = 1084,
    ID_RESTORE_PANEL = 32771,
    ID_CANCEL_MENU = 32772,
    ID_OUTBOUND_LOCK = 32773,
};

inline constexpr int kIconTimerId = 1001;

// The notification-area icon: shows whether filtering runs, flashes on activity, and offers the
// "Taskbar" menu. Commands go to the owner through Command(); the owner connects it queued, so a
// command is handled after the current event, as a posted one would be. When the desktop has no
// notification area the object keeps its state and menu but shows nothing.
class CStatusAreaIconObj : public QObject {
    Q_OBJECT
  public:
    explicit CStatusAreaIconObj(bool useSystemTray, QObject* parent = nullptr);
    ~CStatusAreaIconObj() override;

    void Create(const QString& tipText);
    void Show();
    void Hide();
    void Remove();
    void SetMode(int periodMs, int mode);
    // The check mark of "Engage Outbound Email Lock" follows the value last set through the menu.
    void SetLockShown(bool engaged) { lockShown_ = engaged; }
    // The tooltip: the state and today's counts (no length limit on this desktop).
    void SetTipText(const QString& text);
    // A desktop notification from the icon, where the notification area can show one.
    void ShowNotification(const QString& title, const QString& text);
    int notificationsShown() const { return notificationsShown_; }

    bool isActive() const { return active_; }
    bool isAdded() const { return added_; }
    bool lockShown() const { return lockShown_; }
    bool hasSystemTray() const { return tray_ != nullptr; }
    const TrayAnimation& animation() const { return animation_; }
    int shownImage() const { return shownImage_; }
    bool timerActive() const { return timer_.isActive(); }
    int timerInterval() const { return timer_.interval(); }
    QMenu* menu() const { return menu_.get(); }
    QString tipText() const { return tipText_; }
    const QIcon& image(int index) const { return images_[static_cast<std::size_t>(index)]; }

  public slots:
    void OnTimer();
    void OnLButtonUp();
    // Prepares the menu (check mark) before it opens; Qt opens it at the cursor.
    void OnRButtonDown();

  signals:
    void Command(int code);

  private:
    void ShowImage();
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QMenu> menu_;
    QAction* lockAction_ = nullptr;
    std::array<QIcon, kTrayImageCount> images_;
    TrayAnimation animation_;
    QTimer timer_;
    QString tipText_;
    int shownImage_ = ICON_NORMAL;
    bool active_ = false;
    bool added_ = false;
    bool lockShown_ = false;
    int notificationsShown_ = 0;
};

}  // namespace bramvell
