#pragma once

#include <QFont>
#include <QIcon>
#include <QPainterPath>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "controls/BalloonGeometry.h"

class QPropertyAnimation;

namespace bramvell {

// A titled note shaped as a rounded speech balloon whose tail points at a screen position. It never
// takes the keyboard focus and closes itself: after its lifetime, or at the first mouse button or key
// event that its options name, anywhere in the application. Such an event is watched through an
// application-wide event filter and goes on to its target untouched.
class BalloonPopup : public QWidget {
    Q_OBJECT
  public:
    struct Request {
        QString title;  // first line, in bold
        QString text;   // CR, LF or CR LF break lines
        QPoint anchor;  // on the screen, or in the anchor window's coordinates when there is one
        uint32_t options = kNoteBalloonOptions;
        int lifetimeMs = kNoteBalloonLifetimeMs;
        QWidget* anchorWindow = nullptr;  // the balloon follows it when its window moves
        QString linkTarget;               // a click in the balloon opens it and closes the balloon
        QIcon icon;                       // drawn before the title at the small-icon size
    };

    explicit BalloonPopup(Request request);
    ~BalloonPopup() override;

    // Creates, lays out and shows a balloon that deletes itself once closed.
    static BalloonPopup* Launch(Request request);
    // The usual note: the given title and text at a screen point, with the options and lifetime of
    // the list pages and context help.
    static BalloonPopup* LaunchNote(const QString& title, const QString& text, QPoint anchor);

    // Lays the balloon out and shows it without activating it.
    void Open();
    // What every close trigger does: a delayed-close balloon only starts its lifetime; any other
    // fades out (when it may) and goes.
    void RequestClose();

    QString title() const { return request_.title; }
    QString text() const { return request_.text; }
    uint32_t options() const { return options_; }
    int lifetimeMs() const { return request_.lifetimeMs; }
    const BalloonLayout& balloonLayout() const { return layout_; }
    bool IsClosing() const { return closing_; }
    // Windows of the desktop may fade (they need a compositing desktop and the tooltip effects on).
    static bool DesktopFadesTooltips();

  signals:
    void Closed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void Relayout();
    void StartWatching();
    void StopWatching();
    void Finish();
    // True when the options name this event as a close trigger.
    bool ClosesOn(const QEvent* event) const;
    QPoint AnchorOnScreen() const;

    Request request_;
    uint32_t options_;
    BalloonFade fade_;
    QFont textFont_;
    QFont titleFont_;
    BalloonLayout layout_;
    QPainterPath shapePath_;  // fills the window's shape
    QPainterPath framePath_;  // the outline, on the shape's outermost pixels
    QPoint cursorAtOpening_;
    QPointer<QWidget> anchorTopLevel_;
    QTimer lifetime_;
    QPropertyAnimation* fadeAnimation_ = nullptr;
    bool watching_ = false;
    bool closing_ = false;
    bool finished_ = false;
    bool closeButtonPushed_ = false;
};

}  // namespace bramvell
