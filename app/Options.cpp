#include "Options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

Options parseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Configures a VX310 serial interface converter.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulate(
        "simulate", "Start a simulated VX310 and connect to it, instead of real hardware.");
    const QCommandLineOption simulatorOption(
        "sim-option",
        "Pass an option to the simulated VX310, e.g. --sim-option=--ade (may be repeated).",
        "option");
    const QCommandLineOption trace(
        "trace", "Write every byte sent to and received from the VX310 to FILE.", "FILE");
    parser.addOption(simulate);
    parser.addOption(simulatorOption);
    parser.addOption(trace);
    parser.process(app);

    Options options;
    options.simulate = parser.isSet(simulate);
    options.simulatorArguments = parser.values(simulatorOption);
    options.tracePath = parser.value(trace);
    return options;
}
