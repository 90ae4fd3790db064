#include "ui/ContextHelp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QWhatsThis>
#include <QWidget>

#include "controls/BalloonPopup.h"
#include "ui/ContextHelpTable.h"

namespace bramvell {

namespace {

QString FromTable(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsPlainF1(const QKeyEvent* key) {
    return key->key() == Qt::Key_F1 && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

}  // namespace

ContextHelp::ContextHelp(QWidget* window) : QObject(window), window_(window) {}

ContextHelp* ContextHelp::Install(QWidget* window, QAbstractButton* helpButton) {
    auto* help = new ContextHelp(window);
    window->setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    if (helpButton != nullptr) {
        connect(helpButton, &QAbstractButton::clicked, help, [] { QWhatsThis::enterWhatsThisMode(); });
    }
    // Application-wide, so that pages created later and the "What's This?" requests sent to any of
    // their controls are seen.
    qApp->installEventFilter(help);
    return help;
}

int ContextHelp::ControlIdOf(const QWidget* widget) {
    for (const QWidget* w = widget; w != nullptr; w = w->isWindow() ? nullptr : w->parentWidget()) {
        bool isNumber = false;
        const int id = w->objectName().toInt(&isNumber);
        if (isNumber) {
            return id;
        }
    }
    return 0;
}

QPoint ContextHelp::AnchorOf(const QWidget* control) {
    return control->mapToGlobal(QPoint(control->width() / 2, control->height() - 2));
}

int ContextHelp::ContextIdOf(const QWidget* widget) {
    for (const QWidget* w = widget; w != nullptr; w = w->isWindow() ? nullptr : w->parentWidget()) {
        const QVariant value = w->property(kContextIdProperty);
        if (value.isValid()) {
            return value.toInt();
        }
    }
    return 1;
}

BalloonPopup* ContextHelp::Answer(QWidget* control, QPoint cursor, bool f1Down) {
    const std::optional<HelpPair> pair = ContextHelpFor({ControlIdOf(control), ContextIdOf(control), f1Down});
    if (!pair) {
        return nullptr;
    }
    return BalloonPopup::LaunchNote(FromTable(pair->title), FromTable(pair->text), cursor);
}

bool ContextHelp::Watches(const QObject* object) const {
    if (window_ == nullptr || !object->isWidgetType()) {
        return false;
    }
    const auto* widget = static_cast<const QWidget*>(object);
    return widget->window() == window_;
}

bool ContextHelp::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!Watches(watched)) {
                return false;
            }
            if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::ShiftModifier) {
                QWhatsThis::enterWhatsThisMode();
                return true;
            }
            if (IsPlainF1(key)) {
                // F1 explains the control that has the keyboard focus, at the control.
                if (!key->isAutoRepeat()) {
                    QWidget* focused = QApplication::focusWidget();
                    QWidget* control =
                        focused != nullptr && Watches(focused) ? focused : static_cast<QWidget*>(watched);
                    Answer(control, AnchorOf(control), false);
                }
                return true;
            }
            return false;
        }
        case QEvent::QueryWhatsThis:
            // Every control can be asked about: the cursor says so over the whole window.
            if (Watches(watched)) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::WhatsThis: {
            if (!Watches(watched)) {
                return false;
            }
            event->accept();
            QWhatsThis::leaveWhatsThisMode();
            Answer(static_cast<QWidget*>(watched), AnchorOf(static_cast<QWidget*>(watched)), false);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace bramvell
