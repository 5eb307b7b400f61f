#pragma once

#include <QApplication>

// The application object: builds the main window, runs it, and ends the program with it.
class CVxconfApp : public QApplication {
    Q_OBJECT
public:
    CVxconfApp(int& argc, char** argv);
    // The program's name and version, as --version shows them; needs no application object.
    static void setIdentity();
    // On a Wayland desktop that also offers X11 (Xwayland), the program takes X11 unless
    // QT_QPA_PLATFORM says otherwise: only there can it put its window back where it was.
    // Call before the application object exists.
    static void chooseWindowSystem();
    // Returns the program's exit code.
    int run();
};
