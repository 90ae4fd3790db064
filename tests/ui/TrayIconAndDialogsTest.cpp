// The tray icon object without a notification area, and the unlock and tip dialogs.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <gtest/gtest.h>

#include "ui/CStatusAreaIconObj.h"
#include "ui/TipOfTheDayDialog.h"
#include "ui/TrayImages.h"
#include "ui/UnlockDialog.h"

namespace bramvell {
namespace {

TEST(TrayIconTest, WorksWithoutANotificationArea) {
    CStatusAreaIconObj icon(false);
    icon.Create("Bramvell Anti-Spam Filter");
    EXPECT_FALSE(icon.hasSystemTray());
    icon.Show();
    EXPECT_TRUE(icon.isActive());
    EXPECT_TRUE(icon.isAdded());
    icon.SetMode(kActivityPeriodMs, WM_WEB_ACTIVITY);
    EXPECT_TRUE(icon.timerActive());
    EXPECT_EQ(icon.timerInterval(), kActivityPeriodMs);
    std::vector<int> shown;
    while (icon.timerActive() && shown.size() < 10) {
        icon.OnTimer();
        if (icon.timerActive()) {
            shown.push_back(icon.shownImage());
        }
    }
    EXPECT_EQ(shown, (std::vector<int>{ICON_WEB, ICON_STOPPED, ICON_WEB, ICON_STOPPED, ICON_NORMAL}));

    icon.Hide();
    EXPECT_FALSE(icon.isAdded());
    icon.Show();
    icon.SetMode(kStartingPeriodMs, WM_ICON_STARTING);
    icon.Remove();
    EXPECT_FALSE(icon.isActive());
    EXPECT_FALSE(icon.isAdded());
    EXPECT_FALSE(icon.timerActive());
    icon.Remove();  // a second removal does nothing
}

TEST(TrayIconTest, TaskbarMenuAndClicks) {
    CStatusAreaIconObj icon(false);
    icon.Create("Bramvell Anti-Spam Filter");
    EXPECT_EQ(icon.tipText(), "Bramvell Anti-Spam Filter");
    QStringList texts;
    for (QAction* action : icon.menu()->actions()) {
        texts.append(action->isSeparator() ? QString("-") : action->text());
    }
    EXPECT_EQ(texts, (QStringList{"Engage Outbound Email Lock", "-", "Restore Bramvell Control Panel",
                                  "Shutdown Bramvell", "-", "Cancel"}));

    std::vector<int> commands;
    QObject::connect(&icon, &CStatusAreaIconObj::Command, [&](int code) { commands.push_back(code); });
    icon.Show();
    icon.OnLButtonUp();
    EXPECT_EQ(commands, std::vector<int>{ID_RESTORE_PANEL});
    EXPECT_TRUE(icon.isAdded());  // the icon stays while the panel is open
    for (QAction* action : icon.menu()->actions()) {
        if (!action->isSeparator()) {
            action->trigger();
        }
    }
    EXPECT_EQ(commands, (std::vector<int>{ID_RESTORE_PANEL, ID_OUTBOUND_LOCK, ID_RESTORE_PANEL, ID_SHUTDOWN,
                                          ID_CANCEL_MENU}));
}

TEST(TrayIconTest, ImagesAreDrawnAtBothSizesAndDiffer) {
    QImage normal = DrawTrayImage(ICON_NORMAL, 32).toImage();
    QImage stopped = DrawTrayImage(ICON_STOPPED, 32).toImage();
    QImage mail = DrawTrayImage(ICON_MAIL, 32).toImage();
    EXPECT_EQ(normal.size(), QSize(32, 32));
    EXPECT_EQ(DrawTrayImage(ICON_CHAT, 16).size(), QSize(16, 16));
    EXPECT_NE(normal, stopped);
    EXPECT_NE(stopped, mail);
    const QColor centreNormal = normal.pixelColor(16, 16);
    const QColor centreStopped = stopped.pixelColor(16, 16);
    EXPECT_GT(centreNormal.blue(), centreNormal.red());
    EXPECT_GT(centreStopped.red(), centreStopped.blue());
    EXPECT_EQ(normal.pixelColor(0, 0).alpha(), 0);  // transparent corners
}

TEST(UnlockDialogTest, MaskedPasswordBoxAndButtons) {
    UnlockDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Unlock Bramvell");
    EXPECT_EQ(dialog.passwordBox()->objectName(), "1058");
    EXPECT_EQ(dialog.passwordBox()->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    dialog.show();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.passwordBox()->hasFocus() || QApplication::focusWidget() == nullptr);
    dialog.passwordBox()->setText("Secret");
    dialog.findChild<QPushButton*>("IDOK")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.enteredPassword(), "Secret");
}

TEST(TipOfTheDayDialogTest, StartsAtTipOneAndCyclesAfterElevenNextTips) {
    TipOfTheDayDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Tip of the Day");
    EXPECT_EQ(dialog.heading()->text(), "Did you know...");
    EXPECT_EQ(dialog.currentTip(), 1);
    EXPECT_EQ(dialog.lineText(0), "Bramvell Anti-Spam Filter attempts to automatically ");
    EXPECT_EQ(dialog.lineText(4), "filtering activity. Then quit and start it again.   ");
    for (int i = 0; i < 10; ++i) {
        dialog.nextButton()->click();
    }
    EXPECT_EQ(dialog.currentTip(), 11);
    EXPECT_EQ(dialog.lineText(4), "page.                                               ");
    dialog.nextButton()->click();
    EXPECT_EQ(dialog.currentTip(), 1);
    EXPECT_EQ(dialog.heading()->font().family(), "Times New Roman");
    EXPECT_EQ(dialog.heading()->font().pixelSize(), 20);
}

}  // namespace
}  // namespace bramvell
