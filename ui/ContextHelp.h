#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

class QAbstractButton;
class QWidget;

namespace bramvell {

class BalloonPopup;

// Context help of a window and everything in it: clicking a control in "What's This?" mode (the "?"
// button of the title bar, the panel's own "?" button, or Shift+F1) or pressing F1 opens a balloon at
// the cursor with the control's help. Controls are known by their object names, which are their
// control identifiers. A widget whose "helpContextId" property is 0 has no help: a request for it
// shows nothing and is still answered, so no other help starts.
class ContextHelp : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kContextIdProperty = "helpContextId";

    // Installs context help on the window (its title bar asks for a "?" button) and returns the
    // handler, which lives as long as the window. helpButton, when given, enters "What's This?" mode.
    static ContextHelp* Install(QWidget* window, QAbstractButton* helpButton = nullptr);

    // Answers one help request for the control at the cursor position; returns the balloon shown, or
    // nullptr when the request shows nothing.
    BalloonPopup* Answer(QWidget* control, QPoint cursor, bool f1Down);

    // The control identifier a widget stands for: its own, or that of the nearest ancestor inside the
    // window whose object name is a number; 0 when there is none.
    static int ControlIdOf(const QWidget* widget);
    // Where a balloon about the control points: the middle of its lower edge, on the screen.
    static QPoint AnchorOf(const QWidget* control);
    // The help context of a widget: the nearest "helpContextId" property on the way up; 1 when none
    // is set.
    static int ContextIdOf(const QWidget* widget);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit ContextHelp(QWidget* window);
    bool Watches(const QObject* object) const;

    QPointer<QWidget> window_;
};

}  // namespace bramvell
