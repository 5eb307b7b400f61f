#include "FocusKeeper.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace {

// How often, and how long after a close, the activation is asked for again while the
// window manager has not passed it on.
constexpr int kRetryMs = 50;
constexpr int kMaxRetries = 20;

}  // namespace

void FocusKeeper::install() {
    qApp->installEventFilter(this);
}

bool FocusKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->isModal() &&
            !widget->testAttribute(Qt::WA_DontShowOnScreen)) {
            activate(widget);
        }
    }
    return QObject::eventFilter(watched, event);
}

QWidget* FocusKeeper::windowBelow(QWidget* closed) {
    // Another modal window still up (the dialog under a closing question) comes first.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != closed && modal->isVisible()) {
        return modal->window();
    }
    for (QWidget* parent = closed->parentWidget(); parent != nullptr;
         parent = parent->parentWidget()) {
        QWidget* window = parent->window();
        if (window->isVisible()) {
            return window;
        }
        parent = window;
    }
    return nullptr;
}

void FocusKeeper::activate(QWidget* closed) {
    QWidget* target = windowBelow(closed);
    if (target == nullptr) {
        return;
    }
    m_target = target;
    m_retries = 0;
    // After the hide has reached the window server, so that the request comes after the
    // unmap the window manager reacts to.
    QTimer::singleShot(0, this, &FocusKeeper::check);
}

void FocusKeeper::check() {
    QWidget* target = m_target;
    if (target == nullptr || !target->isVisible()) {
        return;
    }
    // A window opened since (the next dialog) has the keyboard by right.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->window() != target) {
        return;
    }
    if (QApplication::activeWindow() == target) {
        return;
    }
    target->activateWindow();
    if (++m_retries < kMaxRetries) {
        QTimer::singleShot(kRetryMs, this, &FocusKeeper::check);
    }
}
