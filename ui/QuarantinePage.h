#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <functional>
#include <string>
#include <vector>

#include "config/QuarantineIndex.h"
#include "runtime/QuarantineActions.h"
#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

class ChiSquareStore;

// What the quarantine page needs from around it. Every member may be left empty.
struct QuarantinePageHooks {
    // The filter's open chi-square store, or null (the page then opens the store for each action).
    std::function<ChiSquareStore*()> runningStore;
    // Adds an address to Trusted Addresses so that the list page shows it too; false when it was not
    // added (too short, or there already).
    std::function<bool(const std::string& address)> trustSender;
};

// "Quarantine": the quarantined messages, newest first, with a preview of the selected one. "Not spam"
// learns the selected messages as good (optionally trusting their senders) and gives them back as .eml
// files; "Spam" learns them as spam; "Delete" removes them after a question. Several at once.
class QuarantinePage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    static constexpr int kTemplateId = 120;
    enum Column { DateColumn, SenderColumn, SubjectColumn, ScoreColumn, ScorerColumn, ColumnCount };

    explicit QuarantinePage(FilterSettings* settings, QWidget* parent = nullptr);

    void SetHooks(QuarantinePageHooks hooks) { hooks_ = std::move(hooks); }
    // Reads the folder and the history again.
    void Refresh();
    void NotSpam();
    void Spam();
    void Delete();
    void SaveSelected();
    void OpenSelectedInMailProgram();

    const std::vector<QuarantinedMessage>& messages() const { return messages_; }
    QTableWidget* table() const { return table_; }
    QString resultText() const;

  protected:
    void BuildControls() override;
    void showEvent(QShowEvent* event) override;

  private:
    std::vector<const QuarantinedMessage*> Selected() const;
    std::vector<std::string> SelectedPaths() const;
    void ShowPreview();
    void Report(const QuarantineActionResult& result);
    // Writes the messages as .eml files: one through the save dialog, several into a picked folder.
    int GiveBack(const std::vector<const QuarantinedMessage*>& messages);
    QuarantineActions Actions();

    QuarantinePageHooks hooks_;
    std::vector<QuarantinedMessage> messages_;
    QTableWidget* table_ = nullptr;
    QPlainTextEdit* preview_ = nullptr;
    QCheckBox* trustSender_ = nullptr;
    QLabel* result_ = nullptr;
};

}  // namespace bramvell
