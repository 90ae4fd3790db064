// The corpus buttons of the Spam Filter Options page: reachable, alive while running, "finished!".
#include <QAction>
#include <QGroupBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "BalloonTestSupport.h"
#include "config/FilterSettings.h"
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

}  // namespace
}  // namespace bramvell
