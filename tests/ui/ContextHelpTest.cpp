// Context help: the table, the choice of pair, and the handler answering F1 and "What's This?" clicks.
#include <QCheckBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>
#include <QWhatsThis>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "BalloonTestSupport.h"
#include "ui/ContextHelp.h"
#include "ui/ContextHelpTable.h"

namespace bramvell {
namespace {

using testing::OnlyBalloon;
using testing::ProcessEvents;

TEST(ContextHelpTableTest, EveryEntryIsWellFormed) {
    const auto table = ContextHelpTable();
    ASSERT_EQ(table.size(), 95u);
    std::set<int> ids;
    for (const HelpEntry& entry : table) {
        SCOPED_TRACE(entry.controlId);
        EXPECT_TRUE(ids.insert(entry.controlId).second) << "listed twice";
        const std::string_view title = entry.pair.title;
        const std::string_view text = entry.pair.text;
        ASSERT_GE(title.size(), 2u);
        EXPECT_EQ(title[0], ' ');
        EXPECT_NE(title[1], ' ');
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text[0], ' ');
        EXPECT_EQ(text.find('\n'), std::string_view::npos);
        // Every line after the first starts with a space; at most six lines.
        int lines = 1;
        for (std::size_t at = text.find('\r'); at != std::string_view::npos; at = text.find('\r', at + 1)) {
            ++lines;
            ASSERT_LT(at + 1, text.size());
            EXPECT_EQ(text[at + 1], ' ');
        }
        EXPECT_LE(lines, 6);
    }
}

TEST(ContextHelpTableTest, RequestPicksThePair) {
    // Control with an entry.
    EXPECT_EQ(ContextHelpFor({1004, 7, false})->title, " Add Blocked Address");
    // F1 down: the general pair, even over a control with an entry, whatever the context.
    EXPECT_EQ(ContextHelpFor({1004, 7, true})->title, kGeneralHelp.title);
    EXPECT_EQ(ContextHelpFor({1004, 0, true})->title, kGeneralHelp.title);
    // A control without an entry (a static label): the general pair.
    EXPECT_EQ(ContextHelpFor({-1, 7, false})->text, kGeneralHelp.text);
    // No help context: nothing.
    EXPECT_FALSE(ContextHelpFor({1004, 0, false}).has_value());
}

class ContextHelpTest : public testing::ApplicationTest {
  protected:
    ContextHelpTest() {
        auto* layout = new QVBoxLayout(&window);
        label = new QLabel(QStringLiteral("Enter a new blocked address"), &window);
        edit = new QLineEdit(&window);
        edit->setObjectName(QStringLiteral("1052"));
        list = new QListWidget(&window);
        list->setObjectName(QStringLiteral("1070"));
        quiet = new QCheckBox(QStringLiteral("No help here"), &window);
        quiet->setObjectName(QStringLiteral("1028"));
        quiet->setProperty(ContextHelp::kContextIdProperty, 0);
        for (QWidget* w : std::initializer_list<QWidget*>{label, edit, list, quiet}) {
            layout->addWidget(w);
        }
        help = ContextHelp::Install(&window);
        window.show();
        edit->setFocus();
        ProcessEvents();
    }
    ~ContextHelpTest() override { testing::CloseAllBalloons(); }

    // Clicks the control in "What's This?" mode, as after a click on the "?" button.
    void AskAbout(QWidget* control) {
        QWhatsThis::enterWhatsThisMode();
        testing::SendMouse(control, QEvent::MouseButtonPress, Qt::LeftButton);
        testing::SendMouse(control, QEvent::MouseButtonRelease, Qt::LeftButton);
        ProcessEvents();
    }

    QWidget window;
    QLabel* label = nullptr;
    QLineEdit* edit = nullptr;
    QListWidget* list = nullptr;
    QCheckBox* quiet = nullptr;
    ContextHelp* help = nullptr;
};

TEST_F(ContextHelpTest, WhatsThisClickShowsTheControlsHelp) {
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    AskAbout(edit);
    EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
    BalloonPopup* balloon = OnlyBalloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->title(), " New Blocked Address");
    EXPECT_EQ(balloon->text(), " Enter a new blocked email address");
    EXPECT_EQ(balloon->options() & 0x18A8u, 0x18A8u);
    EXPECT_EQ(balloon->lifetimeMs(), 7000);
    EXPECT_EQ(edit->text(), "");  // the click asked for help, it did not reach the control

    // A click inside a control's part (the list's viewport) is a click on the control.
    testing::CloseAllBalloons();
    AskAbout(list->viewport());
    ASSERT_NE(OnlyBalloon(), nullptr);
    EXPECT_EQ(OnlyBalloon()->title(), " Blocked Address List");
}

TEST_F(ContextHelpTest, ControlWithoutEntryShowsTheGeneralPair) {
    AskAbout(label);
    BalloonPopup* balloon = OnlyBalloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->title(), " Bramvell Help");
    EXPECT_EQ(balloon->text().toStdString(), std::string(kGeneralHelp.text));
}

TEST_F(ContextHelpTest, F1ExplainsTheFocusedControlAtTheControl) {
    window.move(200, 150);  // away from the screen's edges, where the balloon would be shifted
    edit->setFocus();
    testing::PressKey(edit, Qt::Key_F1);
    ProcessEvents();
    BalloonPopup* balloon = OnlyBalloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->title(), " New Blocked Address");
    const BalloonPoint tip = balloon->balloonLayout().TipOnScreen();
    EXPECT_EQ(QPoint(tip.x, tip.y), ContextHelp::AnchorOf(edit));
}

TEST_F(ContextHelpTest, ZeroContextShowsNothingButIsAnswered) {
    QHelpEvent request(QEvent::WhatsThis, QPoint(2, 2), quiet->mapToGlobal(QPoint(2, 2)));
    request.ignore();
    EXPECT_TRUE(QApplication::sendEvent(quiet, &request));
    EXPECT_TRUE(request.isAccepted());
    ProcessEvents();
    EXPECT_EQ(OnlyBalloon(), nullptr);

    AskAbout(quiet);
    EXPECT_EQ(OnlyBalloon(), nullptr);
    EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
    EXPECT_FALSE(quiet->isChecked());
}

TEST_F(ContextHelpTest, WidgetsOfOtherWindowsAreLeftAlone) {
    QLineEdit elsewhere;
    elsewhere.setObjectName(QStringLiteral("1052"));
    elsewhere.show();
    testing::PressKey(&elsewhere, Qt::Key_F1);
    ProcessEvents();
    EXPECT_EQ(OnlyBalloon(), nullptr);
}

}  // namespace
}  // namespace bramvell
