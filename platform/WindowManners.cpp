#include "WindowManners.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTimer>

namespace {

// How often, and how long after a close, the activation is asked for again while the
// window manager has not passed it on.
constexpr int kRetryMs = 50;
constexpr int kMaxRetries = 20;
// Room beside a caption for the window's icon, three buttons and the spaces between them.
constexpr int kCaptionFrame = 130;

// An empty row as wide as the caption needs, at the end of a window's layout.
class CaptionSpacer : public QSpacerItem {
public:
    explicit CaptionSpacer(int width)
        : QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed) {}
};

CaptionSpacer* captionSpacer(QLayout* layout) {
    for (int i = 0; i < layout->count(); ++i) {
        if (auto* spacer = dynamic_cast<CaptionSpacer*>(layout->itemAt(i))) {
            return spacer;
        }
    }
    return nullptr;
}

// The program's own dialogs and the notices; the main window and the file dialogs, which
// the user may resize, are left alone.
bool isDialog(QWidget* widget) {
    return widget->isWindow() && widget->windowType() == Qt::Dialog &&
           qobject_cast<QDialog*>(widget) != nullptr &&
           qobject_cast<QFileDialog*>(widget) == nullptr && widget->layout() != nullptr;
}

}  // namespace

int captionWidth(const QString& caption) {
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.1);
    return QFontMetrics(font).horizontalAdvance(caption) + kCaptionFrame;
}

void WindowManners::install() {
    qApp->installEventFilter(this);
}

void WindowManners::settle(QWidget* window) {
    // A message box fixes its own size from its texts when it shows.
    if (qobject_cast<QMessageBox*>(window) == nullptr) {
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    }
    fitCaption(window);
}

void WindowManners::fitCaption(QWidget* window) {
    QLayout* layout = window->layout();
    const int wanted = captionWidth(window->windowTitle());
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        // A row across every column, as wide as the caption.
        if (CaptionSpacer* spacer = captionSpacer(grid)) {
            spacer->changeSize(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
        } else {
            grid->addItem(new CaptionSpacer(wanted), grid->rowCount(), 0, 1, grid->columnCount());
        }
        layout->invalidate();
        return;
    }
    auto* box = qobject_cast<QBoxLayout*>(layout);
    if (box == nullptr) {
        return;
    }
    CaptionSpacer* spacer = captionSpacer(box);
    if (box->direction() == QBoxLayout::TopToBottom ||
        box->direction() == QBoxLayout::BottomToTop) {
        if (spacer == nullptr) {
            box->addItem(new CaptionSpacer(wanted));
        } else {
            spacer->changeSize(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
        }
        layout->invalidate();
        return;
    }
    // Side by side: a column of just the width that is missing, if any. It is measured with
    // the column in place, so that the spacing before it counts too.
    if (spacer == nullptr) {
        spacer = new CaptionSpacer(0);
        box->addItem(spacer);
    }
    spacer->changeSize(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    box->invalidate();
    const int missing = wanted - box->sizeHint().width();
    if (missing > 0) {
        spacer->changeSize(missing, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    } else {
        box->removeItem(spacer);
        delete spacer;
    }
    box->invalidate();
}

bool WindowManners::eventFilter(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType()) {
        return QObject::eventFilter(watched, event);
    }
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::Polish:
            if (isDialog(widget)) {
                settle(widget);
            }
            break;
        case QEvent::WindowTitleChange:
            if (isDialog(widget) && widget->testAttribute(Qt::WA_WState_Polished)) {
                fitCaption(widget);
            }
            break;
        case QEvent::Hide:
            if (widget->isWindow() && widget->isModal() &&
                !widget->testAttribute(Qt::WA_DontShowOnScreen)) {
                activate(widget);
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

QWidget* WindowManners::windowBelow(QWidget* closed) {
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

void WindowManners::activate(QWidget* closed) {
    QWidget* target = windowBelow(closed);
    if (target == nullptr) {
        return;
    }
    m_target = target;
    m_retries = 0;
    // After the hide has reached the window server, so that the request comes after the
    // unmap the window manager reacts to.
    QTimer::singleShot(0, this, &WindowManners::check);
}

void WindowManners::check() {
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
        QTimer::singleShot(kRetryMs, this, &WindowManners::check);
    }
}

bool windowSystemPlacesWindows() {
    return !QGuiApplication::platformName().startsWith("wayland");
}
