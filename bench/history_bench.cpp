// The unit history: what writing a unit's run costs a station, and how fast a unit's story
// comes back from a database a factory has filled for years.

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include "cli/History.h"
#include "device/ConfigBlock.h"

namespace {

History::Run sampleRun(int serial) {
    History::Run run;
    run.unit.serial = std::to_string(serial);
    run.unit.result = "ok";
    run.unit.time = "2026-12-10T08:00:00Z";
    run.unit.station = "bench 1";
    run.unit.operatorName = "anna";
    run.unit.job = "Line 3";
    run.unit.jobSha256 = std::string(64, 'a');
    // A whole configuration, sent and read back, as a load leaves it.
    run.unit.sent = blockValues(demoBlock());
    run.unit.readBack = run.unit.sent;
    run.device = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0";
    run.command = "load";
    run.file = "/srv/jobs/bus.vxc";
    return run;
}

// Goal: under 5 ms a unit, a transaction each, with the database's durability settings.
void BM_HistoryRecord(benchmark::State& state) {
    QTemporaryDir dir;
    History history;
    std::string error;
    if (!history.open(dir.filePath("history.sqlite").toStdString(), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    int serial = 0;
    for (auto _ : state) {
        if (!history.record(sampleRun(serial++ % 65536), error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
}
BENCHMARK(BM_HistoryRecord)->Unit(benchmark::kMillisecond)->Iterations(200);

// Goal: a unit's whole story from 100,000 runs in under 50 ms.
void BM_HistoryStory(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("history.sqlite").toStdString();
    std::string error;
    {
        History filler;
        if (!filler.open(path, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        // Filled a run at a time, as stations fill it.
        History::Run run = sampleRun(0);
        for (int i = 0; i < 100000; ++i) {
            run.unit.serial = std::to_string(i % 40000);
            run.unit.sent.resize(i % 100 == 0 ? blockValues(demoBlock()).size() : 2);
            run.unit.readBack = run.unit.sent;
            if (!filler.record(run, error)) {
                state.SkipWithError(error.c_str());
                return;
            }
        }
    }
    History history;
    if (!history.open(path, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<History::Run> runs;
    for (auto _ : state) {
        if (!history.runs("1200", "", true, runs, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(historyText(runs, true));
    }
    state.counters["runs"] = double(runs.size());
}
BENCHMARK(BM_HistoryStory)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
