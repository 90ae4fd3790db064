#include "ui/ModifierKeyState.h"

#include <QGuiApplication>

namespace bramvell {

ModifierKeyState::ModifierKeyState(int intervalMs, QObject* parent) : QObject(parent) {
    connect(&timer_, &QTimer::timeout, this, &ModifierKeyState::Sample);
    timer_.start(intervalMs);
}

void ModifierKeyState::Sample() {
    const Qt::KeyboardModifiers modifiers = QGuiApplication::queryKeyboardModifiers();
    held_.store((modifiers & (Qt::ControlModifier | Qt::ShiftModifier)) != 0, std::memory_order_relaxed);
}

}  // namespace bramvell
