// The corpus buttons of the Spam Filter Options page: reachable, alive while running, "finished!".
#include <QAction>
#include <QGroupBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "BalloonTestSupport.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "config/ProgramFolder.h"
#include "support/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/CorpusJobs.h"
#include "ui/CorpusTools.h"
#include "ui/SpamFilterOptionsPage.h"

namespace bramvell {
namespace {

using testing::Click;
using testing::ProcessEvents;

class CorpusToolsTest : public testing::ApplicationTest {
  protected:
    CorpusToolsTest() {
        settings.programFolder = "/opt/bramvell";
        settings.SetDefaults();
    }
    QPushButton* Button(int id) { return page.ControlAs<QPushButton>(id); }

    CorpusTools* Attach(CorpusJobs jobs) {
        CorpusToolHooks hooks;
        hooks.showMessage = [this](QWidget*, const QString& text) { messages << text; };
        page.SetCorpusJobs(std::move(jobs), hooks);
        page.CreatePageWindow();
        page.show();
        ProcessEvents();
        return page.corpusTools();
    }

    FilterSettings settings;
    SpamFilterOptionsPage page{&settings};
    QStringList messages;
};

TEST_F(CorpusToolsTest, ButtonsAreShownInAGroupAndOfferedInTheContextMenu) {
    ASSERT_NE(Attach({}), nullptr);
    for (const int id : {1103, 1104, 1136}) {
        ASSERT_NE(Button(id), nullptr);
        EXPECT_TRUE(Button(id)->isVisible()) << id;
        EXPECT_TRUE(qobject_cast<QGroupBox*>(Button(id)->parentWidget())) << id;
    }
    EXPECT_EQ(page.contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(page.actions().size(), 3);
    // The group sits above the page's closing stretch.
    auto* layout = qobject_cast<QVBoxLayout*>(page.layout());
    EXPECT_NE(layout->itemAt(layout->count() - 1)->spacerItem(), nullptr);
}

TEST_F(CorpusToolsTest, RunKeepsTheInterfaceAliveAndEndsWithFinished) {
    std::vector<std::string> ran;
    bool progressShown = false;
    bool timerFired = false;
    bool reentered = false;
    CorpusTools* tools = nullptr;
    const auto job = [&](const char* name) {
        return [&, name](const CorpusRunCallbacks& callbacks) {
            ran.emplace_back(name);
            progressShown = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()) != nullptr;
            QTimer::singleShot(0, [&] { timerFired = true; });
            callbacks.progress(0, 2);
            EXPECT_TRUE(callbacks.pump());
            callbacks.progress(2, 2);
            reentered = tools->Run(CorpusTools::Tool::Test);  // a second run waits for the first
            return true;
        };
    };
    tools = Attach({job("spam"), job("ham"), job("test")});

    Click(Button(1103));
    EXPECT_EQ(ran, std::vector<std::string>{"spam"});
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(timerFired);
    EXPECT_FALSE(reentered);
    EXPECT_EQ(messages, QStringList{"finished!"});
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    page.actions().at(1)->trigger();
    Click(Button(1136));
    EXPECT_EQ(ran, (std::vector<std::string>{"spam", "ham", "test"}));
    EXPECT_EQ(messages.size(), 3);
}

TEST_F(CorpusToolsTest, QuittingDuringARunShowsNoMessage) {
    Attach({[](const CorpusRunCallbacks&) { return false; }, {}, {}});
    Click(Button(1103));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(CorpusToolsTest, ButtonsLearnAndTestTheQuarantineFolder) {
    testing::TempFolder home;
    settings.programFolder = home.path();
    settings.SetDefaults();
    CreateDefaultFolders(home.path());
    TokenTables tables;
    settings.tokenTables = &tables;
    testing::WriteWholeFile(settings.QuarantineFolder() + "/20260520090000.txt",
                            "From: a@b.example\r\nSubject: Cheap pills\r\n\r\nbuy cheap pills today\r\n");
    const testing::FakeClock clock({2026, 5, 20, 9, 30, 0});
    Attach(MakeCorpusJobs(settings, clock));

    Click(Button(1103));
    EXPECT_EQ(settings.spamMessageCount, 1);
    EXPECT_EQ(settings.hamMessageCount, 0);
    EXPECT_GT(settings.newLowerTokenCount + settings.newCapitalTokenCount + settings.newUpperTokenCount, 0);
    Click(Button(1104));
    EXPECT_EQ(settings.hamMessageCount, 1);

    Click(Button(1136));
    const std::string log = testing::ReadWholeFile(settings.LogFolder() + "/20260520.txt");
    EXPECT_NE(log.find("Cnt: 1  Ham: "), std::string::npos) << log;
    EXPECT_EQ(messages, (QStringList{"finished!", "finished!", "finished!"}));
    settings.tokenTables = nullptr;
}

}  // namespace
}  // namespace bramvell
