// The operator's window with 24 units running at once: the goal is a window that never
// stops answering, its GUI thread never blocked for more than 50 ms. A 10 ms timer stands
// in for the operator's clicks; the longest gap between its ticks is the longest block.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "platform/QtFileSaver.h"
#include "station/Job.h"
#include "station/StationWindow.h"

extern UnitLauncher* benchLauncher;

namespace {

void BM_StationWindow24(benchmark::State& state) {
    constexpr int kUnits = 24;
    QTemporaryDir dir;
    QTemporaryDir watched;
    std::vector<std::unique_ptr<QProcess>> sims;
    std::vector<std::string> paths;
    for (int i = 0; i < kUnits; ++i) {
        sims.push_back(std::make_unique<QProcess>());
        // On a real bench the units are hardware of their own; here their simulators yield
        // the two cores to the station, so that what is measured is the window.
        sims.back()->setChildProcessModifier([] { (void)!::nice(10); });
        paths.push_back(startSimulator(*sims.back(), {"--serial", QString::number(3000 + i)}));
        if (paths.back().empty()) {
            state.SkipWithError("vx310sim did not start");
            return;
        }
    }
    QtFileSaver saver;
    const std::array<std::string, 2> files = parityFiles(dir, saver);
    const std::string job = dir.filePath("bench.vxjob").toStdString();
    std::string error;
    int code = 0;
    if (!createJob(job, {"Bench", files[0], {}, {}, {}, {}}, error, code)) {
        state.SkipWithError(error.c_str());
        return;
    }
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    double longestMs = 0;
    int round = 0;
    for (auto _ : state) {
        StationWindow::Setup setup;
        setup.unitProgram = VXCONF_CLI_PATH;
        setup.launcher = benchLauncher;
        setup.watchFolders = {watched.path()};
        setup.historyPath = dir.filePath(QString("history%1.sqlite").arg(round++)).toStdString();
        setup.station = "bench";
        StationWindow window(setup);
        window.show();
        if (!window.openJob(job)) {
            state.SkipWithError("the job did not open");
            return;
        }
        window.start();
        for (int i = 0; i < kUnits; ++i) {
            QFile::link(QString::fromStdString(paths[std::size_t(i)]),
                        watched.filePath(QString("unit%1").arg(i)));
        }
        QEventLoop loop;
        QElapsedTimer clock;
        QElapsedTimer gap;
        clock.start();
        gap.start();
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longestMs = std::max(longestMs, double(gap.nsecsElapsed()) / 1e6 - 10.0);
            gap.restart();
            int ended = 0;
            for (const auto& [slot, tile] : window.tiles()) {
                ended += tile->summary().contains(", ended, ") ? 1 : 0;
            }
            if (ended == kUnits || clock.elapsed() > 120000) {
                loop.quit();
            }
        });
        probe.start(10);
        loop.exec();
        probe.stop();
        QObject::connect(&window, &StationWindow::stopped, &loop, &QEventLoop::quit);
        window.stop();
        if (window.running()) {
            loop.exec();
        }
        for (int i = 0; i < kUnits; ++i) {
            QFile::remove(watched.filePath(QString("unit%1").arg(i)));
        }
    }
    state.counters["longest_block_ms"] = longestMs;
    for (auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(2000);
    }
}
BENCHMARK(BM_StationWindow24)->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace
