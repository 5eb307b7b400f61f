#include "TimedDialog.h"

#include <QAccessible>
#include <QLabel>

TimedDialog::TimedDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    m_timer.setTimerType(Qt::PreciseTimer);
}

void TimedDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        for (QLabel* label : findChildren<QLabel*>()) {
            if (label->isVisible() && !label->text().isEmpty()) {
                QAccessibleEvent changed(label, QAccessible::NameChanged);
                QAccessible::updateAccessibility(&changed);
            }
        }
    });
}

void TimedDialog::finish(int result) {
    m_timer.stop();
    done(result);
}
