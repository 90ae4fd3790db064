#include "ui/TrayAnimation.h"

namespace bramvell {

bool TrayAnimation::SetMode(int periodMs, int mode) {
    mode_ = mode;
    if (periodMs_ != 0 || periodMs <= 0) {
        return false;
    }
    periodMs_ = periodMs;
    return true;
}

TrayAnimation::Step TrayAnimation::Flash(uint8_t activityImage) {
    if (image_ != activityImage) {
        image_ = activityImage;
        return Step::Show;
    }
    image_ = ICON_STOPPED;
    if (++flashCount_ >= 2) {
        flashCount_ = 0;
        mode_ = WM_FILTER_STARTED;
    }
    return Step::Show;
}

TrayAnimation::Step TrayAnimation::OnTimer() {
    switch (mode_) {
        case WM_ICON_STARTING:
            image_ = image_ == ICON_NORMAL ? ICON_STOPPED : ICON_NORMAL;
            return Step::Show;
        case WM_FILTER_STARTED:
            if (image_ != ICON_NORMAL) {
                image_ = ICON_NORMAL;
                return Step::Show;
            }
            periodMs_ = 0;
            return Step::StopTimer;
        case WM_FILTER_FAILED:
            if (image_ != ICON_STOPPED) {
                image_ = ICON_STOPPED;
                return Step::Show;
            }
            periodMs_ = 0;
            return Step::StopTimer;
        case WM_SMTP_ACTIVITY:
            return Flash(ICON_MAIL);
        case WM_IRC_ACTIVITY:
            return Flash(ICON_CHAT);
        case WM_WEB_ACTIVITY:
            return Flash(ICON_WEB);
        default:
            return Step::Show;
    }
}

}  // namespace bramvell
