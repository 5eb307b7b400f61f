#pragma once

#include <QStringList>

// What the command line asks for.
struct Options {
    bool simulate = false;
    QStringList simulatorArguments;  // passed on to the simulated device
    QString tracePath;               // every byte on the wire goes here; empty for none
};

class QCoreApplication;

// Parses the command line; --help, --version and a bad option print and end the program
// there.
Options parseOptions(const QCoreApplication& app);

// True when parseOptions would only print and end the program (--help, --version, an option
// that is neither the program's nor the window system's), so that no display is needed.
bool needsNoDisplay(const QStringList& arguments);
// Reads the command line as parseOptions does, without the window system, and so prints
// what needsNoDisplay found and ends the program. Call with no application object.
void answerWithoutDisplay(int argc, char** argv);
