// The balloon widget on the offscreen platform: what closes it, what it leaves alone, its shape.
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "BalloonTestSupport.h"
#include "controls/BalloonPopup.h"

namespace bramvell {
namespace {

using testing::Click;
using testing::OpenBalloons;
using testing::PressKey;
using testing::ProcessEvents;
using testing::WaitUntil;

class BalloonPopupTest : public testing::ApplicationTest {
  protected:
    BalloonPopupTest() {
        auto* layout = new QVBoxLayout(&window);
        edit = new QLineEdit(&window);
        button = new QPushButton(QStringLiteral("Add"), &window);
        layout->addWidget(edit);
        layout->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        window.setGeometry(100, 100, 300, 120);
        window.show();
        window.activateWindow();
        edit->setFocus();
        ProcessEvents();
    }
    ~BalloonPopupTest() override { testing::CloseAllBalloons(); }

    // A balloon with the list pages' options, watching once the current event has been delivered.
    QPointer<BalloonPopup> Note(uint32_t options = kNoteBalloonOptions,
                                int lifetimeMs = kNoteBalloonLifetimeMs) {
        BalloonPopup::Request request;
        request.title = QStringLiteral("Add to Blocked Addresses");
        request.text = QStringLiteral(" Blocked Addresses must be a minimum of eight characters in length");
        request.anchor = QPoint(200, 150);
        request.options = options;
        request.lifetimeMs = lifetimeMs;
        QPointer<BalloonPopup> balloon = BalloonPopup::Launch(request);
        ProcessEvents();
        return balloon;
    }

    QWidget window;
    QLineEdit* edit = nullptr;
    QPushButton* button = nullptr;
    int clicks = 0;
};

TEST_F(BalloonPopupTest, OpensWithoutTakingTheFocus) {
    QPointer<BalloonPopup> balloon = Note();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(balloon->isVisible());
    EXPECT_EQ(balloon->options() & 0x18A8u, 0x18A8u);
    EXPECT_EQ(balloon->lifetimeMs(), 7000);
    EXPECT_TRUE(balloon->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(balloon->windowType(), Qt::ToolTip);  // topmost, no taskbar entry
    EXPECT_TRUE(balloon->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(balloon->isActiveWindow());
    EXPECT_EQ(QApplication::focusWidget(), edit);
    // The tip of the tail is on the anchor.
    EXPECT_EQ(balloon->pos() + QPoint(balloon->balloonLayout().tail[2].x, balloon->balloonLayout().tail[2].y),
              QPoint(200, 150));
}

TEST_F(BalloonPopupTest, ClickAnywhereClosesItAndStillReachesItsTarget) {
    QPointer<BalloonPopup> balloon = Note();
    Click(button);
    EXPECT_EQ(clicks, 1);  // the click was not swallowed
    ProcessEvents();
    EXPECT_FALSE(balloon);  // closed and gone

    balloon = Note();
    Click(edit, Qt::RightButton);
    ProcessEvents();
    EXPECT_FALSE(balloon);
}

TEST_F(BalloonPopupTest, KeyPressClosesItAndStillReachesItsTarget) {
    QPointer<BalloonPopup> balloon = Note();
    PressKey(edit, Qt::Key_X, QStringLiteral("x"));
    EXPECT_EQ(edit->text(), "x");
    ProcessEvents();
    EXPECT_FALSE(balloon);
}

TEST_F(BalloonPopupTest, OnlyTheChosenTriggersClose) {
    QPointer<BalloonPopup> balloon = Note();
    Click(button, Qt::MiddleButton);  // not among the note's options
    ProcessEvents();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(balloon->isVisible());

    balloon->RequestClose();
    balloon = Note(BalloonOption::CloseOnLeftUp);
    testing::SendMouse(button, QEvent::MouseButtonPress, Qt::LeftButton);
    PressKey(edit, Qt::Key_Y, QStringLiteral("y"));
    ProcessEvents();
    ASSERT_TRUE(balloon);
    testing::SendMouse(button, QEvent::MouseButtonRelease, Qt::LeftButton);
    ProcessEvents();
    EXPECT_FALSE(balloon);
}

TEST_F(BalloonPopupTest, TheEventThatOpensItDoesNotCloseIt) {
    QPointer<BalloonPopup> balloon;
    QObject::connect(button, &QPushButton::pressed, [&balloon] {
        balloon = BalloonPopup::LaunchNote(QStringLiteral("Title"), QStringLiteral("Text"), QPoint(10, 10));
    });
    testing::SendMouse(button, QEvent::MouseButtonPress, Qt::LeftButton);
    ProcessEvents();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(balloon->isVisible());
    testing::SendMouse(button, QEvent::MouseButtonRelease, Qt::LeftButton);
    ProcessEvents();
    EXPECT_TRUE(balloon);  // a release is no trigger of the note
}

TEST_F(BalloonPopupTest, UntouchedItClosesAfterItsLifetime) {
    // Started before the note so that a slow start under load cannot shorten what is measured.
    QElapsedTimer timer;
    timer.start();
    QPointer<BalloonPopup> balloon = Note(kNoteBalloonOptions, 150);
    ASSERT_TRUE(balloon);
    ASSERT_TRUE(WaitUntil([&] { return balloon.isNull(); }, 3000));
    EXPECT_GE(timer.elapsed(), 140);
}

TEST_F(BalloonPopupTest, DelayedCloseOnlyStartsTheLifetime) {
    QPointer<BalloonPopup> balloon =
        Note(BalloonOption::DelayClose | BalloonOption::CloseOnLeftDown | BalloonOption::CloseOnKeyDown, 100);
    WaitUntil([] { return false; }, 250);
    ASSERT_TRUE(balloon);  // no lifetime runs before the first close request
    Click(button);
    ProcessEvents();
    ASSERT_TRUE(balloon);
    EXPECT_EQ(balloon->options() & 0x01FFu, 0u);
    EXPECT_TRUE(WaitUntil([&] { return balloon.isNull(); }, 3000));
}

TEST_F(BalloonPopupTest, ShapeIsRoundedBodyAndTail) {
    QPointer<BalloonPopup> balloon = Note();
    ASSERT_TRUE(balloon);
    const BalloonLayout& layout = balloon->balloonLayout();
    const QRegion shape = balloon->mask();
    const int bodyTop = layout.body.y;
    EXPECT_FALSE(shape.contains(QPoint(0, bodyTop)));  // rounded corner
    EXPECT_TRUE(shape.contains(QPoint(layout.window.width / 2, bodyTop + layout.body.height / 2)));
    const BalloonPoint base = layout.tail[0];
    const BalloonPoint tip = layout.tail[2];
    const int inTail = (base.y + tip.y) / 2;
    EXPECT_TRUE(shape.contains(QPoint(tip.x + (layout.tailLeft ? 2 : -2), inTail)));
    // Beside the tail, above (or below) the body, is outside.
    EXPECT_FALSE(shape.contains(QPoint(layout.tailLeft ? layout.window.width - 4 : 4, inTail)));
}

TEST_F(BalloonPopupTest, TwoBalloonsAreIndependent) {
    QPointer<BalloonPopup> first = Note();
    QPointer<BalloonPopup> second = Note();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.data(), second.data());
    first->RequestClose();
    ProcessEvents();
    EXPECT_FALSE(first);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isVisible());
}

TEST_F(BalloonPopupTest, StaysInsideTheScreenWorkArea) {
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    QPointer<BalloonPopup> balloon = BalloonPopup::LaunchNote(
        QStringLiteral("A very long title that makes the balloon as wide as the title itself, no less"),
        QStringLiteral("x"), work.bottomRight());
    ProcessEvents();
    ASSERT_TRUE(balloon);
    EXPECT_TRUE(work.contains(balloon->geometry()))
        << balloon->geometry().x() << "," << balloon->geometry().y();
    EXPECT_GT(balloon->width(),
              QFontMetrics(QApplication::font()).horizontalAdvance(QStringLiteral("A very long")));
}

}  // namespace
}  // namespace bramvell
