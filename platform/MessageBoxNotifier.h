#pragma once

#include <QString>
#include <string>

#include "platform/Notice.h"

class QWidget;

// Notices as real message boxes, over whatever modal window is up, else over the owner.
class MessageBoxNotifier : public Notifier {
public:
    explicit MessageBoxNotifier(QWidget* owner) : m_owner(owner) {}
    NoticeAnswer show(const Notice& notice) override;

private:
    QWidget* m_owner;
};

// Program texts and paths are 8-bit strings; widgets want QString.
inline QString toQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
