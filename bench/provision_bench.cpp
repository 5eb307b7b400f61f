// Provisioning one unit as vxconf-cli does it: read, load a .vxc file, read back and check,
// against vx310sim on a pseudo-terminal with real wire timing and the dialogs' real timers.

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <sstream>

#include "BenchSupport.h"
#include "cli/CliSession.h"
#include "cli/EventLoopRunner.h"
#include "configfiles/ConfigFile.h"
#include "device/ConfigUpdate.h"
#include "device/ConnectionRead.h"
#include "device/PortNames.h"
#include "platform/QtFileSaver.h"
#include "platform/QtPortDriver.h"

namespace {

constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;

// The least the design allows: each read sees the prompt on its first tick and the 261-byte
// reply on the first tick after it has all arrived; the update sends on its first tick and
// closes half a second later.
double tickFloorMs() {
    const double tick = ConnectionRead::kTickMs;
    const double read = std::ceil((tick + kReadReplyLength * kByteMs) / tick) * tick;
    const double store = ConfigUpdate::kFirstTickMs + ConfigUpdate::kCloseDelayMs;
    return read + store + read;
}

void BM_ProvisionWithLoad(benchmark::State& state) {
    QProcess sim;
    const std::string path = startSimulator(sim, {});
    if (path.empty()) {
        state.SkipWithError("vx310sim did not start");
        return;
    }
    QTemporaryDir dir;
    QtFileSaver saver;
    const std::array<std::string, 2> files = parityFiles(dir, saver);
    PortNames names;
    names.setOverride(kSimPort, path);
    QtPortDriver driver(names.resolver());
    EventLoopRunner runner;
    Settings settings;
    settings.pcPort = static_cast<int>(kSimPort);
    int failures = 0;
    int round = 0;
    for (auto _ : state) {
        std::ostringstream out;
        std::ostringstream err;
        CliSession session(driver, saver, runner, settings, CliIo{out, err, false, {}});
        CliRequest request;
        request.command = CliCommand::Load;
        request.file = files[round++ % 2];
        request.yes = true;
        QElapsedTimer clock;
        clock.start();
        failures += session.run(request) == kExitOk ? 0 : 1;
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        session.editor().link().close();
    }
    const double wireMs = (kReadReplyLength + 2 + kConfigTextLength + kReadReplyLength) * kByteMs;
    state.counters["wire_floor_ms"] = wireMs;
    state.counters["tick_floor_ms"] = tickFloorMs();
    // Within one tick of the floor for each of the three steps.
    state.counters["goal_ms"] = tickFloorMs() + 3 * ConnectionRead::kTickMs;
    state.counters["failures"] = failures;
    sim.terminate();
    sim.waitForFinished(2000);
}
BENCHMARK(BM_ProvisionWithLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
