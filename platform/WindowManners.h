#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// The width a window needs for its caption under a common window manager font: the caption
// in a bold face a little larger than the application's, beside an icon and three buttons.
int captionWidth(const QString& caption);

// How the program's dialogs and notices behave on a desktop with a window manager, for every
// window of the application at once:
//
// - The window below a closing modal window gets the keyboard back. Under an X11 window
//   manager Qt asks for the parent's activation while the modal window is still mapped; the
//   window manager refuses it for the modal child's sake, and once the child is gone no
//   window is active, so keys go nowhere until the user clicks. Asking again once the modal
//   window is unmapped closes that race.
// - A dialog keeps the size its contents need and no other, so that window managers offer
//   no maximising and no resizing for it, and it grows again by itself when its texts do.
// - Dialogs and notices are wide enough for the window manager to show their captions
//   whole, also when a caption changes while the window is up.
class WindowManners : public QObject {
    Q_OBJECT
public:
    explicit WindowManners(QObject* parent = nullptr) : QObject(parent) {}

    // Watches every window of the application.
    void install();
    // What the filter does to a dialog or notice before it first shows; also for tests.
    static void settle(QWidget* window);
    static void fitCaption(QWidget* window);

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

// Whether the window system lets a program place its top-level windows and tells it where
// they are. Wayland does neither: a window there reports 0,0 wherever it is.
bool windowSystemPlacesWindows();
