#pragma once

#include <QApplication>

// The application object: builds the main window, runs it, and ends the program with it.
class CVxconfApp : public QApplication {
    Q_OBJECT
public:
    CVxconfApp(int& argc, char** argv);
    // Returns the program's exit code.
    int run();
};
