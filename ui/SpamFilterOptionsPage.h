#pragma once

#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

// "Spam Filter Options": the filter switches, the threshold level, quarantine and renaming.
class SpamFilterOptionsPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    explicit SpamFilterOptionsPage(FilterSettings* settings, QWidget* parent = nullptr);

  protected:
    void BuildControls() override;
};

}  // namespace bramvell
