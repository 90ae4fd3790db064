#pragma once

#include <optional>
#include <string>

#include <QComboBox>

#include "ui/CSAPrefsSubDlg.h"
#include "ui/CorpusTools.h"

namespace bramvell {

// "Spam Filter Options": the filter switches, the threshold level, quarantine and renaming, and the
// scorer (classic or chi-square), which lives in the options file rather than the settings value.
class SpamFilterOptionsPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    explicit SpamFilterOptionsPage(FilterSettings* settings, QWidget* parent = nullptr);

    // The corpus tool behind the "Spam", "Ham" and "Test" buttons (before the page window is made).
    // Without it the buttons stay hidden.
    void SetCorpusJobs(CorpusJobs jobs, CorpusToolHooks hooks = {});
    CorpusTools* corpusTools() const { return corpusTools_; }

    static constexpr int kScorerId = 1150;

  protected:
    void BuildControls() override;
    void OnInitPage() override;
    // Writes the scorer to the options file when the choice differs from what the file holds.
    void OnControlsRead() override;

  private:
    std::optional<CorpusJobs> corpusJobs_;
    CorpusToolHooks corpusHooks_;
    CorpusTools* corpusTools_ = nullptr;
    QComboBox* scorer_ = nullptr;
    std::string storedScorer_;  // as the options file held it when the page was built or last written
};

}  // namespace bramvell
