// Pictures of the control panel's pages, the tray icon with its menu and the two dialogs, for looking
// at. Runs only when BRAMVELL_SCREENSHOT_DIR names a folder (scripts/screenshots sets it and runs this
// under Xvfb with a window manager that has a notification area).
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "FakePrompter.h"
#include "config/FilterSettings.h"
#include "ui/ControlPanel.h"
#include "ui/GeneralOptionsPage.h"
#include "ui/HtmlEmailPage.h"
#include "ui/ListPage.h"
#include "ui/SmtpServerPage.h"
#include "ui/SpamFilterOptionsPage.h"
#include "ui/TipOfTheDayDialog.h"
#include "ui/UnlockDialog.h"

namespace bramvell {
namespace {

void Settle(int milliseconds = 150) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

QString FileName(int index, const QString& caption) {
    QString name = caption.toLower();
    name.replace(' ', '-');
    return QString("page-%1-%2.png").arg(index + 1, 2, 10, QChar('0')).arg(name);
}

TEST(Screenshots, PagesTrayAndDialogs) {
    const char* folderText = std::getenv("BRAMVELL_SCREENSHOT_DIR");
    if (folderText == nullptr || folderText[0] == '\0') {
        GTEST_SKIP() << "BRAMVELL_SCREENSHOT_DIR is not set";
    }
    const QString folder = QString::fromLocal8Bit(folderText);
    std::filesystem::create_directories(folderText);

    FilterSettings settings;
    settings.programFolder = "/home/user/bramvell";
    settings.SetDefaults();
    settings.emailsFiltered = 12;
    settings.spamCount = 3;
    settings.popupsBlocked = 4;
    settings.showTips = 0;
    testing::FakePrompter prompter;

    GeneralOptionsPage general(&settings);
    general.SetAdapterName(0, "eth0");
    general.SetAdapterName(1, "wlan0");
    SpamFilterOptionsPage spam(&settings);
    ListPage blockedAddresses(*FindListPageInfo('A'), &settings);
    ListPage blockedDomains(*FindListPageInfo('B'), &settings);
    ListPage blockedNames(*FindListPageInfo('C'), &settings);
    HtmlEmailPage html(&settings);
    SmtpServerPage smtp(&settings);
    ListPage passphrases(*FindListPageInfo('D'), &settings);
    ListPage trustedAddresses(*FindListPageInfo('E'), &settings);
    ListPage trustedDomains(*FindListPageInfo('F'), &settings);
    ListPage trustedNames(*FindListPageInfo('G'), &settings);
    ListPage userAddresses(*FindListPageInfo('H'), &settings);
    blockedAddresses.displayList() = {"offers@bulk-mailer.example (19)", "winner@lottery.example (00)"};
    passphrases.displayList() = {"project bramble", "family news"};

    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    ControlPanel panel(&settings, &prompter, tray ? TrayPresence::System : TrayPresence::Assumed);
    panel.AddPage(&general, "General Options");
    panel.AddPage(&spam, "Spam Filter Options");
    panel.AddPage(&blockedAddresses, "Blocked Addresses");
    panel.AddPage(&blockedDomains, "Blocked Domains");
    panel.AddPage(&blockedNames, "Blocked Names");
    panel.AddPage(&html, "HTML Email");
    panel.AddPage(&smtp, "SMTP Server");
    panel.AddPage(&passphrases, "Subject Passphrases");
    panel.AddPage(&trustedAddresses, "Trusted Addresses");
    panel.AddPage(&trustedDomains, "Trusted Domains");
    panel.AddPage(&trustedNames, "Trusted Names");
    panel.AddPage(&userAddresses, "User Addresses");
    ASSERT_TRUE(panel.Initialise());
    panel.OnFilterMessage(WM_FILTER_STARTED, WM_FILTER_STARTED);
    panel.OnCommand(ID_RESTORE_PANEL);
    Settle(300);

    for (int i = 0; i < panel.pages().size(); ++i) {
        ASSERT_TRUE(panel.ShowPage(i));
        Settle();
        const QString caption =
            QString::fromStdString(panel.pages().entries()[static_cast<std::size_t>(i)].caption);
        EXPECT_TRUE(panel.grab().save(folder + "/" + FileName(i, caption)));
    }

    // The tray: the panel goes to the notification area; the icon and its menu on the whole screen.
    panel.OnCommand(ID_OK);
    Settle(800);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect area = screen->geometry();
    const QRect corner(area.right() - 320, area.bottom() - 200, 320, 200);
    EXPECT_TRUE(screen->grabWindow(0).copy(corner).save(folder + "/tray.png"));
    panel.tray()->OnRButtonDown();
    panel.tray()->menu()->popup(QPoint(area.right() - 300, area.bottom() - 180));
    Settle(500);
    EXPECT_TRUE(screen->grabWindow(0).copy(corner).save(folder + "/tray-menu.png"));
    panel.tray()->menu()->hide();

    UnlockDialog unlock;
    unlock.show();
    unlock.passwordBox()->setText("secret");
    Settle();
    EXPECT_TRUE(unlock.grab().save(folder + "/unlock.png"));
    unlock.hide();

    TipOfTheDayDialog tips;
    tips.show();
    Settle();
    EXPECT_TRUE(tips.grab().save(folder + "/tip-of-the-day.png"));
    tips.hide();
    panel.EndRun();
}

}  // namespace
}  // namespace bramvell
