// A repaint as the flood causes it: one new alert at the front of a full list, then the whole
// visible list painted again (every row one lower, the new row's texts never seen before).

#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"

#include <QImage>
#include <QWidget>
#include <benchmark/benchmark.h>

namespace {

const QSize WindowSize(393, 480);
const char* const Symbols[] = {"AAPL", "MSFT", "IBM", "GOOGL", "AMZN", "NVDA", "TSLA", "META",
                               "NFLX", "INTC", "AMD", "ORCL", "CSCO", "QCOM", "AVGO", "ADBE"};

template <class TGrid, class TEntry>
void RepaintAfterInsert(benchmark::State& state, TEntry (*make)(int))
{
    QWidget owner;
    owner.resize(WindowSize);
    auto* grid = new TGrid(&owner);
    grid->resize(WindowSize);
    owner.show();
    TFrontInsertList<TEntry> list(1000);
    int n = 0;
    for (; n < 1000; ++n)
        list.InsertAtFront(make(n));
    grid->SetEntries(list.Snapshot());
    QImage image(WindowSize, QImage::Format_RGB32);
    grid->render(&image);
    for (auto _ : state) {
        list.InsertAtFront(make(n++));
        grid->SetEntries(list.Snapshot());
        grid->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

TQuickStrikeEntry QuickStrikeAlert(int i)
{
    TQuickStrikeEntry e;
    e.Symbol = Symbols[i % 16];
    e.Last = 10 + (i % 9973) * 0.01; // a price not drawn in a long while
    e.PrevClose = e.Last - (i % 7 - 3) * 0.11;
    e.ExtraValue = (i % 5 - 2) * 0.123;
    e.Time = "09:31:02";
    return e;
}

TRookEntry RookAlert(int i)
{
    TRookEntry e;
    e.Time = "10:41";
    e.Symbol = Symbols[i % 16];
    e.Change = (i % 9 - 4) * 0.37;
    e.BB = 100.0 / (i % 50 + 1);
    e.Volume = (i % 100003) * 123;
    e.Count = i % 13;
    e.Rank = (i % 4) * 0.25;
    e.RV = (i % 20) * 0.5;
    return e;
}

void BM_RepaintAfterInsertQuickStrike(benchmark::State& state)
{
    RepaintAfterInsert<TQuickStrikeGrid>(state, QuickStrikeAlert);
}
BENCHMARK(BM_RepaintAfterInsertQuickStrike);

void BM_RepaintAfterInsertRook(benchmark::State& state)
{
    RepaintAfterInsert<TRookGrid>(state, RookAlert);
}
BENCHMARK(BM_RepaintAfterInsertRook);

} // namespace
