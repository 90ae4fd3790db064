// The control panel driven through its real widgets on the offscreen platform.
#include "ui/ControlPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <thread>

#include <gtest/gtest.h>

#include "EventPump.h"
#include "FakePrompter.h"
#include "config/FilterSettings.h"
#include "config/PasswordGate.h"
#include "controls/CaptionBar.h"
#include "runtime/CoreWiring.h"
#include "ui/GeneralOptionsPage.h"
#include "ui/HtmlEmailPage.h"
#include "ui/ListPage.h"
#include "ui/SmtpServerPage.h"
#include "ui/SpamFilterOptionsPage.h"

namespace bramvell {
namespace {

class ControlPanelTest : public ::testing::Test {
  protected:
    ControlPanelTest()
        : general(&settings),
          spam(&settings),
          blocked(*FindListPageInfo('A'), &settings),
          html(&settings),
          smtp(&settings),
          passphrases(*FindListPageInfo('D'), &settings),
          panel(&settings, &prompter, TrayPresence::Assumed) {
        settings.programFolder = "/opt/bramvell";
        settings.SetDefaults();
        settings.emailsFiltered = 12;
        settings.spamCount = 3;
        settings.popupsBlocked = 4;
        general.SetAdapterName(0, "eth0");
        general.SetAdapterName(1, "wlan0");
        panel.AddPage(&general, "General Options");
        panel.AddPage(&spam, "Spam Filter Options");
        panel.AddPage(&blocked, "Blocked Addresses");
        panel.AddPage(&html, "HTML Email");
        panel.AddPage(&smtp, "SMTP Server");
        panel.AddPage(&passphrases, "Subject Passphrases");
        panel.SetHooks(ControlPanelHooks{
            [this] { ++filterStarts; },
            [this] { ++dayChanges; },
            [this] { return RunPasswordGate(settings, unlock); },
            [this] { ++shutdowns; },
        });
    }

    // The gate's questions go to the fake prompter, as the application sends them to its dialogs.
    struct FakeUnlockPrompt : PasswordPrompt {
        explicit FakeUnlockPrompt(testing::FakePrompter& prompter) : prompter(prompter) {}
        std::optional<std::string> AskPassword() override {
            const std::optional<QString> entered = prompter.AskPassword(nullptr);
            return entered ? std::optional<std::string>(entered->toStdString()) : std::nullopt;
        }
        void ShowWarning(std::string_view text) override {
            prompter.Warn(nullptr, QString::fromStdString(std::string(text)));
        }
        testing::FakePrompter& prompter;
    };

    FilterSettings settings;
    testing::FakePrompter prompter;
    GeneralOptionsPage general;
    SpamFilterOptionsPage spam;
    ListPage blocked;
    HtmlEmailPage html;
    SmtpServerPage smtp;
    ListPage passphrases;
    ControlPanel panel;
    FakeUnlockPrompt unlock{prompter};
    int filterStarts = 0;
    int dayChanges = 0;
    int shutdowns = 0;
};

TEST_F(ControlPanelTest, InitialisationStartsHiddenWithTrayCountersAndFilter) {
    ASSERT_TRUE(panel.Initialise());
    EXPECT_EQ(panel.windowTitle(), "Bramvell Anti-Spam Filter");
    EXPECT_EQ(panel.statusText(0), "Emails filtered: 12 (25% Spam)");
    EXPECT_EQ(panel.statusText(1), "Messenger Service popups blocked: 4");
    EXPECT_EQ(settings.mainWindow, panel.messageTarget());
    EXPECT_EQ(filterStarts, 1);
    EXPECT_TRUE(panel.tray()->isAdded());
    EXPECT_EQ(panel.tray()->animation().mode(), WM_ICON_STARTING);
    EXPECT_EQ(panel.tray()->timerInterval(), kStartingPeriodMs);
    EXPECT_EQ(panel.currentPage(), 0);
    EXPECT_EQ(panel.captionBar()->caption(), "General Options");

    // However the system asks, the panel does not come on screen before a restore.
    panel.show();
    panel.setVisible(true);
    Pump();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.panelVisible());

    // Pages can no longer be added.
    HtmlEmailPage late(&settings);
    EXPECT_FALSE(panel.AddPage(&late, "HTML Email"));
}

TEST_F(ControlPanelTest, PostedFilterMessagesChangeCountersIconAndHousekeeping) {
    settings.emailsFiltered = 0;
    settings.spamCount = 0;
    ASSERT_TRUE(panel.Initialise());
    std::thread filter([target = panel.messageTarget()] {
        target->Post(WM_MAIL_CLASSIFIED, 1);
        target->Post(WM_MAIL_CLASSIFIED, 0);
        target->Post(WM_MAIL_CLASSIFIED, 0);
        target->Post(WM_POPUP_BLOCKED, 0);
        target->Post(WM_FILTER_STARTED, WM_FILTER_STARTED);
        target->Post(WM_WEB_ACTIVITY, WM_WEB_ACTIVITY);
        target->Post(WM_DAY_CHANGED, WM_FILTER_FAILED);
    });
    filter.join();
    Pump();
    EXPECT_EQ(settings.emailsFiltered, 3);
    EXPECT_EQ(settings.spamCount, 1);
    EXPECT_EQ(settings.popupsBlocked, 5);
    EXPECT_EQ(panel.statusText(0), "Emails filtered: 3 (33% Spam)");
    EXPECT_EQ(panel.statusText(1), "Messenger Service popups blocked: 5");
    EXPECT_EQ(panel.tray()->animation().mode(), WM_WEB_ACTIVITY);
    EXPECT_EQ(dayChanges, 1);
}

TEST_F(ControlPanelTest, RestoreAndHideWithoutPasswordShowTipsOnce) {
    ASSERT_TRUE(panel.Initialise());
    panel.OnCommand(ID_RESTORE_PANEL);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.tray()->isAdded());  // the icon stays while the panel is open
    EXPECT_EQ(prompter.tipsShown, 1);
    EXPECT_EQ(prompter.passwordQuestions, 0);

    panel.findChild<QPushButton*>("1084")->click();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_TRUE(panel.tray()->isAdded());

    // A left click on the icon restores again; no second tip in the same run.
    panel.tray()->OnLButtonUp();
    Pump();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(prompter.tipsShown, 1);

    // The close box hides too.
    panel.close();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_TRUE(panel.tray()->isAdded());
}

TEST_F(ControlPanelTest, NoTipsWhenTheOptionIsOff) {
    settings.showTips = 0;
    ASSERT_TRUE(panel.Initialise());
    panel.OnCommand(ID_RESTORE_PANEL);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(prompter.tipsShown, 0);
}

TEST_F(ControlPanelTest, PasswordIsAskedOnEveryRestore) {
    settings.passwordProtection = 1;
    settings.password = "Secret";
    settings.passwordConfirm = "Secret";
    ASSERT_TRUE(panel.Initialise());

    prompter.passwordAnswers = {QString("secret")};
    panel.tray()->OnLButtonUp();
    Pump();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_TRUE(panel.tray()->isAdded());
    EXPECT_EQ(prompter.warnings, QStringList{"Incorrect Password!"});

    prompter.passwordAnswers = {QString()};  // Cancel
    panel.OnCommand(ID_RESTORE_PANEL);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_TRUE(panel.tray()->isAdded());

    prompter.passwordAnswers = {QString("Secret"), QString("Secret")};
    panel.OnCommand(ID_RESTORE_PANEL);
    EXPECT_TRUE(panel.isVisible());
    panel.OnCommand(ID_OK);
    EXPECT_FALSE(panel.isVisible());
    panel.OnCommand(ID_RESTORE_PANEL);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(prompter.passwordQuestions, 4);
}

TEST_F(ControlPanelTest, HalfSetUpPasswordRestoresWithoutAsking) {
    settings.passwordProtection = 1;
    settings.password = "Secret";
    settings.passwordConfirm = "Other";
    ASSERT_TRUE(panel.Initialise());
    panel.OnCommand(ID_RESTORE_PANEL);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(prompter.passwordQuestions, 0);
}

TEST_F(ControlPanelTest, ShutdownAnsweredNoThenYes) {
    ASSERT_TRUE(panel.Initialise());
    prompter.yesNoAnswers = {false};
    panel.OnCommand(ID_SHUTDOWN);
    EXPECT_EQ(prompter.questions, QStringList{"Are you sure you wish to completely shutdown Bramvell?"});
    EXPECT_EQ(shutdowns, 0);
    EXPECT_TRUE(panel.tray()->isActive());

    // The tray menu's item sends the same command.
    prompter.yesNoAnswers = {true};
    panel.tray()->menu()->findChild<QAction*>("1")->trigger();
    Pump();
    EXPECT_EQ(shutdowns, 1);

    panel.EndRun();
    EXPECT_EQ(settings.stopRequested, 1);
    EXPECT_FALSE(panel.tray()->isActive());
    EXPECT_FALSE(panel.tray()->isAdded());
}

TEST_F(ControlPanelTest, PageFailingValidationStopsShutdownAndIsShown) {
    ASSERT_TRUE(panel.Initialise());
    panel.ShowPage(3);  // HTML Email, so that General Options is not the current page
    auto* password = general.ControlAs<QLineEdit>(1058);
    ASSERT_NE(password, nullptr);
    password->setText(QString(65, 'x'));
    prompter.yesNoAnswers = {true};
    panel.OnCommand(ID_SHUTDOWN);
    EXPECT_EQ(shutdowns, 0);
    EXPECT_EQ(prompter.warnings, QStringList{"Please enter no more than 64 characters."});
    EXPECT_EQ(panel.currentPage(), 0);
    EXPECT_EQ(panel.captionBar()->caption(), "General Options");
    EXPECT_TRUE(settings.password.empty());

    password->setText("fine");
    prompter.yesNoAnswers = {true};
    panel.OnCommand(ID_SHUTDOWN);
    EXPECT_EQ(shutdowns, 1);
    EXPECT_EQ(settings.password, "fine");
}

TEST_F(ControlPanelTest, OutboundLockTogglesWithItsCheckMark) {
    ASSERT_TRUE(panel.Initialise());
    QAction* lock = panel.tray()->menu()->findChild<QAction*>("32773");
    ASSERT_NE(lock, nullptr);
    lock->trigger();
    Pump();
    EXPECT_EQ(settings.outboundEmailLock, 1);
    panel.tray()->OnRButtonDown();
    EXPECT_TRUE(lock->isChecked());
    lock->trigger();
    Pump();
    EXPECT_EQ(settings.outboundEmailLock, 0);
    panel.tray()->OnRButtonDown();
    EXPECT_FALSE(lock->isChecked());

    // "Cancel" does nothing.
    panel.tray()->menu()->findChild<QAction*>("32772")->trigger();
    Pump();
    EXPECT_EQ(settings.outboundEmailLock, 0);
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(ControlPanelTest, EscapeIsDiscardedAndEnterHidesExceptInAnEditBox) {
    ASSERT_TRUE(panel.Initialise());
    panel.OnCommand(ID_RESTORE_PANEL);
    ASSERT_TRUE(panel.isVisible());

    PressKey(&panel, Qt::Key_Escape);
    PressKey(general.Control(1026), Qt::Key_Escape);
    EXPECT_TRUE(panel.isVisible());

    PressKey(general.Control(1106), Qt::Key_Return);  // the log folder box
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(shutdowns, 0);

    PressKey(general.Control(1026), Qt::Key_Return);  // a check box: the default button, OK
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(ControlPanelTest, TreeFollowsTheParentRuleAndSelectingCreatesThePage) {
    ASSERT_TRUE(panel.Initialise());
    QTreeWidget* tree = panel.pageTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "General Options");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "Spam Filter Options");
    QTreeWidgetItem* generalItem = tree->topLevelItem(0);
    ASSERT_EQ(generalItem->childCount(), 4);
    EXPECT_EQ(generalItem->child(2)->text(0), "SMTP Server");
    EXPECT_EQ(generalItem->child(3)->text(0), "Subject Passphrases");

    blocked.displayList() = {"zed@example.com (00)", "abe@example.com (05)"};
    EXPECT_FALSE(blocked.HasWindow());
    tree->setCurrentItem(generalItem->child(0));
    Pump();
    EXPECT_TRUE(blocked.HasWindow());
    EXPECT_EQ(panel.currentPage(), 2);
    EXPECT_EQ(panel.captionBar()->caption(), "Blocked Addresses");
    auto* list = blocked.ControlAs<QListWidget>(1070);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "abe@example.com (05)");  // sorted
    EXPECT_FALSE(blocked.Control(1028)->isEnabled());          // greyed "Enabled"
    EXPECT_TRUE(passphrases.HasWindow() == false);
}

TEST_F(ControlPanelTest, WithoutATrayThePanelShowsAtStartAndMinimises) {
    ControlPanel bare(&settings, &prompter, TrayPresence::None);
    HtmlEmailPage page(&settings);
    bare.AddPage(&page, "HTML Email");
    ASSERT_TRUE(bare.Initialise());
    Pump();
    EXPECT_TRUE(bare.isVisible());
    EXPECT_FALSE(bare.tray()->hasSystemTray());
    bare.OnCommand(ID_OK);
    EXPECT_TRUE(bare.panelVisible());
    EXPECT_TRUE(bare.isMinimized());
}

TEST_F(ControlPanelTest, NoPageMeansNoTrayAndNoFilter) {
    ControlPanel empty(&settings, &prompter, TrayPresence::Assumed);
    int starts = 0;
    empty.SetHooks(ControlPanelHooks{[&] { ++starts; }, {}, {}, {}});
    EXPECT_FALSE(empty.Initialise());
    EXPECT_EQ(starts, 0);
    EXPECT_FALSE(empty.tray()->isActive());
}

}  // namespace
}  // namespace bramvell
