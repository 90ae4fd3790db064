#include "controls/CaptionBar.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace bramvell {

CaptionBar::CaptionBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    QFont font(QStringLiteral("Verdana"));
    font.setWeight(QFont::Bold);
    font.setPixelSize(14);
    setFont(font);
}

void CaptionBar::SetCaption(const QString& caption) {
    caption_ = caption;
    repaint();
}

QSize CaptionBar::sizeHint() const {
    return QSize(200, 24);
}

void CaptionBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RebuildBackground();
}

void CaptionBar::RebuildBackground() {
    const int width = std::max(1, this->width());
    const int height = std::max(1, this->height());
    background_ = QPixmap(width, height);
    QPainter painter(&background_);
    const QColor face = palette().color(QPalette::Button);
    // Bands of width/128 pixels; the colour darkens with the square of the distance from the right.
    const int band = std::max(1, width / 128);
    for (int x = 0; x < width; x += band) {
        const double distance = static_cast<double>(width - x) / width;
        const double factor = 1.0 - distance * distance;
        const QColor colour(static_cast<int>(face.red() * factor), static_cast<int>(face.green() * factor),
                            static_cast<int>(face.blue() * factor));
        painter.fillRect(x, 0, band, height, colour);
    }
}

void CaptionBar::paintEvent(QPaintEvent*) {
    if (background_.size() != size()) {
        RebuildBackground();
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, background_);
    painter.setPen(palette().color(QPalette::Button));
    painter.setFont(font());
    painter.drawText(rect().adjusted(5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

}  // namespace bramvell
