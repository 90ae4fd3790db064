#include "ui/ActivityPage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/CalendarDays.h"

namespace bramvell {

ActivityPage::ActivityPage(FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(kTemplateId, settings, parent) {}

void ActivityPage::BuildControls() {
    period_ = new QComboBox(this);
    period_->setObjectName(QStringLiteral("activityPeriod"));
    period_->addItem(QStringLiteral("Today"), static_cast<int>(ActivityPeriod::Today));
    period_->addItem(QStringLiteral("This week"), static_cast<int>(ActivityPeriod::ThisWeek));
    period_->addItem(QStringLiteral("Last 31 days"), static_cast<int>(ActivityPeriod::LastMonth));
    spamOnly_ = new QCheckBox(QStringLiteral("Spam only"), this);
    spamOnly_->setObjectName(QStringLiteral("activitySpamOnly"));
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    refresh->setObjectName(QStringLiteral("activityRefresh"));
    refresh->setAutoDefault(false);
    connect(period_, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    connect(spamOnly_, &QCheckBox::toggled, this, [this] { Refresh(); });
    connect(refresh, &QPushButton::clicked, this, &ActivityPage::Refresh);

    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName(QStringLiteral("activityTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Event"),
                                       QStringLiteral("Sender"), QStringLiteral("Verdict")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(SenderColumn, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(VerdictColumn, QHeaderView::ResizeToContents);
    table_->setWordWrap(false);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("Show :"), this));
    filters->addWidget(period_);
    filters->addWidget(spamOnly_);
    filters->addStretch(1);
    filters->addWidget(refresh);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(filters);
    layout->addWidget(table_, 1);
}

void ActivityPage::showEvent(QShowEvent* event) {
    CSAPrefsSubDlg::showEvent(event);
    Refresh();
}

void ActivityPage::SetPeriod(ActivityPeriod period) {
    if (period_ != nullptr) {
        period_->setCurrentIndex(period_->findData(static_cast<int>(period)));
    }
}

void ActivityPage::SetSpamOnly(bool spamOnly) {
    if (spamOnly_ != nullptr) {
        spamOnly_->setChecked(spamOnly);
    }
}

void ActivityPage::Refresh() {
    if (table_ == nullptr) {
        return;
    }
    const int today = DayNumber(clock_->Now());
    const auto period = static_cast<ActivityPeriod>(period_->currentData().toInt());
    const int firstDay = FirstDayOfPeriod(period, today);
    const std::vector<ActivityEntry> rows = FilterActivity(
        ReadActivityLog(settings()->LogFolder(), firstDay, today), firstDay, spamOnly_->isChecked());
    table_->clearContents();
    table_->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ActivityEntry& entry = rows[i];
        const int row = static_cast<int>(i);
        table_->setItem(row, TimeColumn,
                        new QTableWidgetItem(QString::fromStdString(DateTimeText(entry.when))));
        table_->setItem(row, EventColumn, new QTableWidgetItem(QString::fromUtf8(entry.event)));
        table_->setItem(row, SenderColumn, new QTableWidgetItem(QString::fromUtf8(entry.sender)));
        table_->setItem(row, VerdictColumn, new QTableWidgetItem(QString::fromUtf8(entry.verdict)));
    }
    table_->resizeColumnToContents(TimeColumn);
    table_->resizeColumnToContents(EventColumn);
}

}  // namespace bramvell
