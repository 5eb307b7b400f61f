#include "Options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// The program's options, as both readings of the command line know them.
struct Parser {
    Parser() {
        parser.setApplicationDescription("Configures a VX310 serial interface converter.");
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(simulate);
        parser.addOption(simulatorOption);
        parser.addOption(trace);
    }
    QCommandLineParser parser;
    const QCommandLineOption simulate{
        "simulate", "Start a simulated VX310 and connect to it, instead of real hardware."};
    const QCommandLineOption simulatorOption{
        "sim-option",
        "Pass an option to the simulated VX310, e.g. --sim-option=--ade (may be repeated).",
        "option"};
    const QCommandLineOption trace{
        "trace", "Write every byte sent to and received from the VX310 to FILE.", "FILE"};
};

// Qt's own options, which the GUI application object takes off the command line before the
// program reads it. Without that object they are left out here, with their values.
const QStringList kWindowSystemOptionsWithValue{
    "platform",
    "platformpluginpath",
    "platformtheme",
    "plugin",
    "qwindowgeometry",
    "qwindowicon",
    "qwindowtitle",
    "session",
    "display",
    "geometry",
    "name",
    "title",
    "visual",
    "ncols",
    "cmap",
    "im",
    "inputstyle",
    "style",
    "stylesheet",
    "qmljsdebugger",
};
const QStringList kWindowSystemFlags{"reverse", "widgetcount", "nograb",
                                     "dograb",  "sync",        "testability"};

QStringList withoutWindowSystemOptions(const QStringList& arguments) {
    QStringList kept;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == "--") {
            kept += arguments.mid(i);
            break;
        }
        if (i == 0 || !argument.startsWith('-')) {
            kept << argument;
            continue;
        }
        const QString word = argument.mid(argument.startsWith("--") ? 2 : 1);
        const QString name = word.section('=', 0, 0);
        if (kWindowSystemOptionsWithValue.contains(name)) {
            if (!word.contains('=')) {
                ++i;
            }
        } else if (!kWindowSystemFlags.contains(name)) {
            kept << argument;
        }
    }
    return kept;
}

}  // namespace

bool needsNoDisplay(const QStringList& arguments) {
    Parser p;
    if (!p.parser.parse(withoutWindowSystemOptions(arguments))) {
        return true;
    }
    return p.parser.isSet("help") || p.parser.isSet("help-all") || p.parser.isSet("version");
}

void answerWithoutDisplay(int argc, char** argv) {
    const QCoreApplication app(argc, argv);
    Parser p;
    p.parser.process(withoutWindowSystemOptions(app.arguments()));
}

Options parseOptions(const QCoreApplication& app) {
    Parser p;
    p.parser.process(app);

    Options options;
    options.simulate = p.parser.isSet(p.simulate);
    options.simulatorArguments = p.parser.values(p.simulatorOption);
    options.tracePath = p.parser.value(p.trace);
    return options;
}
