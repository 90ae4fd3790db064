// Balloon size, shape and placement, computed without a display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "controls/BalloonGeometry.h"

namespace bramvell {
namespace {

const BalloonRect kWorkArea{0, 0, 1280, 1000};  // a panel takes the bottom of a 1280 x 1024 screen

BalloonContent Content(int titleWidth, int textWidth) {
    BalloonContent content;
    content.title = {titleWidth, 16};
    content.text = {textWidth, 45};
    return content;
}

bool InsideWorkArea(const BalloonLayout& layout, const BalloonRect& area) {
    return layout.position.x >= area.x && layout.position.y >= area.y &&
           layout.position.x + layout.window.width <= area.Right() &&
           layout.position.y + layout.window.height <= area.Bottom();
}

TEST(BalloonGeometryTest, SizeIsContentPlusMarginsAndTail) {
    const BalloonLayout layout = LayoutBalloon(Content(120, 300), {400, 300}, kWorkArea);
    EXPECT_EQ(layout.window, (BalloonSize{300 + 16, 16 + 45 + 8 + 36}));
    EXPECT_EQ(layout.content.x, 8);
    EXPECT_EQ(layout.text.y, layout.title.y + 16 + 8);

    // A long title makes the balloon as wide as the title.
    EXPECT_EQ(LayoutBalloon(Content(700, 300), {400, 300}, kWorkArea).window.width, 716);

    // An icon adds its width and eight pixels before the title; a close button its own width.
    BalloonContent withParts = Content(300, 100);
    withParts.icon = {16, 16};
    withParts.closeButton = {18, 18};
    EXPECT_EQ(BalloonWindowSize(withParts).width, 16 + 8 + 300 + 18 + 16);
    EXPECT_EQ(BalloonWindowSize(withParts).height, 18 + 45 + 8 + 36);
}

TEST(BalloonGeometryTest, TailFollowsTheQuadrantOfTheAnchor) {
    const BalloonContent content = Content(120, 300);
    const BalloonSize size = BalloonWindowSize(content);
    const int d = (size.width - 20) / 4;
    struct Case {
        BalloonPoint anchor;
        TailSide side;
        bool left;
    };
    const std::vector<Case> cases = {
        {{400, 300}, TailSide::Top, true},
        {{900, 300}, TailSide::Top, false},
        {{400, 700}, TailSide::Bottom, true},
        {{900, 700}, TailSide::Bottom, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.anchor.x << "," << c.anchor.y);
        const BalloonLayout layout = LayoutBalloon(content, c.anchor, kWorkArea);
        EXPECT_EQ(layout.tailSide, c.side);
        EXPECT_EQ(layout.tailLeft, c.left);
        // The tip sits on the anchor, straight above or below the outer end of the base.
        EXPECT_EQ(layout.TipOnScreen(), c.anchor);
        const BalloonPoint base0 = layout.tail[0];
        const BalloonPoint base1 = layout.tail[1];
        const BalloonPoint tip = layout.tail[2];
        EXPECT_EQ(base0.x, c.left ? d : 3 * d);
        EXPECT_EQ(base1.x, base0.x + 20);
        EXPECT_EQ(tip.x, c.left ? base0.x : base1.x);
        EXPECT_EQ(base0.y, base1.y);
        EXPECT_EQ(std::abs(tip.y - base0.y), 20);
        if (c.side == TailSide::Top) {
            // Tail on top pointing up, body below the anchor.
            EXPECT_LT(tip.y, base0.y);
            EXPECT_EQ(layout.body.y, 20);
            EXPECT_GT(layout.position.y + layout.body.y, c.anchor.y);
        } else {
            // Tail at the bottom pointing down, body above the anchor.
            EXPECT_GT(tip.y, base0.y);
            EXPECT_EQ(layout.body.y, 0);
            EXPECT_LT(layout.position.y + layout.body.Bottom(), c.anchor.y);
        }
        // The base lies just inside the body, so body and tail form one shape.
        EXPECT_TRUE(layout.body.Contains(base0));
        EXPECT_FALSE(layout.body.Contains(tip));
        EXPECT_EQ(layout.body.height, size.height - 20);
    }
}

TEST(BalloonGeometryTest, AnchorNearBottomRightGivesBalloonAboveLeftWithTailAtThreeQuarters) {
    const BalloonLayout layout = LayoutBalloon(Content(120, 300), {1200, 980}, kWorkArea);
    EXPECT_EQ(layout.tailSide, TailSide::Bottom);
    EXPECT_FALSE(layout.tailLeft);
    EXPECT_LT(layout.position.x + layout.window.width, 1280);
    EXPECT_LE(layout.position.y + layout.window.height, 1000);
    EXPECT_LT(layout.position.x, 1200 - layout.window.width / 2);  // mostly to the left
    EXPECT_GT(layout.tail[2].x, layout.window.width * 3 / 4);      // tail at three quarters
    EXPECT_EQ(layout.TipOnScreen(), (BalloonPoint{1200, 980}));
}

TEST(BalloonGeometryTest, WindowIsShiftedIntoTheWorkArea) {
    const BalloonContent content = Content(120, 300);
    const BalloonRect area{100, 40, 1180, 960};  // panels on the left and at the top
    const std::vector<BalloonPoint> anchors = {{100, 40}, {1279, 40},   {100, 999}, {1279, 999},
                                               {0, 0},    {2000, 2000}, {640, 1010}};
    for (const BalloonPoint anchor : anchors) {
        SCOPED_TRACE(testing::Message() << anchor.x << "," << anchor.y);
        EXPECT_TRUE(InsideWorkArea(LayoutBalloon(content, anchor, area), area));
    }

    // Wider than the area: the left edge stays visible.
    const BalloonLayout wide = LayoutBalloon(Content(3000, 100), {1200, 500}, area);
    EXPECT_EQ(wide.position.x, area.x);
}

TEST(BalloonGeometryTest, TailKeepsEightPixelsFromTheSides) {
    for (const int width : {0, 4, 10, 30}) {
        for (const BalloonPoint anchor : {BalloonPoint{10, 10}, BalloonPoint{1270, 990}}) {
            const BalloonLayout layout = LayoutBalloon(Content(width, 0), anchor, kWorkArea);
            for (const BalloonPoint& point : layout.tail) {
                EXPECT_GE(point.x, 8) << width;
                EXPECT_LE(point.x, layout.window.width - 8) << width;
            }
        }
    }
}

TEST(BalloonGeometryTest, NearestScreenHoldsOrIsClosestToThePoint) {
    const std::vector<BalloonScreen> screens = {
        {{0, 0, 1280, 1024}, {0, 0, 1280, 1000}},
        {{1280, 200, 1024, 768}, {1280, 200, 1024, 740}},
    };
    EXPECT_EQ(&NearestScreen(screens, {50, 50}), &screens[0]);
    EXPECT_EQ(&NearestScreen(screens, {1300, 300}), &screens[1]);
    EXPECT_EQ(&NearestScreen(screens, {2000, 100}), &screens[1]);   // above the second screen
    EXPECT_EQ(&NearestScreen(screens, {1290, 1100}), &screens[0]);  // below both, nearer the first
    EXPECT_EQ(&NearestScreen(screens, {-500, -500}), &screens[0]);
}

TEST(BalloonGeometryTest, TextBreaksAtEveryKindOfLineEnd) {
    EXPECT_EQ(BalloonLines(" For help\r ? icon\r\n and then\n click"),
              (std::vector<std::string>{" For help", " ? icon", " and then", " click"}));
    EXPECT_EQ(BalloonLines("one\r"), (std::vector<std::string>{"one"}));
    EXPECT_EQ(BalloonLines("one\r\rthree"), (std::vector<std::string>{"one", "", "three"}));
    EXPECT_TRUE(BalloonLines("").empty());
}

}  // namespace
}  // namespace bramvell
