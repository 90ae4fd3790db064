#include "controls/SpinButton.h"

#include <QKeyEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace bramvell {

SpinButton::SpinButton(QLineEdit* buddy, int minimum, int maximum, QWidget* parent)
    : QWidget(parent), buddy_(buddy), minimum_(minimum), maximum_(maximum) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {up_, down_}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(16, 11);
        layout->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
    buddy_->setReadOnly(true);
    buddy_->setAlignment(Qt::AlignCenter);
    buddy_->installEventFilter(this);
}

void SpinButton::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
}

void SpinButton::StepBy(int steps) {
    bool ok = false;
    int value = buddy_->text().trimmed().toInt(&ok);
    if (!ok) {
        value = minimum_;
    } else {
        value = std::clamp(value + steps, minimum_, maximum_);
    }
    buddy_->setText(QString::number(value));
}

bool SpinButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            StepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace bramvell
