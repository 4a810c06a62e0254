// The benchmark program: every bench_*.cpp registers its benchmarks; this file runs them.
// Figures are reported as ratios against baselines measured in the same run where possible.
#include "TableViewBaseline.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {
// Benchmarks show windows on the offscreen platform, which says on every show that it cannot
// raise them; that says nothing about the figures.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.contains(QLatin1String("does not support raise()")))
        return;
    qt_message_output(type, context, text);
}
} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(QuietMessages);
    // Grid benchmarks paint widgets; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintTableViewRatios();
    benchmark::Shutdown();
    return 0;
}
