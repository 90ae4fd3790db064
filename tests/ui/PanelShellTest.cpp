// The control panel as a first-time desktop user meets it: the tray tooltip, the taskbar entry, list
// pages answering Return and Delete, passwords that differ, closing without a tray, walking the tree,
// small screens and a second launch.
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

#include "EventPump.h"
#include "FakePrompter.h"
#include "config/FilterSettings.h"
#include "lists/ListStore.h"
#include "runtime/TrayTip.h"
#include "support/TempFolder.h"
#include "ui/ControlPanel.h"
#include "ui/GeneralOptionsPage.h"
#include "ui/HtmlEmailPage.h"
#include "ui/ListPage.h"
#include "ui/ListPageLogic.h"
#include "ui/RaiseRequests.h"

namespace bramvell {
namespace {

TEST(TrayTipTest, StateAndTodaysCountsOneALine) {
    EXPECT_EQ(TrayTipText({true, true, false, 5, 2}),
              "Bramvell Anti-Spam Filter: filtering\nToday: 5 good, 2 spam");
    EXPECT_EQ(TrayTipText({true, false, true, 0, 0}),
              "Bramvell Anti-Spam Filter: paused\nToday: 0 good, 0 spam\nOutbound email lock engaged");
    EXPECT_EQ(TrayTipText({false, true, false, 1, 0}),
              "Bramvell Anti-Spam Filter: off\nToday: 1 good, 0 spam");
}

class PanelShellTest : public ::testing::Test {
  protected:
    PanelShellTest() {
        settings.programFolder = folder.path();
        settings.SetDefaults();
        std::filesystem::create_directories(folder / "Data");
        lists.LoadAll();
        settings.listStore = &lists;
    }
    testing::TempFolder folder;
    FilterSettings settings;
    ListStore lists{folder.path()};
    testing::FakePrompter prompter;
};

TEST_F(PanelShellTest, TheTooltipFollowsTheFilterTheLockAndTodaysMail) {
    HtmlEmailPage page(&settings);
    ControlPanel panel(&settings, &prompter, TrayPresence::Assumed);
    panel.AddPage(&page, "HTML Email");
    ASSERT_TRUE(panel.Initialise());
    EXPECT_TRUE(panel.trayTip().startsWith("Bramvell Anti-Spam Filter: off\nToday: 0 good, 0 spam"));
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Window));
    EXPECT_FALSE((panel.windowFlags() & Qt::WindowType_Mask) == Qt::Dialog);  // a taskbar entry

    settings.filterRunning = 1;
    panel.OnFilterMessage(WM_FILTER_STARTED, WM_FILTER_STARTED);
    panel.OnFilterMessage(WM_MAIL_CLASSIFIED, 1);
    panel.OnFilterMessage(WM_MAIL_CLASSIFIED, 0);
    panel.OnFilterMessage(WM_MAIL_CLASSIFIED, 0);
    panel.OnCommand(ID_OUTBOUND_LOCK);
    EXPECT_EQ(panel.trayTip(),
              "Bramvell Anti-Spam Filter: filtering\nToday: 2 good, 1 spam\nOutbound email lock engaged");
    panel.OnCommand(ID_OUTBOUND_LOCK);
    settings.filterEnabled = 0;
    panel.OnCommand(ID_OK);
    EXPECT_EQ(panel.trayTip(), "Bramvell Anti-Spam Filter: paused\nToday: 2 good, 1 spam");
    panel.EndRun();
}

TEST_F(PanelShellTest, QuarantinedMailIsNotifiedOnlyWhenAsked) {
    HtmlEmailPage page(&settings);
    ControlPanel panel(&settings, &prompter, TrayPresence::Assumed);
    panel.AddPage(&page, "HTML Email");
    bool notify = false;
    panel.SetQuarantineNotification([&] { return notify; });
    ASSERT_TRUE(panel.Initialise());
    settings.quarantineEnabled = 1;
    panel.OnFilterMessage(WM_MAIL_CLASSIFIED, 1);
    notify = true;
    panel.OnFilterMessage(WM_MAIL_CLASSIFIED, 0);
    panel.OnFilterMessage(WM_MAIL_CLASSIFIED, 1);
    settings.quarantineEnabled = 0;  // deleted without a copy: nothing to rescue
    panel.OnFilterMessage(WM_MAIL_CLASSIFIED, 1);
    EXPECT_EQ(panel.tray()->notificationsShown(), 1);
    panel.EndRun();
}

TEST_F(PanelShellTest, ReturnAddsDeleteRemovesAndTheDateOfExpiryIsShown) {
    ListPage page(*FindListPageInfo('A'), &settings);
    page.SetPrompter(&prompter);
    page.CreatePageWindow();
    auto* edit = page.ControlAs<QLineEdit>(1052);
    auto* list = page.ControlAs<QListWidget>(1070);
    edit->setText("spammer@example.com");
    PressKey(edit, Qt::Key_Return);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "spammer@example.com  (never expires)");
    EXPECT_TRUE(edit->text().isEmpty());

    // The same entry again is refused with a note at the entry box: what is shown is what is stored.
    edit->setText("Spammer@Example.com");
    PressKey(edit, Qt::Key_Return);
    EXPECT_EQ(list->count(), 1);
    ASSERT_EQ(prompter.notes.size(), 1);
    EXPECT_EQ(prompter.notes[0], "Add to Blocked Addresses| This entry is already in the list");

    list->setCurrentRow(0);
    PressKey(list, Qt::Key_Delete);
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(lists.FindEntry(ListKind::A, "spammer@example.com"));

    EXPECT_EQ(ListPageLogic::ShownText("a@b.example (07)", ListKind::A, {2026, 12, 8}),
              "a@b.example  (expires 2027-01-07)");
    EXPECT_EQ(ListPageLogic::ShownText("a@b.example (07)", ListKind::E, {2026, 12, 8}), "a@b.example (07)");
    EXPECT_EQ(ListPageLogic::ShownText("odd (xy)", ListKind::B, {2026, 12, 8}), "odd (xy)");
}

TEST_F(PanelShellTest, DifferingPasswordsKeepThePanelOpenWithANoteAtTheConfirmation) {
    GeneralOptionsPage general(&settings);
    HtmlEmailPage html(&settings);
    ControlPanel panel(&settings, &prompter, TrayPresence::Assumed);
    panel.AddPage(&general, "General Options");
    panel.AddPage(&html, "HTML Email");
    ASSERT_TRUE(panel.Initialise());
    panel.OnCommand(ID_RESTORE_PANEL);
    ASSERT_TRUE(panel.isVisible());

    general.ControlAs<QCheckBox>(1036)->setChecked(true);
    general.ControlAs<QLineEdit>(1058)->setText("secret");
    general.ControlAs<QLineEdit>(1055)->setText("Secret");
    panel.ShowPage(1);  // leaving the page takes its values; hiding then checks them
    panel.OnCommand(ID_OK);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.currentPage(), 0);
    ASSERT_FALSE(prompter.notes.isEmpty());
    EXPECT_TRUE(prompter.notes.back().startsWith(" Confirm Password| The two passwords differ"));

    general.ControlAs<QLineEdit>(1055)->setText("secret");
    panel.OnCommand(ID_OK);
    EXPECT_FALSE(panel.isVisible());
    panel.EndRun();
}

TEST_F(PanelShellTest, ArrowKeysWalkTheTreeAndPagesScroll) {
    GeneralOptionsPage general(&settings);
    HtmlEmailPage html(&settings);
    ControlPanel panel(&settings, &prompter, TrayPresence::Assumed);
    panel.AddPage(&general, "General Options");
    panel.AddPage(&html, "HTML Email");
    ASSERT_TRUE(panel.Initialise());
    panel.OnCommand(ID_RESTORE_PANEL);
    QTreeWidget* tree = panel.pageTree();
    tree->setFocus();
    QApplication::setActiveWindow(&panel);
    PressKey(tree, Qt::Key_Down);
    Pump();
    EXPECT_EQ(panel.currentPage(), 1);
    EXPECT_TRUE(tree->hasFocus() || QApplication::focusWidget() == nullptr);
    PressKey(tree, Qt::Key_Up);
    Pump();
    EXPECT_EQ(panel.currentPage(), 0);
    EXPECT_NE(qobject_cast<QScrollArea*>(general.parentWidget()->parentWidget()), nullptr);
    panel.EndRun();
}

TEST_F(PanelShellTest, WithoutATrayClosingAsksWhetherToQuit) {
    HtmlEmailPage page(&settings);
    ControlPanel bare(&settings, &prompter, TrayPresence::None);
    bare.AddPage(&page, "HTML Email");
    int shutdowns = 0;
    bare.SetHooks(ControlPanelHooks{{}, {}, {}, [&] { ++shutdowns; }});
    ASSERT_TRUE(bare.Initialise());
    Pump();
    prompter.yesNoAnswers = {false, true};
    bare.close();
    EXPECT_EQ(prompter.questions.size(), 1);
    EXPECT_EQ(shutdowns, 0);
    EXPECT_TRUE(bare.isVisible());
    bare.close();
    EXPECT_EQ(shutdowns, 1);
    EXPECT_TRUE(prompter.questions[0].startsWith("There is no notification area"));
    bare.EndRun();
}

TEST(RaiseRequestsTest, ASecondLaunchReachesTheRunningCopy) {
    testing::TempFolder folder;
    const std::string path = RaiseSocketPath(folder / "lock");
    EXPECT_FALSE(SendRaiseRequest(path));  // nobody listens yet
    RaiseRequests requests;
    int raised = 0;
    QObject::connect(&requests, &RaiseRequests::Requested, [&] { ++raised; });
    ASSERT_TRUE(requests.Listen(path));
    EXPECT_TRUE(SendRaiseRequest(path));
    for (int i = 0; i < 50 && raised == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(raised, 1);
}

}  // namespace
}  // namespace bramvell
