#pragma once

// Size, shape and placement of a balloon popup, in plain integers so that it is computed and tested
// without a display. The Qt widget measures its strings, asks for a layout and draws what it gets.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

// Option bits of a balloon.
namespace BalloonOption {
inline constexpr uint32_t CloseOnLeftUp = 0x0001;
inline constexpr uint32_t CloseOnMiddleUp = 0x0002;
inline constexpr uint32_t CloseOnRightUp = 0x0004;
inline constexpr uint32_t CloseOnLeftDown = 0x0008;
inline constexpr uint32_t CloseOnMiddleDown = 0x0010;
inline constexpr uint32_t CloseOnRightDown = 0x0020;
inline constexpr uint32_t CloseOnMouseMove = 0x0040;
inline constexpr uint32_t CloseOnKeyDown = 0x0080;
inline constexpr uint32_t DelayClose = 0x0100;
inline constexpr uint32_t DeleteSelf = 0x0200;
inline constexpr uint32_t ShowCloseButton = 0x0400;
inline constexpr uint32_t OuterOutline = 0x0800;
inline constexpr uint32_t Topmost = 0x1000;
inline constexpr uint32_t NoShadow = 0x2000;
inline constexpr uint32_t NoFadeIn = 0x4000;
inline constexpr uint32_t NoFadeOut = 0x8000;

// Every bit that a hooked mouse event or the delayed close depends on.
inline constexpr uint32_t MouseCloseBits = 0x007F;
// Cleared by the first close request of a delayed-close balloon.
inline constexpr uint32_t CloseRequestBits = 0x01FF;
}  // namespace BalloonOption

// What the list pages and context help pass: topmost, outer outline, closed by a key press or by the
// left or right button going down; seven seconds to live.
inline constexpr uint32_t kNoteBalloonOptions =
    BalloonOption::Topmost | BalloonOption::OuterOutline | BalloonOption::CloseOnKeyDown |
    BalloonOption::CloseOnLeftDown | BalloonOption::CloseOnRightDown;
inline constexpr int kNoteBalloonLifetimeMs = 7000;

inline constexpr int kBalloonMargin = 8;       // around the content, and after the icon
inline constexpr int kBalloonTailHeight = 20;  // also the width of the tail's base
inline constexpr int kBalloonCornerSize = 24;  // the corner ellipses of the body
inline constexpr int kBalloonFadeMs = 200;
inline constexpr int kDefaultHoverWidth = 3;  // mouse travel that closes with CloseOnMouseMove

struct BalloonPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const BalloonPoint&, const BalloonPoint&) = default;
};

struct BalloonSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const BalloonSize&, const BalloonSize&) = default;
};

// Left and top inclusive, width and height in pixels.
struct BalloonRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int Right() const { return x + width; }    // one past the last column
    int Bottom() const { return y + height; }  // one past the last row
    bool Contains(BalloonPoint p) const { return p.x >= x && p.x < Right() && p.y >= y && p.y < Bottom(); }
    friend bool operator==(const BalloonRect&, const BalloonRect&) = default;
};

// One screen: its whole area and the part left for windows (without panels and docks).
struct BalloonScreen {
    BalloonRect geometry;
    BalloonRect workArea;
};

// Measured parts of a balloon; a zero size means the part is absent.
struct BalloonContent {
    BalloonSize icon;
    BalloonSize title;
    BalloonSize text;
    BalloonSize closeButton;  // a caption button's size when ShowCloseButton is set
};

enum class TailSide { Top, Bottom };

// Everything the widget needs to place and draw itself. Coordinates inside the window unless named
// otherwise.
struct BalloonLayout {
    BalloonSize window;
    BalloonPoint position;  // top-left corner of the window on the screen
    TailSide tailSide = TailSide::Top;
    bool tailLeft = true;                // tail near a quarter of the width (anchor in the left half)
    BalloonRect body;                    // the rounded rectangle
    std::array<BalloonPoint, 3> tail{};  // base start, base end, tip
    BalloonRect content;                 // inside the 8-pixel margin
    BalloonRect icon;
    BalloonRect title;
    BalloonRect text;
    BalloonRect closeButton;  // empty without the close button

    // The part of the shape that the tip of the tail points at, on the screen.
    BalloonPoint TipOnScreen() const { return {position.x + tail[2].x, position.y + tail[2].y}; }
    // The window's shape is the union of body and tail; equal layouts share one shape.
    bool SameShape(const BalloonLayout& other) const {
        return window == other.window && body == other.body && tail == other.tail;
    }
};

// The screen whose area holds the point, else the one nearest to it; screens must not be empty.
const BalloonScreen& NearestScreen(std::span<const BalloonScreen> screens, BalloonPoint point);

// The window size for the measured content.
BalloonSize BalloonWindowSize(const BalloonContent& content);

// Size, shape and position of a balloon whose tail points at the anchor (screen coordinates), kept
// inside the work area.
BalloonLayout LayoutBalloon(const BalloonContent& content, BalloonPoint anchor, const BalloonRect& workArea);

// The lines a balloon draws: CR LF, CR and LF each end a line; an empty text has no lines.
std::vector<std::string> BalloonLines(std::string_view text);

// True when a mouse that started at `from` has moved far enough to close the balloon.
bool MovedBeyondHover(BalloonPoint from, BalloonPoint to, int hoverWidth);

// Whether the balloon fades in and out: only when the desktop animates and fades tooltips and the
// options do not switch it off.
struct BalloonFade {
    bool in = false;
    bool out = false;
};
BalloonFade FadeFor(uint32_t options, bool desktopFadesTooltips);

}  // namespace bramvell
