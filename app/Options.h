#pragma once

#include <QStringList>

// What the command line asks for.
struct Options {
    bool simulate = false;
    QStringList simulatorArguments;  // passed on to the simulated device
    QString tracePath;               // every byte on the wire goes here; empty for none
};

class QCoreApplication;

// Parses the command line; --help and --version print and end the program there.
Options parseOptions(const QCoreApplication& app);
