// The upload's pace against vx310sim on a pseudo-terminal with wire timing, driven by a
// 100 ms timer as the transfer dialog drives it, and the time to convert a full download.

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "BenchSupport.h"
#include "device/PortNames.h"
#include "platform/QtPortDriver.h"
#include "program/HexWriter.h"
#include "program/Transfer.h"
#include "sim/Vx310Sim.h"

namespace {

// The transfer dialog's timer and modal run, without a window.
class TimerControl : public DialogControl {
public:
    TimerControl() { timer.setTimerType(Qt::PreciseTimer); }
    void startTimer(int ms) override { timer.start(ms); }
    void stopTimer() override { timer.stop(); }
    void finish(int r) override {
        timer.stop();
        result = r;
        loop.quit();
    }
    void refresh() override {}
    QTimer timer;
    QEventLoop loop;
    int result = -1;
};

// The file in memory; notes when each block was taken.
class TimedFile : public ProgramFile {
public:
    explicit TimedFile(std::string text) : data(std::move(text)) { clock.start(); }
    long read(std::uint8_t* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, data.size() - pos);
        std::copy(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n),
                  buffer);
        pos += n;
        if (n > 0) {
            takenAtMs.push_back(clock.nsecsElapsed() / 1e6);
        }
        return static_cast<long>(n);
    }
    long write(const std::uint8_t*, std::size_t count) override { return long(count); }
    std::string data;
    std::size_t pos = 0;
    QElapsedTimer clock;
    std::vector<double> takenAtMs;
};

std::string hexOf(std::size_t size) {
    std::string text;
    unsigned address = 0x4004;
    char line[80];
    while (text.size() + 60 < size) {
        unsigned sum = 16 + (address >> 8) + (address & 0xFF);
        int at = std::snprintf(line, sizeof line, ":10%04X00", address);
        for (int i = 0; i < 16; ++i) {
            at += std::snprintf(line + at, sizeof line - at, "%02X", unsigned(i));
            sum += unsigned(i);
        }
        std::snprintf(line + at, sizeof line - at, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
        address += 16;
    }
    return text + ":00000001FF\r\n";
}

void BM_UploadPace(benchmark::State& state) {
    QProcess sim;
    const std::string path = startSimulator(sim, {});
    if (path.empty()) {
        state.SkipWithError("vx310sim did not start");
        return;
    }
    PortNames names;
    names.setOverride(kSimPort, path);
    QtPortDriver driver(names.resolver());
    double rate = 0;
    double drift = 0;
    for (auto _ : state) {
        Host host(driver);
        host.link().open(kSimPort);
        host.block().setByte(Offset::adeMode, 3);
        TimerControl control;
        Transfer transfer(host, control);
        QObject::connect(&control.timer, &QTimer::timeout, [&] { transfer.tick(); });
        TimedFile file(hexOf(32 * 1024));
        transfer.PrepareUpload("bench.hex", file, static_cast<std::uint32_t>(file.data.size()));
        QElapsedTimer clock;
        clock.start();
        transfer.start();
        control.loop.exec();
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        if (control.result != 1 || file.takenAtMs.size() < 2) {
            state.SkipWithError("the upload did not complete");
            return;
        }
        // From the first block to the last: one block of 80 bytes a tick.
        const double spanMs = file.takenAtMs.back() - file.takenAtMs.front();
        const double blocks = static_cast<double>(file.takenAtMs.size() - 1);
        rate = blocks * Transfer::kBlockBytes / (spanMs / 1000.0);
        drift = spanMs - blocks * Transfer::kTickMs;  // time lost against the ideal ticks
    }
    state.counters["bytes_per_s"] = rate;
    state.counters["pct_of_800"] = rate / 8.0;
    state.counters["drift_ms"] = drift;
    sim.terminate();
    sim.waitForFinished(2000);
}
BENCHMARK(BM_UploadPace)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

void BM_ConvertFullDownload(benchmark::State& state) {
    std::vector<std::uint8_t> program(32764);
    for (std::size_t i = 0; i < program.size(); ++i) {
        program[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::string text = Vx310Sim::downloadText(program);
    for (auto _ : state) {
        benchmark::DoNotOptimize(convertDownload(text));
    }
    state.counters["chars"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ConvertFullDownload)->Unit(benchmark::kMillisecond);

}  // namespace
