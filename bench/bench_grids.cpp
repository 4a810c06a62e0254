// One full repaint of each grid kind at an alert window's size with a full list. The cost
// must follow the visible cells, not the list length: Rook with 100,000 rows should cost about
// what it costs with 1,000. Each kind's repaint is measured against a plain table view that
// paints the same cells (TableViewBaseline.h), registered first so that the grid's own
// benchmark can state the ratio.

#include "Olvarra/BollingerGrid.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"
#include "TableViewBaseline.h"

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
    void Repaint(benchmark::State& state, const QString& label, const QString& kind)
    {
        const double start = ThreadCpuSeconds();
        for (auto _ : state) {
            Grid->render(&Image);
            benchmark::DoNotOptimize(Image.constBits());
        }
        const double perIteration = (ThreadCpuSeconds() - start) / double(state.iterations());
        state.counters["cells"] = benchmark::Counter(double(Grid->DrawCellCount()) / double(state.iterations()));
        RecordGridRepaint(state, label, kind, perIteration);
    }
    QWidget Owner;
    TGrid* Grid;
    QImage Image;
};

// The table view that paints what the grid, filled as its benchmark fills it, paints.
template <class TGrid>
void TableViewLike(benchmark::State& state, const QString& kind, void (*fill)(TGrid&, int), int rows)
{
    TGridShape shape;
    {
        TBenchHost<TGrid> host;
        fill(*host.Grid, rows);
        shape = ShapeOf(*host.Grid, *host.Grid, WindowSize);
    }
    RunTableView(state, kind, shape, WindowSize);
}

// ---- the lists, as full as an alert window's are ----

TQuickStrikeEntry QuickStrikeRow(int i)
{
    TQuickStrikeEntry e;
    e.Symbol = Symbols[i % 16];
    e.Last = 10 + i * 0.37;
    e.PrevClose = e.Last - (i % 7 - 3) * 0.11;
    e.ExtraValue = (i % 5 - 2) * 0.123;
    e.Time = "09:31:02";
    return e;
}

TRookEntry RookRow(int i)
{
    TRookEntry e;
    e.Time = "10:41";
    e.Symbol = Symbols[i % 16];
    e.Change = (i % 9 - 4) * 0.37;
    e.BB = 100.0 / (i % 50 + 1);
    e.Volume = (i % 1000) * 12345;
    e.Count = i % 13;
    e.Rank = (i % 4) * 0.25;
    e.RV = (i % 20) * 0.5;
    return e;
}

void FillQuickStrike(TQuickStrikeGrid& grid, int)
{
    TFrontInsertList<TQuickStrikeEntry> list(1000);
    for (int i = 0; i < 1000; ++i)
        list.InsertAtFront(QuickStrikeRow(i));
    grid.SetEntries(list.Snapshot());
}

void FillBollinger(TBollingerGrid& grid, int)
{
    std::vector<TBollingerEntry> rows;
    for (int i = 0; i < 500; ++i) {
        TBollingerEntry e;
        e.Symbol = Symbols[i % 16];
        e.Last = 50 + i * 0.1;
        e.PrevClose = e.Last + (i % 3 - 1) * 0.5;
        e.DistFromBB = (i % 2 ? -1 : 1) * (500 - i) * 0.01;
        rows.push_back(e);
    }
    grid.SetEntries(TBollingerEntries::FromVector(std::move(rows)));
}

void FillSymbolWall(TSymbolOnlyGrid& grid, int)
{
    TFrontInsertList<TQuickStrikeEntry> list(1000);
    for (int i = 0; i < 1000; ++i) {
        TQuickStrikeEntry e;
        e.Symbol = Symbols[i % 16];
        list.InsertAtFront(e);
        grid.SetEntries(list.Snapshot());
    }
}

void FillPointsList(TPointsTopListGrid& grid, int)
{
    grid.ShowVolumeColumn();
    std::vector<TPointsTopListEntry> rows;
    for (int i = 0; i < 1000; ++i) {
        TPointsTopListEntry e;
        e.Symbol = Symbols[i % 16];
        e.Last = 12.5 + i;
        e.Change = (i % 3 - 1) * 1.93;
        e.PercentVol = i * 0.7;
        rows.push_back(e);
    }
    grid.SetEntries(TPointsTopListEntries::FromVector(std::move(rows)));
}

void FillRook(TRookGrid& grid, int count)
{
    grid.SetTextColor(RGBColor(0, 255, 0));
    TFrontInsertList<TRookEntry> list;
    for (int i = 0; i < count; ++i)
        list.InsertAtFront(RookRow(i));
    grid.SetEntries(list.Snapshot());
}

void FillTamber(TTamberGrid& grid, int)
{
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
    grid.SetEntries(list.Snapshot());
}

template <class TGrid>
void Repaint(benchmark::State& state, const QString& label, const QString& kind, void (*fill)(TGrid&, int), int rows)
{
    TBenchHost<TGrid> host;
    fill(*host.Grid, rows);
    host.Grid->ResetDrawCellCount();
    host.Repaint(state, label, kind);
}

// ---- the baselines first: the grids' benchmarks below compare themselves with them ----

void BM_TableViewAsQuickStrike(benchmark::State& state)
{
    TableViewLike<TQuickStrikeGrid>(state, "QuickStrike", FillQuickStrike, 0);
}
BENCHMARK(BM_TableViewAsQuickStrike);

void BM_TableViewAsBollinger(benchmark::State& state)
{
    TableViewLike<TBollingerGrid>(state, "Bollinger", FillBollinger, 0);
}
BENCHMARK(BM_TableViewAsBollinger);

void BM_TableViewAsSymbolWall(benchmark::State& state)
{
    TableViewLike<TSymbolOnlyGrid>(state, "SymbolWall", FillSymbolWall, 0);
}
BENCHMARK(BM_TableViewAsSymbolWall);

void BM_TableViewAsPointsList(benchmark::State& state)
{
    TableViewLike<TPointsTopListGrid>(state, "PointsList", FillPointsList, 0);
}
BENCHMARK(BM_TableViewAsPointsList);

// Rook paints the same cells with 1,000 rows as with 100,000: one baseline serves both.
void BM_TableViewAsRook(benchmark::State& state)
{
    TableViewLike<TRookGrid>(state, "Rook", FillRook, 1000);
}
BENCHMARK(BM_TableViewAsRook);

void BM_TableViewAsTamber(benchmark::State& state)
{
    TableViewLike<TTamberGrid>(state, "Tamber", FillTamber, 0);
}
BENCHMARK(BM_TableViewAsTamber);

// ---- the grids ----

void BM_RepaintQuickStrike(benchmark::State& state)
{
    Repaint<TQuickStrikeGrid>(state, "QuickStrike", "QuickStrike", FillQuickStrike, 0);
}
BENCHMARK(BM_RepaintQuickStrike);

void BM_RepaintBollinger(benchmark::State& state)
{
    Repaint<TBollingerGrid>(state, "Bollinger", "Bollinger", FillBollinger, 0);
}
BENCHMARK(BM_RepaintBollinger);

void BM_RepaintSymbolWall(benchmark::State& state)
{
    Repaint<TSymbolOnlyGrid>(state, "SymbolWall", "SymbolWall", FillSymbolWall, 0);
}
BENCHMARK(BM_RepaintSymbolWall);

void BM_RepaintPointsList(benchmark::State& state)
{
    Repaint<TPointsTopListGrid>(state, "PointsList", "PointsList", FillPointsList, 0);
}
BENCHMARK(BM_RepaintPointsList);

void BM_RepaintRook(benchmark::State& state)
{
    const int rows = int(state.range(0));
    Repaint<TRookGrid>(state, QStringLiteral("Rook/%1").arg(rows), "Rook", FillRook, rows);
}
BENCHMARK(BM_RepaintRook)->Arg(1000)->Arg(100000);

void BM_RepaintTamber(benchmark::State& state)
{
    Repaint<TTamberGrid>(state, "Tamber", "Tamber", FillTamber, 0);
}
BENCHMARK(BM_RepaintTamber);

// ---- a repaint as the flood causes it: one new alert at the front of a full list, then the
// whole visible list painted again (every row one lower, the new row's texts never seen) ----

template <class TGrid, class TEntry>
void RepaintAfterInsert(benchmark::State& state, TEntry (*row)(int))
{
    TBenchHost<TGrid> host;
    TFrontInsertList<TEntry> list(1000);
    int n = 0;
    for (; n < 1000; ++n)
        list.InsertAtFront(row(n));
    host.Grid->SetEntries(list.Snapshot());
    host.Grid->render(&host.Image);
    for (auto _ : state) {
        list.InsertAtFront(row(n++));
        host.Grid->SetEntries(list.Snapshot());
        host.Grid->render(&host.Image);
        benchmark::DoNotOptimize(host.Image.constBits());
    }
}

void BM_RepaintAfterInsertQuickStrike(benchmark::State& state)
{
    RepaintAfterInsert<TQuickStrikeGrid>(state, QuickStrikeRow);
}
BENCHMARK(BM_RepaintAfterInsertQuickStrike);

void BM_RepaintAfterInsertRook(benchmark::State& state)
{
    RepaintAfterInsert<TRookGrid>(state, RookRow);
}
BENCHMARK(BM_RepaintAfterInsertRook);

} // namespace
