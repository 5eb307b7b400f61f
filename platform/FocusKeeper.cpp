#include "FocusKeeper.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QGridLayout>
#include <QMessageBox>
#include <QTimer>

namespace {

// How often, and how long after a close, the activation is asked for again while the
// window manager has not passed it on.
constexpr int kRetryMs = 50;
constexpr int kMaxRetries = 20;
// Room beside a caption for the window's icon, three buttons and the spaces between them.
constexpr int kCaptionFrame = 130;

}  // namespace

void FocusKeeper::install() {
    qApp->installEventFilter(this);
}

bool FocusKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && qobject_cast<QDialog*>(widget) != nullptr) {
            fitCaption(widget);
        }
    }
    if (event->type() == QEvent::Hide && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->isModal() &&
            !widget->testAttribute(Qt::WA_DontShowOnScreen)) {
            activate(widget);
        }
    }
    return QObject::eventFilter(watched, event);
}

int captionWidth(const QString& caption) {
    // Window managers draw captions in a bold face of about the desktop's size, beside the
    // window's icon and up to three buttons.
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.1);
    return QFontMetrics(font).horizontalAdvance(caption) + kCaptionFrame;
}

void fitCaption(QWidget* window) {
    const int wanted = captionWidth(window->windowTitle());
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
        // A message box sizes itself from its text when it shows: widen it from inside.
        if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
            if (box->property("captionSpacer").isNull()) {
                grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum), grid->rowCount(), 0,
                              1, grid->columnCount());
                box->setProperty("captionSpacer", true);
            }
        }
        return;
    }
    if (window->minimumWidth() < wanted) {
        window->setMinimumWidth(wanted);
    }
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
