#pragma once

#include <QDialog>
#include <QLineEdit>

namespace bramvell {

// "Unlock Bramvell": asks for the password before the control panel comes back from the tray. It
// opens on top of every other window, fully on screen, with the keyboard focus in the password box.
class UnlockDialog : public QDialog {
    Q_OBJECT
  public:
    explicit UnlockDialog(QWidget* parent = nullptr);

    QString enteredPassword() const { return password_->text(); }
    QLineEdit* passwordBox() const { return password_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QLineEdit* password_;
};

}  // namespace bramvell
