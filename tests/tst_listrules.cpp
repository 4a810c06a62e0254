// labels: windows toplist
// The list rules without any widget: the Bollinger list (order by distance, one row per
// symbol, two-minute expiry) and the full top list's ordering (deferred re-sort, freezing,
// missing symbols).

#include "Olvarra/BollingerList.h"
#include "Olvarra/Recycling.h"
#include "Olvarra/RowLists.h"
#include "bench/PlainBollingerScan.h"
#include "Olvarra/WexTopListOrder.h"
#include "Platform/Clock.h"

#include <QtTest>
#include <random>

namespace {

using TSymbols = QList<QByteArray>;

// "" for a missing distance.
TBollingerEntry Bollinger(const QByteArray& symbol, const QByteArray& dist = "")
{
    TBollingerEntry e;
    e.Symbol = symbol;
    bool ok = false;
    const double d = dist.toDouble(&ok);
    e.DistFromBB = ok ? d : NaN;
    e.Received = Clock().MonotonicMs();
    return e;
}

TSymbols Rows(const TBollingerList& list)
{
    const TBollingerEntries rows = list.Snapshot();
    TSymbols out;
    for (qsizetype i = 0; i < rows.size(); ++i)
        out.append(rows[i].Symbol);
    return out;
}

TWexTopListEntries List(std::initializer_list<const char*> symbols, double last = 10)
{
    TWexTopListEntries list;
    for (const char* s : symbols) {
        TWexTopListEntry e;
        e.Symbol = s;
        e.Last = last;
        list.push_back(e);
    }
    return list;
}

TSymbols Symbols(const TWexTopListEntries& list)
{
    TSymbols out;
    for (const TWexTopListEntry& e : list)
        out << e.Symbol;
    return out;
}

} // namespace

class TestListRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---- the Bollinger list ----------------------------------------------------------------

    void BollingerOrder()
    {
        TBollingerList list;
        auto add = [&](const QByteArray& symbol, const QByteArray& dist) { list.Add(Bollinger(symbol, dist)); };
        add("IBM", "-3");
        add("MSFT", "2");
        add("AAPL", "3");
        QCOMPARE(Rows(list), (TSymbols{"AAPL", "IBM", "MSFT"}));
        add("MSFT", "5");
        QCOMPARE(Rows(list), (TSymbols{"MSFT", "AAPL", "IBM"}));
        add("MSFT", "-0.5"); // down to the bottom
        add("AAPL", "1"); // down past a larger distance
        QCOMPARE(Rows(list), (TSymbols{"IBM", "AAPL", "MSFT"}));
        add("ZZ", "1");
        add("AB", "-1");
        add("ZZ", "3"); // up, past rows of its old distance
        QCOMPARE(Rows(list), (TSymbols{"IBM", "ZZ", "AAPL", "AB", "MSFT"}));
        QCOMPARE(list.Symbols(), (TSymbols{"AAPL", "AB", "IBM", "MSFT", "ZZ"}));

        // A missing distance goes to the top and is never passed: later rows stop above it.
        TBollingerList gaps;
        gaps.Add(Bollinger("B", "1"));
        gaps.Add(Bollinger("NONE"));
        gaps.Add(Bollinger("C", "9"));
        gaps.Add(Bollinger("A", "0.5"));
        QCOMPARE(Rows(gaps), (TSymbols{"C", "A", "NONE", "B"}));
        gaps.Add(Bollinger("B", "x"));
        QCOMPARE(Rows(gaps), (TSymbols{"B", "C", "A", "NONE"}));
    }

    void BollingerDeleteAndOtherActions()
    {
        TBollingerList list;
        for (const char* s : {"A", "B", "C"})
            QVERIFY(list.Apply("add", Bollinger(s, "1")));
        QVERIFY(!list.Apply("delete", Bollinger("NEVER")));
        QVERIFY(!list.Apply("delete", Bollinger("b"))); // rows match exact case
        QCOMPARE(Rows(list), (TSymbols{"A", "B", "C"}));

        QVERIFY(list.Apply("delete", Bollinger("B")));
        QCOMPARE(Rows(list), (TSymbols{"A", "C"}));
        QCOMPARE(list.Symbols(), (TSymbols{"A", "C"}));

        // Another action, or none, changes nothing but is shown again.
        QVERIFY(list.Apply("remove", Bollinger("A")));
        QVERIFY(list.Apply("", Bollinger("C", "7")));
        QCOMPARE(Rows(list), (TSymbols{"A", "C"}));
        QCOMPARE(list.Snapshot()[1].DistFromBB, 1.0);

        // The symbol set ignores case, the rows do not: "c" is a second row under one set entry.
        list.Add(Bollinger("c", "1"));
        QCOMPARE(Rows(list), (TSymbols{"A", "C", "c"}));
        QVERIFY(list.Delete("c"));
        QVERIFY(list.Delete("A"));
        QCOMPARE(Rows(list), (TSymbols{"C"}));
        QVERIFY(list.Symbols().isEmpty());
    }

    void BollingerExpiry()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TBollingerList list;
        list.Add(Bollinger("OLD", "3"));
        clock.Advance(60'000);
        list.Add(Bollinger("NEW", "2"));
        clock.Advance(59'999);
        QVERIFY(!list.Expire(clock.MonotonicMs())); // nothing expired: nothing to show again

        clock.Advance(1); // two minutes since OLD's add
        QVERIFY(list.Expire(clock.MonotonicMs()));
        QCOMPARE(Rows(list), (TSymbols{"NEW"}));
        QCOMPARE(list.Symbols(), (TSymbols{"NEW"}));

        // A repeated add restarts the life; a wall-clock jump changes nothing.
        clock.Advance(30'000);
        list.Add(Bollinger("NEW", "2"));
        clock.SetLocal(clock.LocalNow().addSecs(3600));
        clock.Advance(119'999);
        QVERIFY(!list.Expire(clock.MonotonicMs()));
        QCOMPARE(Rows(list), (TSymbols{"NEW"}));
        clock.Advance(1);
        QVERIFY(list.Expire(clock.MonotonicMs()));
        QCOMPARE(list.size(), 0);
    }

    // An allocation that fails in the middle of an "add" (a new row or a moved one) leaves a
    // list that answers for exactly the rows it shows: each of them found once and removed
    // alone, nothing found that is not. With an earlier version held the change copies its
    // path; without one, only a node that splits allocates.
    void BollingerAddThatRunsOutOfMemory()
    {
        const auto build = [](TBollingerList& list) {
            std::mt19937 random(3);
            for (int i = 0; i < 200; ++i)
                list.Add(Bollinger("S" + QByteArray::number(i), QByteArray::number(int(random() % 50))));
        };
        // Adds the symbol with allocations failing after the allowed ones; whether it failed.
        const auto addFailing = [&](const QByteArray& symbol, const QByteArray& dist, int allowed, bool hold) {
            TBollingerList list;
            build(list);
            const TBollingerEntries held = hold ? list.Snapshot() : TBollingerEntries();
            RecyclingFailAfter = allowed;
            bool failed = false;
            try {
                list.Add(Bollinger(symbol, dist));
            } catch (const std::bad_alloc&) {
                failed = true;
            }
            RecyclingFailAfter = -1;
            TSymbols shown = Rows(list);
            [&] {
                QCOMPARE(QSet<QByteArray>(shown.begin(), shown.end()).size(), shown.size());
                QCOMPARE(list.Symbols().size(), shown.size());
                // Every row is found and removed alone; then the list is empty and whole.
                std::shuffle(shown.begin(), shown.end(), std::mt19937(allowed));
                for (const QByteArray& s : shown) {
                    const qsizetype before = list.size();
                    QVERIFY2(list.Delete(s), s.constData());
                    QCOMPARE(list.size(), before - 1);
                }
                QVERIFY(!list.Delete(symbol));
                QVERIFY(list.Symbols().isEmpty());
                list.Add(Bollinger(symbol, "1"));
                QCOMPARE(Rows(list), TSymbols{symbol});
                QCOMPARE(held.size(), qsizetype(hold ? 200 : 0));
            }();
            return failed;
        };
        for (const QByteArray& symbol : {QByteArray("S17"), QByteArray("NEW")}) {
            int failures = 0;
            for (int allowed = 0; allowed < 40 && !QTest::currentTestFailed(); ++allowed)
                failures += addFailing(symbol, "24.5", allowed, true);
            // The countdown reached the change: the copies of the root, an inner node and a
            // leaf on the path, at least.
            QVERIFY2(failures >= 3, symbol.constData());
        }
        int splits = 0;
        for (int dist = 0; dist < 50 && !QTest::currentTestFailed(); ++dist)
            for (const QByteArray& symbol : {QByteArray("S17"), QByteArray("NEW")})
                for (const char* fraction : {"", ".5"})
                    splits += addFailing(symbol, QByteArray::number(dist) + fraction, 0, false);
        QVERIFY(splits > 0); // some of those adds met a full leaf
    }

    // The tree keeps exactly the order of the plain scan, through random adds, deletes,
    // other actions and expiry, with missing and equal distances and symbols that differ only
    // in letter case (which give the scan its duplicate rows), also past their eighth byte and
    // in Latin-1 letters; with and without snapshots held across the changes.
    void BollingerMatchesThePlainScan()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        const QByteArray symbols[] = {"A", "a", "B", "b", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L",
                                      "LONGNAME.X", "LONGNAME.x", "longname.X", "\xC9", "\xE9"};
        const QByteArray distances[] = {"", "x", "0", "-0", "1", "-1", "1.5", "2", "-2", "3", "7.25", "-7.25"};
        for (quint32 seed = 1; seed <= 40; ++seed) {
            std::mt19937 random(seed);
            auto pick = [&](int n) { return int(random() % quint32(n)); };
            TBollingerList tree;
            TPlainBollingerScan plain;
            TBollingerEntries earlier = tree.Snapshot();
            std::vector<TBollingerEntry> earlierRows;
            for (int step = 0; step < 600; ++step) {
                const int what = pick(20);
                const TBollingerEntry e =
                    Bollinger(symbols[pick(std::size(symbols))], distances[pick(std::size(distances))]);
                if (what < 13) {
                    tree.Add(e);
                    plain.Add(e);
                } else if (what < 17) {
                    QCOMPARE(tree.Delete(e.Symbol), plain.Delete(e.Symbol));
                } else if (what < 18) {
                    QCOMPARE(tree.Apply("other", e), plain.Apply("other", e));
                } else {
                    clock.Advance(qint64(random() % 50'000));
                    QCOMPARE(tree.Expire(clock.MonotonicMs()), plain.Expire(clock.MonotonicMs()));
                }
                const TBollingerEntries now = tree.Snapshot();
                QCOMPARE(now.size(), qsizetype(plain.GetRows().size()));
                for (qsizetype i = 0; i < now.size(); ++i) {
                    const TBollingerEntry& want = plain.GetRows()[size_t(i)];
                    QVERIFY2(now[i].Symbol == want.Symbol && now[i].Received == want.Received
                                 && (now[i].DistFromBB == want.DistFromBB
                                     || (std::isnan(now[i].DistFromBB) && std::isnan(want.DistFromBB))),
                             qPrintable(QStringLiteral("seed %1 step %2 row %3").arg(seed).arg(step).arg(i)));
                }
                QCOMPARE(tree.Symbols().size(), plain.Symbols().size());
                for (qsizetype i = 0; i < plain.Symbols().size(); ++i)
                    QCOMPARE(tree.Symbols()[i].toLower(), plain.Symbols()[i].toLower());
                // An earlier snapshot is left as it was.
                QCOMPARE(earlier.size(), qsizetype(earlierRows.size()));
                for (qsizetype i = 0; i < earlier.size(); ++i)
                    QCOMPARE(earlier[i].Symbol, earlierRows[size_t(i)].Symbol);
                // Changes made while no snapshot holds the tree change it in place: some runs
                // keep every snapshot, some none, some every fifth.
                const bool keep = seed % 3 == 0 || (seed % 3 == 2 && step % 5 == 0);
                earlier = keep ? now : TBollingerEntries();
                earlierRows = keep ? plain.GetRows() : std::vector<TBollingerEntry>();
            }
        }
    }

    // The same at thousands of rows, so that leaves and inner nodes split, empty and go, the
    // root grows and shrinks, and expiry builds the tree afresh: many symbols (with letter-case
    // twins), few distances, and bursts of adds, of deletes and of expiry.
    void BollingerMatchesThePlainScanAtThousandsOfRows()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        std::mt19937 random(12);
        auto pick = [&](int n) { return int(random() % quint32(n)); };
        const auto symbol = [&] {
            const int i = pick(5000);
            return i % 10 == 0 ? "s" + QByteArray::number(i + 1) : "S" + QByteArray::number(i);
        };
        // A row without a distance stops every later add above it, so those are rare here.
        const QByteArray distances[] = {"0", "1", "-1", "2.5", "3", "-3", "4", "9", "-9", "12"};
        const auto distance = [&] { return pick(300) == 0 ? QByteArray() : distances[pick(std::size(distances))]; };
        TBollingerList tree;
        TPlainBollingerScan plain;
        TBollingerEntries held;
        std::vector<TBollingerEntry> heldRows;
        const auto same = [&](const TBollingerEntries& rows, const std::vector<TBollingerEntry>& want) {
            QCOMPARE(rows.size(), qsizetype(want.size()));
            for (qsizetype i = 0; i < rows.size(); ++i)
                QVERIFY2(rows[i].Symbol == want[size_t(i)].Symbol && rows[i].Received == want[size_t(i)].Received,
                         qPrintable(QStringLiteral("row %1 of %2").arg(i).arg(rows.size())));
        };
        for (int burst = 0; burst < 80 && !QTest::currentTestFailed(); ++burst) {
            const int kind = pick(10);
            const int steps = 50 + pick(400);
            for (int step = 0; step < steps; ++step) {
                const TBollingerEntry e = Bollinger(symbol(), distance());
                if (kind < 6) {
                    tree.Add(e);
                    plain.Add(e);
                } else if (kind < 9) {
                    QCOMPARE(tree.Delete(e.Symbol), plain.Delete(e.Symbol));
                } else {
                    clock.Advance(qint64(pick(1'000)));
                    QCOMPARE(tree.Expire(clock.MonotonicMs()), plain.Expire(clock.MonotonicMs()));
                }
                clock.Advance(qint64(pick(20)));
            }
            same(tree.Snapshot(), plain.GetRows());
            same(held, heldRows);
            QCOMPARE(tree.Symbols().size(), plain.Symbols().size());
            // Some bursts change a version held by a snapshot, some change it in place.
            if (pick(2)) {
                held = tree.Snapshot();
                heldRows = plain.GetRows();
            } else {
                held = TBollingerEntries();
                heldRows.clear();
            }
        }
    }

    // ---- the full top list's order ---------------------------------------------------------

    void FirstAndSameOrderListsShownAtOnce()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TWexTopListOrder order;
        QVERIFY(order.SetEntries(List({"IBM", "MSFT", "AAPL"})));
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"IBM", "MSFT", "AAPL"}));
        QVERIFY(!order.GetSortPending());

        // One second later, same order with new values: shown, even while frozen.
        clock.Advance(1000);
        bool shown = true;
        QVERIFY(order.SetFrozen(true, shown));
        QVERIFY(!shown);
        QVERIFY(order.SetEntries(List({"IBM", "MSFT", "AAPL"}, 11)));
        QVERIFY(!order.GetSortPending());
        QCOMPARE(order.GetDisplayedEntries()[2].Last, 11.0);
        QVERIFY(order.GetMissingText().isEmpty());

        // An empty list replaces the rows.
        QVERIFY(order.SetFrozen(false, shown));
        QVERIFY(!order.SetFrozen(false, shown));
        QVERIFY(order.SetEntries({}));
        QVERIFY(order.GetDisplayedEntries().empty());
    }

    void OtherOrderWaitsThirtySeconds()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TWexTopListOrder order;
        order.SetEntries(List({"IBM", "MSFT", "AAPL"}));
        clock.Advance(5000);

        // The same symbols re-ranked, one spelt in another letter case: values move in place.
        TWexTopListEntries reordered = List({"aapl", "IBM", "MSFT"}, 20);
        reordered[0].Last = 30;
        QVERIFY(!order.SetEntries(reordered));
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"IBM", "MSFT", "aapl"}));
        QCOMPARE(order.GetDisplayedEntries()[2].Last, 30.0);
        QCOMPARE(order.GetDisplayedEntries()[0].Last, 20.0);
        QVERIFY(order.GetSortPending());
        QCOMPARE(order.GetMissingCount(), 0);
        QVERIFY(order.GetMissingText().isEmpty());

        // Thirty seconds after the last sort is not yet later than it.
        clock.Advance(25'000);
        QVERIFY(!order.SortTimerTick());
        QVERIFY(order.GetSortPending());
        clock.Advance(1);
        QVERIFY(order.SortTimerTick());
        QVERIFY(!order.GetSortPending());
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"aapl", "IBM", "MSFT"}));

        // The next sort is again thirty seconds away.
        order.SetEntries(List({"MSFT", "IBM", "aapl"}));
        QVERIFY(order.GetSortPending());
    }

    void RecycledBlocksAreReusedOnlyForTheirOwnSizeAndStayBounded()
    {
        struct TProbe {
            char Bytes[24];
        };
        TRecycling<TProbe> recycling;
        TProbe* one = recycling.allocate(1);
        recycling.deallocate(one, 1);
        QCOMPARE(TRecycling<TProbe>::Waiting(), 1);
        // Another size never gets the small block.
        TProbe* three = recycling.allocate(3);
        QVERIFY(three != one);
        QCOMPARE(TRecycling<TProbe>::Waiting(), 1);
        recycling.deallocate(three, 3); // not the size kept: back to the heap
        QCOMPARE(TRecycling<TProbe>::Waiting(), 1);
        QCOMPARE(recycling.allocate(1), one);
        QCOMPARE(TRecycling<TProbe>::Waiting(), 0);
        recycling.deallocate(one, 1);

        // A burst frees more than the list keeps: the rest goes back to the heap.
        std::vector<TProbe*> burst;
        for (int i = 0; i < MaxRecycledBlocks + 100; ++i)
            burst.push_back(recycling.allocate(1));
        QCOMPARE(TRecycling<TProbe>::Waiting(), 0);
        for (TProbe* p : burst)
            recycling.deallocate(p, 1);
        QCOMPARE(TRecycling<TProbe>::Waiting(), MaxRecycledBlocks);

        // Rows kept in recycled blocks read back as written while versions come and go.
        TFrontInsertList<int> list(50);
        std::vector<TRowList<int>> versions;
        for (int i = 0; i < 5000; ++i) {
            list.InsertAtFront(i);
            versions.push_back(list.Snapshot());
            if (versions.size() > 3)
                versions.erase(versions.begin());
        }
        const TRowList<int> last = list.Snapshot();
        QCOMPARE(last.size(), qsizetype(50));
        for (qsizetype i = 0; i < last.size(); ++i)
            QCOMPARE(last[i], int(4999 - i));
        QCOMPARE(versions.front()[0], 4997);
    }

    void LogsReadBackAcrossChunksAndReuseThem()
    {
        using TStore = TRowStore<QByteArray>;
        const int n = int(3 * TStore::ChunkRows + 5);
        const qsizetype cap = qsizetype(TStore::ChunkRows) + 7;
        {
            TFrontInsertList<QByteArray> all;
            TFrontInsertList<QByteArray> capped(cap);
            TRowList<QByteArray> half;
            for (int i = 0; i < n; ++i) {
                all.InsertAtFront(QByteArray::number(i));
                capped.InsertAtFront(QByteArray::number(i));
                if (i == n / 2)
                    half = all.Snapshot();
            }
            const TRowList<QByteArray> rows = all.Snapshot();
            QCOMPARE(rows.size(), qsizetype(n));
            for (int i = 0; i < n; ++i)
                QCOMPARE(rows[i], QByteArray::number(n - 1 - i));
            // A version taken earlier still shows what it showed.
            QCOMPARE(half.size(), qsizetype(n / 2 + 1));
            QCOMPARE(half[0], QByteArray::number(n / 2));
            QCOMPARE(half[half.size() - 1], QByteArray("0"));
            const TRowList<QByteArray> newest = capped.Snapshot();
            QCOMPARE(newest.size(), cap);
            for (qsizetype i = 0; i < cap; ++i)
                QCOMPARE(newest[i], QByteArray::number(n - 1 - int(i)));
        }
        // The chunks of the logs that went wait for the next ones, a bounded number of them.
        const int spare = TStore::SpareChunks();
        QVERIFY(spare > 0 && spare <= TStore::MaxSpareChunks);
        TFrontInsertList<QByteArray> again;
        again.InsertAtFront("x");
        QCOMPARE(TStore::SpareChunks(), spare - 1);
    }

    void InPlaceUpdatesTakeTheFirstRowOfASymbol()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TWexTopListOrder order;
        order.SetEntries(List({"IBM", "MSFT", "ibm", "A1"}));
        clock.Advance(5000);
        // Matched without regard to letter case, the first row of a symbol takes the values.
        QVERIFY(!order.SetEntries(List({"MSFT", "Ibm", "X", "a1"}, 7)));
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"Ibm", "MSFT", "ibm", "a1"}));
        QCOMPARE(order.GetDisplayedEntries()[0].Last, 7.0);
        QCOMPARE(order.GetDisplayedEntries()[1].Last, 7.0);
        QVERIFY(order.GetDisplayedEntries()[2].Last != 7.0);
        QCOMPARE(order.GetMissingCount(), 1);
        QCOMPARE(order.GetMissingText(), QByteArray("X"));
    }

    void MissingSymbolsNamed()
    {
        TWexTopListOrder order;
        order.SetEntries(List({"IBM", "MSFT"}));
        order.SetEntries(List({"AAA", "IBM", "BBB", "MSFT"}));
        QCOMPARE(order.GetMissingCount(), 2);
        QCOMPARE(order.GetMissingText(), QByteArray("AAA, BBB"));
        QCOMPARE(order.GetDisplayedEntries().size(), size_t(2));

        // The count starts afresh with every list.
        order.SetEntries(List({"AAA", "BBB", "CCC", "DDD", "EEE", "FFF", "GGG", "HHH", "IBM"}));
        QCOMPARE(order.GetMissingCount(), 8);
        QCOMPARE(order.GetMissingText(), QByteArray("AAA, BBB, CCC, DDD, EEE and 3 more"));

        // Applying clears it.
        QVERIFY(order.SortNow());
        QVERIFY(!order.SortNow());
        QCOMPARE(order.GetMissingCount(), 0);
        QVERIFY(order.GetMissingText().isEmpty());
        QCOMPARE(order.GetDisplayedEntries().size(), size_t(9));
    }

    void IgnoreSortTimerShowsEveryListUnlessFrozen()
    {
        TWexTopListOrder order;
        order.SetIgnoreSortTimer(true);
        order.SetEntries(List({"IBM", "MSFT"}));
        QVERIFY(order.SetEntries(List({"MSFT", "IBM", "AAA"})));
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"MSFT", "IBM", "AAA"}));
        bool shown = false;
        order.SetFrozen(true, shown);
        QVERIFY(!order.SetEntries(List({"AAA", "MSFT"})));
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"MSFT", "IBM", "AAA"}));
        QVERIFY(order.GetSortPending());
    }

    void FreezeKeepsOrderUntilSortNowOrUnfreeze()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TWexTopListOrder order;
        order.SetEntries(List({"IBM", "MSFT"}));
        bool shown = false;
        order.SetFrozen(true, shown);
        QVERIFY(order.GetFrozen());
        order.SetEntries(List({"MSFT", "IBM", "AAA"}));
        clock.Advance(120'000);
        QVERIFY(!order.SortTimerTick());
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"IBM", "MSFT"}));

        // Sort Now works while frozen.
        order.SortNow();
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"MSFT", "IBM", "AAA"}));
        QVERIFY(order.GetFrozen());

        // A list that waits while frozen is shown the moment the order thaws, however recent
        // the last sort.
        order.SetEntries(List({"AAA", "MSFT"}));
        QVERIFY(order.GetSortPending());
        QVERIFY(order.SetFrozen(false, shown));
        QVERIFY(shown);
        QVERIFY(!order.GetSortPending());
        QCOMPARE(Symbols(order.GetDisplayedEntries()), (TSymbols{"AAA", "MSFT"}));
    }
};

QTEST_MAIN(TestListRules)
#include "tst_listrules.moc"
