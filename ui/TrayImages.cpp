#include "ui/TrayImages.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/TrayAnimation.h"

namespace bramvell {

namespace {

void DrawCross(QPainter& painter, double size, const QColor& fill) {
    // A bold plus sign with a dark outline, filling most of the square.
    const double arm = size * 0.30;
    const double margin = size * 0.06;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addRect(size / 2 - arm / 2, margin, arm, size - 2 * margin);
    path.addRect(margin, size / 2 - arm / 2, size - 2 * margin, arm);
    path = path.simplified();
    painter.setPen(QPen(fill.darker(220), std::max(1.0, size / 16)));
    painter.setBrush(fill);
    painter.drawPath(path);
}

void DrawMagnifier(QPainter& painter, double size) {
    const double radius = size * 0.22;
    const QPointF centre(size * 0.42, size * 0.42);
    painter.setPen(QPen(QColor(40, 40, 40), std::max(1.5, size / 10), Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre + QPointF(radius * 0.7, radius * 0.7), QPointF(size * 0.9, size * 0.9));
    painter.setPen(QPen(QColor(40, 40, 40), std::max(1.0, size / 16)));
    painter.setBrush(QColor(200, 230, 255));
    painter.drawEllipse(centre, radius, radius);
}

void DrawEnvelope(QPainter& painter, double size) {
    const QRectF body(size * 0.12, size * 0.28, size * 0.76, size * 0.48);
    painter.setPen(QPen(QColor(60, 60, 60), std::max(1.0, size / 16)));
    painter.setBrush(QColor(255, 250, 225));
    painter.drawRect(body);
    QPolygonF flap;
    flap << body.topLeft() << QPointF(body.center().x(), body.top() + body.height() * 0.6) << body.topRight();
    painter.drawPolyline(flap);
}

void DrawSmile(QPainter& painter, double size) {
    const QRectF face(size * 0.18, size * 0.18, size * 0.64, size * 0.64);
    painter.setPen(QPen(QColor(90, 70, 0), std::max(1.0, size / 16)));
    painter.setBrush(QColor(255, 220, 40));
    painter.drawEllipse(face);
    painter.setBrush(QColor(60, 40, 0));
    painter.setPen(Qt::NoPen);
    const double eye = std::max(1.0, size * 0.07);
    painter.drawEllipse(QPointF(size * 0.39, size * 0.42), eye, eye);
    painter.drawEllipse(QPointF(size * 0.61, size * 0.42), eye, eye);
    painter.setPen(QPen(QColor(60, 40, 0), std::max(1.0, size / 16), Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(size * 0.32, size * 0.36, size * 0.36, size * 0.30), 200 * 16, 140 * 16);
}

}  // namespace

QPixmap DrawTrayImage(int image, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor blue(30, 90, 220);
    const QColor red(215, 30, 30);
    DrawCross(painter, size, image == ICON_NORMAL ? blue : red);
    switch (image) {
        case ICON_WEB:
            DrawMagnifier(painter, size);
            break;
        case ICON_MAIL:
            DrawEnvelope(painter, size);
            break;
        case ICON_CHAT:
            DrawSmile(painter, size);
            break;
        default:
            break;
    }
    return pixmap;
}

QIcon TrayImageIcon(int image) {
    QIcon icon;
    icon.addPixmap(DrawTrayImage(image, 16));
    icon.addPixmap(DrawTrayImage(image, 32));
    return icon;
}

}  // namespace bramvell
