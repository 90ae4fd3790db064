// The list pages' buttons through the real pages: balloons, list box, scroll extent, store and files.
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "BalloonTestSupport.h"
#include "FakePrompter.h"
#include "config/FilterSettings.h"
#include "lists/BucketOf.h"
#include "lists/ListPageControls.h"
#include "support/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/ListPage.h"
#include "ui/ListPageLogic.h"

namespace bramvell {
namespace {

using testing::Click;
using testing::OnlyBalloon;
using testing::ProcessEvents;

// Answers the import dialog from the test; notes go to the real balloon, as in the application.
class BalloonPrompter : public testing::FakePrompter {
  public:
    void ShowNote(QWidget* parent, const QString& title, const QString& text, int lifetimeMs) override {
        QtPrompter().ShowNote(parent, title, text, lifetimeMs);
    }
};

class ListPageLogicTest : public testing::ApplicationTest {
  protected:
    ListPageLogicTest() {
        std::filesystem::create_directory(home_ / "Data");
        settings_.programFolder = home_.path();
        settings_.SetDefaults();
        settings_.listStore = &store_;
    }
    ~ListPageLogicTest() override { testing::CloseAllBalloons(); }

    // Makes the page of the list, with the display list loaded at start-up, and shows it.
    ListPage& Open(ListKind kind, std::vector<std::string> displayList = {}, Prompter* prompter = nullptr) {
        page_ = std::make_unique<ListPage>(*FindListPageInfo(TraitsOf(kind).letter), &settings_);
        page_->displayList() = std::move(displayList);
        page_->SetClock(clock_);
        page_->SetPump(pump_);
        page_->SetPrompter(prompter != nullptr ? prompter : &prompter_);
        page_->CreatePageWindow();
        page_->resize(400, 300);
        page_->show();
        ProcessEvents();
        return *page_;
    }
    ListPageLogic& Logic() const { return *page_->logic(); }
    QPushButton* Button(int id) const { return page_->ControlAs<QPushButton>(id); }
    const ListPageControls& Ids() const { return ControlsOf(Logic().kind()); }
    QLineEdit* Edit() const { return Logic().editBox(); }
    QListWidget* List() const { return Logic().listBox(); }

    QStringList Strings() const {
        QStringList strings;
        for (int i = 0; i < List()->count(); ++i) {
            // The display strings behind the items (the items show blocked entries' dates instead).
            strings << QString::fromUtf8(List()->item(i)->data(Qt::UserRole).toByteArray());
        }
        return strings;
    }
    void Select(const QString& text) {
        for (int i = 0; i < List()->count(); ++i) {
            if (QString::fromUtf8(List()->item(i)->data(Qt::UserRole).toByteArray()) == text) {
                List()->setCurrentItem(List()->item(i));
                return;
            }
        }
        FAIL() << text.toStdString();
    }
    void TypeAndAdd(const QString& text) {
        Edit()->setFocus();
        testing::Type(Edit(), text);
        Click(Button(Ids().addButton));
        ProcessEvents();
    }
    std::string BucketFile(ListKind kind, const std::string& text) const {
        return testing::ReadWholeFile(store_.BucketFilePath(kind, BucketOf(text)));
    }
    void WriteImportFile(const std::string& bytes) {
        const std::string path = home_ / "import.csv";
        testing::WriteWholeFile(path, bytes);
        prompter_.importFile = QString::fromStdString(path);
    }

    testing::TempFolder home_;
    ListStore store_{home_.path()};
    FilterSettings settings_;
    testing::FakeClock clock_{{2026, 5, 20, 9, 0, 0}};
    BalloonPrompter prompter_;
    std::function<bool()> pump_;
    std::unique_ptr<ListPage> page_;
};

TEST_F(ListPageLogicTest, TooShortAddShowsTheListsBalloonAndStoresNothing) {
    Open(ListKind::A);
    TypeAndAdd(QStringLiteral("abcdefg"));
    BalloonPopup* balloon = OnlyBalloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->title(), "Add to Blocked Addresses");
    EXPECT_EQ(balloon->text(), " Blocked Addresses must be a minimum of eight characters in length");
    EXPECT_EQ(balloon->options() & 0x18A8u, 0x18A8u);
    EXPECT_EQ(balloon->lifetimeMs(), 7000);
    EXPECT_EQ(Edit()->text(), "abcdefg");  // left for the user to complete
    EXPECT_EQ(List()->count(), 0);
    EXPECT_FALSE(store_.FindEntry(ListKind::A, "abcdefg"));

    // The next key closes the balloon and goes on into the box.
    testing::Type(Edit(), QStringLiteral("h"));
    ProcessEvents();
    EXPECT_EQ(OnlyBalloon(), nullptr);
    Click(Button(Ids().addButton));
    ProcessEvents();
    EXPECT_EQ(Strings(), QStringList{"abcdefgh (00)"});
    EXPECT_EQ(Edit()->text(), "");
    EXPECT_TRUE(Edit()->hasFocus());
    EXPECT_TRUE(store_.FindEntry(ListKind::A, "abcdefgh"));
    EXPECT_EQ(BucketFile(ListKind::A, "abcdefgh"), "abcdefgh (00)\r\n");
}

TEST_F(ListPageLogicTest, ThreeCharactersAreEnoughOnTheShortLists) {
    for (const ListKind kind : {ListKind::B, ListKind::C, ListKind::D, ListKind::F, ListKind::G}) {
        SCOPED_TRACE(TraitsOf(kind).letter);
        Open(kind);
        TypeAndAdd(QStringLiteral("ab"));
        ASSERT_NE(OnlyBalloon(), nullptr);
        EXPECT_EQ(OnlyBalloon()->title().toStdString(), "Add to " + std::string(TraitsOf(kind).name));
        testing::CloseAllBalloons();
        TypeAndAdd(QStringLiteral("c"));
        EXPECT_EQ(OnlyBalloon(), nullptr);
        EXPECT_EQ(Strings(), QStringList{TraitsOf(kind).blocked ? "abc (00)" : "abc"});
        EXPECT_TRUE(store_.FindEntry(kind, "abc"));
    }
    // Eight on the address lists.
    Open(ListKind::E);
    TypeAndAdd(QStringLiteral("a@b.com"));
    ASSERT_NE(OnlyBalloon(), nullptr);
    EXPECT_EQ(OnlyBalloon()->text(), " Trusted Addresses must be a minimum of eight characters in length");
}

TEST_F(ListPageLogicTest, EntryBoxTypesLowerCaseUpToItsLimit) {
    Open(ListKind::D);
    testing::Type(Edit(), QStringLiteral("Free OFFER"));
    EXPECT_EQ(Edit()->text(), "free offer");
    Edit()->clear();
    testing::Type(Edit(), QString(45, QLatin1Char('X')));
    EXPECT_EQ(Edit()->text(), QString(39, QLatin1Char('x')));

    Open(ListKind::H);
    testing::Type(Edit(), QString(85, QLatin1Char('Q')));
    EXPECT_EQ(Edit()->text().size(), 79);

    // Add reads the page's controls: the "Enabled" box takes effect too.
    auto* enabled = page_->ControlAs<QCheckBox>(Ids().enabledBox);
    enabled->setChecked(!enabled->isChecked());
    const int expected = enabled->isChecked() ? 1 : 0;
    Click(Button(Ids().addButton));
    EXPECT_EQ(settings_.userAddressesEnabled, expected);
    EXPECT_EQ(Strings(), QStringList{QString(79, QLatin1Char('q'))});
}

// What the box shows is what the file holds: the second copy is refused, so one remove empties both.
TEST_F(ListPageLogicTest, SameTextTwiceIsStoredOnceAndOneRemoveEmptiesBoxAndFile) {
    Open(ListKind::B);
    TypeAndAdd(QStringLiteral("spam.example"));
    TypeAndAdd(QStringLiteral("Spam.Example"));
    EXPECT_EQ(Strings(), (QStringList{"spam.example (00)"}));
    EXPECT_EQ(BucketFile(ListKind::B, "spam.example"), "spam.example (00)\r\n");

    Select(QStringLiteral("spam.example (00)"));
    Click(Button(Ids().removeButton));
    EXPECT_TRUE(Strings().isEmpty());
    EXPECT_FALSE(store_.FindEntry(ListKind::B, "spam.example"));
    EXPECT_EQ(BucketFile(ListKind::B, "spam.example"), "");
    EXPECT_TRUE(Logic().operations().DisplayList().empty());
}

TEST_F(ListPageLogicTest, ExtendAndKeepChangeTheDayOfTheSelectedEntry) {
    Open(ListKind::A, {"abcdefgh (00)", "zzzzzzzz (00)"});
    store_.AddEntry(ListKind::A, "abcdefgh");
    Select(QStringLiteral("abcdefgh (00)"));
    Click(Button(Ids().extendButton));  // on 20 May
    EXPECT_EQ(Strings(), (QStringList{"abcdefgh (19)", "zzzzzzzz (00)"}));
    EXPECT_TRUE(List()->selectedItems().isEmpty());
    EXPECT_EQ(BucketFile(ListKind::A, "abcdefgh"), "abcdefgh (19)\r\n");

    Select(QStringLiteral("abcdefgh (19)"));
    Click(Button(Ids().keepButton));
    EXPECT_EQ(Strings(), (QStringList{"abcdefgh (00)", "zzzzzzzz (00)"}));
    EXPECT_EQ(BucketFile(ListKind::A, "abcdefgh"), "abcdefgh (00)\r\n");
}

TEST_F(ListPageLogicTest, NothingSelectedDoesNothing) {
    Open(ListKind::C, {"alpha (00)", "beta (00)"});
    List()->clearSelection();
    for (const int id : {Ids().extendButton, Ids().keepButton, Ids().removeButton}) {
        Click(Button(id));
    }
    EXPECT_EQ(Strings(), (QStringList{"alpha (00)", "beta (00)"}));
    EXPECT_FALSE(std::filesystem::exists(store_.BucketFilePath(ListKind::C, BucketOf("alpha"))));
}

TEST_F(ListPageLogicTest, ScrollExtentFollowsTheWidestStringUntilTheListEmpties) {
    const std::string wide(120, 'w');
    Open(ListKind::G, {"short", wide});
    store_.AddEntry(ListKind::G, "short");
    store_.AddEntry(ListKind::G, wide);
    const int wideExtent = QFontMetrics(List()->font()).horizontalAdvance(QString::fromStdString(wide)) + 3;
    EXPECT_EQ(Logic().HorizontalExtent(), wideExtent);
    EXPECT_EQ(List()->property(ListPageLogic::kExtentProperty).toInt(), wideExtent);
    EXPECT_EQ(List()->horizontalScrollBar()->maximum(), wideExtent - List()->viewport()->width());
    EXPECT_EQ(Strings(), (QStringList{"short", QString::fromStdString(wide)}));  // sorted

    // Removing the widest string keeps the extent; removing the last one resets it.
    Select(QString::fromStdString(wide));
    Click(Button(Ids().removeButton));
    ProcessEvents();
    EXPECT_EQ(List()->horizontalScrollBar()->maximum(), wideExtent - List()->viewport()->width());
    Select(QStringLiteral("short"));
    Click(Button(Ids().removeButton));
    ProcessEvents();
    EXPECT_EQ(List()->count(), 0);
    EXPECT_EQ(Logic().HorizontalExtent(), 0);
    EXPECT_EQ(List()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(ListPageLogicTest, ImportTakesLinesWholeAndLowerCasedOnce) {
    Open(ListKind::F);
    WriteImportFile("Example.COM\r\n\r\nshop.example,deals.example;x.example\nab\n   spaced   \n");
    Click(Button(Ids().importButton));
    ProcessEvents();
    const QStringList once = {"   spaced   ", "example.com", "shop.example,deals.example;x.example"};
    EXPECT_EQ(Strings(), once);
    EXPECT_TRUE(store_.FindEntry(ListKind::F, "example.com"));
    EXPECT_TRUE(store_.FindEntry(ListKind::F, "shop.example,deals.example;x.example"));
    EXPECT_EQ(OnlyBalloon(), nullptr);  // the short line is skipped without a note

    Click(Button(Ids().importButton));
    ProcessEvents();
    EXPECT_EQ(Strings(), once);

    // Cancelled dialog or a file that does not open: nothing happens.
    prompter_.importFile.clear();
    Click(Button(Ids().importButton));
    prompter_.importFile = QString::fromStdString(home_ / "missing.txt");
    Click(Button(Ids().importButton));
    EXPECT_EQ(Strings(), once);
}

TEST_F(ListPageLogicTest, ImportStopsWhenTheApplicationQuits) {
    int pumps = 0;
    pump_ = [&pumps] { return ++pumps < 3; };
    Open(ListKind::D);
    WriteImportFile("one phrase\ntwo phrase\nthree phrase\nfour phrase\n");
    Click(Button(Ids().importButton));
    EXPECT_EQ(pumps, 3);
    EXPECT_EQ(List()->count(), 0);
    EXPECT_FALSE(store_.FindEntry(ListKind::D, "one phrase"));
}

TEST_F(ListPageLogicTest, ImportDialogOffersTextAndAllFiles) {
    EXPECT_EQ(ImportNameFilters(),
              (QStringList{"Text files (*.csv;*.txt) (*.csv *.txt)", "All files(*.*) (*)"}));

    // The application's dialog: existing files only, the two filters, the chosen file imported.
    QtPrompter dialogs;
    Open(ListKind::B, {}, &dialogs);
    const std::string path = home_ / "domains.txt";
    testing::WriteWholeFile(path, "Bulk.Example\n");
    QStringList offered;
    bool existingOnly = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        offered = dialog->nameFilters();
        existingOnly = dialog->fileMode() == QFileDialog::ExistingFile;
        dialog->selectFile(QString::fromStdString(path));
        static_cast<QDialog*>(dialog)->accept();  // the file dialog checks the choice
    });
    Click(Button(Ids().importButton));
    ProcessEvents();
    EXPECT_EQ(offered, ImportNameFilters());
    EXPECT_TRUE(existingOnly);
    EXPECT_EQ(Strings(), QStringList{"bulk.example (00)"});

    // A cancelled dialog imports nothing.
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    Click(Button(Ids().importButton));
    EXPECT_EQ(Strings(), QStringList{"bulk.example (00)"});
}

}  // namespace
}  // namespace bramvell
