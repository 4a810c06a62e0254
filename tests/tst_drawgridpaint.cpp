// labels: grids
// When the grid control paints: a flood of invalidations costs one paint per display frame,
// the change that waited is painted when the frame is over, and a change after a quiet frame
// is painted at once. Time is the injected clock's; only the frame timer itself runs on real
// time, for at most one frame.

#include "Platform/Clock.h"
#include "Platform/TDrawGrid.h"

#include <QPaintEvent>
#include <QtTest>
#include <set>

namespace {

// Counts the paints that drew cells and records what the last one covered.
class TCountingGrid : public TDrawGrid {
public:
    explicit TCountingGrid(QWidget* owner) : TDrawGrid(owner) {}

    int Paints = 0;
    QRegion LastPaintRegion;
    std::set<int> RowsInLastPaint;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        std::set<int> rows;
        std::swap(rows, RowsInLastPaint);
        const quint64 before = DrawCellCount();
        TDrawGrid::paintEvent(event);
        if (DrawCellCount() == before) {
            std::swap(rows, RowsInLastPaint);
            return;
        }
        ++Paints;
        LastPaintRegion = event->region();
    }
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override
    {
        RowsInLastPaint.insert(row);
        TDrawGrid::DrawCell(canvas, col, row, rect, fixed);
    }
};

// A shown grid of 100 rows whose first paints are over, on a clock the test moves.
struct TFixture {
    TFixture() : ClockScope(&ManualClock)
    {
        Owner.resize(200, 240);
        Grid = new TCountingGrid(&Owner);
        Grid->setGeometry(Owner.rect());
        Grid->SetColCount(3);
        Grid->SetRowCount(100);
        Owner.show();
        Exposed = QTest::qWaitForWindowExposed(&Owner);
        // Showing paints once by Qt's own doing; a quiet frame follows.
        QTRY_VERIFY(Grid->Paints > 0);
        ManualClock.Advance(1000);
        QCoreApplication::processEvents();
        Grid->Paints = 0;
    }

    TManualClock ManualClock;
    TScopedClock ClockScope;
    QWidget Owner;
    TCountingGrid* Grid;
    bool Exposed = false;
};

} // namespace

class TestDrawGridPaint : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void AFloodWithinAFramePaintsOnceMoreWithTheLastState()
    {
        TFixture f;
        QVERIFY(f.Exposed);
        TCountingGrid& grid = *f.Grid;

        // The first change after a quiet spell is painted on the next pass of the loop.
        grid.SetTopRow(2);
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 1);
        QVERIFY(grid.RowsInLastPaint.count(2));

        // A flood within the frame: every change reaches the grid at once, none paints yet.
        f.ManualClock.Advance(5);
        for (int top = 3; top <= 40; ++top) {
            grid.SetTopRow(top);
            QCOMPARE(grid.TopRow(), top);
            QVERIFY(grid.PaintDeferred());
        }
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 1);

        // The frame ends: one paint, of the last state only.
        QTRY_COMPARE_WITH_TIMEOUT(grid.Paints, 2, 2000);
        QVERIFY(grid.RowsInLastPaint.count(40));
        QVERIFY(!grid.RowsInLastPaint.count(39));
        QVERIFY(!grid.RowsInLastPaint.count(3));
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 2);
    }

    void CellsInvalidatedWithinAFrameArePaintedTogether()
    {
        TFixture f;
        QVERIFY(f.Exposed);
        TCountingGrid& grid = *f.Grid;

        grid.InvalidateCell(0, 0);
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 1);
        QVERIFY(grid.LastPaintRegion.contains(grid.CellRect(0, 0)));

        // Two cells far apart in the same frame: both are in the one deferred paint; a cell
        // that was scrolled away adds nothing.
        grid.InvalidateCell(2, 0);
        grid.InvalidateCell(1, 5);
        grid.InvalidateCell(1, 99);
        QVERIFY(grid.PaintDeferred());
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 1);
        QTRY_COMPARE_WITH_TIMEOUT(grid.Paints, 2, 2000);
        QVERIFY(grid.LastPaintRegion.contains(grid.CellRect(2, 0)));
        QVERIFY(grid.LastPaintRegion.contains(grid.CellRect(1, 5)));
        QVERIFY(grid.RowsInLastPaint.count(0));
        QVERIFY(grid.RowsInLastPaint.count(5));

        // A whole-grid invalidation among cell ones paints everything.
        f.ManualClock.Advance(3);
        grid.InvalidateCell(0, 3);
        grid.InvalidateGrid();
        QTRY_COMPARE_WITH_TIMEOUT(grid.Paints, 3, 2000);
        QVERIFY(grid.LastPaintRegion.contains(grid.viewport()->rect()));
    }

    void AChangeAfterAQuietFramePaintsAtOnce()
    {
        TFixture f;
        QVERIFY(f.Exposed);
        TCountingGrid& grid = *f.Grid;

        grid.InvalidateGrid();
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 1);

        // One millisecond short of a frame, the change waits; at a whole frame it does not.
        f.ManualClock.Advance(TDrawGrid::FrameMs - 1);
        grid.SetTopRow(10);
        QVERIFY(grid.PaintDeferred());
        QTRY_COMPARE_WITH_TIMEOUT(grid.Paints, 2, 2000);
        QVERIFY(grid.RowsInLastPaint.count(10));

        f.ManualClock.Advance(TDrawGrid::FrameMs);
        grid.SetTopRow(20);
        QVERIFY(!grid.PaintDeferred());
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 3);
        QVERIFY(grid.RowsInLastPaint.count(20));

        // Likewise when the frame is long over.
        f.ManualClock.Advance(60'000);
        grid.SetTopRow(30);
        QVERIFY(!grid.PaintDeferred());
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 4);
    }

    void QtsOwnRepaintsAreNotHeldBack()
    {
        TFixture f;
        QVERIFY(f.Exposed);
        TCountingGrid& grid = *f.Grid;

        grid.InvalidateGrid();
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 1);

        // Within the same frame, a resize and an update asked of the widget itself paint on
        // the next pass, as they always did.
        f.Owner.resize(220, 260);
        grid.resize(220, 260);
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 2);
        grid.viewport()->update();
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 3);
    }
};

QTEST_MAIN(TestDrawGridPaint)
#include "tst_drawgridpaint.moc"
