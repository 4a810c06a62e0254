// The full top list grid: one full repaint of a 100-row list at the alert window's initial
// size (393 x 480) into an image, with all fifteen columns and, for comparison, without the
// two dot-gauge columns; and the cost of receiving a 40-row list that has to wait (values
// copied in place, missing symbols named). Each repaint is also stated against a plain table
// view of the same cells (TableViewBaseline.h), which runs first.
#include "Olvarra/WexGridFull.h"
#include "Platform/Clock.h"
#include "TableViewBaseline.h"

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <benchmark/benchmark.h>

namespace {

TWexTopListEntries BenchList(int rows, int salt)
{
    TWexTopListEntries list;
    for (int i = 0; i < rows; ++i) {
        TWexTopListEntry e;
        e.Symbol = "SYM" + QByteArray::number((i * 7 + salt) % (rows + 5));
        e.PriceSpike = (i % 9 == 0) ? 8.5 : 1.5 + i % 5;
        e.VolRate = 0.1 * (i % 40);
        e.TodaysRange = 40 + i % 60;
        e.OpeningRange = 20 + i % 70;
        e.Strength = -10 + i % 20;
        e.UpTrend = -5 + i % 10;
        e.NearHigh = i % 15;
        e.NewHigh = (i % 5) / 4.0;
        e.NearLow = i % 12;
        e.NewLow = ((i + 2) % 5) / 4.0;
        e.Last = 10 + i * 1.37;
        e.Change = -2 + i * 0.05;
        e.Volume = 100'000 + i * 12'345;
        e.Count = i + 1;
        list.push_back(e);
    }
    return list;
}

struct TBenchGrid {
    explicit TBenchGrid(const QByteArray& columns)
    {
        Owner.resize(393, 480);
        Grid = new TWexTopListFullGrid(&Owner);
        Grid->setGeometry(Owner.rect());
        Owner.setAttribute(Qt::WA_DontShowOnScreen);
        Owner.show();
        Grid->SetColumns(columns);
    }
    QWidget Owner;
    TWexTopListFullGrid* Grid;
};

const QByteArray AllColumns = "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14";
const QByteArray WithoutGauges = "0,1,2,3,4,5,6,7,9,11,12,13,14";

void Repaint(benchmark::State& state, const QByteArray& columns, const QString& label)
{
    TBenchGrid b(columns);
    b.Grid->SetEntries(BenchList(100, 0));
    QImage image(b.Grid->viewport()->size(), QImage::Format_RGB32);
    b.Grid->ResetDrawCellCount();
    const double start = ThreadCpuSeconds();
    for (auto _ : state) {
        b.Grid->viewport()->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    const double perIteration = (ThreadCpuSeconds() - start) / double(state.iterations());
    // The cells painted: the columns cut at the right edge and the last row's part count.
    state.counters["cells"] = double(b.Grid->DrawCellCount()) / double(state.iterations());
    RecordGridRepaint(state, label, label, perIteration);
}

void TableViewLike(benchmark::State& state, const QByteArray& columns, const QString& label)
{
    TGridShape shape;
    {
        TBenchGrid b(columns);
        b.Grid->SetEntries(BenchList(100, 0));
        shape = ShapeOf(*b.Grid, *b.Grid->viewport(), b.Grid->viewport()->size());
    }
    RunTableView(state, label, shape, QSize(393, 480));
}

void BM_TableViewAsWexAllColumns(benchmark::State& state)
{
    TableViewLike(state, AllColumns, "WexAllColumns");
}
BENCHMARK(BM_TableViewAsWexAllColumns)->Unit(benchmark::kMicrosecond);

void BM_TableViewAsWexWithoutGauges(benchmark::State& state)
{
    TableViewLike(state, WithoutGauges, "WexWithoutGauges");
}
BENCHMARK(BM_TableViewAsWexWithoutGauges)->Unit(benchmark::kMicrosecond);

void BM_WexRepaintAllColumns(benchmark::State& state)
{
    Repaint(state, AllColumns, "WexAllColumns");
}
BENCHMARK(BM_WexRepaintAllColumns)->Unit(benchmark::kMicrosecond);

void BM_WexRepaintWithoutGauges(benchmark::State& state)
{
    Repaint(state, WithoutGauges, "WexWithoutGauges");
}
BENCHMARK(BM_WexRepaintWithoutGauges)->Unit(benchmark::kMicrosecond);

void BM_WexSetEntriesPending(benchmark::State& state)
{
    TManualClock clock; // never advanced: no list is ever due for sorting
    TScopedClock scope(&clock);
    TBenchGrid b("");
    b.Grid->SetEntries(BenchList(40, 0));
    const TWexTopListEntries lists[2] = {BenchList(40, 1), BenchList(40, 2)};
    int n = 0;
    for (auto _ : state)
        b.Grid->SetEntries(lists[n++ & 1]);
    if (!b.Grid->GetSortPending())
        state.SkipWithError("the list was applied instead of waiting");
    state.SetItemsProcessed(state.iterations() * 40);
}
BENCHMARK(BM_WexSetEntriesPending)->Unit(benchmark::kMicrosecond);

} // namespace
