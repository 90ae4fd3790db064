// Pictures of the Quarantine, Activity and Statistics pages over a simulated run's mail, and of the tray
// icon's tooltip. Runs only when BRAMVELL_SCREENSHOT_DIR names a folder (scripts/screenshots).
#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QTableWidget>
#include <QThread>
#include <QToolTip>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "FakePrompter.h"
#include "classify/TokenTables.h"
#include "config/CalendarDays.h"
#include "config/FilterSettings.h"
#include "lists/ListStore.h"
#include "runtime/SimulatedMail.h"
#include "support/FakeClock.h"
#include "support/RecordingMessageTarget.h"
#include "support/TempFolder.h"
#include "ui/ActivityPage.h"
#include "ui/ControlPanel.h"
#include "ui/QuarantinePage.h"
#include "ui/StatisticsPage.h"
#include "ui/TrayImages.h"

namespace bramvell {
namespace {

void Settle(int milliseconds = 200) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

TEST(Screenshots, QuarantineActivityStatisticsAndTooltip) {
    const char* folderText = std::getenv("BRAMVELL_SCREENSHOT_DIR");
    if (folderText == nullptr || folderText[0] == '\0') {
        GTEST_SKIP() << "BRAMVELL_SCREENSHOT_DIR is not set";
    }
    const QString out = QString::fromLocal8Bit(folderText);
    std::filesystem::create_directories(folderText);

    testing::TempFolder home;
    FilterSettings settings;
    settings.programFolder = home.path();
    settings.SetDefaults();
    for (const char* sub : {"Data", "log", "quarantine"}) {
        std::filesystem::create_directories(home / sub);
    }
    settings.SetQuarantineFolder(home / "quarantine");
    settings.SetLogFolder(home / "log");
    settings.quarantineEnabled = 1;
    settings.activityLogEnabled = 1;
    settings.showTips = 0;
    TokenTables tables;
    settings.tokenTables = &tables;
    ListStore lists(home.path());
    lists.LoadAll();
    settings.listStore = &lists;

    // Three weeks of made-up mail, a few messages a day, today's through the panel so that it counts them.
    const LocalTime now = DefaultClock().Now();
    testing::FakeClock clock(now);
    testing::FakePrompter prompter;
    QuarantinePage quarantine(&settings);
    ActivityPage activity(&settings);
    StatisticsPage statistics(&settings);
    ControlPanel panel(&settings, &prompter, TrayPresence::Assumed);
    panel.AddPage(&quarantine, "Quarantine");
    panel.AddPage(&activity, "Activity");
    panel.AddPage(&statistics, "Statistics");
    ASSERT_TRUE(panel.Initialise());
    testing::RecordingMessageTarget past;  // earlier days' mail is not today's count
    SimulatedMail earlier(settings, past, clock);
    const int today = DayNumber(now);
    for (int day = today - 20; day < today; ++day) {
        const LocalTime date = DateOfDayNumber(day);
        for (int i = 0; i < 2 + (day * 7) % 5; ++i) {
            clock.Set({date.year, date.month, date.day, 8 + i, 5 * i, 0});
            earlier.Next();
        }
    }
    std::filesystem::remove_all(home / "quarantine");  // older copies were emptied by housekeeping
    std::filesystem::create_directories(home / "quarantine");
    clock.Set(now);
    SimulatedMail todays(settings, *panel.messageTarget(), clock);
    for (int i = 0; i < 9; ++i) {
        clock.Set({now.year, now.month, now.day, now.hour, now.minute, i});
        todays.Next();
    }
    Settle();
    settings.filterRunning = 1;
    panel.OnFilterMessage(WM_FILTER_STARTED, WM_FILTER_STARTED);
    panel.OnCommand(ID_RESTORE_PANEL);
    panel.resize(860, 560);
    Settle(300);

    const char* names[] = {"page-13-quarantine.png", "page-14-activity.png", "page-15-statistics.png"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(panel.ShowPage(i));
        Settle(300);
        if (i == 0 && quarantine.table()->rowCount() > 1) {
            quarantine.table()->selectRow(1);
            Settle();
        }
        EXPECT_TRUE(panel.grab().save(out + "/" + names[i]));
    }

    // The tooltip as the notification area shows it, beside the icon.
    panel.OnCommand(ID_OUTBOUND_LOCK);
    QWidget tip;
    tip.setWindowFlags(Qt::ToolTip);
    auto* row = new QHBoxLayout(&tip);
    auto* icon = new QLabel(&tip);
    icon->setPixmap(TrayImageIcon(ICON_NORMAL).pixmap(32, 32));
    auto* text = new QLabel(panel.trayTip(), &tip);
    text->setPalette(QToolTip::palette());
    text->setAutoFillBackground(true);
    text->setMargin(6);
    text->setFrameShape(QFrame::Box);
    row->addWidget(icon);
    row->addWidget(text);
    tip.show();
    Settle();
    EXPECT_TRUE(tip.grab().save(out + "/tray-tooltip.png"));
    panel.EndRun();
}

}  // namespace
}  // namespace bramvell
