#include "TimedDialog.h"

TimedDialog::TimedDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    m_timer.setTimerType(Qt::PreciseTimer);
}

void TimedDialog::finish(int result) {
    m_timer.stop();
    done(result);
}
