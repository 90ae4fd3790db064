#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QTableWidget>
#include <vector>

#include "config/ActivityLogReader.h"
#include "config/Clock.h"
#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

// "Activity": the activity log of today and earlier days as a table (time, event, sender, verdict),
// newest first, for today, this week or the last month, spam only when asked.
class ActivityPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 121;
    enum Column { TimeColumn, EventColumn, SenderColumn, VerdictColumn, ColumnCount };

    explicit ActivityPage(FilterSettings* settings, QWidget* parent = nullptr);
    void SetClock(const Clock& clock) { clock_ = &clock; }

    // Reads the log files of the chosen period again.
    void Refresh();
    void SetPeriod(ActivityPeriod period);
    void SetSpamOnly(bool spamOnly);
    QTableWidget* table() const { return table_; }

  protected:
    void BuildControls() override;
    void showEvent(QShowEvent* event) override;

  private:
    const Clock* clock_ = &DefaultClock();
    QTableWidget* table_ = nullptr;
    QComboBox* period_ = nullptr;
    QCheckBox* spamOnly_ = nullptr;
};

}  // namespace bramvell
