#include <benchmark/benchmark.h>

#include <QCoreApplication>

// The benchmarks use Qt's ports and timers: they need an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
