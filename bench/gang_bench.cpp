// load with its check on 1, 8, 24 and 64 units at once, as vxconf-cli runs it: each unit a
// process of its own against a vx310sim of its own, with real wire timing. The goal: 24
// units in at most 1.15 times one unit's time, and under 2 % of one core a unit, so that a
// small two-core bench PC has room for 64. The simulators' own CPU is counted apart.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "configfiles/ConfigFile.h"
#include "platform/QtFileSaver.h"

namespace {

double childCpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A running process's CPU so far, from /proc: for the simulators, which are not the product.
double processCpuSeconds(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15, the 12th and 13th after the name.
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

double simulatorsCpuSeconds(const std::vector<std::unique_ptr<QProcess>>& sims) {
    double total = 0;
    for (const auto& sim : sims) {
        total += processCpuSeconds(sim->processId());
    }
    return total;
}

void BM_GangLoad(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> sims;
    QByteArray ports = "[Ports]\n";
    for (int i = 1; i <= count; ++i) {
        sims.push_back(std::make_unique<QProcess>());
        const std::string path =
            startSimulator(*sims.back(), {"--serial", QString::number(1000 + i)});
        if (path.empty()) {
            state.SkipWithError("vx310sim did not start");
            return;
        }
        ports += "COM" + QByteArray::number(i) + "=" + QByteArray::fromStdString(path) + "\n";
    }
    QFile settings(dir.filePath("vxconf.ini"));
    settings.open(QIODevice::WriteOnly);
    settings.write(ports);
    settings.close();
    QtFileSaver saver;
    const std::array<std::string, 2> files = parityFiles(dir, saver);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path());
    int failures = 0;
    int round = 0;
    double cpu = 0;
    double simCpu = 0;
    double wall = 0;
    for (auto _ : state) {
        QProcess cli;
        cli.setProcessEnvironment(env);
        const double cpuBefore = childCpuSeconds();
        const double simBefore = simulatorsCpuSeconds(sims);
        QElapsedTimer clock;
        clock.start();
        cli.start(VXCONF_CLI_PATH, {"-p", QString("1-%1").arg(count), "--yes", "load",
                                    QString::fromStdString(files[round++ % 2])});
        cli.waitForFinished(120000);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        wall += seconds;
        cpu += childCpuSeconds() - cpuBefore;
        simCpu += simulatorsCpuSeconds(sims) - simBefore;
        failures += cli.exitCode() == 0 ? 0 : 1;
    }
    // Every unit's processes (its vxconf-cli, and the run's share) over the run's time.
    state.counters["cpu_per_unit_percent"] = 100.0 * cpu / wall / count;
    state.counters["sim_cpu_per_unit_percent"] = 100.0 * simCpu / wall / count;
    state.counters["failures"] = failures;
    for (auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(2000);
    }
}
BENCHMARK(BM_GangLoad)
    ->Arg(1)
    ->Arg(8)
    ->Arg(24)
    ->Arg(64)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// A station over a shift: 200 plug-ins, ten units at a time from two benches of simulators in
// turn, against the station's memory. The goal: flat, within 1 MB of what it held after the
// first 20.
long residentKb(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return 0;
}

void BM_StationPlugIns(benchmark::State& state) {
    constexpr int kBench = 10;
    constexpr int kRounds = 20;
    QTemporaryDir dir;
    QTemporaryDir watched;
    std::vector<std::unique_ptr<QProcess>> sims;
    std::vector<std::string> paths;
    for (int i = 0; i < 2 * kBench; ++i) {
        sims.push_back(std::make_unique<QProcess>());
        paths.push_back(
            startSimulator(*sims.back(), {"--no-pacing", "--serial", QString::number(2000 + i)}));
        if (paths.back().empty()) {
            state.SkipWithError("vx310sim did not start");
            return;
        }
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path());
    long afterTwenty = 0;
    long atEnd = 0;
    for (auto _ : state) {
        QProcess station;
        station.setProcessEnvironment(env);
        station.start(VXCONF_CLI_PATH, {"--watch-dir", watched.path(), "watch", "read"});
        station.waitForStarted();
        QByteArray err;
        const auto waitForOk = [&](int count) {
            QElapsedTimer clock;
            clock.start();
            while (err.count(": ok (") < count && clock.elapsed() < 60000) {
                station.waitForReadyRead(100);
                err += station.readAllStandardError();
            }
            return err.count(": ok (") >= count;
        };
        // Devices there before the watch begins are not new.
        while (!err.contains("Waiting for serial devices") && station.waitForReadyRead(5000)) {
            err += station.readAllStandardError();
        }
        err += station.readAllStandardError();
        for (int round = 0; round < kRounds; ++round) {
            const int first = (round % 2) * kBench;
            for (int i = first; i < first + kBench; ++i) {
                QFile::link(QString::fromStdString(paths[std::size_t(i)]),
                            watched.filePath(QString("unit%1").arg(i)));
            }
            if (!waitForOk((round + 1) * kBench)) {
                state.SkipWithError("the station did not provision every unit");
                break;
            }
            for (int i = first; i < first + kBench; ++i) {
                QFile::remove(watched.filePath(QString("unit%1").arg(i)));
            }
            if (round == 1) {
                afterTwenty = residentKb(station.processId());
            }
        }
        atEnd = residentKb(station.processId());
        station.terminate();
        station.waitForFinished(30000);
    }
    state.counters["rss_after_20_kb"] = double(afterTwenty);
    state.counters["rss_after_200_kb"] = double(atEnd);
    state.counters["growth_kb"] = double(atEnd - afterTwenty);
    for (auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(2000);
    }
}
BENCHMARK(BM_StationPlugIns)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
