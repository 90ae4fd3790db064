#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace bramvell {

// A pair of up/down arrows bound to a number box beside it: each press reads the box, steps by one
// within the range and writes the number back. The box itself is read-only, so the arrows (and the
// Up/Down keys in the box) are the only way to change the number.
class SpinButton : public QWidget {
    Q_OBJECT
  public:
    SpinButton(QLineEdit* buddy, int minimum, int maximum, QWidget* parent = nullptr);

    void SetRange(int minimum, int maximum);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

  public slots:
    void StepBy(int steps);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int minimum_;
    int maximum_;
};

}  // namespace bramvell
