#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>

#include "engine/KeyState.h"

namespace bramvell {

// The pause key for the filter thread: the user-interface thread samples the desktop's keyboard
// modifiers (Control or Shift held, whichever window has the focus) a few times a second into an
// atomic, which the filter thread reads.
class ModifierKeyState final : public QObject, public KeyState {
    Q_OBJECT
  public:
    explicit ModifierKeyState(int intervalMs = 100, QObject* parent = nullptr);

    bool IsPauseKeyHeld() override { return held_.load(std::memory_order_relaxed); }
    void Sample();

  private:
    QTimer timer_;
    std::atomic<bool> held_{false};
};

}  // namespace bramvell
