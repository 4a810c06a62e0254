// Cost of one alert in an alert window: category test, field parsing, the kind's list rule and
// the hand-over to the grid (which marks itself for repaint; the paint itself is measured by
// the grid benchmarks). The Rook window keeps every row, so its figure at 100,000 rows shows
// whether the per-alert cost grows with the list.

#include "bench/AllocationCount.h"
#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/ConfigFile.h"

#include <QByteArray>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

// Heap allocations per alert since the count was taken (steady state: the list is full).
void CountAllocations(benchmark::State& state, long long since)
{
    state.counters["allocs"] = benchmark::Counter(double(AllocationCount() - since) / double(state.iterations()));
}

std::unique_ptr<TAlertForm> MakeBenchWindow(const QByteArray& subscription, const QByteArray& display)
{
    auto window = std::make_unique<TAlertForm>();
    window->LoadSettings(TConfigFile::FromText("[Alert Window 0]\nsubscription=" + subscription
                                               + "\ndisplay=" + display + "\n"),
                         "Alert Window 0");
    // Shown, so that each hand-over really marks the grid for repaint as it does in use.
    window->show();
    return window;
}

std::vector<QByteArray> QuickStrikeBodies()
{
    std::vector<QByteArray> bodies;
    for (int i = 0; i < 64; ++i)
        bodies.push_back("quickstrike\r\nsymbol=SYM" + QByteArray::number(i) + "&last=25." + QByteArray::number(i)
                         + "&prev_close=25.00&sma_divergence=1.25&time=09%3A31%3A" + QByteArray::number(i % 60)
                         + "\r\n");
    return bodies;
}

std::vector<QByteArray> RookBodies()
{
    std::vector<QByteArray> bodies;
    for (int i = 0; i < 64; ++i)
        bodies.push_back("rook\r\ntime=09%3A31%3A05&symbol=SYM" + QByteArray::number(i)
                         + "&change=0.31&bb=1.2&volume=" + QByteArray::number(1000 + i * 37)
                         + "&count=3&rank=0.5&rv=2.1\r\n");
    return bodies;
}

// A QuickStrike window already holding its full 1000 rows.
void BM_QuickStrikeAlertAtCap(benchmark::State& state)
{
    const auto bodies = QuickStrikeBodies();
    auto window = MakeBenchWindow("quickstrike", "");
    for (int i = 0; i < 1000; ++i)
        window->HandleAlertMessage(bodies[size_t(i) % bodies.size()]);
    size_t i = 0;
    const long long allocations = AllocationCount();
    for (auto _ : state)
        window->HandleAlertMessage(bodies[i++ % bodies.size()]);
    state.SetItemsProcessed(state.iterations());
    CountAllocations(state, allocations);
}
BENCHMARK(BM_QuickStrikeAlertAtCap);

// A Rook window prefilled with range(0) rows. It keeps every row, so each run adds a
// bounded number of alerts to a fresh window and the list stays near its starting size.
void BM_RookAlert(benchmark::State& state)
{
    const auto bodies = RookBodies();
    auto window = MakeBenchWindow("rook", "rook-simplelist");
    for (int64_t i = 0; i < state.range(0); ++i)
        window->HandleAlertMessage(bodies[size_t(i) % bodies.size()]);
    size_t i = 0;
    const long long allocations = AllocationCount();
    for (auto _ : state)
        window->HandleAlertMessage(bodies[i++ % bodies.size()]);
    state.SetItemsProcessed(state.iterations());
    CountAllocations(state, allocations);
}
BENCHMARK(BM_RookAlert)->Arg(1000)->Arg(100000)->Iterations(2000)->Repetitions(5)->ReportAggregatesOnly(true);

// What a window of another category spends on a message: the category test only.
void BM_OtherCategoryAlert(benchmark::State& state)
{
    const auto bodies = QuickStrikeBodies();
    auto window = MakeBenchWindow("bollinger", "set");
    size_t i = 0;
    for (auto _ : state)
        window->HandleAlertMessage(bodies[i++ % bodies.size()]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OtherCategoryAlert);

} // namespace
