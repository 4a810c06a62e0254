// labels: toplist grids
#include "Olvarra/WexGridFull.h"

#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/PriceSpikeSound.h"
#include "Platform/Clock.h"
#include "Platform/VeskError.h"

#include <QImage>
#include <QMouseEvent>
#include <QtTest>
#include <memory>

namespace {

TWexTopListEntry Entry(const char* symbol, double last = 10)
{
    TWexTopListEntry e;
    e.Symbol = symbol;
    e.Last = last;
    return e;
}

TWexTopListEntries List(std::initializer_list<const char*> symbols, double last = 10)
{
    TWexTopListEntries list;
    for (const char* s : symbols)
        list.push_back(Entry(s, last));
    return list;
}

QList<QByteArray> Symbols(const TWexTopListEntries& list)
{
    QList<QByteArray> out;
    for (const TWexTopListEntry& e : list)
        out << e.Symbol;
    return out;
}

QColor Rgb(int r, int g, int b) { return QColor(r, g, b); }

const QColor NormalHeader = Rgb(236, 233, 216);
const QColor PinkHeader = Rgb(255, 192, 192);
const QColor CyanHeader = Rgb(32, 254, 248);

// A grid in a window of the alert window's initial size, with its clock and hooks.
class TFixture {
public:
    TFixture() : ClockScope(&ManualClock)
    {
        Owner.resize(393, 480);
        Grid = new TWexTopListFullGrid(&Owner);
        Grid->setGeometry(Owner.rect());
        // Laid out as on screen (the viewport gets its size), but never shown; paint events
        // only run when a test renders, so sounds are counted per render.
        Owner.setAttribute(Qt::WA_DontShowOnScreen);
        Owner.show();
        SetSendSymbolHook([this](const QByteArray& s) { Sent << s; });
        SetPriceSpikeSoundHandler([this] { ++Sounds; });
    }
    ~TFixture()
    {
        SetSendSymbolHook({});
        SetPriceSpikeSoundHandler({});
    }

    // Paints the whole grid as the screen would.
    QImage Render() { return Grid->viewport()->grab().toImage(); }

    // A pixel inside the cell's right margin, where no text is drawn.
    QColor Background(const QImage& img, int col, int row)
    {
        const QRect r = Grid->CellRect(col, row);
        return img.pixelColor(r.right() - 1, r.center().y());
    }

    // Clicks a row on screen; a row that is not there would click the header instead.
    void Select(int row)
    {
        const QRect r = Grid->CellRect(1 < Grid->ColCount() ? 1 : 0, row);
        QVERIFY2(r.isValid(), qPrintable(QStringLiteral("row %1 is not on screen").arg(row)));
        QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, r.center());
    }

    TManualClock ManualClock;
    TScopedClock ClockScope;
    QWidget Owner;
    TWexTopListFullGrid* Grid;
    QList<QByteArray> Sent;
    int Sounds = 0;
};

} // namespace

class TTopListTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // ---- when lists are shown --------------------------------------------------------------

    // The ordering rule itself is tested without a widget (tst_listrules); here the grid
    // shows what it decides: the rows, the row count and the header colour.

    void RowsFollowTheShownList()
    {
        TFixture f;
        f.Grid->SetEntries(List({"IBM", "MSFT", "AAPL"}));
        QCOMPARE(Symbols(f.Grid->GetDisplayedEntries()), QList<QByteArray>({"IBM", "MSFT", "AAPL"}));
        QCOMPARE(f.Grid->RowCount(), 4);

        // An empty list replaces the rows but keeps one empty data row.
        f.ManualClock.Advance(30'001);
        f.Grid->SetEntries({});
        QVERIFY(f.Grid->GetDisplayedEntries().empty());
        QCOMPARE(f.Grid->RowCount(), 2);
    }

    void HeaderColourShowsWaitingAndFrozen()
    {
        TFixture f;
        f.Grid->SetColumns("0,11");
        f.Grid->SetEntries(List({"IBM", "MSFT", "AAPL"}));
        f.ManualClock.Advance(5000);
        // Re-ranked, nothing missing: the values move in place, the header stays normal.
        f.Grid->SetEntries(List({"aapl", "IBM", "MSFT"}, 20));
        QVERIFY(f.Grid->GetSortPending());
        QCOMPARE(f.Background(f.Render(), 1, 0), NormalHeader);
        f.ManualClock.Advance(25'001);
        f.Grid->SortTimerTick();
        QCOMPARE(Symbols(f.Grid->GetDisplayedEntries()), QList<QByteArray>({"aapl", "IBM", "MSFT"}));

        // Missing symbols turn it pink until the list is applied.
        f.Grid->SetEntries(List({"AAA", "IBM", "BBB", "MSFT"}));
        QCOMPARE(f.Grid->GetMissingText(), QByteArray("AAA, BBB"));
        QCOMPARE(f.Background(f.Render(), 0, 0), PinkHeader);
        f.Grid->SortNow();
        QCOMPARE(f.Grid->RowCount(), 5);
        QCOMPARE(f.Background(f.Render(), 0, 0), NormalHeader);

        // Frozen outranks missing symbols; thawing shows the waiting list at once.
        f.Grid->SetFrozen(true);
        f.Grid->SetEntries(List({"MSFT", "IBM", "ZZZ"}));
        QCOMPARE(f.Background(f.Render(), 0, 0), CyanHeader);
        f.Grid->SetFrozen(false);
        QVERIFY(!f.Grid->GetSortPending());
        QCOMPARE(Symbols(f.Grid->GetDisplayedEntries()), QList<QByteArray>({"MSFT", "IBM", "ZZZ"}));
        QCOMPARE(f.Grid->RowCount(), 4);
        QCOMPARE(f.Background(f.Render(), 0, 0), NormalHeader);
    }

    // ---- columns ---------------------------------------------------------------------------

    void ColumnsSetting_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("map");
        QTest::newRow("chosen") << QByteArray("0,11,12,13,14") << QList<int>{0, 11, 12, 13, 14};
        QTest::newRow("repeated") << QByteArray("3,3") << QList<int>{3, 3};
        QTest::newRow("empty") << QByteArray("  ") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        QTest::newRow("blanks and quotes") << QByteArray(" 1 2, \"3\" ,\"4") << QList<int>{1, 2, 3, 4};
        QTest::newRow("malformed and empty items") << QByteArray("x,,5,") << QList<int>{0, 0, 5, 0};
        QTest::newRow("out of range") << QByteArray("15,-1,$0C") << QList<int>{15, -1, 12};
    }

    void ColumnsSetting()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, map);
        TFixture f;
        f.Grid->SetColumns(text);
        const std::vector<qint32>& got = f.Grid->GetColumnMap();
        QCOMPARE(QList<int>(got.begin(), got.end()), map);
        QCOMPARE(f.Grid->ColCount(), int(map.size()));
    }

    void ColumnWidthsFollowSamplesAndFont()
    {
        TFixture f;
        f.Grid->SetColumns("0,8,13,3,3,99");
        const QFontMetrics fm(f.Grid->font());
        QCOMPARE(f.Grid->ColWidths(0), fm.horizontalAdvance(QStringLiteral("XXXXX")) + 16);
        QCOMPARE(f.Grid->ColWidths(1), f.Grid->DefaultRowHeight());
        QCOMPARE(f.Grid->ColWidths(2), fm.horizontalAdvance(QStringLiteral("100,000,000")) + 16);
        QCOMPARE(f.Grid->ColWidths(3), f.Grid->ColWidths(4));
        QCOMPARE(f.Grid->ColWidths(5), 64);

        QFont big = f.Owner.font();
        big.setPixelSize(40);
        f.Owner.setFont(big);
        const QFontMetrics bm(f.Grid->font());
        QCOMPARE(f.Grid->DefaultRowHeight(), bm.height() + 4);
        QCOMPARE(f.Grid->ColWidths(0), bm.horizontalAdvance(QStringLiteral("XXXXX")) + 16);
        QCOMPARE(f.Grid->ColWidths(1), f.Grid->DefaultRowHeight());
    }

    // ---- colours and gauges ----------------------------------------------------------------

    void VolRateColourScale()
    {
        TFixture f;
        f.Grid->SetColumns("0,2,3");
        const double rates[] = {0.5, 0.75, 1, 2.25, 3.5, 9, NaN, -2};
        const QColor expected[] = {Rgb(0, 0, 255), Rgb(0, 0, 128), Rgb(0, 0, 0),   Rgb(128, 0, 0),
                                   Rgb(255, 0, 0), Rgb(255, 0, 0), Rgb(0, 0, 0),   Rgb(0, 0, 255)};
        TWexTopListEntries list;
        for (double v : rates) {
            list.push_back(Entry("SYM"));
            list.back().VolRate = v;
            list.back().TodaysRange = v;
        }
        f.Grid->SetEntries(list);
        const QImage img = f.Render();
        for (int i = 0; i < int(std::size(rates)); ++i) {
            QCOMPARE(f.Background(img, 0, i + 1), expected[i]);
            QCOMPARE(f.Background(img, 1, i + 1), expected[i]);
            QCOMPARE(f.Background(img, 2, i + 1), Rgb(0, 0, 0)); // other columns stay black
        }
        // The empty row of an empty list is black too.
        f.Grid->SetEntries({});
        f.Grid->SortNow();
        QCOMPARE(f.Background(f.Render(), 0, 1), Rgb(0, 0, 0));
    }

    void PriceSpikeHighlightAndSound()
    {
        TFixture f;
        f.Grid->SetColumns("0,1");
        TWexTopListEntries list = List({"HOT", "WARM", "NONE"});
        list[0].PriceSpike = 7;
        list[1].PriceSpike = 6.99;
        f.Grid->SetEntries(list);

        QImage img = f.Render();
        QCOMPARE(f.Background(img, 1, 1), Rgb(255, 255, 0));
        QCOMPARE(f.Background(img, 1, 2), Rgb(0, 0, 0));
        QCOMPARE(f.Background(img, 1, 3), Rgb(0, 0, 0));
        QCOMPARE(f.Sounds, 1);
        QCOMPARE(f.Grid->GetSpikingSymbols(), QList<QByteArray>({"HOT"}));

        // Still spiking: no second sound.
        f.Render();
        QCOMPARE(f.Sounds, 1);

        // Dropping below 7 re-arms only when painted: a dip nobody saw does not sound again.
        list[0].PriceSpike = 3;
        f.Grid->SetEntries(list);
        list[0].PriceSpike = 8;
        f.Grid->SetEntries(list);
        f.Render();
        QCOMPARE(f.Sounds, 1);

        list[0].PriceSpike = 3;
        f.Grid->SetEntries(list);
        f.Render();
        QVERIFY(f.Grid->GetSpikingSymbols().isEmpty());
        list[0].PriceSpike = 8;
        f.Grid->SetEntries(list);
        f.Render();
        QCOMPARE(f.Sounds, 2);

        // Without the price-spike column nothing is tested at all.
        f.Grid->SetColumns("0");
        list[1].PriceSpike = 9;
        f.Grid->SetEntries(list);
        f.Render();
        QCOMPARE(f.Sounds, 2);
    }

    void DotGauges()
    {
        TFixture f;
        QFont big = f.Owner.font();
        big.setPixelSize(40); // cells large enough to tell the quadrants apart
        f.Owner.setFont(big);
        f.Grid->SetColumns("8,10");
        TWexTopListEntries list = List({"A", "B", "C", "D"});
        list[0].NewHigh = 0.25;
        list[1].NewHigh = 1;
        list[2].NewHigh = 0;
        list[3].NewHigh = NaN;
        list[1].NewLow = 5;
        f.Grid->SetEntries(list);
        const QImage img = f.Render();

        auto probe = [&](int col, int row, int dx, int dy) {
            QRect text = f.Grid->CellRect(col, row).adjusted(3, 0, -3, 0);
            const int quarter = std::min(text.width(), text.height()) / 4;
            return img.pixelColor(text.center() + QPoint(dx * quarter, dy * quarter));
        };
        const QColor green(0, 255, 0), black(0, 0, 0), orange(255, 102, 0);
        // A quarter: the wedge from 12 o'clock to 9 o'clock, the upper-left quadrant.
        QCOMPARE(probe(0, 1, -1, -1), green);
        QCOMPARE(probe(0, 1, 1, -1), black);
        QCOMPARE(probe(0, 1, -1, 1), black);
        QCOMPARE(probe(0, 1, 1, 1), black);
        for (int dx : {-1, 1})
            for (int dy : {-1, 1}) {
                QCOMPARE(probe(0, 2, dx, dy), green);
                QCOMPARE(probe(1, 2, dx, dy), orange);
                QCOMPARE(probe(0, 3, dx, dy), black);
                QCOMPARE(probe(0, 4, dx, dy), black);
                QCOMPARE(probe(1, 1, dx, dy), black);
            }
    }

    void DividerRowRepeatsHeader()
    {
        TFixture f;
        f.Grid->SetColumns("0,2,11");
        TWexTopListEntries list = List({"IBM", "-", "MSFT"});
        list[1].VolRate = 5; // would be red in a data row
        f.Grid->SetEntries(list);
        const QImage img = f.Render();
        for (int col = 0; col < 3; ++col) {
            const QRect header = f.Grid->CellRect(col, 0);
            const QRect divider = f.Grid->CellRect(col, 2);
            QCOMPARE(divider.size(), header.size());
            // Same colours, edge and centred caption, pixel for pixel.
            QCOMPARE(img.copy(divider), img.copy(header));
        }
        f.Select(2);
        QVERIFY(f.Sent.isEmpty());
        QVERIFY(f.Grid->GetLastLinkedSymbol().isEmpty());
    }

    // ---- selection and linking -------------------------------------------------------------

    void SelectingSendsSymbolOnce()
    {
        TFixture f;
        f.Grid->SetColumns("0,11");
        f.Grid->SetEntries(List({"IBM", "MSFT", "IBM"}));
        f.Select(1);
        QCOMPARE(f.Sent, QList<QByteArray>({"IBM"}));
        QCOMPARE(f.Grid->Row(), 1);
        // The same symbol in another row is not sent again.
        f.Select(3);
        QCOMPARE(f.Sent, QList<QByteArray>({"IBM"}));
        f.Select(2);
        f.Select(1);
        QCOMPARE(f.Sent, QList<QByteArray>({"IBM", "MSFT", "IBM"}));
        // The empty row of an empty list selects but sends nothing, not even an empty symbol.
        f.Grid->SetEntries({});
        f.Grid->SortNow();
        QCOMPARE(f.Grid->RowCount(), 2);
        f.Grid->SetRow(-1); // the selection fell onto the empty row; a click must move it there
        f.Select(1);
        QCOMPARE(f.Grid->Row(), 1);
        QCOMPARE(f.Sent.size(), 3);
        // Rows with an empty symbol or a "-" select too, and send nothing either.
        f.Grid->SetEntries(List({"IBM", "", "-"}));
        f.Grid->SortNow();
        f.Select(1);
        f.Select(2);
        QCOMPARE(f.Grid->Row(), 2);
        f.Select(3);
        QCOMPARE(f.Grid->Row(), 3);
        QCOMPARE(f.Sent, QList<QByteArray>({"IBM", "MSFT", "IBM", "IBM"}));
        f.Grid->SetEntries(List({"IBM", "MSFT", "IBM"}));
        f.Grid->SortNow();

        // A failing hand-over is swallowed and the selection still moves.
        SetSendSymbolHook([](const QByteArray&) { throw EVeskError(QStringLiteral("no link")); });
        f.Select(2);
        QCOMPARE(f.Grid->Row(), 2);

        // The selected row's symbol cell carries a white frame.
        const QImage img = f.Render();
        const QRect cell = f.Grid->CellRect(0, 2);
        QCOMPARE(img.pixelColor(cell.topLeft()), Rgb(255, 255, 255));
        QCOMPARE(img.pixelColor(f.Grid->CellRect(0, 1).topLeft()), Rgb(0, 0, 0));
    }

    void ResortKeepsOrClearsSelection()
    {
        TFixture f;
        f.Grid->SetIgnoreSortTimer(true);
        TWexTopListEntries list;
        for (int i = 0; i < 60; ++i)
            list.push_back(Entry(QByteArray("S" + QByteArray::number(i)).constData()));
        f.Grid->SetEntries(list);
        f.Select(2);
        QCOMPARE(f.Sent, QList<QByteArray>({"S1"}));

        // S1 stays under the selection: kept.
        std::swap(list[0], list[5]);
        f.Grid->SetTopRow(20);
        f.Grid->SetEntries(list);
        QCOMPARE(f.Grid->Row(), 2);
        QCOMPARE(f.Grid->GetLastLinkedSymbol(), QByteArray("S1"));
        QCOMPARE(f.Grid->TopRow(), 20);

        // S1 moves away: selection gone, back at the top, and selecting row 2 again sends.
        std::swap(list[1], list[7]);
        f.Grid->SetEntries(list);
        QCOMPARE(f.Grid->Row(), -1);
        QVERIFY(f.Grid->GetLastLinkedSymbol().isEmpty());
        QCOMPARE(f.Grid->TopRow(), 1);
        f.Select(2);
        QCOMPARE(f.Sent, QList<QByteArray>({"S1", "S7"}));

        // With nothing selected, a re-sort leaves the reader where they were.
        f.Grid->SetRow(-1);
        f.Grid->SetTopRow(20);
        std::swap(list[1], list[7]);
        f.Grid->SetEntries(list);
        QCOMPARE(f.Grid->TopRow(), 20);

        // The list shrinks under the selection, still longer than the window: the
        // selection falls to the new last row, another symbol, so it goes and the grid
        // scrolls to its first data row, where the shorter list alone would not put it.
        f.Select(30);
        QCOMPARE(f.Grid->GetLastLinkedSymbol(), QByteArray("S29"));
        list.resize(28);
        f.Grid->SetEntries(list);
        QCOMPARE(f.Grid->Row(), -1);
        QVERIFY(f.Grid->GetLastLinkedSymbol().isEmpty());
        QCOMPARE(f.Grid->TopRow(), 1);
        f.Grid->SetTopRow(20);
        QVERIFY(f.Grid->TopRow() > 1);

        // The list runs out under the selection: the link is forgotten.
        f.Grid->SetTopRow(1);
        f.Select(3);
        QCOMPARE(f.Grid->GetLastLinkedSymbol(), QByteArray("S2"));
        f.Grid->SetEntries({});
        QVERIFY(f.Grid->GetLastLinkedSymbol().isEmpty());
        QCOMPARE(f.Grid->TopRow(), 1);
    }

    void DraggingBelowTheGridLinksNothingThere()
    {
        TFixture f;
        f.Grid->SetIgnoreSortTimer(true);
        TWexTopListEntries list;
        for (int i = 0; i < 60; ++i)
            list.push_back(Entry(QByteArray("S" + QByteArray::number(i)).constData()));
        f.Grid->SetEntries(list);
        QWidget* vp = f.Grid->viewport();
        const QPoint onRow = f.Grid->CellRect(0, 2).center();
        const int below = vp->height() + 10 * f.Grid->DefaultRowHeight();

        // Press on a row, drag down past the window's bottom edge, let go there.
        QTest::mousePress(vp, Qt::LeftButton, {}, onRow);
        QMouseEvent move(QEvent::MouseMove, QPointF(onRow.x(), below), vp->mapToGlobal(QPointF(onRow.x(), below)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(onRow.x(), below));
        QCOMPARE(f.Sent, QList<QByteArray>({"S1"}));
        QCOMPARE(f.Grid->Row(), 2);
        QCOMPARE(f.Grid->TopRow(), 1);

        // Dragging back over a visible row still moves the selection there.
        const QPoint lower = f.Grid->CellRect(0, 5).center();
        QTest::mousePress(vp, Qt::LeftButton, {}, onRow);
        QMouseEvent back(QEvent::MouseMove, QPointF(lower), vp->mapToGlobal(QPointF(lower)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &back);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, lower);
        QCOMPARE(f.Sent, QList<QByteArray>({"S1", "S4"}));
        QCOMPARE(f.Grid->Row(), 5);
    }

};

QTEST_MAIN(TTopListTest)
#include "tst_toplist.moc"
