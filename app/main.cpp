#include <QStringList>

#include "window/CVxconfApp.h"
#include "window/Options.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    CVxconfApp::setIdentity();
    // Help, version and option errors are printed without the window system, which may not
    // be there (over SSH, say).
    if (needsNoDisplay(arguments)) {
        answerWithoutDisplay(argc, argv);
    }
    CVxconfApp::chooseWindowSystem();
    CVxconfApp app(argc, argv);
    return app.run();
}
