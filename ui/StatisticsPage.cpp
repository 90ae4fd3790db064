#include "ui/StatisticsPage.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "config/CalendarDays.h"
#include "config/MailHistory.h"

namespace bramvell {

namespace {

QTableWidget* MakeTable(QWidget* parent, const char* name, const QString& first, const QString& second) {
    auto* table = new QTableWidget(0, 2, parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels({first, second});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    return table;
}

void SetRow(QTableWidget* table, int row, const QString& name, int count) {
    table->setItem(row, 0, new QTableWidgetItem(name));
    auto* number = new QTableWidgetItem(QString::number(count));
    number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->setItem(row, 1, number);
}

}  // namespace

StatisticsPage::StatisticsPage(FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(kTemplateId, settings, parent) {}

void StatisticsPage::BuildControls() {
    chartView_ = new QChartView(this);
    chartView_->setObjectName(QStringLiteral("statisticsChart"));
    chartView_->setRenderHint(QPainter::Antialiasing);
    chartView_->setMinimumHeight(230);
    totals_ = new QLabel(this);
    totals_->setObjectName(QStringLiteral("statisticsTotals"));
    rules_ = MakeTable(this, "rulesTable", QStringLiteral("Decided by"), QStringLiteral("Messages"));
    senders_ =
        MakeTable(this, "spamSendersTable", QStringLiteral("Top spam senders"), QStringLiteral("Spam"));

    auto* tables = new QHBoxLayout;
    tables->addWidget(rules_, 2);
    tables->addWidget(senders_, 3);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chartView_, 3);
    layout->addWidget(totals_);
    layout->addLayout(tables, 2);
}

void StatisticsPage::showEvent(QShowEvent* event) {
    CSAPrefsSubDlg::showEvent(event);
    Refresh();
}

void StatisticsPage::Refresh() {
    if (chartView_ == nullptr) {
        return;
    }
    statistics_ = AggregateMailStatistics(ReadMailHistory(MailHistoryPath(settings()->programFolder)),
                                          DayNumber(clock_->Now()));
    DrawChart();
    totals_->setText(QStringLiteral("Last %1 days: %2 good, %3 spam, %4 unsure")
                         .arg(kStatisticsDays)
                         .arg(statistics_.good)
                         .arg(statistics_.spam)
                         .arg(statistics_.unsure));
    const DecidedBy rules[] = {DecidedBy::FromTo, DecidedBy::Passphrase, DecidedBy::ClassicScore,
                               DecidedBy::ChiSquareScore};
    rules_->setRowCount(4);
    for (int i = 0; i < 4; ++i) {
        const std::string_view name = DecidedByText(rules[i]);
        SetRow(rules_, i, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
               statistics_.byRule[static_cast<std::size_t>(rules[i])]);
    }
    senders_->setRowCount(static_cast<int>(statistics_.topSpamSenders.size()));
    for (std::size_t i = 0; i < statistics_.topSpamSenders.size(); ++i) {
        SetRow(senders_, static_cast<int>(i), QString::fromUtf8(statistics_.topSpamSenders[i].first),
               statistics_.topSpamSenders[i].second);
    }
}

void StatisticsPage::DrawChart() {
    auto* good = new QBarSet(QStringLiteral("Good"));
    auto* spam = new QBarSet(QStringLiteral("Spam"));
    good->setColor(QColor(0x3b, 0x7d, 0xd8));
    spam->setColor(QColor(0xd0, 0x3b, 0x3b));
    QStringList days;
    int highest = 0;
    for (const DayCounts& counts : statistics_.days) {
        *good << counts.good;
        *spam << counts.spam;
        highest = std::max({highest, counts.good, counts.spam});
        // Twenty-eight dates do not fit under the bars; the title names the first and last day. The
        // categories must still differ, so each is a different run of zero-width spaces.
        days << QString(static_cast<qsizetype>(days.size() + 1), QChar(0x200B));
    }
    auto* series = new QBarSeries;
    series->append(good);
    series->append(spam);
    auto* chart = new QChart;
    chart->addSeries(series);
    chart->setTitle(QStringLiteral("Mail per day, %1 to %2")
                        .arg(QString::fromStdString(DateText(DateOfDayNumber(statistics_.days.front().day))),
                             QString::fromStdString(DateText(DateOfDayNumber(statistics_.days.back().day)))));
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* dayAxis = new QBarCategoryAxis;
    dayAxis->append(days);
    chart->addAxis(dayAxis, Qt::AlignBottom);
    series->attachAxis(dayAxis);
    auto* countAxis = new QValueAxis;
    // A multiple of four with five ticks keeps every tick on a whole number.
    countAxis->setRange(0, std::max((highest + 3) / 4 * 4, 4));
    countAxis->setLabelFormat(QStringLiteral("%d"));
    countAxis->setTickCount(5);
    chart->addAxis(countAxis, Qt::AlignLeft);
    series->attachAxis(countAxis);
    QChart* old = chartView_->chart();
    chartView_->setChart(chart);
    delete old;
}

}  // namespace bramvell
