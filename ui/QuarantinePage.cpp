#include "ui/QuarantinePage.h"

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "config/CalendarDays.h"
#include "config/FileHandle.h"
#include "config/MailHistory.h"
#include "ui/Prompter.h"

namespace bramvell {

namespace {

constexpr std::size_t kPreviewBytes = 32 * 1024;

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

// The .eml form of a quarantine copy, written with the user's private mode; false when it fails.
bool WriteMessageFile(const std::string& copyPath, const QString& target) {
    const std::string copy = ReadMessageStart(copyPath, std::size_t{64} << 20);
    if (copy.empty()) {
        return false;
    }
    const QFileInfo info(target);
    return WriteFileAtomically(info.absolutePath().toStdString(), info.fileName().toStdString(),
                               MessageOfQuarantineCopy(copy), kPrivateFileMode);
}

QString EmlName(const QuarantinedMessage& message) {
    QString name = QString::fromStdString(message.name);
    name.chop(4);  // ".txt"
    return name + QStringLiteral(".eml");
}

}  // namespace

QuarantinePage::QuarantinePage(FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(kTemplateId, settings, parent) {}

void QuarantinePage::BuildControls() {
    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("quarantineTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Date"), QStringLiteral("Sender"),
                                       QStringLiteral("Subject"), QStringLiteral("Score or rule"),
                                       QStringLiteral("Scorer")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(SubjectColumn, QHeaderView::Stretch);
    table_->setWordWrap(false);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &QuarantinePage::ShowPreview);

    preview_ = new QPlainTextEdit(this);
    preview_->setObjectName(QStringLiteral("quarantinePreview"));
    preview_->setReadOnly(true);
    preview_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(table_);
    splitter->addWidget(preview_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    trustSender_ = new QCheckBox(QStringLiteral("Add the sender to Trusted Addresses when not spam"), this);
    trustSender_->setObjectName(QStringLiteral("trustSenderBox"));

    auto* notSpam = MakeButton(this, "notSpamButton", QStringLiteral("Not Spam"));
    notSpam->setToolTip(QStringLiteral("Learn as good mail and save it back as a message file"));
    auto* spam = MakeButton(this, "spamButton", QStringLiteral("Spam"));
    auto* remove = MakeButton(this, "deleteButton", QStringLiteral("Delete"));
    auto* save = MakeButton(this, "saveButton", QStringLiteral("Save As..."));
    auto* open = MakeButton(this, "openButton", QStringLiteral("Open in Mail Program"));
    auto* refresh = MakeButton(this, "refreshButton", QStringLiteral("Refresh"));
    connect(notSpam, &QPushButton::clicked, this, &QuarantinePage::NotSpam);
    connect(spam, &QPushButton::clicked, this, &QuarantinePage::Spam);
    connect(remove, &QPushButton::clicked, this, &QuarantinePage::Delete);
    connect(save, &QPushButton::clicked, this, &QuarantinePage::SaveSelected);
    connect(open, &QPushButton::clicked, this, &QuarantinePage::OpenSelectedInMailProgram);
    connect(refresh, &QPushButton::clicked, this, &QuarantinePage::Refresh);

    result_ = new QLabel(this);
    result_->setObjectName(QStringLiteral("quarantineResult"));
    result_->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(notSpam);
    buttons->addWidget(spam);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(open);
    buttons->addWidget(refresh);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter, 1);
    layout->addWidget(trustSender_);
    layout->addLayout(buttons);
    layout->addWidget(result_);
}

void QuarantinePage::showEvent(QShowEvent* event) {
    CSAPrefsSubDlg::showEvent(event);
    Refresh();
}

void QuarantinePage::Refresh() {
    if (table_ == nullptr) {
        return;
    }
    messages_ = ListQuarantine(settings()->QuarantineFolder(),
                               ReadMailHistory(MailHistoryPath(settings()->programFolder)));
    const QSignalBlocker blocker(table_);
    table_->clearContents();
    table_->setRowCount(static_cast<int>(messages_.size()));
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const QuarantinedMessage& message = messages_[i];
        const int row = static_cast<int>(i);
        table_->setItem(row, DateColumn, new QTableWidgetItem(Text(DateTimeText(message.when))));
        table_->setItem(row, SenderColumn, new QTableWidgetItem(Text(message.header.from)));
        table_->setItem(row, SubjectColumn, new QTableWidgetItem(Text(message.header.subject)));
        const QString score = message.verdict ? Text(ScoreOrRuleText(*message.verdict)) : QString();
        const QString scorer = message.verdict ? Text(ScorerText(*message.verdict)) : QString();
        table_->setItem(row, ScoreColumn, new QTableWidgetItem(score));
        table_->setItem(row, ScorerColumn, new QTableWidgetItem(scorer));
    }
    table_->resizeColumnToContents(DateColumn);
    preview_->clear();
}

std::vector<const QuarantinedMessage*> QuarantinePage::Selected() const {
    std::vector<const QuarantinedMessage*> selected;
    if (table_ == nullptr) {
        return selected;
    }
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        const auto row = static_cast<std::size_t>(index.row());
        if (row < messages_.size()) {
            selected.push_back(&messages_[row]);
        }
    }
    std::sort(selected.begin(), selected.end());
    return selected;
}

std::vector<std::string> QuarantinePage::SelectedPaths() const {
    std::vector<std::string> paths;
    for (const QuarantinedMessage* message : Selected()) {
        paths.push_back(message->path);
    }
    return paths;
}

void QuarantinePage::ShowPreview() {
    const std::vector<const QuarantinedMessage*> selected = Selected();
    if (selected.size() != 1) {
        preview_->clear();
        return;
    }
    preview_->setPlainText(
        QString::fromUtf8(MessageOfQuarantineCopy(ReadMessageStart(selected[0]->path, kPreviewBytes))));
}

QuarantineActions QuarantinePage::Actions() {
    return QuarantineActions(*settings(), hooks_.runningStore ? hooks_.runningStore() : nullptr);
}

void QuarantinePage::Report(const QuarantineActionResult& result) {
    result_->setText(Text(QuarantineResultText(result)));
}

QString QuarantinePage::resultText() const {
    return result_ != nullptr ? result_->text() : QString();
}

void QuarantinePage::NotSpam() {
    const std::vector<const QuarantinedMessage*> selected = Selected();
    if (selected.empty()) {
        return;
    }
    QuarantineActionResult result = Actions().LearnAsGood(SelectedPaths());
    if (trustSender_->isChecked() && hooks_.trustSender) {
        for (const QuarantinedMessage* message : selected) {
            const std::string address = AddressOfSender(message->header.from);
            if (!address.empty() && hooks_.trustSender(address)) {
                ++result.trusted;
            }
        }
    }
    Report(result);
    const int saved = GiveBack(selected);
    if (saved > 0) {
        result_->setText(result_->text() + QStringLiteral("; %1 saved as .eml").arg(saved));
    }
}

void QuarantinePage::Spam() {
    if (Selected().empty()) {
        return;
    }
    Report(Actions().LearnAsSpam(SelectedPaths()));
}

void QuarantinePage::Delete() {
    const std::vector<std::string> paths = SelectedPaths();
    if (paths.empty() || prompter() == nullptr) {
        return;
    }
    const QString question =
        paths.size() == 1 ? QStringLiteral("Delete the selected message for good? This cannot be undone.")
                          : QStringLiteral("Delete the %1 selected messages for good? This cannot be undone.")
                                .arg(paths.size());
    if (!prompter()->AskYesNo(window(), question)) {
        return;
    }
    Report(Actions().Delete(paths));
    Refresh();
}

int QuarantinePage::GiveBack(const std::vector<const QuarantinedMessage*>& messages) {
    if (prompter() == nullptr || messages.empty()) {
        return 0;
    }
    if (messages.size() == 1) {
        const QString suggested = QDir::home().filePath(EmlName(*messages[0]));
        const QString target = prompter()->PickSaveFile(window(), suggested);
        return !target.isEmpty() && WriteMessageFile(messages[0]->path, target) ? 1 : 0;
    }
    const QString folder =
        prompter()->PickFolder(window(), QStringLiteral("Folder for the messages"), QDir::homePath());
    if (folder.isEmpty()) {
        return 0;
    }
    int saved = 0;
    for (const QuarantinedMessage* message : messages) {
        saved += WriteMessageFile(message->path, QDir(folder).filePath(EmlName(*message))) ? 1 : 0;
    }
    return saved;
}

void QuarantinePage::SaveSelected() {
    const int saved = GiveBack(Selected());
    if (saved > 0) {
        result_->setText(saved == 1 ? QStringLiteral("1 message saved as .eml")
                                    : QStringLiteral("%1 messages saved as .eml").arg(saved));
    }
}

void QuarantinePage::OpenSelectedInMailProgram() {
    const std::vector<const QuarantinedMessage*> selected = Selected();
    if (selected.empty() || prompter() == nullptr) {
        return;
    }
    // The mail program opens a private copy; the quarantine folder stays as it is.
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/messages");
    CreateDirectories(folder.toStdString(), kPrivateFolderMode);
    int opened = 0;
    for (const QuarantinedMessage* message : selected) {
        const QString target = QDir(folder).filePath(EmlName(*message));
        if (WriteMessageFile(message->path, target) && prompter()->OpenFile(target)) {
            ++opened;
        }
    }
    if (opened < static_cast<int>(selected.size())) {
        result_->setText(QStringLiteral("No mail program opened the message; use Save As... instead"));
    }
}

}  // namespace bramvell
