// labels: grids
// When the grid control paints: a flood of invalidations costs one paint per display frame,
// the change that waited is painted when the frame is over, and a change after a quiet frame
// is painted at once. Time is the injected clock's; only the frame timer itself runs on real
// time, for at most one frame.

#include "Platform/Clock.h"
#include "Platform/TDrawGrid.h"

#include <QPaintEvent>
#include <QScrollBar>
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

// Counts the events of one type that an object receives: paints, queued slot calls.
class TEventCounter : public QObject {
public:
    TEventCounter(QObject* object, QEvent::Type type) : Type(type) { object->installEventFilter(this); }
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == Type)
            ++Count;
        return false;
    }

private:
    QEvent::Type Type;
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

    void AWholePaintAskedOfQtIsNotLostNorStuck()
    {
        TFixture f;
        QVERIFY(f.Exposed);
        TCountingGrid& grid = *f.Grid;

        // After a quiet frame the first change is asked of Qt at once; everything until the
        // paint rides on it, whole-grid and single-cell changes alike.
        grid.InvalidateGrid();
        for (int top = 2; top <= 30; ++top) {
            grid.SetTopRow(top);
            grid.InvalidateCell(1, top);
            QVERIFY(!grid.PaintDeferred());
        }
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 1);
        QVERIFY(grid.RowsInLastPaint.count(30));
        QVERIFY(!grid.RowsInLastPaint.count(29));

        // Once painted, the next change is asked for anew.
        f.ManualClock.Advance(1000);
        grid.SetTopRow(50);
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, 2);
        QVERIFY(grid.RowsInLastPaint.count(50));

        // Asked, then hidden before the paint: shown again, it paints, and later changes
        // still paint.
        f.ManualClock.Advance(1000);
        grid.SetTopRow(55);
        f.Owner.hide();
        QCoreApplication::processEvents();
        f.Owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.Owner));
        QTRY_VERIFY(grid.RowsInLastPaint.count(55));
        const int paints = grid.Paints;
        f.ManualClock.Advance(1000);
        grid.SetTopRow(60);
        QCoreApplication::processEvents();
        QCOMPARE(grid.Paints, paints + 1);
        QVERIFY(grid.RowsInLastPaint.count(60));

        // Changed while hidden: nothing could be asked then, and showing paints the change.
        f.Owner.hide();
        f.ManualClock.Advance(1000);
        grid.SetTopRow(65);
        QCoreApplication::processEvents();
        f.Owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.Owner));
        QTRY_VERIFY(grid.RowsInLastPaint.count(65));
        f.ManualClock.Advance(1000);
        grid.SetTopRow(70);
        QCoreApplication::processEvents();
        QVERIFY(grid.RowsInLastPaint.count(70));
    }

    // A list growing past what the view shows costs the scroll area no queued call per turn;
    // the bar still appears when the rows stop fitting, follows the range and hides again.
    void AGrowingListQueuesNothingUntilTheBarMustShowOrHide()
    {
        TFixture f;
        QVERIFY(f.Exposed);
        TCountingGrid& grid = *f.Grid;
        QScrollBar* bar = grid.verticalScrollBar();
        grid.SetRowCount(2);
        QTRY_VERIFY(!bar->isVisible());
        TEventCounter queued(&grid, QEvent::MetaCall);

        grid.SetRowCount(400);
        QTRY_VERIFY(bar->isVisible());
        QVERIFY(queued.Count > 0);
        queued.Count = 0;
        for (int rows = 401; rows <= 600; ++rows) {
            grid.SetRowCount(rows);
            QCoreApplication::processEvents();
            QCOMPARE(bar->maximum(), rows - grid.VisibleRowCount() - grid.FixedRows());
        }
        QCOMPARE(queued.Count, 0);
        QVERIFY(bar->isVisible());

        // Shrinking from a scrolled place: the view and the bar's value follow the smaller range.
        grid.SetTopRow(550);
        QCoreApplication::processEvents();
        grid.SetRowCount(300);
        QCoreApplication::processEvents();
        QCOMPARE(bar->maximum(), 300 - grid.VisibleRowCount() - grid.FixedRows());
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(grid.TopRow(), bar->value() + grid.FixedRows());

        grid.SetRowCount(2);
        QTRY_VERIFY(!bar->isVisible());
    }

    void TheScrollBarRepaintsOnlyWhenItsPictureChanges()
    {
        TFixture f;
        QVERIFY(f.Exposed);
        TCountingGrid& grid = *f.Grid;
        QScrollBar* bar = grid.verticalScrollBar();
        grid.SetRowCount(100'000);
        QTRY_VERIFY(bar->isVisible() && bar->maximum() > 90'000);
        QCoreApplication::processEvents();
        TEventCounter barPaints(bar, QEvent::Paint);

        // A long list growing at the top of its view: the handle, at its smallest, stays.
        for (int rows = 100'001; rows <= 100'200; ++rows) {
            grid.SetRowCount(rows);
            QCoreApplication::processEvents();
        }
        QCOMPARE(bar->maximum() - bar->minimum() + grid.VisibleRowCount() + grid.FixedRows(), 100'200);
        QCOMPARE(barPaints.Count, 0);
        // What it shows is what a bar set up for the final range at once shows.
        QWidget otherOwner;
        otherOwner.resize(f.Owner.size());
        TCountingGrid other(&otherOwner);
        other.setGeometry(otherOwner.rect());
        other.SetColCount(3);
        other.SetRowCount(100'200);
        otherOwner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&otherOwner));
        QTRY_COMPARE(other.verticalScrollBar()->maximum(), bar->maximum());
        QCOMPARE(bar->grab().toImage(), other.verticalScrollBar()->grab().toImage());

        // Changes that move or resize the handle, or reach an end, are painted.
        barPaints.Count = 0;
        grid.SetTopRow(50'000);
        QTRY_VERIFY(barPaints.Count > 0);
        barPaints.Count = 0;
        grid.SetRowCount(300);
        QTRY_VERIFY(barPaints.Count > 0);
        barPaints.Count = 0;
        grid.SetTopRow(1);
        QTRY_VERIFY(barPaints.Count > 0);
    }
};

QTEST_MAIN(TestDrawGridPaint)
#include "tst_drawgridpaint.moc"
