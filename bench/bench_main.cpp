#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "cli/CliProgram.h"
#include "station/UnitLauncher.h"

// The benchmarks use Qt's ports and timers, and the station's window: they need an
// application object, off the screen where there is no display.
UnitLauncher* benchLauncher = nullptr;

int main(int argc, char** argv) {
    // A launcher for the units of the station's window, forked before Qt as the programs do.
    UnitLauncher launcher;
    if (launcher.start() == UnitLauncher::Role::Unit) {
        QCoreApplication unit(argc, argv);
        return runReportingUnit();
    }
    benchLauncher = &launcher;
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
