#include "controls/BalloonPopup.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QPropertyAnimation>
#include <QRegion>
#include <QScreen>
#include <QStyle>
#include <QToolTip>
#include <QUrl>
#include <vector>

namespace bramvell {

namespace {

namespace Opt = BalloonOption;

QRect ToQRect(const BalloonRect& rect) {
    return QRect(rect.x, rect.y, rect.width, rect.height);
}

QPolygonF TailPolygon(const BalloonLayout& layout) {
    QPolygonF tail;
    for (const BalloonPoint& point : layout.tail) {
        tail << QPointF(point.x, point.y);
    }
    return tail;
}

Qt::WindowFlags FlagsFor(uint32_t options) {
    Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus;
    // A tooltip window stays above the others and has no taskbar entry; a tool window only the latter.
    flags |= (options & Opt::Topmost) != 0 ? Qt::ToolTip : Qt::Tool;
    if ((options & Opt::NoShadow) != 0) {
        flags |= Qt::NoDropShadowWindowHint;
    }
    return flags;
}

uint32_t PressBit(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return Opt::CloseOnLeftDown;
        case Qt::MiddleButton:
            return Opt::CloseOnMiddleDown;
        case Qt::RightButton:
            return Opt::CloseOnRightDown;
        default:
            return 0;
    }
}

uint32_t ReleaseBit(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return Opt::CloseOnLeftUp;
        case Qt::MiddleButton:
            return Opt::CloseOnMiddleUp;
        case Qt::RightButton:
            return Opt::CloseOnRightUp;
        default:
            return 0;
    }
}

std::vector<BalloonScreen> DesktopScreens() {
    std::vector<BalloonScreen> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect all = screen->geometry();
        const QRect work = screen->availableGeometry();
        screens.push_back({{all.x(), all.y(), all.width(), all.height()},
                           {work.x(), work.y(), work.width(), work.height()}});
    }
    if (screens.empty()) {
        const BalloonRect anywhere{-(1 << 20), -(1 << 20), 1 << 21, 1 << 21};
        screens.push_back({anywhere, anywhere});
    }
    return screens;
}

}  // namespace

BalloonPopup::BalloonPopup(Request request)
    : QWidget(request.anchorWindow != nullptr ? request.anchorWindow->window() : nullptr,
              FlagsFor(request.options)),
      request_(std::move(request)),
      options_(request_.options),
      fade_(FadeFor(options_, DesktopFadesTooltips())) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setObjectName(QStringLiteral("BalloonPopup"));
    lifetime_.setSingleShot(true);
    connect(&lifetime_, &QTimer::timeout, this, &BalloonPopup::RequestClose);
    if (request_.anchorWindow != nullptr) {
        anchorTopLevel_ = request_.anchorWindow->window();
    }
}

BalloonPopup::~BalloonPopup() {
    StopWatching();
    if (anchorTopLevel_ != nullptr) {
        anchorTopLevel_->removeEventFilter(this);
    }
}

BalloonPopup* BalloonPopup::Launch(Request request) {
    request.options |= Opt::DeleteSelf;  // nothing else owns a launched balloon
    auto* balloon = new BalloonPopup(std::move(request));
    balloon->Open();
    return balloon;
}

BalloonPopup* BalloonPopup::LaunchNote(const QString& title, const QString& text, QPoint anchor) {
    Request request;
    request.title = title;
    request.text = text;
    request.anchor = anchor;
    return Launch(std::move(request));
}

bool BalloonPopup::DesktopFadesTooltips() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal") ||
        platform == QLatin1String("vnc") || platform == QLatin1String("linuxfb")) {
        return false;
    }
    return QApplication::isEffectEnabled(Qt::UI_AnimateTooltip) &&
           QApplication::isEffectEnabled(Qt::UI_FadeTooltip);
}

QPoint BalloonPopup::AnchorOnScreen() const {
    if (request_.anchorWindow != nullptr) {
        return request_.anchorWindow->mapToGlobal(request_.anchor);
    }
    return request_.anchor;
}

void BalloonPopup::Relayout() {
    textFont_ = QApplication::font();
    titleFont_ = textFont_;
    titleFont_.setWeight(QFont::Bold);
    const QFontMetrics titleMetrics(titleFont_);
    const QFontMetrics textMetrics(textFont_);

    BalloonContent content;
    if (!request_.icon.isNull()) {
        const int side = style()->pixelMetric(QStyle::PM_SmallIconSize);
        content.icon = {side, side};
    }
    content.title = {titleMetrics.horizontalAdvance(request_.title),
                     request_.title.isEmpty() ? 0 : titleMetrics.height()};
    int textWidth = 0;
    int lineCount = 0;
    for (const std::string& line : BalloonLines(request_.text.toStdString())) {
        textWidth = std::max(textWidth, textMetrics.horizontalAdvance(QString::fromStdString(line)));
        ++lineCount;
    }
    content.text = {textWidth, lineCount * textMetrics.lineSpacing()};
    if ((options_ & Opt::ShowCloseButton) != 0) {
        int side = style()->pixelMetric(QStyle::PM_TitleBarButtonSize);
        side = side > 0 ? side : 16;
        content.closeButton = {side, side};
    }

    const std::vector<BalloonScreen> screens = DesktopScreens();
    const QPoint anchor = AnchorOnScreen();
    const BalloonScreen& screen = NearestScreen(screens, {anchor.x(), anchor.y()});
    const BalloonLayout previous = layout_;
    const bool hadShape = !shapePath_.isEmpty();
    layout_ = LayoutBalloon(content, {anchor.x(), anchor.y()}, screen.workArea);

    if (!hadShape || !layout_.SameShape(previous)) {
        const BalloonRect& body = layout_.body;
        const qreal radius = kBalloonCornerSize / 2.0;
        QPainterPath bodyPath;
        bodyPath.addRoundedRect(QRectF(body.x, body.y, body.width, body.height), radius, radius);
        QPainterPath tailPath;
        tailPath.addPolygon(TailPolygon(layout_));
        tailPath.closeSubpath();
        shapePath_ = bodyPath.united(tailPath);

        QPainterPath frameBody;
        frameBody.addRoundedRect(QRectF(body.x, body.y, body.width - 1, body.height - 1), radius, radius);
        framePath_ = frameBody.united(tailPath);

        const QRegion shape = QRegion(bodyPath.toFillPolygon().toPolygon(), Qt::WindingFill) |
                              QRegion(TailPolygon(layout_).toPolygon(), Qt::WindingFill);
        setMask(shape);
    }
    setGeometry(layout_.position.x, layout_.position.y, layout_.window.width, layout_.window.height);
    update();
}

void BalloonPopup::Open() {
    Relayout();
    cursorAtOpening_ = QCursor::pos();
    if (anchorTopLevel_ != nullptr) {
        anchorTopLevel_->installEventFilter(this);
    }
    if ((options_ & (Opt::MouseCloseBits | Opt::CloseOnKeyDown)) != 0) {
        // Watching starts once the event being delivered now (the click or key that opened the
        // balloon) has gone its way, so that it cannot close the balloon it opened.
        QTimer::singleShot(0, this, &BalloonPopup::StartWatching);
    }
    if (fade_.in) {
        setWindowOpacity(0.0);
        show();
        auto* animation = new QPropertyAnimation(this, "windowOpacity", this);
        animation->setDuration(kBalloonFadeMs);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
        fadeAnimation_ = animation;
    } else {
        show();
    }
    if ((options_ & Opt::DelayClose) == 0) {
        lifetime_.start(request_.lifetimeMs);
    }
}

void BalloonPopup::StartWatching() {
    if (watching_ || closing_ || finished_ || (options_ & (Opt::MouseCloseBits | Opt::CloseOnKeyDown)) == 0) {
        return;
    }
    qApp->installEventFilter(this);
    watching_ = true;
}

void BalloonPopup::StopWatching() {
    if (watching_) {
        qApp->removeEventFilter(this);
        watching_ = false;
    }
}

bool BalloonPopup::ClosesOn(const QEvent* event) const {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonDblClick:
            return (options_ & PressBit(static_cast<const QMouseEvent*>(event)->button())) != 0;
        case QEvent::MouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonRelease:
            return (options_ & ReleaseBit(static_cast<const QMouseEvent*>(event)->button())) != 0;
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseMove: {
            if ((options_ & Opt::CloseOnMouseMove) == 0) {
                return false;
            }
            const QPoint at = static_cast<const QMouseEvent*>(event)->globalPosition().toPoint();
            return MovedBeyondHover({cursorAtOpening_.x(), cursorAtOpening_.y()}, {at.x(), at.y()},
                                    kDefaultHoverWidth);
        }
        case QEvent::KeyPress:
            return (options_ & Opt::CloseOnKeyDown) != 0;
        default:
            return false;
    }
}

bool BalloonPopup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == anchorTopLevel_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize) &&
        !finished_) {
        Relayout();
    }
    if (watching_ && ClosesOn(event)) {
        // Posted, never handled here: the event itself reaches its target unchanged.
        QMetaObject::invokeMethod(this, &BalloonPopup::RequestClose, Qt::QueuedConnection);
    }
    return false;
}

void BalloonPopup::RequestClose() {
    if (closing_ || finished_) {
        return;
    }
    if ((options_ & Opt::DelayClose) != 0) {
        options_ &= ~Opt::CloseRequestBits;
        StopWatching();
        lifetime_.start(request_.lifetimeMs);
        return;
    }
    closing_ = true;
    lifetime_.stop();
    StopWatching();
    if (fadeAnimation_ != nullptr) {
        fadeAnimation_->stop();
    }
    if (fade_.out && isVisible()) {
        auto* animation = new QPropertyAnimation(this, "windowOpacity", this);
        animation->setDuration(kBalloonFadeMs);
        animation->setStartValue(windowOpacity());
        animation->setEndValue(0.0);
        connect(animation, &QPropertyAnimation::finished, this, &BalloonPopup::Finish);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
        return;
    }
    Finish();
}

void BalloonPopup::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    closing_ = true;
    lifetime_.stop();
    StopWatching();
    if (anchorTopLevel_ != nullptr) {
        anchorTopLevel_->removeEventFilter(this);
    }
    hide();
    emit Closed();
    if ((options_ & Opt::DeleteSelf) != 0) {
        deleteLater();
    }
}

void BalloonPopup::closeEvent(QCloseEvent* event) {
    if (finished_) {
        event->accept();
        return;
    }
    event->ignore();
    RequestClose();
}

void BalloonPopup::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && (options_ & Opt::ShowCloseButton) != 0 &&
        ToQRect(layout_.closeButton).contains(event->position().toPoint())) {
        closeButtonPushed_ = true;
        update();
    }
}

void BalloonPopup::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const bool overButton = (options_ & Opt::ShowCloseButton) != 0 &&
                            ToQRect(layout_.closeButton).contains(event->position().toPoint());
    const bool wasPushed = closeButtonPushed_;
    closeButtonPushed_ = false;
    if (overButton) {
        if (wasPushed) {
            RequestClose();
        }
        update();
        return;
    }
    if (!request_.linkTarget.isEmpty()) {
        QDesktopServices::openUrl(QUrl::fromUserInput(request_.linkTarget));
        RequestClose();
    }
}

void BalloonPopup::paintEvent(QPaintEvent*) {
    const QPalette tips = QToolTip::palette();
    const QColor background = tips.color(QPalette::ToolTipBase);
    const QColor foreground = tips.color(QPalette::ToolTipText);

    QPainter painter(this);
    painter.fillRect(rect(), background);
    if ((options_ & Opt::OuterOutline) != 0) {
        const QColor blend((background.red() * 2 + foreground.red()) / 3,
                           (background.green() * 2 + foreground.green()) / 3,
                           (background.blue() * 2 + foreground.blue()) / 3);
        painter.setPen(QPen(blend, 2));
        painter.drawPath(framePath_.translated(1, 1));
    }
    painter.setPen(QPen(foreground, 1));
    painter.drawPath(framePath_);

    if (!request_.icon.isNull()) {
        request_.icon.paint(&painter, ToQRect(layout_.icon));
    }
    painter.setFont(titleFont_);
    painter.drawText(ToQRect(layout_.title), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     request_.title);

    painter.setFont(textFont_);
    const int lineSpacing = QFontMetrics(textFont_).lineSpacing();
    QRect line = ToQRect(layout_.text);
    line.setHeight(lineSpacing);
    for (const std::string& text : BalloonLines(request_.text.toStdString())) {
        painter.drawText(line, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         QString::fromStdString(text));
        line.translate(0, lineSpacing);
    }

    if ((options_ & Opt::ShowCloseButton) != 0) {
        const QRect button = ToQRect(layout_.closeButton);
        qDrawShadePanel(&painter, button, palette(), closeButtonPushed_, 1);
        const int inset = button.width() / 4 + (closeButtonPushed_ ? 1 : 0);
        const QRect cross = button.adjusted(inset, inset, -inset + (closeButtonPushed_ ? 1 : 0) - 1,
                                            -inset + (closeButtonPushed_ ? 1 : 0) - 1);
        painter.setPen(QPen(foreground, 2));
        painter.drawLine(cross.topLeft(), cross.bottomRight());
        painter.drawLine(cross.topRight(), cross.bottomLeft());
    }
}

}  // namespace bramvell
