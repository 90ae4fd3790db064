#include "ui/ListPage.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QVBoxLayout>
#include <array>

#include "lists/ListStore.h"
#include "ui/ListPageLogic.h"
#include "ui/Prompter.h"

namespace bramvell {

namespace {

constexpr int kLongText = 79;
constexpr int kPassphraseText = 39;

const std::array<ListPageInfo, 8> kListPages = {{
    {'A', "Blocked Addresses", 108, 1028, true, 1052, 1070, 1004, 1013, 1119, 1017, 1109, kLongText, 8,
     &FilterSettings::blockedAddressesEnabled},
    {'B', "Blocked Domains", 109, 1029, true, 1053, 1071, 1005, 1014, 1120, 1018, 1110, kLongText, 3,
     &FilterSettings::blockedDomainsEnabled},
    {'C', "Blocked Names", 110, 1030, true, 1054, 1072, 1006, 1015, 1121, 1019, 1111, kLongText, 3,
     &FilterSettings::blockedNamesEnabled},
    {'D', "Subject Passphrases", 112, 1044, false, 1060, 1074, 1007, 0, 0, 1020, 1112, kPassphraseText, 3,
     &FilterSettings::subjectPassphrasesEnabled},
    {'E', "Trusted Addresses", 113, 1046, true, 1061, 1075, 1008, 0, 0, 1021, 1113, kLongText, 8,
     &FilterSettings::trustedAddressesEnabled},
    {'F', "Trusted Domains", 114, 1047, true, 1062, 1076, 1009, 0, 0, 1022, 1114, kLongText, 3,
     &FilterSettings::trustedDomainsEnabled},
    {'G', "Trusted Names", 115, 1048, false, 1063, 1077, 1010, 0, 0, 1023, 1115, kLongText, 3,
     &FilterSettings::trustedNamesEnabled},
    {'H', "User Addresses", 116, 1049, false, 1064, 1078, 1011, 0, 0, 1024, 1116, kLongText, 8,
     &FilterSettings::userAddressesEnabled},
}};

}  // namespace

const ListPageInfo* FindListPageInfo(char kind) {
    for (const ListPageInfo& info : kListPages) {
        if (info.kind == kind) {
            return &info;
        }
    }
    return nullptr;
}

ListPage::ListPage(const ListPageInfo& info, FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(info.templateId, settings, parent), info_(info) {}

ListPage::~ListPage() = default;

QPushButton* ListPage::MakeButton(int id, const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    return button;
}

void ListPage::BuildControls() {
    auto* layout = new QGridLayout(this);
    layout->addWidget(BindCheck(info_.enabledId, QStringLiteral("Enabled"), settings()->*info_.enabledField,
                                info_.enabledGreyed),
                      0, 0, 1, 2);
    layout->addWidget(BindText(info_.editId, info_.editLimit, newEntryText_, false, true), 1, 0);
    layout->addWidget(MakeButton(info_.addId, QStringLiteral("Add")), 1, 1);

    auto* list = new QListWidget(this);
    list->setObjectName(QString::number(info_.listId));
    list->setSortingEnabled(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(list, 2, 0);

    auto* buttons = new QVBoxLayout;
    if (info_.extendId != 0) {
        buttons->addWidget(MakeButton(info_.extendId, QStringLiteral("Extend")));
        buttons->addWidget(MakeButton(info_.keepId, QStringLiteral("Keep")));
    }
    buttons->addWidget(MakeButton(info_.removeId, QStringLiteral("Remove")));
    buttons->addWidget(MakeButton(info_.importId, QStringLiteral("Import")));
    buttons->addStretch(1);
    layout->addLayout(buttons, 2, 1);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(2, 1);
}

bool ListPage::AddEntryText(const std::string& text) {
    if (logic_) {
        return logic_->AddFromElsewhere(text);
    }
    ListStore* store = settings()->listStore;
    if (store == nullptr) {
        return false;
    }
    // Before the page window exists the display list is still the page's own.
    ListPageOperations operations(*store, static_cast<ListKind>(info_.kind - 'A'), std::move(displayList_));
    const bool added = operations.Add(text).added.has_value();
    displayList_ = operations.DisplayList();
    return added;
}

void ListPage::OnInitPage() {
    if (settings()->listStore == nullptr) {
        // Nothing loaded (a page tried on its own): the list box shows the lines, the buttons rest.
        auto* list = ControlAs<QListWidget>(info_.listId);
        for (const std::string& line : displayList_) {
            list->addItem(QString::fromStdString(line));
        }
        return;
    }
    ListPageHooks hooks;
    hooks.readControls = [this] { ReadControls(); };
    hooks.pump = pump_;
    if (prompter() != nullptr) {
        hooks.chooseImportFile = [this](QWidget*) -> std::optional<QString> {
            const QString path = prompter()->PickImportFile(window());
            return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
        };
        hooks.showNote = [this](const QString& title, const QString& text, int lifetimeMs) {
            prompter()->ShowNote(Control(info_.editId), title, text, lifetimeMs);
        };
    }
    logic_ = std::make_unique<ListPageLogic>(*settings()->listStore, static_cast<ListKind>(info_.kind - 'A'),
                                             std::move(displayList_), std::move(hooks), *clock_);
    displayList_.clear();
    logic_->Attach(this);
    Control(info_.listId)->installEventFilter(this);
}

bool ListPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && logic_) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && watched == Control(info_.editId)) {
            logic_->Add();
            return true;
        }
        if (key == Qt::Key_Delete && watched == Control(info_.listId)) {
            logic_->Remove();
            return true;
        }
    }
    return CSAPrefsSubDlg::eventFilter(watched, event);
}

}  // namespace bramvell
