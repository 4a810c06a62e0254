// The Bollinger list's cost against the rows it keeps. "Plain" is the rule as the window used
// to keep it (a scan from the top for each add, the whole vector copied for each hand-over),
// measured in the same run as the baseline.
//
// - Add at 100 and at 10,000 rows: one symbol re-added with a new distance (its row moves)
//   and the list handed over; the list alone, and the window's whole record path.
// - A flood of 50,000 distinct symbols as "add" through the record path into list and grid;
//   CPU time of the whole flood.

#include "Olvarra/AlertRecords.h"
#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/BollingerGrid.h"
#include "Olvarra/BollingerList.h"
#include "Olvarra/ConfigFile.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"
#include "bench/PlainBollingerScan.h"

#include <QWidget>
#include <benchmark/benchmark.h>
#include <memory>
#include <random>
#include <vector>

namespace {

QByteArray Symbol(int i)
{
    return "S" + QByteArray::number(i);
}

// Distances in hundredths, so that equal distances occur now and then.
QByteArray Distance(std::mt19937& random)
{
    return QByteArray::number(double(int(random() % 20001) - 10000) / 100, 'f', 2);
}

QByteArray AddBody(const QByteArray& symbol, const QByteArray& dist)
{
    return "bollinger\r\naction=add&symbol=" + symbol + "&last=25.10&prev_close=24.90&dist_from_bb=" + dist + "\r\n";
}

TBollingerEntry Entry(const QByteArray& symbol, double dist)
{
    TBollingerEntry e;
    e.Symbol = symbol;
    e.Last = 25.1;
    e.PrevClose = 24.9;
    e.DistFromBB = dist;
    return e;
}

template <class TList>
void ListAdd(benchmark::State& state)
{
    const int rows = int(state.range(0));
    std::mt19937 random(7);
    TList list;
    for (int i = 0; i < rows; ++i)
        list.Add(Entry(Symbol(i), double(int(random() % 20001) - 10000) / 100));
    std::vector<TBollingerEntry> adds;
    for (int i = 0; i < 4096; ++i)
        adds.push_back(Entry(Symbol(int(random() % quint32(rows))), double(int(random() % 20001) - 10000) / 100));
    size_t i = 0;
    for (auto _ : state) {
        list.Add(adds[i++ % adds.size()]);
        TBollingerEntries shown = list.Snapshot();
        benchmark::DoNotOptimize(shown);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_TEMPLATE(ListAdd, TBollingerList)->Arg(100)->Arg(10000)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(ListAdd, TPlainBollingerScan)->Arg(100)->Arg(10000)->Repetitions(3)->ReportAggregatesOnly(true);

std::unique_ptr<TAlertForm> BollingerWindow()
{
    auto window = std::make_unique<TAlertForm>();
    window->LoadSettings(TConfigFile::FromText("[w]\nsubscription=bollinger\ndisplay=set\n"), "w");
    window->show(); // each hand-over marks the grid for repaint as it does in use
    return window;
}

void WindowAdd(benchmark::State& state)
{
    const int rows = int(state.range(0));
    std::mt19937 random(7);
    auto window = BollingerWindow();
    for (int i = 0; i < rows; ++i)
        window->HandleAlertMessage(AddBody(Symbol(i), Distance(random)));
    std::vector<QByteArray> bodies;
    for (int i = 0; i < 4096; ++i)
        bodies.push_back(AddBody(Symbol(int(random() % quint32(rows))), Distance(random)));
    size_t i = 0;
    for (auto _ : state)
        window->HandleAlertMessage(bodies[i++ % bodies.size()]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(WindowAdd)->Arg(100)->Arg(10000)->Repetitions(3)->ReportAggregatesOnly(true);

std::vector<QByteArray> FloodBodies(int count)
{
    std::mt19937 random(11);
    std::vector<QByteArray> bodies;
    bodies.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        bodies.push_back(AddBody(Symbol(i), Distance(random)));
    return bodies;
}

// The window as it is.
void Flood(benchmark::State& state)
{
    const auto bodies = FloodBodies(int(state.range(0)));
    for (auto _ : state) {
        auto window = BollingerWindow();
        for (const QByteArray& body : bodies)
            window->HandleAlertMessage(body);
        benchmark::DoNotOptimize(window->GetAlertGrid()->EntryCount());
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    state.counters["alerts"] = double(bodies.size());
}
BENCHMARK(Flood)->Arg(50000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same path with the plain rule: category line, parse, record, rule, hand-over to a
// shown grid, as the window did it.
void PlainFlood(benchmark::State& state)
{
    const auto bodies = FloodBodies(int(state.range(0)));
    for (auto _ : state) {
        QWidget owner;
        auto* grid = new TBollingerGrid(&owner);
        owner.show();
        TPlainBollingerScan list;
        for (const QByteArray& body : bodies) {
            tHashTable fields;
            ParseForm(AlertFieldList(body), fields);
            if (list.Apply(GetText(fields, "action"), ReadBollingerEntry(fields)))
                grid->SetEntries(list.Snapshot());
        }
        benchmark::DoNotOptimize(grid->EntryCount());
    }
    state.counters["alerts"] = double(bodies.size());
}
BENCHMARK(PlainFlood)->Arg(10000)->Arg(50000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
