#include "ui/SmtpServerPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace bramvell {

SmtpServerPage::SmtpServerPage(FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(151, settings, parent) {}

void SmtpServerPage::BuildControls() {
    FilterSettings& s = *settings();
    const int limit = static_cast<int>(kMaxSmtpTextLength);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("SMTP server host name for sending Challenges"), this));
    layout->addWidget(BindText(1133, limit, s.smtpServer));
    layout->addWidget(
        BindCheck(1132, QStringLiteral("Server requires authentication"), s.smtpAuthentication));
    auto* login = new QGridLayout;
    login->setContentsMargins(20, 0, 0, 0);
    login->addWidget(new QLabel(QStringLiteral("Enter username"), this), 0, 0);
    login->addWidget(BindText(1134, limit, s.smtpUserName), 0, 1);
    login->addWidget(new QLabel(QStringLiteral("Enter password"), this), 1, 0);
    login->addWidget(BindText(1135, limit, s.smtpPassword, true), 1, 1);
    layout->addLayout(login);
    layout->addStretch(1);
}

}  // namespace bramvell
