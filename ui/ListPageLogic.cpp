#include "ui/ListPageLogic.h"

#include "lists/ExpiryDay.h"
#include "ui/ContextHelp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QValidator>
#include <algorithm>

#include "controls/BalloonPopup.h"
#include "lists/ListPageControls.h"

namespace bramvell {

namespace {

// The system border width that the page adds three times to every measured string.
constexpr int kBorderWidth = 1;
// The display string exactly as stored, whatever its bytes (the list box shows it as UTF-8).
constexpr int kDisplayStringRole = Qt::UserRole;

QString FromBytes(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Typing: letters become lower case, and no more characters than the limit.
class LowerCaseValidator final : public QValidator {
  public:
    LowerCaseValidator(int limit, QObject* parent) : QValidator(parent), limit_(limit) {}
    State validate(QString& input, int&) const override {
        input = input.toLower();
        return input.size() <= limit_ ? Acceptable : Invalid;
    }

  private:
    int limit_;
};

template <typename T>
T* FindControl(QWidget* page, int id) {
    return id == 0 ? nullptr : page->findChild<T*>(QString::number(id));
}

}  // namespace

QStringList ImportNameFilters() {
    // "label|patterns|label|patterns||": the labels stay as written, the patterns go in brackets.
    QStringList filters;
    const QStringList parts = FromBytes(kImportFileFilter).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;
        }
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            if (pattern == QLatin1String("*.*")) {
                pattern = QStringLiteral("*");
            }
        }
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

std::optional<QString> ChooseImportFile(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);  // the labels as written
    dialog.setNameFilters(ImportNameFilters());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front();
}

ListPageLogic::ListPageLogic(ListStore& store, ListKind kind, std::vector<std::string> displayList,
                             ListPageHooks hooks, const Clock& clock, QObject* parent)
    : QObject(parent),
      hooks_(std::move(hooks)),
      operations_(
          store, kind, std::move(displayList), [this](std::string_view text) { return Measure(text); },
          kBorderWidth, clock),
      clock_(clock) {}

int ListPageLogic::Measure(std::string_view text) const {
    const QFont font = list_ != nullptr ? list_->font() : QApplication::font();
    return QFontMetrics(font).horizontalAdvance(FromBytes(text));
}

void ListPageLogic::Attach(QWidget* page) {
    page_ = page;
    const ListPageControls& ids = ControlsOf(kind());
    edit_ = FindControl<QLineEdit>(page, ids.editBox);
    list_ = FindControl<QListWidget>(page, ids.listBox);

    if (edit_ != nullptr && edit_->validator() == nullptr) {
        edit_->setValidator(new LowerCaseValidator(TraitsOf(kind()).longestText, edit_));
    }
    if (list_ != nullptr) {
        list_->setSortingEnabled(true);
        list_->setSelectionMode(QAbstractItemView::SingleSelection);
        list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // The view sets its range from the items at every layout; the page's extent wins.
        connect(list_->horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this] { ApplyExtent(); });
    }

    const auto wire = [this, page](int id, void (ListPageLogic::*operation)()) {
        if (auto* button = FindControl<QAbstractButton>(page, id)) {
            connect(button, &QAbstractButton::clicked, this, [this, operation] {
                if (!busy_) {
                    (this->*operation)();
                }
            });
        }
    };
    wire(ids.addButton, &ListPageLogic::Add);
    wire(ids.extendButton, &ListPageLogic::Extend);
    wire(ids.keepButton, &ListPageLogic::Keep);
    wire(ids.removeButton, &ListPageLogic::Remove);
    wire(ids.importButton, &ListPageLogic::Import);
    Show();
}

void ListPageLogic::Show() {
    if (list_ == nullptr) {
        return;
    }
    // The frame may have shown the display list already; the list box is built here, once.
    list_->clear();
    for (const std::string& display : operations_.DisplayList()) {
        AddString(display);
    }
    operations_.Show();
    ApplyExtent();
}

void ListPageLogic::ApplyExtent() {
    if (list_ == nullptr) {
        return;
    }
    const int extent = operations_.Widest();
    list_->setProperty(kExtentProperty, extent);
    QScrollBar* bar = list_->horizontalScrollBar();
    const int maximum = std::max(0, extent - list_->viewport()->width());
    if (bar->minimum() != 0 || bar->maximum() != maximum) {
        bar->setRange(0, maximum);
    }
}

void ListPageLogic::ReadControls() {
    if (hooks_.readControls) {
        hooks_.readControls();
    }
}

void ListPageLogic::AddString(const std::string& display) {
    if (list_ == nullptr) {
        return;
    }
    auto* item = new QListWidgetItem(FromBytes(ShownText(display, kind(), clock_.Now())));
    item->setData(kDisplayStringRole, QByteArray::fromStdString(display));
    list_->addItem(item);
}

std::string ListPageLogic::ShownText(const std::string& display, ListKind kind, const LocalTime& today) {
    // A blocked entry's stored " (DD)" is a day of the month; a reader wants the date it falls due.
    constexpr std::size_t kSuffixLength = 5;
    if (!TraitsOf(kind).blocked || display.size() < kSuffixLength || display[display.size() - 5] != ' ' ||
        display[display.size() - 4] != '(' || display.back() != ')') {
        return display;
    }
    const char tens = display[display.size() - 3];
    const char units = display[display.size() - 2];
    if (tens < '0' || tens > '9' || units < '0' || units > '9') {
        return display;
    }
    const int day = (tens - '0') * 10 + (units - '0');
    const std::string entry = display.substr(0, display.size() - kSuffixLength);
    if (day == kKeepExpiryDay) {
        return entry + "  (never expires)";
    }
    return entry + "  (expires " + ExpiryDate(day, today) + ")";
}

void ListPageLogic::Add() {
    ReadControls();
    const std::string text = edit_ != nullptr ? edit_->text().toStdString() : std::string();
    ListPageOperations::AddOutcome outcome = operations_.Add(text);
    if (outcome.balloon) {
        const QString title = FromBytes(outcome.balloon->title);
        const QString note = FromBytes(outcome.balloon->text);
        if (hooks_.showNote) {
            hooks_.showNote(title, note, outcome.balloon->lifetimeMs);
        } else {
            BalloonPopup::LaunchNote(title, note,
                                     edit_ != nullptr ? ContextHelp::AnchorOf(edit_) : QCursor::pos());
        }
        return;
    }
    if (outcome.added) {
        AddString(*outcome.added);
        ApplyExtent();
    }
    if (outcome.clearEditBox && edit_ != nullptr) {
        edit_->clear();
        edit_->setFocus();
    }
}

bool ListPageLogic::AddFromElsewhere(const std::string& text) {
    ListPageOperations::AddOutcome outcome = operations_.Add(text);
    if (!outcome.added) {
        return false;
    }
    AddString(*outcome.added);
    ApplyExtent();
    return true;
}

std::optional<std::string> ListPageLogic::TakeSelection() {
    if (list_ == nullptr) {
        return std::nullopt;
    }
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    QListWidgetItem* item = selected.front();
    std::string display = item->data(kDisplayStringRole).toByteArray().toStdString();
    delete list_->takeItem(list_->row(item));
    list_->clearSelection();
    return display;
}

void ListPageLogic::RunChange(Change change) {
    const std::optional<std::string> selection = TakeSelection();
    if (!selection) {
        return;
    }
    ReadControls();
    ListPageOperations::ChangeOutcome outcome;
    switch (change) {
        case Change::Extend:
            outcome = operations_.Extend(*selection);
            break;
        case Change::Keep:
            outcome = operations_.Keep(*selection);
            break;
        case Change::Remove:
            outcome = operations_.Remove(*selection);
            break;
    }
    if (outcome.added) {
        AddString(*outcome.added);
        list_->clearSelection();
    }
    ApplyExtent();
}

void ListPageLogic::Extend() {
    if (TraitsOf(kind()).blocked) {
        RunChange(Change::Extend);
    }
}

void ListPageLogic::Keep() {
    if (TraitsOf(kind()).blocked) {
        RunChange(Change::Keep);
    }
}

void ListPageLogic::Remove() {
    RunChange(Change::Remove);
}

void ListPageLogic::Import() {
    const std::optional<QString> path =
        hooks_.chooseImportFile ? hooks_.chooseImportFile(page_) : ChooseImportFile(page_);
    if (path && !path->isEmpty()) {
        ImportFile(*path);
    }
}

void ListPageLogic::ImportFile(const QString& path) {
    busy_ = true;
    const PumpMessages pump = hooks_.pump ? hooks_.pump : PumpMessages([] {
        QCoreApplication::processEvents();
        return true;
    });
    const ListPageOperations::ImportOutcome outcome = operations_.Import(path.toStdString(), pump);
    // The page window may be gone if the application quit while the import let events through.
    for (const std::string& display : outcome.added) {
        AddString(display);
    }
    ApplyExtent();
    busy_ = false;
}

}  // namespace bramvell
