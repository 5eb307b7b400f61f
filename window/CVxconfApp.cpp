#include "CVxconfApp.h"

#include <cstdio>
#include <memory>

#include "device/LinkTrace.h"
#include "device/PortNames.h"
#include "editor/Settings.h"
#include "platform/Profile.h"
#include "platform/QtPortDriver.h"
#include "platform/StopSignals.h"
#include "platform/WindowManners.h"
#include "sim/SimulatorProcess.h"
#include "window/CVxconfDlg.h"
#include "window/Options.h"

void CVxconfApp::setIdentity() {
    setApplicationName("vxconf");
    // No display name: the window system would append it to every caption.
    setApplicationVersion(VXCONF_VERSION);
}

void CVxconfApp::chooseWindowSystem() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

CVxconfApp::CVxconfApp(int& argc, char** argv) : QApplication(argc, argv) {
    setIdentity();
    setWindowIcon(QIcon(":/vxconf.png"));
    (new WindowManners(this))->install();
}

int CVxconfApp::run() {
    const Options options = parseOptions(*this);
    const std::string settingsFile = settingsFilePath();

    PortNames names;
    names.loadOverrides(ProfileFile::load(settingsFile));
    SimulatorProcess simulator;
    if (options.simulate) {
        QString error;
        if (!simulator.start(options.simulatorArguments, error)) {
            std::fprintf(stderr, "vxconf: %s\n", qPrintable(error));
            return 1;
        }
        names.setOverride(SimulatorProcess::kPortNumber, simulator.devicePath().toStdString());
    }

    std::unique_ptr<TraceFile> trace;
    if (!options.tracePath.isEmpty()) {
        trace = std::make_unique<TraceFile>(options.tracePath.toLocal8Bit().toStdString());
        if (!trace->ok()) {
            std::fprintf(stderr, "vxconf: cannot write the trace to %s: %s\n",
                         qPrintable(options.tracePath), trace->error().c_str());
            return 1;
        }
    }

    QtPortDriver driver(names.resolver());
    CVxconfDlg window(driver, settingsFile);
    // SIGTERM and SIGHUP at logout or shutdown, or SIGINT: the program leaves as Exit does,
    // closing its port (and its lock file) and writing its settings.
    StopSignals& stops = StopSignals::instance();
    const CatchingStopSignals catching;
    if (stops.install()) {
        connect(&stops, &StopSignals::received, &window, &CVxconfDlg::leaveNow);
    }
    window.editor().link().setTrace(trace.get());
    if (options.simulate) {
        window.setStartPort(static_cast<int>(SimulatorProcess::kPortNumber));
    }
    return window.run();
}
