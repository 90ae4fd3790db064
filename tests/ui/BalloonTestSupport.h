#pragma once

// Helpers for tests that drive balloons and pages through real widgets on the offscreen platform.
// Events go through QApplication::notify, so application-wide event filters see them as they see the
// user's input.

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "controls/BalloonPopup.h"

namespace bramvell::testing {

// The test program's QApplication: the one a test main made, or one made here for the whole run.
inline QApplication& EnsureApplication() {
    if (QApplication::instance() == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "bramvell_ui_tests";
        static char* argv[] = {name, nullptr};
        static QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    return *qobject_cast<QApplication*>(QApplication::instance());
}

// Base of fixtures that own widgets: the application exists before any member is made.
class ApplicationTest : public ::testing::Test {
  protected:
    ApplicationTest() { EnsureApplication(); }
};

inline void ProcessEvents() {
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// Runs the event loop until the condition holds or the time is up; returns the condition.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return condition();
}

inline void SendMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, QPoint at = {-1, -1}) {
    const QPoint local = at.x() < 0 ? widget->rect().center() : at;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(local), QPointF(widget->mapToGlobal(local)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline void Click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    SendMouse(widget, QEvent::MouseButtonPress, button);
    SendMouse(widget, QEvent::MouseButtonRelease, button);
}

inline void PressKey(QWidget* widget, int key, const QString& text = {},
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

// Types the characters one key at a time, as a keyboard would.
inline void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        const int key = c.isLetter() ? Qt::Key_A + (c.toUpper().unicode() - 'A') : c.unicode();
        PressKey(widget, key, QString(c), c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier);
    }
}

inline std::vector<BalloonPopup*> OpenBalloons() {
    std::vector<BalloonPopup*> balloons;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* balloon = qobject_cast<BalloonPopup*>(widget);
        if (balloon != nullptr && balloon->isVisible() && !balloon->IsClosing()) {
            balloons.push_back(balloon);
        }
    }
    return balloons;
}

// The one balloon that is open, or nullptr when there is none; fails on more than one.
inline BalloonPopup* OnlyBalloon() {
    const std::vector<BalloonPopup*> balloons = OpenBalloons();
    EXPECT_LE(balloons.size(), 1u);
    return balloons.empty() ? nullptr : balloons.front();
}

inline void CloseAllBalloons() {
    for (BalloonPopup* balloon : OpenBalloons()) {
        balloon->RequestClose();
    }
    ProcessEvents();
}

}  // namespace bramvell::testing
