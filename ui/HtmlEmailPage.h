#pragma once

#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

// "HTML Email": which HTML tags to remove (kept and shown; nothing acts on them).
class HtmlEmailPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    explicit HtmlEmailPage(FilterSettings* settings, QWidget* parent = nullptr);

  protected:
    void BuildControls() override;
};

}  // namespace bramvell
