#include "ui/UnlockDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/WindowPlacement.h"

namespace bramvell {

UnlockDialog::UnlockDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("Unlock Bramvell"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* label = new QLabel(QStringLiteral("Enter Password"), this);
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("1058"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setMinimumWidth(170);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0);
    layout->addWidget(password_, 0, 1);
    layout->addWidget(ok, 0, 2);
    layout->addWidget(cancel, 1, 2);
    label->setBuddy(password_);
}

void UnlockDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    MoveFullyOnScreen(this);
    raise();
    activateWindow();
    password_->setFocus(Qt::ActiveWindowFocusReason);
}

}  // namespace bramvell
