#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace bramvell {

void MoveFullyOnScreen(QWidget* window) {
    QScreen* screen = window->screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    int x = std::min(frame.x(), area.right() - frame.width() + 1);
    int y = std::min(frame.y(), area.bottom() - frame.height() + 1);
    x = std::max(x, area.left());
    y = std::max(y, area.top());
    if (x != frame.x() || y != frame.y()) {
        window->move(x, y);
    }
}

}  // namespace bramvell
