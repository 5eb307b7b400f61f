#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// The width a window needs for its caption under a common window manager font.
int captionWidth(const QString& caption);
// Widens a window, before it shows, to captionWidth.
void fitCaption(QWidget* window);

// Gives the keyboard back to the window below whenever a modal window closes, and makes
// every dialog and notice wide enough for the window manager to show its caption whole.
//
// Under an X11 window manager the window that was below a closing modal one does not
// always get the focus back: Qt asks for the parent's activation while the modal window is
// still mapped, the window manager refuses it for the modal child's sake, and once the
// child is gone no window is active, so keys go nowhere until the user clicks. Asking
// again once the modal window is unmapped closes that race.
class FocusKeeper : public QObject {
    Q_OBJECT
public:
    explicit FocusKeeper(QObject* parent = nullptr) : QObject(parent) {}

    // Watches every window of the application.
    void install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window that should have the keyboard now that `closed` is gone.
    static QWidget* windowBelow(QWidget* closed);
    void activate(QWidget* closed);
    void check();

    QPointer<QWidget> m_target;
    int m_retries = 0;
};
