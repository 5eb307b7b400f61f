#include "MessageBoxNotifier.h"

#include <QApplication>
#include <QMessageBox>

NoticeAnswer MessageBoxNotifier::show(const Notice& notice) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (notice.icon) {
        case NoticeIcon::None:
            break;
        case NoticeIcon::Information:
            icon = QMessageBox::Information;
            break;
        case NoticeIcon::Exclamation:
            icon = QMessageBox::Warning;
            break;
        case NoticeIcon::Question:
            icon = QMessageBox::Question;
            break;
    }
    const bool yesNo = notice.buttons == NoticeButtons::YesNo;
    QWidget* parent = QApplication::activeModalWidget();
    if (parent == nullptr || !parent->isVisible()) {
        parent = m_owner;
    }
    QMessageBox box(icon, toQt(notice.caption), toQt(notice.text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    // Texts can carry file names: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    const int answer = box.exec();
    if (!yesNo) {
        return NoticeAnswer::Ok;
    }
    return answer == QMessageBox::Yes ? NoticeAnswer::Yes : NoticeAnswer::No;
}
