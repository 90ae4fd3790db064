#include "ui/ListPage.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QListWidget>
#include <QStyle>
#include <QVBoxLayout>
#include <array>

#include "lists/ListPageOperations.h"
#include "lists/ListStore.h"
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
    QPushButton* add = MakeButton(info_.addId, QStringLiteral("Add"));
    layout->addWidget(add, 1, 1);

    auto* list = new QListWidget(this);
    list->setObjectName(QString::number(info_.listId));
    list->setSortingEnabled(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(list, 2, 0);

    auto* buttons = new QVBoxLayout;
    if (info_.extendId != 0) {
        QPushButton* extend = MakeButton(info_.extendId, QStringLiteral("Extend"));
        QPushButton* keep = MakeButton(info_.keepId, QStringLiteral("Keep"));
        connect(extend, &QPushButton::clicked, this, [this] { OnExtend(); });
        connect(keep, &QPushButton::clicked, this, [this] { OnKeep(); });
        buttons->addWidget(extend);
        buttons->addWidget(keep);
    }
    QPushButton* remove = MakeButton(info_.removeId, QStringLiteral("Remove"));
    QPushButton* import = MakeButton(info_.importId, QStringLiteral("Import"));
    buttons->addWidget(remove);
    buttons->addWidget(import);
    buttons->addStretch(1);
    layout->addLayout(buttons, 2, 1);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(2, 1);

    connect(add, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(remove, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(import, &QPushButton::clicked, this, [this] { OnImport(); });
}

void ListPage::OnInitPage() {
    QListWidget* list = List();
    if (settings()->listStore != nullptr) {
        const QFontMetrics metrics(list->font());
        operations_ = std::make_unique<ListPageOperations>(
            *settings()->listStore, static_cast<ListKind>(info_.kind - 'A'), displayList_,
            [metrics](std::string_view text) {
                return metrics.horizontalAdvance(
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
            },
            style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
        operations_->Show();
        for (const std::string& line : operations_->DisplayList()) {
            list->addItem(QString::fromStdString(line));
        }
        return;
    }
    for (const std::string& line : displayList_) {
        list->addItem(QString::fromStdString(line));
    }
}

QListWidget* ListPage::List() const {
    return ControlAs<QListWidget>(info_.listId);
}

std::optional<std::string> ListPage::Selection() const {
    QListWidgetItem* item = List()->currentItem();
    if (item == nullptr || !item->isSelected()) {
        return std::nullopt;
    }
    return item->text().toStdString();
}

void ListPage::AddString(const std::string& text) {
    List()->addItem(QString::fromStdString(text));
}

void ListPage::ApplyChange(bool done, const std::optional<std::string>& added) {
    if (!done) {
        return;
    }
    delete List()->currentItem();
    List()->clearSelection();
    if (added) {
        AddString(*added);
    }
}

void ListPage::OnAdd() {
    ReadControls();
    if (!operations_) {
        return;
    }
    const ListPageOperations::AddOutcome outcome = operations_->Add(newEntryText_);
    if (outcome.balloon && prompter() != nullptr) {
        const Balloon& note = *outcome.balloon;
        prompter()->ShowNote(
            this, QString::fromUtf8(note.title.data(), static_cast<qsizetype>(note.title.size())),
            QString::fromUtf8(note.text.data(), static_cast<qsizetype>(note.text.size())), note.lifetimeMs);
    }
    if (outcome.added) {
        AddString(*outcome.added);
    }
    if (outcome.clearEditBox) {
        auto* edit = ControlAs<QLineEdit>(info_.editId);
        edit->clear();
        newEntryText_.clear();
        edit->setFocus(Qt::OtherFocusReason);
    }
}

void ListPage::OnExtend() {
    const std::optional<std::string> selection = Selection();
    if (!operations_ || !selection) {
        return;
    }
    ReadControls();
    const ListPageOperations::ChangeOutcome outcome = operations_->Extend(*selection);
    ApplyChange(outcome.done, outcome.added);
}

void ListPage::OnKeep() {
    const std::optional<std::string> selection = Selection();
    if (!operations_ || !selection) {
        return;
    }
    ReadControls();
    const ListPageOperations::ChangeOutcome outcome = operations_->Keep(*selection);
    ApplyChange(outcome.done, outcome.added);
}

void ListPage::OnRemove() {
    const std::optional<std::string> selection = Selection();
    if (!operations_ || !selection) {
        return;
    }
    ReadControls();
    const ListPageOperations::ChangeOutcome outcome = operations_->Remove(*selection);
    ApplyChange(outcome.done, outcome.added);
}

void ListPage::OnImport() {
    if (!operations_ || prompter() == nullptr) {
        return;
    }
    const QString path = prompter()->PickImportFile(window());
    if (path.isEmpty()) {
        return;
    }
    const ListPageOperations::ImportOutcome outcome = operations_->Import(path.toStdString(), pump_);
    for (const std::string& added : outcome.added) {
        AddString(added);
    }
}

}  // namespace bramvell
