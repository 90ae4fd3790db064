#pragma once

#include <optional>

#include "ui/CSAPrefsSubDlg.h"
#include "ui/CorpusTools.h"

namespace bramvell {

// "Spam Filter Options": the filter switches, the threshold level, quarantine and renaming.
class SpamFilterOptionsPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    explicit SpamFilterOptionsPage(FilterSettings* settings, QWidget* parent = nullptr);

    // The corpus tool behind the "Spam", "Ham" and "Test" buttons (before the page window is made).
    // Without it the buttons stay hidden.
    void SetCorpusJobs(CorpusJobs jobs, CorpusToolHooks hooks = {});
    CorpusTools* corpusTools() const { return corpusTools_; }

  protected:
    void BuildControls() override;
    void OnInitPage() override;

  private:
    std::optional<CorpusJobs> corpusJobs_;
    CorpusToolHooks corpusHooks_;
    CorpusTools* corpusTools_ = nullptr;
};

}  // namespace bramvell
