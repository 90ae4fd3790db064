// The option pages: every control bound to its field, limits, spin ranges, folder actions.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "FakePrompter.h"
#include "config/FilterSettings.h"
#include "config/OptionsFile.h"
#include "controls/SpinButton.h"
#include "lists/ListStore.h"
#include "support/TempFolder.h"
#include "ui/GeneralOptionsPage.h"
#include "ui/HtmlEmailPage.h"
#include "ui/ListPage.h"
#include "ui/SmtpServerPage.h"
#include "ui/SpamFilterOptionsPage.h"

namespace bramvell {
namespace {

QCheckBox* Check(CSAPrefsSubDlg& page, int id) {
    auto* box = page.ControlAs<QCheckBox>(id);
    EXPECT_NE(box, nullptr) << id;
    return box;
}
QLineEdit* Edit(CSAPrefsSubDlg& page, int id) {
    auto* edit = page.ControlAs<QLineEdit>(id);
    EXPECT_NE(edit, nullptr) << id;
    return edit;
}

class OptionPagesTest : public ::testing::Test {
  protected:
    OptionPagesTest() {
        settings.programFolder = "/opt/bramvell";
        settings.SetDefaults();
    }
    template <typename Page>
    void Prepare(Page& page) {
        page.SetPrompter(&prompter);
        page.CreatePageWindow();
    }
    FilterSettings settings;
    testing::FakePrompter prompter;
};

TEST_F(OptionPagesTest, GeneralOptionsRoundTripAndAdapterSelection) {
    GeneralOptionsPage page(&settings);
    for (int i = 0; i < 12; ++i) {
        page.SetAdapterName(i, QString("if%1").arg(i));
    }
    settings.adapterIndex = 1;
    settings.password = "pw";
    Prepare(page);
    EXPECT_EQ(page.objectName(), "103");
    EXPECT_EQ(Check(page, 1026)->text(), "Automatically select network interface :");
    EXPECT_EQ(Check(page, 1027)->text(), "Automatically start when you log in");
    EXPECT_EQ(Check(page, 1105)->text(), "Create Activity Log files in this folder :");
    EXPECT_EQ(Check(page, 1036)->text(), "Enable password protection :");
    EXPECT_EQ(Check(page, 1138)->text(), "Show tips on startup");
    EXPECT_EQ(Edit(page, 1106)->text(), "/opt/bramvell/log");
    EXPECT_EQ(Edit(page, 1058)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit(page, 1055)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit(page, 1058)->text(), "pw");
    auto* adapters = page.ControlAs<QListWidget>(1069);
    ASSERT_EQ(adapters->count(), 10);  // the eleventh and twelfth are not shown
    EXPECT_EQ(adapters->currentRow(), 1);

    Check(page, 1027)->setChecked(false);
    Edit(page, 1106)->setText("/var/log/bramvell");
    Edit(page, 1055)->setText("pw");
    adapters->setCurrentRow(4);
    ASSERT_TRUE(page.ReadControls());
    EXPECT_EQ(settings.startWithWindows, 0);
    EXPECT_EQ(settings.LogFolder(), "/var/log/bramvell");
    EXPECT_EQ(settings.passwordConfirm, "pw");
    EXPECT_EQ(settings.adapterIndex, 4);  // the choice is stored
    EXPECT_TRUE(prompter.warnings.isEmpty());
}

TEST_F(OptionPagesTest, OverLongValuesAreReportedAndFieldsReadBeforeKeepTheirValues) {
    GeneralOptionsPage page(&settings);
    Prepare(page);
    Check(page, 1105)->setChecked(false);
    Edit(page, 1106)->setText(QString(262, 'f'));  // one over the folder limit, set by the program
    Check(page, 1138)->setChecked(false);
    EXPECT_FALSE(page.ReadControls());
    EXPECT_EQ(prompter.warnings, QStringList{"Please enter no more than 261 characters."});
    EXPECT_EQ(settings.activityLogEnabled, 0);             // read before the failure
    EXPECT_EQ(settings.LogFolder(), "/opt/bramvell/log");  // kept
    EXPECT_EQ(settings.showTips, 1);                       // after the failure: not read

    // Quiet reads report nothing.
    prompter.warnings.clear();
    EXPECT_FALSE(page.ReadControls(CSAPrefsSubDlg::Report::Quiet));
    EXPECT_TRUE(prompter.warnings.isEmpty());

    // Typing cannot go past the limit, and exactly the limit is accepted.
    Edit(page, 1106)->clear();
    Edit(page, 1106)->insert(QString(300, 'g'));
    EXPECT_LE(Edit(page, 1106)->text().size(), 261);
    Edit(page, 1106)->setText(QString(261, 'h'));
    EXPECT_TRUE(page.ReadControls());
    EXPECT_EQ(settings.LogFolder(), std::string(261, 'h'));
}

TEST_F(OptionPagesTest, PagesNeverShownChangeNothing) {
    GeneralOptionsPage page(&settings);
    page.SetPrompter(&prompter);
    settings.showTips = 0;
    EXPECT_TRUE(page.ReadControls());
    EXPECT_EQ(settings.showTips, 0);
    EXPECT_FALSE(page.HasWindow());
}

TEST_F(OptionPagesTest, SpamFilterOptionsSpinLimitsAndIntegers) {
    SpamFilterOptionsPage page(&settings);
    settings.thresholdLevel = 8;
    settings.emptyQuarantineDays = 2;
    Prepare(page);
    EXPECT_EQ(Check(page, 1043)->text(), "Enabled - press and hold the Control key to pause");
    EXPECT_FALSE(Check(page, 1093)->isEnabled());  // greyed
    EXPECT_FALSE(Check(page, 1033)->isEnabled());
    EXPECT_TRUE(Check(page, 1031)->isEnabled());
    EXPECT_EQ(Check(page, 1035)->text(), "Probability threshold for suspected Spam :");
    EXPECT_EQ(Check(page, 1039)->text(), "Quarantine suspected Spam to this folder :");
    EXPECT_EQ(Check(page, 1032)->text(), "Empty folder after this many days :");
    EXPECT_EQ(Check(page, 1094)->text(), "Rename executable attachments");
    for (int hidden : {1103, 1104, 1136}) {
        ASSERT_NE(page.Control(hidden), nullptr);
        EXPECT_TRUE(page.Control(hidden)->isHidden());
    }
    QLineEdit* level = Edit(page, 1057);
    QLineEdit* days = Edit(page, 1056);
    EXPECT_TRUE(level->isReadOnly());
    EXPECT_EQ(level->text(), "8");

    auto* levelSpin = page.ControlAs<SpinButton>(1083);
    auto* daysSpin = page.ControlAs<SpinButton>(1082);
    ASSERT_NE(levelSpin, nullptr);
    ASSERT_NE(daysSpin, nullptr);
    for (int i = 0; i < 5; ++i) {
        levelSpin->upButton()->click();
    }
    EXPECT_EQ(level->text(), "9");
    for (int i = 0; i < 12; ++i) {
        levelSpin->downButton()->click();
    }
    EXPECT_EQ(level->text(), "1");
    for (int i = 0; i < 40; ++i) {
        daysSpin->StepBy(1);
    }
    EXPECT_EQ(days->text(), "30");
    for (int i = 0; i < 40; ++i) {
        daysSpin->StepBy(-1);
    }
    EXPECT_EQ(days->text(), "1");
    // The Up key in the box steps too; typing does nothing.
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(level, &up);
    EXPECT_EQ(level->text(), "2");
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, "7");
    QApplication::sendEvent(level, &typed);
    EXPECT_EQ(level->text(), "2");

    ASSERT_TRUE(page.ReadControls());
    EXPECT_EQ(settings.thresholdLevel, 2);
    EXPECT_EQ(settings.emptyQuarantineDays, 1);

    // A number box holding something else than an integer: the message, the field unchanged.
    level->setText("x");
    EXPECT_FALSE(page.ReadControls());
    EXPECT_EQ(prompter.warnings, QStringList{"Please enter an integer."});
    EXPECT_EQ(settings.thresholdLevel, 2);
    // An integer outside the spin range is taken as it is (the scorer treats it as level 1).
    level->setText(" 10 ");
    EXPECT_TRUE(page.ReadControls());
    EXPECT_EQ(settings.thresholdLevel, 10);
}

// The scorer is an option of the options file: shown as stored, written only when changed, keeping the
// file's other lines.
TEST_F(OptionPagesTest, SpamFilterOptionsScorerGoesToTheOptionsFile) {
    testing::TempFolder config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const auto stored = [] {
        OptionsFile options;
        EXPECT_TRUE(options.Load());
        return options.Get("scorer");
    };
    {
        SpamFilterOptionsPage page(&settings);
        Prepare(page);
        auto* scorer = page.ControlAs<QComboBox>(SpamFilterOptionsPage::kScorerId);
        ASSERT_NE(scorer, nullptr);
        EXPECT_EQ(scorer->currentData().toString(), "classic");  // no file: the default
        ASSERT_TRUE(page.ReadControls());
        EXPECT_FALSE(std::filesystem::exists(OptionsFile().Path()));  // unchanged: nothing written

        scorer->setCurrentIndex(scorer->findData(QStringLiteral("chi-square")));
        ASSERT_TRUE(page.ReadControls());
        EXPECT_EQ(stored(), "chi-square");
    }
    SpamFilterOptionsPage again(&settings);
    Prepare(again);
    auto* scorer = again.ControlAs<QComboBox>(SpamFilterOptionsPage::kScorerId);
    EXPECT_EQ(scorer->currentData().toString(), "chi-square");
    scorer->setCurrentIndex(scorer->findData(QStringLiteral("classic")));
    ASSERT_TRUE(again.ReadControls());
    EXPECT_EQ(stored(), "classic");

    // The answer for deleted spam goes the same way, and the running filter takes it at once.
    auto* answer = again.ControlAs<QComboBox>(SpamFilterOptionsPage::kSpamAnswerId);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->currentData().toString(), "error");
    answer->setCurrentIndex(answer->findData(QStringLiteral("notice")));
    ASSERT_TRUE(again.ReadControls());
    OptionsFile options;
    ASSERT_TRUE(options.Load());
    EXPECT_EQ(options.Get("spam-answer"), "notice");
    EXPECT_EQ(settings.spamAnswerNotice, 1);
    EXPECT_TRUE(prompter.warnings.isEmpty());
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(OptionPagesTest, FolderBrowseAndExplore) {
    SpamFilterOptionsPage page(&settings);
    Prepare(page);
    prompter.pickedFolder = "";
    page.ControlAs<QToolButton>(1016)->click();
    EXPECT_EQ(prompter.pickerTitles, QStringList{"Folder for quarantined suspected Spam"});
    EXPECT_EQ(Edit(page, 1059)->text(), "/opt/bramvell/quarantine");  // cancelled: no change

    prompter.pickedFolder = "/srv/spam";
    page.ControlAs<QToolButton>(1016)->click();
    EXPECT_EQ(Edit(page, 1059)->text(), "/srv/spam");
    EXPECT_EQ(settings.QuarantineFolder(), "/opt/bramvell/quarantine");  // taken at the next read

    page.ControlAs<QToolButton>(1102)->click();  // explore reads the page first
    EXPECT_EQ(settings.QuarantineFolder(), "/srv/spam");
    EXPECT_EQ(prompter.explored, QStringList{"/srv/spam"});

    GeneralOptionsPage general(&settings);
    Prepare(general);
    general.ControlAs<QToolButton>(1107)->click();
    EXPECT_EQ(prompter.pickerTitles.last(), "Folder for Bramvell log files");
}

TEST_F(OptionPagesTest, HtmlAndSmtpPagesBindTheirFields) {
    HtmlEmailPage html(&settings);
    Prepare(html);
    EXPECT_EQ(Check(html, 1101)->text(), "Remove the following HTML tags  :");
    EXPECT_FALSE(Check(html, 1101)->isEnabled());
    EXPECT_EQ(Check(html, 1099)->text(), "<A>");
    EXPECT_FALSE(Check(html, 1099)->isChecked());
    EXPECT_TRUE(Check(html, 1042)->isChecked());
    Check(html, 1041)->setChecked(true);
    Check(html, 1095)->setChecked(false);
    ASSERT_TRUE(html.ReadControls());
    EXPECT_EQ(settings.removeTagImg, 1);
    EXPECT_EQ(settings.removeTagApplet, 0);

    SmtpServerPage smtp(&settings);
    Prepare(smtp);
    EXPECT_EQ(Check(smtp, 1132)->text(), "Server requires authentication");
    EXPECT_EQ(Edit(smtp, 1135)->echoMode(), QLineEdit::Password);
    Edit(smtp, 1133)->setText("smtp.example.com");
    Edit(smtp, 1134)->setText("user");
    Edit(smtp, 1135)->setText(QString(65, 'p'));
    EXPECT_FALSE(smtp.ReadControls());
    EXPECT_EQ(prompter.warnings, QStringList{"Please enter no more than 64 characters."});
    EXPECT_EQ(settings.smtpServer, "smtp.example.com");
    EXPECT_EQ(settings.smtpUserName, "user");
    EXPECT_TRUE(settings.smtpPassword.empty());
}

TEST_F(OptionPagesTest, ListPagesHaveTheirButtonsLimitsAndLowerCaseEntry) {
    for (char kind = 'A'; kind <= 'H'; ++kind) {
        const ListPageInfo& info = *FindListPageInfo(kind);
        ListPage page(info, &settings);
        Prepare(page);
        EXPECT_EQ(Check(page, info.enabledId)->text(), "Enabled");
        EXPECT_EQ(Check(page, info.enabledId)->isEnabled(), !info.enabledGreyed) << kind;
        for (int id : {info.addId, info.removeId, info.importId}) {
            EXPECT_NE(page.ControlAs<QPushButton>(id), nullptr) << kind << id;
        }
        EXPECT_EQ(page.ControlAs<QPushButton>(1013) != nullptr, kind == 'A') << kind;
        QLineEdit* entry = Edit(page, info.editId);
        for (int i = 0; i < 100; ++i) {
            entry->insert("X");  // typed one by one: stops at the limit, in lower case
        }
        EXPECT_EQ(entry->text(), QString(info.editLimit, 'x')) << kind;
        settings.*info.enabledField = 0;
        Check(page, info.enabledId)->setChecked(true);
        ASSERT_TRUE(page.ReadControls());
        EXPECT_EQ((settings.*info.enabledField).load(), 1) << kind;
        EXPECT_EQ(page.newEntryText(), std::string(static_cast<std::size_t>(info.editLimit), 'x'));
    }
    EXPECT_EQ(FindListPageInfo('D')->editLimit, 39);
    EXPECT_EQ(FindListPageInfo('Z'), nullptr);
}

TEST_F(OptionPagesTest, ListPageButtonsChangeTheStoreAndTheListBox) {
    testing::TempFolder home;
    std::filesystem::create_directories(home / "Data");
    ListStore store(home.path());
    settings.listStore = &store;
    ListPage page(*FindListPageInfo('A'), &settings);
    page.displayList() = {"kept@example.com (00)"};
    Prepare(page);
    auto* list = page.ControlAs<QListWidget>(1070);
    QLineEdit* entry = Edit(page, 1052);
    ASSERT_EQ(list->count(), 1);

    entry->setText("a@b.com");  // seven characters: a note, nothing stored
    page.ControlAs<QPushButton>(1004)->click();
    EXPECT_EQ(
        prompter.notes,
        QStringList{
            "Add to Blocked Addresses| Blocked Addresses must be a minimum of eight characters in length"});
    EXPECT_EQ(prompter.noteLifetimeMs, 7000);
    EXPECT_EQ(list->count(), 1);

    entry->setText("spam@example.com");
    page.ControlAs<QPushButton>(1004)->click();
    EXPECT_TRUE(entry->text().isEmpty());
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(store.FindEntry(ListKind::A, "spam@example.com"));
    EXPECT_EQ(list->findItems("spam@example.com  (never expires)", Qt::MatchExactly).size(), 1);

    // Remove with nothing selected does nothing; with a selection it removes entry and string.
    list->clearSelection();
    page.ControlAs<QPushButton>(1017)->click();
    EXPECT_EQ(list->count(), 2);
    list->setCurrentItem(list->findItems("spam@example.com  (never expires)", Qt::MatchExactly).front());
    page.ControlAs<QPushButton>(1017)->click();
    EXPECT_EQ(list->count(), 1);
    EXPECT_FALSE(store.FindEntry(ListKind::A, "spam@example.com"));

    // Import adds each new line in lower case.
    testing::WriteWholeFile(home / "import.txt",
                            "First@Example.com\nsecond@example.com\n\nkept@example.com\n");
    prompter.importFile = QString::fromStdString(home / "import.txt");
    page.ControlAs<QPushButton>(1109)->click();
    EXPECT_EQ(list->count(), 4);  // the shown "kept" line was never in the store, so it comes in
    EXPECT_TRUE(store.FindEntry(ListKind::A, "first@example.com"));
    settings.listStore = nullptr;
}

}  // namespace
}  // namespace bramvell
