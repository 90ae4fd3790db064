// The quarantine, activity and statistics pages over a simulated run's mail.
#include <QApplication>
#include <QCheckBox>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <filesystem>

#include "FakePrompter.h"
#include "classify/ChiSquareStore.h"
#include "classify/ScorerChoice.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "lists/ListStore.h"
#include "runtime/SimulatedMail.h"
#include "support/FakeClock.h"
#include "support/RecordingMessageTarget.h"
#include "support/TempFolder.h"
#include "ui/ActivityPage.h"
#include "ui/ListPage.h"
#include "ui/QuarantinePage.h"
#include "ui/StatisticsPage.h"

namespace bramvell {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;

class PanelPagesTest : public ::testing::Test {
  protected:
    PanelPagesTest() {
        settings.SetDefaults();
        settings.programFolder = folder.path();
        for (const char* sub : {"Data", "log", "quarantine"}) {
            fs::create_directories(folder / sub);
        }
        settings.SetQuarantineFolder(folder / "quarantine");
        settings.SetLogFolder(folder / "log");
        settings.quarantineEnabled = 1;
        settings.activityLogEnabled = 1;
        settings.tokenTables = &tables;
        lists.LoadAll();
        settings.listStore = &lists;
        // Two rounds of the simulated run's six messages, one second apart.
        SimulatedMail mail(settings, target, clock);
        for (int i = 0; i < 12; ++i) {
            clock.Set({2026, 3, 15, 10, 30, i});
            mail.Next();
        }
    }
    int RowOfSubject(QTableWidget* table, const QString& subject) {
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, QuarantinePage::SubjectColumn)->text() == subject) {
                return row;
            }
        }
        return -1;
    }

    testing::TempFolder folder;
    FilterSettings settings;
    TokenTables tables;
    ListStore lists{folder.path()};
    testing::FakeClock clock;
    testing::RecordingMessageTarget target;
    testing::FakePrompter prompter;
};

TEST_F(PanelPagesTest, NotSpamLearnsTrustsTheSenderAndGivesTheMessageBack) {
    ListPage trusted(*FindListPageInfo('E'), &settings);
    QuarantinePage page(&settings);
    page.SetPrompter(&prompter);
    page.SetHooks({{}, [&](const std::string& address) { return trusted.AddEntryText(address); }});
    page.CreatePageWindow();
    page.Refresh();
    QTableWidget* table = page.table();
    ASSERT_EQ(table->rowCount(), 6);
    EXPECT_EQ(table->item(0, QuarantinePage::ScoreColumn)->text(), "From/To rule");
    const int row = RowOfSubject(table, "Lowest prices on meds, no prescription");
    ASSERT_GE(row, 0);
    EXPECT_EQ(table->item(row, QuarantinePage::ScoreColumn)->text(), "97%");
    EXPECT_EQ(table->item(row, QuarantinePage::ScorerColumn)->text(), "chi-square");
    EXPECT_EQ(table->item(row, QuarantinePage::DateColumn)->text(), "2026-03-15 10:30");

    table->selectRow(row);
    page.findChild<QCheckBox*>("trustSenderBox")->setChecked(true);
    prompter.saveFile = QString::fromStdString(folder / "back.eml");
    page.NotSpam();
    EXPECT_EQ(page.resultText(),
              "1 message learned as good; 1 sender added to Trusted Addresses; 1 saved as .eml");
    EXPECT_EQ(settings.hamMessageCount, 1);
    EXPECT_TRUE(lists.FindEntry(ListKind::E, "sales@pharmacy.example"));
    EXPECT_EQ(trusted.displayList(), (std::vector<std::string>{"sales@pharmacy.example"}));
    const std::string eml = ReadWholeFile(folder / "back.eml");
    EXPECT_NE(eml.find("Subject: Lowest prices on meds"), std::string::npos);
    EXPECT_NE(eml.find("\r\n.Stock is limited.\r\n"), std::string::npos);  // dot-stuffing undone
    EXPECT_EQ(eml.find("\r\n.\r\n"), std::string::npos);                   // no end-of-reply line
    {
        ChiSquareStore store;
        std::string problem;
        ASSERT_TRUE(store.Open(ChiSquareStoreFolder(folder.path()), false, problem));
        EXPECT_EQ(ChiSquareStore::Snapshot(store).Totals().ham, 1u);
    }

    // A second "Not spam" of the same sender trusts nobody new.
    table->selectRow(row);
    prompter.saveFile.clear();
    page.NotSpam();
    EXPECT_EQ(page.resultText(), "1 message learned as good");
}

TEST_F(PanelPagesTest, SpamAndDeleteActOnEverySelectedMessageAfterTheQuestion) {
    QuarantinePage page(&settings);
    page.SetPrompter(&prompter);
    page.CreatePageWindow();
    page.Refresh();
    page.table()->selectAll();
    page.Spam();
    EXPECT_EQ(page.resultText(), "6 messages learned as spam");

    prompter.yesNoAnswers = {false, true};
    page.Delete();
    EXPECT_EQ(page.table()->rowCount(), 6);
    page.table()->selectAll();
    page.Delete();
    ASSERT_EQ(prompter.questions.size(), 2);
    EXPECT_EQ(prompter.questions[1], "Delete the 6 selected messages for good? This cannot be undone.");
    EXPECT_EQ(page.resultText(), "6 messages deleted");
    EXPECT_EQ(page.table()->rowCount(), 0);
}

TEST_F(PanelPagesTest, ActivityAndStatisticsShowTheRun) {
    ActivityPage activity(&settings);
    activity.SetClock(clock);
    activity.CreatePageWindow();
    activity.Refresh();
    ASSERT_EQ(activity.table()->rowCount(), 12);
    EXPECT_EQ(activity.table()->item(0, ActivityPage::SenderColumn)->text(), "you@example.org");
    EXPECT_EQ(activity.table()->item(0, ActivityPage::VerdictColumn)->text(), "Spam, quarantined");
    activity.SetSpamOnly(true);
    EXPECT_EQ(activity.table()->rowCount(), 6);

    StatisticsPage statistics(&settings);
    statistics.SetClock(clock);
    statistics.CreatePageWindow();
    statistics.Refresh();
    EXPECT_EQ(statistics.statistics().good, 6);
    EXPECT_EQ(statistics.statistics().spam, 6);
    EXPECT_EQ(statistics.statistics().days.back().spam, 6);
    EXPECT_EQ(statistics.rulesTable()->item(0, 1)->text(), "2");  // From/To
    ASSERT_EQ(statistics.sendersTable()->rowCount(), 3);
    EXPECT_EQ(statistics.sendersTable()->item(0, 1)->text(), "2");
}

}  // namespace
}  // namespace bramvell
