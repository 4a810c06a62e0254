// The benchmark program: every bench_*.cpp registers its benchmarks; this file runs them.
// Figures are reported as ratios against baselines measured in the same run where possible.
#include <QApplication>
#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    // Grid benchmarks paint widgets; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
