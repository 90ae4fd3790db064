#pragma once

#include <QLabel>
#include <QTableWidget>

#include "config/Clock.h"
#include "config/MailStatistics.h"
#include "ui/CSAPrefsSubDlg.h"

class QChart;
class QChartView;

namespace bramvell {

// "Statistics": good and spam mail per day over the last four weeks as a bar chart, totals per deciding
// rule and the top senders of spam, from the verdict history.
class StatisticsPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 122;

    explicit StatisticsPage(FilterSettings* settings, QWidget* parent = nullptr);
    void SetClock(const Clock& clock) { clock_ = &clock; }

    void Refresh();
    const MailStatistics& statistics() const { return statistics_; }
    QTableWidget* rulesTable() const { return rules_; }
    QTableWidget* sendersTable() const { return senders_; }

  protected:
    void BuildControls() override;
    void showEvent(QShowEvent* event) override;

  private:
    void DrawChart();

    const Clock* clock_ = &DefaultClock();
    MailStatistics statistics_;
    QChartView* chartView_ = nullptr;
    QLabel* totals_ = nullptr;
    QTableWidget* rules_ = nullptr;
    QTableWidget* senders_ = nullptr;
};

}  // namespace bramvell
