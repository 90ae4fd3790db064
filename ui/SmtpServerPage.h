#pragma once

#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

// "SMTP Server": the server for challenges and its log-in (kept and shown; nothing acts on them).
class SmtpServerPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    explicit SmtpServerPage(FilterSettings* settings, QWidget* parent = nullptr);

  protected:
    void BuildControls() override;
};

}  // namespace bramvell
