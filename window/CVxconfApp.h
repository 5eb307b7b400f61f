#pragma once

#include <QApplication>

// The application object: builds the main window, runs it, and ends the program with it.
class CVxconfApp : public QApplication {
    Q_OBJECT
public:
    CVxconfApp(int& argc, char** argv);
    // The program's name and version, as --version shows them; needs no application object.
    static void setIdentity();
    // Returns the program's exit code.
    int run();
};
