// vxconf-station: the operator's window of a production station, on a job.

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliProgram.h"
#include "cli/ExitStatus.h"
#include "platform/StopSignals.h"
#include "station/StationWindow.h"

namespace {

const char kHelp[] =
    "Usage: vxconf-station [options] [FILE.vxjob]\n"
    "The operator's window of a VX310 production station: it provisions every unit plugged\n"
    "in with the job in FILE.vxjob (see vxconf-cli job new), shows a tile a slot with the\n"
    "unit's state and result, counts the units, and keeps every run in the history.\n"
    "\n"
    "Options:\n"
    "  --watch-dir <DIR>   look for new devices in DIR instead of /dev (may be repeated)\n"
    "  --history <FILE>    keep the history in FILE instead of\n"
    "                      $XDG_DATA_HOME/vxconf/history.sqlite\n"
    "  --station <NAME>    the station's name in the history (the host's name)\n"
    "  --operator <NAME>   the operator until a badge is scanned\n"
    "  --on-result <CMD>   run CMD with /bin/sh after each unit ends (see vxconf-cli)\n"
    "  --again             provision units the job provisioned already\n"
    "  -h, --help          show this help\n"
    "  -V, --version       show the version\n";

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    StationWindow::Setup setup;
    std::string job;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool valued = arg == "--watch-dir" || arg == "--history" || arg == "--station" ||
                            arg == "--operator" || arg == "--on-result";
        if (arg == "-h" || arg == "--help") {
            std::cout << kHelp;
            return kExitOk;
        }
        if (arg == "-V" || arg == "--version") {
            std::cout << "vxconf-station " << VXCONF_VERSION << "\n";
            return kExitOk;
        }
        if (valued && i + 1 >= args.size()) {
            std::cerr << "vxconf-station: " << arg << " needs a value\n";
            return kExitUsage;
        }
        if (arg == "--watch-dir") {
            setup.watchFolders << QString::fromLocal8Bit(args[++i].c_str());
        } else if (arg == "--history") {
            setup.historyPath = args[++i];
        } else if (arg == "--station") {
            setup.station = args[++i];
        } else if (arg == "--operator") {
            setup.operatorName = args[++i];
        } else if (arg == "--on-result") {
            setup.onResult = args[++i];
        } else if (arg == "--again") {
            setup.again = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "vxconf-station: unknown option " << arg
                      << "\nTry 'vxconf-station --help'.\n";
            return kExitUsage;
        } else if (job.empty()) {
            job = arg;
        } else {
            std::cerr << "vxconf-station: one job at a time\n";
            return kExitUsage;
        }
    }
    // The units' launcher is forked before Qt is set up, as vxconf-cli's: forking this
    // window's process for each unit would hold the window up for tens of milliseconds.
    UnitLauncher launcher;
    if (launcher.start() == UnitLauncher::Role::Unit) {
        QCoreApplication unit(argc, argv);
        return runReportingUnit();
    }
    QApplication app(argc, argv);
    app.setApplicationName("vxconf-station");
    app.setApplicationVersion(VXCONF_VERSION);
    app.setDesktopFileName("vxconf-station");
    // Large type for a bench, read from a step away; message boxes too.
    QFont large = QApplication::font();
    large.setPointSizeF(large.pointSizeF() * 1.4);
    QApplication::setFont(large);
    // Each unit runs as vxconf-cli, installed beside this program.
    setup.unitProgram = QDir(QCoreApplication::applicationDirPath()).filePath("vxconf-cli");
    setup.launcher = &launcher;
    StationWindow window(setup);
    // Logout, shutdown, Ctrl-C or kill: the units finish their step, then the window closes.
    StopSignals& stops = StopSignals::instance();
    stops.install();
    QObject::connect(&stops, &StopSignals::received, &window, [&window](int) { window.close(); });
    window.show();
    if (!job.empty()) {
        QTimer::singleShot(0, &window, [&window, job] { window.openJob(job); });
    }
    return app.exec();
}
