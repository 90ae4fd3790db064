#include "ui/HtmlEmailPage.h"

#include <QVBoxLayout>

namespace bramvell {

HtmlEmailPage::HtmlEmailPage(FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(111, settings, parent) {}

void HtmlEmailPage::BuildControls() {
    FilterSettings& s = *settings();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        BindCheck(1101, QStringLiteral("Remove the following HTML tags  :"), s.removeHtmlTags, true));
    auto* tags = new QVBoxLayout;
    tags->setContentsMargins(20, 0, 0, 0);
    tags->addWidget(BindCheck(1099, QStringLiteral("<A>"), s.removeTagA));
    tags->addWidget(BindCheck(1095, QStringLiteral("<APPLET>"), s.removeTagApplet));
    tags->addWidget(BindCheck(1096, QStringLiteral("<EMBED>"), s.removeTagEmbed));
    tags->addWidget(BindCheck(1097, QStringLiteral("<IFRAME>"), s.removeTagIframe));
    tags->addWidget(BindCheck(1041, QStringLiteral("<IMG>"), s.removeTagImg));
    tags->addWidget(BindCheck(1098, QStringLiteral("<OBJECT>"), s.removeTagObject));
    tags->addWidget(BindCheck(1042, QStringLiteral("<SCRIPT>"), s.removeTagScript));
    layout->addLayout(tags);
    layout->addStretch(1);
}

}  // namespace bramvell
