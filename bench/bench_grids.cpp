// One full repaint of each grid kind at an alert window's size with a full list. The cost
// must follow the visible cells, not the list length: Rook with 100,000 rows should cost about
// what it costs with 1,000.

#include "Olvarra/BollingerGrid.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"

#include <QImage>
#include <QWidget>
#include <benchmark/benchmark.h>

namespace {

const QSize WindowSize(393, 480);
const char* const Symbols[] = {"AAPL", "MSFT", "IBM", "GOOGL", "AMZN", "NVDA", "TSLA", "META",
                               "NFLX", "INTC", "AMD", "ORCL", "CSCO", "QCOM", "AVGO", "ADBE"};

template <class TGrid>
struct TBenchHost {
    TBenchHost() : Image(WindowSize, QImage::Format_RGB32)
    {
        Owner.resize(WindowSize);
        Grid = new TGrid(&Owner);
        Grid->resize(WindowSize);
        Owner.show();
    }
    void Repaint(benchmark::State& state)
    {
        for (auto _ : state) {
            Grid->render(&Image);
            benchmark::DoNotOptimize(Image.constBits());
        }
        state.counters["cells"] = benchmark::Counter(double(Grid->DrawCellCount()) / double(state.iterations()));
    }
    QWidget Owner;
    TGrid* Grid;
    QImage Image;
};

void BM_RepaintQuickStrike(benchmark::State& state)
{
    TBenchHost<TQuickStrikeGrid> host;
    TFrontInsertList<TQuickStrikeEntry> list(1000);
    for (int i = 0; i < 1000; ++i) {
        TQuickStrikeEntry e;
        e.Symbol = Symbols[i % 16];
        e.Last = 10 + i * 0.37;
        e.PrevClose = e.Last - (i % 7 - 3) * 0.11;
        e.ExtraValue = (i % 5 - 2) * 0.123;
        e.Time = "09:31:02";
        list.InsertAtFront(e);
    }
    host.Grid->SetEntries(list.Snapshot());
    host.Grid->ResetDrawCellCount();
    host.Repaint(state);
}
BENCHMARK(BM_RepaintQuickStrike);

void BM_RepaintBollinger(benchmark::State& state)
{
    TBenchHost<TBollingerGrid> host;
    std::vector<TBollingerEntry> rows;
    for (int i = 0; i < 500; ++i) {
        TBollingerEntry e;
        e.Symbol = Symbols[i % 16];
        e.Last = 50 + i * 0.1;
        e.PrevClose = e.Last + (i % 3 - 1) * 0.5;
        e.DistFromBB = (i % 2 ? -1 : 1) * (500 - i) * 0.01;
        rows.push_back(e);
    }
    host.Grid->SetEntries(TBollingerEntries::FromVector(std::move(rows)));
    host.Grid->ResetDrawCellCount();
    host.Repaint(state);
}
BENCHMARK(BM_RepaintBollinger);

void BM_RepaintSymbolWall(benchmark::State& state)
{
    TBenchHost<TSymbolOnlyGrid> host;
    TFrontInsertList<TQuickStrikeEntry> list(1000);
    for (int i = 0; i < 1000; ++i) {
        TQuickStrikeEntry e;
        e.Symbol = Symbols[i % 16];
        list.InsertAtFront(e);
        host.Grid->SetEntries(list.Snapshot());
    }
    host.Grid->ResetDrawCellCount();
    host.Repaint(state);
}
BENCHMARK(BM_RepaintSymbolWall);

void BM_RepaintPointsList(benchmark::State& state)
{
    TBenchHost<TPointsTopListGrid> host;
    host.Grid->ShowVolumeColumn();
    std::vector<TPointsTopListEntry> rows;
    for (int i = 0; i < 1000; ++i) {
        TPointsTopListEntry e;
        e.Symbol = Symbols[i % 16];
        e.Last = 12.5 + i;
        e.Change = (i % 3 - 1) * 1.93;
        e.PercentVol = i * 0.7;
        rows.push_back(e);
    }
    host.Grid->SetEntries(TPointsTopListEntries::FromVector(std::move(rows)));
    host.Grid->ResetDrawCellCount();
    host.Repaint(state);
}
BENCHMARK(BM_RepaintPointsList);

void BM_RepaintRook(benchmark::State& state)
{
    TBenchHost<TRookGrid> host;
    host.Grid->SetTextColor(RGBColor(0, 255, 0));
    TFrontInsertList<TRookEntry> list;
    for (int i = 0; i < state.range(0); ++i) {
        TRookEntry e;
        e.Time = "10:41";
        e.Symbol = Symbols[i % 16];
        e.Change = (i % 9 - 4) * 0.37;
        e.BB = 100.0 / (i % 50 + 1);
        e.Volume = (i % 1000) * 12345;
        e.Count = i % 13;
        e.Rank = (i % 4) * 0.25;
        e.RV = (i % 20) * 0.5;
        list.InsertAtFront(e);
    }
    host.Grid->SetEntries(list.Snapshot());
    host.Grid->ResetDrawCellCount();
    host.Repaint(state);
}
BENCHMARK(BM_RepaintRook)->Arg(1000)->Arg(100000);

void BM_RepaintTamber(benchmark::State& state)
{
    TBenchHost<TTamberGrid> host;
    TFrontInsertList<TTamberEntry> list;
    for (int i = 0; i < 100000; ++i) {
        TTamberEntry e;
        e.Time = "11:02";
        e.Symbol = Symbols[i % 16];
        e.Last = 12.34 + i % 100;
        e.PrevClose = 12;
        e.PercentChange = (e.Last - 12) / 12 * 100;
        e.Change = e.Last - 12;
        e.Volume = (i % 1000) * 9876;
        e.Count = i % 12;
        list.InsertAtFront(e);
    }
    host.Grid->SetEntries(list.Snapshot());
    host.Grid->ResetDrawCellCount();
    host.Repaint(state);
}
BENCHMARK(BM_RepaintTamber);

} // namespace
