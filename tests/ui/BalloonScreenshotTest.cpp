// Pictures of a list page with entries, its too-short balloon and a context-help balloon, taken from
// the screen so that the balloons' shapes show. Runs only when BRAMVELL_SCREENSHOT_DIR names a folder
// (scripts/screenshots runs it under Xvfb).
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QWhatsThis>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "BalloonTestSupport.h"
#include "FakePrompter.h"
#include "config/FilterSettings.h"
#include "lists/ListStore.h"
#include "support/TempFolder.h"
#include "ui/ControlPanel.h"
#include "ui/GeneralOptionsPage.h"
#include "ui/ListPage.h"
#include "ui/SpamFilterOptionsPage.h"

namespace bramvell {
namespace {

void Settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// The panel and whatever balloon stands beside it, from the screen.
bool SaveAround(const QWidget& panel, const QString& path) {
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect area = panel.frameGeometry().adjusted(-40, -40, 40, 40);
    for (BalloonPopup* balloon : testing::OpenBalloons()) {
        area = area.united(balloon->geometry().adjusted(-8, -8, 8, 8));
    }
    return screen->grabWindow(0).copy(area.intersected(screen->geometry())).save(path);
}

// Notes appear as balloons, as in the application.
class BalloonPrompter : public testing::FakePrompter {
  public:
    void ShowNote(QWidget* parent, const QString& title, const QString& text, int lifetimeMs) override {
        QtPrompter().ShowNote(parent, title, text, lifetimeMs);
    }
};

TEST(Screenshots, ListPageAndBalloons) {
    const char* folderText = std::getenv("BRAMVELL_SCREENSHOT_DIR");
    if (folderText == nullptr || folderText[0] == '\0') {
        GTEST_SKIP() << "BRAMVELL_SCREENSHOT_DIR is not set";
    }
    const QString folder = QString::fromLocal8Bit(folderText);
    std::filesystem::create_directories(folderText);

    testing::TempFolder home;
    std::filesystem::create_directories(home / "Data");
    ListStore store(home.path());
    FilterSettings settings;
    settings.programFolder = home.path();
    settings.SetDefaults();
    settings.showTips = 0;
    settings.SetQuarantineFolder("/home/user/bramvell/quarantine");
    settings.listStore = &store;
    BalloonPrompter prompter;

    GeneralOptionsPage general(&settings);
    SpamFilterOptionsPage spam(&settings);
    ListPage blocked(*FindListPageInfo('A'), &settings);
    spam.SetCorpusJobs({}, {});
    const std::vector<std::string> entries = {"offers@bulk-mailer.example", "winner@lottery.example",
                                              "no-reply@cheap-meds.example",
                                              "deals@very-long-domain-name-"
                                              "of-a-bulk-sender.example"};
    for (const std::string& entry : entries) {
        store.AddEntry(ListKind::A, entry);
        blocked.displayList().push_back(entry + " (00)");
    }

    ControlPanel panel(&settings, &prompter, TrayPresence::Assumed);
    panel.AddPage(&general, "General Options");
    panel.AddPage(&spam, "Spam Filter Options");
    panel.AddPage(&blocked, "Blocked Addresses");
    ASSERT_TRUE(panel.Initialise());
    panel.OnCommand(ID_RESTORE_PANEL);
    panel.move(120, 100);
    ASSERT_TRUE(panel.ShowPage(2));
    Settle(400);

    // One entry extended, as the user would.
    auto* list = blocked.ControlAs<QListWidget>(1070);
    list->setCurrentItem(list->findItems("winner@lottery.example", Qt::MatchStartsWith).front());
    blocked.ControlAs<QPushButton>(1013)->click();
    Settle(200);
    EXPECT_TRUE(SaveAround(panel, folder + "/list-page-entries.png"));

    // Too short: the note stands at the pointer, over the "Add" button.
    QPushButton* add = blocked.ControlAs<QPushButton>(1004);
    QCursor::setPos(add->mapToGlobal(add->rect().center()));
    blocked.ControlAs<QLineEdit>(1052)->setText("a@b.com");
    add->click();
    Settle(500);
    EXPECT_TRUE(SaveAround(panel, folder + "/list-page-balloon.png"));
    testing::CloseAllBalloons();

    // Context help for the list box, asked through "What's This?".
    QCursor::setPos(list->mapToGlobal(QPoint(60, 40)));
    QWhatsThis::enterWhatsThisMode();
    testing::SendMouse(list->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, QPoint(60, 30));
    testing::SendMouse(list->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(60, 30));
    Settle(500);
    EXPECT_TRUE(SaveAround(panel, folder + "/help-balloon.png"));
    testing::CloseAllBalloons();

    // The corpus group on the Spam Filter Options page.
    ASSERT_TRUE(panel.ShowPage(1));
    Settle(300);
    EXPECT_TRUE(panel.grab().save(folder + "/spam-filter-options-corpus.png"));
    panel.EndRun();
    settings.listStore = nullptr;
}

}  // namespace
}  // namespace bramvell
