#include "ui/TipOfTheDayDialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

namespace bramvell {

TipOfTheDayDialog::TipOfTheDayDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Tip of the Day"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);  // etched
    auto* icon = new QLabel(frame);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);

    heading_ = new QLabel(QStringLiteral("Did you know..."), frame);
    heading_->setObjectName(QStringLiteral("heading"));
    QFont headingFont(QStringLiteral("Times New Roman"));
    headingFont.setPixelSize(20);
    heading_->setFont(headingFont);

    QFont lineFont(QStringLiteral("Arial"));
    lineFont.setPixelSize(16);
    auto* text = new QVBoxLayout;
    text->addWidget(heading_);
    text->addSpacing(6);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        lines_[i] = new QLabel(frame);
        lines_[i]->setObjectName(QStringLiteral("tipLine%1").arg(i + 1));
        lines_[i]->setTextFormat(Qt::PlainText);
        lines_[i]->setFont(lineFont);
        text->addWidget(lines_[i]);
    }
    text->addStretch(1);
    auto* inner = new QHBoxLayout(frame);
    inner->addWidget(icon);
    inner->addLayout(text, 1);

    showEachDay_ = new QCheckBox(QStringLiteral("&Show tips each day"), this);
    showEachDay_->setVisible(false);
    next_ = new QPushButton(QStringLiteral("&Next Tip"), this);
    close_ = new QPushButton(QStringLiteral("&Close"), this);
    close_->setDefault(true);
    connect(next_, &QPushButton::clicked, this, &TipOfTheDayDialog::NextTip);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(showEachDay_);
    buttons->addStretch(1);
    buttons->addWidget(next_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame, 1);
    layout->addLayout(buttons);

    NextTip();
}

void TipOfTheDayDialog::NextTip() {
    const int tip = counter_.Next();
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string_view line = TipLine(tip, static_cast<int>(i));
        lines_[i]->setText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    }
}

}  // namespace bramvell
