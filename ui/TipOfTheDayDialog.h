#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <array>

#include "ui/TipsOfTheDay.h"

namespace bramvell {

// "Tip of the Day": one of eleven tips, five fixed lines each; "&Next Tip" cycles 1..11.
class TipOfTheDayDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TipOfTheDayDialog(QWidget* parent = nullptr);

    int currentTip() const { return counter_.current(); }
    QString lineText(int line) const { return lines_[static_cast<std::size_t>(line)]->text(); }
    QLabel* heading() const { return heading_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* closeButton() const { return close_; }

  public slots:
    void NextTip();

  private:
    TipCounter counter_;
    QLabel* heading_;
    std::array<QLabel*, kTipLineCount> lines_{};
    QPushButton* next_;
    QPushButton* close_;
    QCheckBox* showEachDay_;
};

}  // namespace bramvell
