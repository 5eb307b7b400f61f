// How long the connection read takes against vx310sim on a pseudo-terminal with real wire
// timing, and how long probing every port number takes on this machine.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "BenchSupport.h"
#include "device/ConnectionRead.h"
#include "device/PortNames.h"
#include "platform/QtPortDriver.h"

namespace {

class Control : public DialogControl {
public:
    void startTimer(int ms) override { periodMs = ms; }
    void stopTimer() override { periodMs = 0; }
    void finish(int r) override {
        periodMs = 0;
        result = r;
    }
    void refresh() override {}
    int periodMs = 0;
    int result = -1;
};

void BM_ReadFromSimulator(benchmark::State& state) {
    QProcess sim;
    sim.start(VX310SIM_PATH, {});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        state.SkipWithError("vx310sim did not start");
        return;
    }
    const std::string path = QString::fromLocal8Bit(sim.readLine()).trimmed().toStdString();

    PortNames names;
    names.setOverride(kSimPort, path);
    QtPortDriver driver(names.resolver());
    double ticks = 0;
    int failures = 0;
    for (auto _ : state) {
        Host host(driver);
        Control control;
        ConnectionRead read(host, control);
        // Straight to the port under test, without probing all the others.
        read.choosePort(kSimPort);
        QElapsedTimer clock;
        clock.start();
        read.ok();
        // The dialog's 100 ms timer, counted from the start of the read.
        qint64 next = ConnectionRead::kTickMs;
        while (control.periodMs > 0) {
            QThread::msleep(
                static_cast<unsigned long>(std::max<qint64>(0, next - clock.elapsed())));
            read.tick();
            next += ConnectionRead::kTickMs;
        }
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        ticks += read.tickCount();
        failures += control.result == 0 ? 0 : 1;
    }
    state.counters["ticks"] = benchmark::Counter(ticks, benchmark::Counter::kAvgIterations);
    state.counters["failures"] = failures;
    sim.terminate();
    sim.waitForFinished(2000);
}
BENCHMARK(BM_ReadFromSimulator)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ProbeAllPorts(benchmark::State& state) {
    QtPortDriver driver(PortNames().resolver());
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
            found += driver.probe(n) ? 1 : 0;
        }
    }
    state.counters["ports"] = found;
}
BENCHMARK(BM_ProbeAllPorts)->Unit(benchmark::kMillisecond);

}  // namespace
