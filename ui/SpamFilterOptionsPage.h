#pragma once

#include <optional>
#include <string>

#include <QComboBox>

#include "ui/CSAPrefsSubDlg.h"
#include "ui/CorpusTools.h"

namespace bramvell {

// "Spam Filter Options": the filter switches, the threshold level, quarantine and renaming, and the
// scorer (classic or chi-square) and the answer for deleted spam, which live in the options file
// rather than the settings value.
class SpamFilterOptionsPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    explicit SpamFilterOptionsPage(FilterSettings* settings, QWidget* parent = nullptr);

    // The corpus tool behind the "Spam", "Ham" and "Test" buttons (before the page window is made).
    // Without it the buttons stay hidden.
    void SetCorpusJobs(CorpusJobs jobs, CorpusToolHooks hooks = {});
    CorpusTools* corpusTools() const { return corpusTools_; }

    static constexpr int kScorerId = 1150;
    static constexpr int kSpamAnswerId = 1151;

  protected:
    void BuildControls() override;
    void OnInitPage() override;
    // Writes the scorer and the spam answer to the options file when a choice differs from what the
    // file holds.
    void OnControlsRead() override;

  private:
    std::optional<CorpusJobs> corpusJobs_;
    CorpusToolHooks corpusHooks_;
    CorpusTools* corpusTools_ = nullptr;
    // A choice kept in the options file; `stored` is what the file held when the page was built or
    // last written.
    struct OptionChoice {
        std::string key;
        QComboBox* box = nullptr;
        std::string stored;
    };
    OptionChoice scorer_{"scorer", nullptr, {}};
    OptionChoice spamAnswer_{"spam-answer", nullptr, {}};
};

}  // namespace bramvell
