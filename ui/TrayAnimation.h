#pragma once

#include <cstdint>

#include "engine/MessageTarget.h"

namespace bramvell {

// The five pictures of the tray icon, by index.
enum TrayImage : uint8_t {
    ICON_NORMAL = 0,   // blue cross: filtering
    ICON_STOPPED = 1,  // red cross: not filtering, and the background of every flash
    ICON_WEB = 2,
    ICON_MAIL = 3,
    ICON_CHAT = 4,
};
inline constexpr int kTrayImageCount = 5;

// Animation modes are the codes of the messages that drive them; the control panel sets 1128 itself.
enum IconMode : int {
    WM_ICON_STARTING = 1128,
};

inline constexpr int kStartingPeriodMs = 300;
inline constexpr int kActivityPeriodMs = 400;

// The icon's animation state without any toolkit: which image shows, the mode, the flash count and
// whether the timer runs. The tray icon object drives a real timer from the answers.
class TrayAnimation {
  public:
    enum class Step { Show, StopTimer };

    // Sets the mode; returns true when the caller must start its timer with the given period (no timer
    // runs yet). A running timer keeps its period.
    bool SetMode(int periodMs, int mode);
    // One tick: Show means "show image()"; StopTimer means the timer is to be killed and nothing shown.
    Step OnTimer();

    uint8_t image() const { return image_; }
    int mode() const { return mode_; }
    int flashCount() const { return flashCount_; }
    bool timerRunning() const { return periodMs_ != 0; }
    int periodMs() const { return periodMs_; }
    // The timer was killed from outside (icon removed).
    void TimerStopped() { periodMs_ = 0; }

  private:
    Step Flash(uint8_t activityImage);

    uint8_t image_ = ICON_NORMAL;
    int mode_ = 0;
    int flashCount_ = 0;
    int periodMs_ = 0;
};

}  // namespace bramvell
