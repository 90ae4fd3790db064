#include "controls/BalloonGeometry.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace bramvell {

namespace {

// Squared distance from a point to the nearest pixel of a rectangle (0 inside).
int64_t DistanceSquared(const BalloonRect& rect, BalloonPoint p) {
    const auto axis = [](int value, int low, int highExclusive) -> int64_t {
        if (value < low) {
            return static_cast<int64_t>(low) - value;
        }
        const int high = std::max(low, highExclusive - 1);
        return value > high ? static_cast<int64_t>(value) - high : 0;
    };
    const int64_t dx = axis(p.x, rect.x, rect.Right());
    const int64_t dy = axis(p.y, rect.y, rect.Bottom());
    return dx * dx + dy * dy;
}

// Moves [start, start + length) inside [low, lowPlusSpan): the far edge first, then the near one, so a
// window larger than the area keeps its left or top edge visible.
int KeepInside(int start, int length, int low, int span) {
    if (start + length > low + span) {
        start = low + span - length;
    }
    return std::max(start, low);
}

}  // namespace

const BalloonScreen& NearestScreen(std::span<const BalloonScreen> screens, BalloonPoint point) {
    const BalloonScreen* best = &screens.front();
    int64_t bestDistance = std::numeric_limits<int64_t>::max();
    for (const BalloonScreen& screen : screens) {
        const int64_t distance = DistanceSquared(screen.geometry, point);
        if (distance < bestDistance) {
            best = &screen;
            bestDistance = distance;
        }
    }
    return *best;
}

BalloonSize BalloonWindowSize(const BalloonContent& content) {
    const int iconGap = content.icon.width > 0 ? kBalloonMargin : 0;
    const int headerWidth = content.icon.width + iconGap + content.title.width + content.closeButton.width;
    const int headerHeight =
        std::max({content.icon.height, content.title.height, content.closeButton.height});
    const int contentWidth = std::max(headerWidth, content.text.width);
    const int contentHeight = headerHeight + content.text.height + kBalloonMargin;
    return {contentWidth + 2 * kBalloonMargin, contentHeight + 2 * kBalloonMargin + kBalloonTailHeight};
}

BalloonLayout LayoutBalloon(const BalloonContent& content, BalloonPoint anchor, const BalloonRect& workArea) {
    BalloonLayout layout;
    layout.window = BalloonWindowSize(content);
    const int width = layout.window.width;
    const int height = layout.window.height;

    // Twice the coordinates, so that an odd-sized work area splits exactly in half.
    layout.tailSide = 2 * anchor.y < 2 * workArea.y + workArea.height ? TailSide::Top : TailSide::Bottom;
    layout.tailLeft = 2 * anchor.x < 2 * workArea.x + workArea.width;
    const bool top = layout.tailSide == TailSide::Top;

    const int bodyTop = top ? kBalloonTailHeight : 0;
    layout.body = {0, bodyTop, width, height - kBalloonTailHeight};

    // The base lies one pixel inside the body, the tip one pixel inside the window, straight above or
    // below the outer end of the base.
    const int quarter = (width - kBalloonTailHeight) / 4;
    const int baseStart = layout.tailLeft ? quarter : 3 * quarter;
    const int baseEnd = baseStart + kBalloonTailHeight;
    const int tipX = layout.tailLeft ? baseStart : baseEnd;
    const int baseY = top ? bodyTop + 1 : layout.body.Bottom() - 2;
    const int tipY = top ? 1 : height - 2;
    const auto keepOffEdges = [width](int x) {
        return std::clamp(x, kBalloonMargin, std::max(kBalloonMargin, width - kBalloonMargin));
    };
    layout.tail = {BalloonPoint{keepOffEdges(baseStart), baseY}, BalloonPoint{keepOffEdges(baseEnd), baseY},
                   BalloonPoint{keepOffEdges(tipX), tipY}};

    layout.content = {kBalloonMargin, bodyTop + kBalloonMargin, width - 2 * kBalloonMargin,
                      layout.body.height - 2 * kBalloonMargin};
    const int headerHeight =
        std::max({content.icon.height, content.title.height, content.closeButton.height});
    layout.icon = {layout.content.x, layout.content.y, content.icon.width, content.icon.height};
    const int titleX = layout.content.x + content.icon.width + (content.icon.width > 0 ? kBalloonMargin : 0);
    layout.title = {titleX, layout.content.y, content.title.width, content.title.height};
    layout.closeButton = {layout.content.Right() - content.closeButton.width, layout.content.y,
                          content.closeButton.width, content.closeButton.height};
    layout.text = {layout.content.x, layout.content.y + headerHeight + kBalloonMargin, content.text.width,
                   content.text.height};

    const BalloonPoint tip = layout.tail[2];
    layout.position = {KeepInside(anchor.x - tip.x, width, workArea.x, workArea.width),
                       KeepInside(anchor.y - tip.y, height, workArea.y, workArea.height)};
    return layout;
}

std::vector<std::string> BalloonLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
            ++start;
        }
    }
    return lines;
}

bool MovedBeyondHover(BalloonPoint from, BalloonPoint to, int hoverWidth) {
    const int limit = hoverWidth > 0 ? hoverWidth : kDefaultHoverWidth;
    return std::abs(to.x - from.x) > limit || std::abs(to.y - from.y) > limit;
}

BalloonFade FadeFor(uint32_t options, bool desktopFadesTooltips) {
    return {desktopFadesTooltips && (options & BalloonOption::NoFadeIn) == 0,
            desktopFadesTooltips && (options & BalloonOption::NoFadeOut) == 0};
}

}  // namespace bramvell
