// labels: grids windows
// The six grid kinds rendered offscreen at an alert window's size, with pixels checked at cell
// positions: highlights, colours by value, rank tints, count marks, the symbol wall, the
// optional volume column, re-measuring on font changes, and clicks handing symbols over.

#include "Olvarra/BollingerGrid.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"

#include <QScrollBar>
#include <QtTest>
#include <memory>

namespace {

const QSize WindowSize(393, 480);

QFont TestFont()
{
    return QFont(QStringLiteral("DejaVu Sans"), 9);
}

// An alert window stand-in: the owner whose font the grid takes, shown at the usual size.
template <class TGrid>
struct THosted {
    THosted()
    {
        Owner.setFont(TestFont());
        Owner.resize(WindowSize);
        Grid = new TGrid(&Owner);
        Grid->resize(WindowSize);
        Owner.show();
    }
    QImage Render() { return Grid->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QPoint Centre(int col, int row) const { return Grid->CellRect(col, row).center(); }

    QWidget Owner;
    TGrid* Grid;
};

// A point in the cell's left margin, where no text is ever drawn.
QColor BackgroundOf(const QImage& image, const QRect& cell)
{
    return image.pixelColor(cell.left() + 2, cell.center().y());
}

bool Near(const QColor& a, const QColor& b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

// Whether text of (about) this colour was drawn in the cell.
bool HasText(const QImage& image, const QRect& cell, TColor colour)
{
    const QColor wanted = ToQColor(colour);
    const QColor background = BackgroundOf(image, cell);
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel != background && Near(pixel, wanted))
                return true;
        }
    return false;
}

bool IsEmptyCell(const QImage& image, const QRect& cell)
{
    const QRgb background = image.pixel(cell.left() + 2, cell.center().y());
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            if (image.pixel(x, y) != background)
                return false;
    return true;
}

QColor Q(TColor c)
{
    return ToQColor(c);
}

TQuickStrikeEntry Alert(const char* symbol, double last = 10, double prevClose = 9.5)
{
    TQuickStrikeEntry e;
    e.Symbol = symbol;
    e.Last = last;
    e.PrevClose = prevClose;
    e.ExtraValue = 0.12;
    e.Time = "09:31:02";
    return e;
}

// Collects what clicks hand over.
struct TSentSymbols {
    TSentSymbols() { SetSendSymbolHook([this](const QByteArray& s) { Sent.append(s); }); }
    ~TSentSymbols() { SetSendSymbolHook({}); }
    QList<QByteArray> Sent;
};

void Click(QWidget* grid, Qt::MouseButton button, QPoint pos)
{
    QTest::mouseClick(static_cast<QAbstractScrollArea*>(grid)->viewport(), button, {}, pos);
}

// A row-based grid of the given kind holding far more rows than its window shows. A press on a
// visible row, or on a header border, that is released outside the window hands nothing over;
// a release on the last, partly visible row does.
template <class TGrid, class TEntry>
void CheckReleasesOutsideTheWindow(const char* kind)
{
    THosted<TGrid> h;
    std::vector<TEntry> rows(200);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i].Symbol = "R" + QByteArray::number(qulonglong(i + 1));
    h.Grid->SetEntries(TRowList<TEntry>::FromVector(std::move(rows)));
    const int rh = h.Grid->DefaultRowHeight();
    h.Grid->resize(WindowSize.width(), 10 * rh + rh / 2); // the last row shown is cut in half
    QApplication::processEvents();
    QWidget* vp = h.Grid->viewport();
    TSentSymbols sent;

    // Resizing the first column by its header border, letting go below the window.
    const QPoint border(h.Grid->CellRect(0, 0).right() + 1, rh / 2);
    const int width = h.Grid->ColWidths(0);
    QTest::mousePress(vp, Qt::LeftButton, {}, border);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(border.x() + 7, vp->height() + 3 * rh));
    QVERIFY2(h.Grid->ColWidths(0) == width + 7, kind);

    // Pressing on a row and letting go below, right of or above the window.
    h.Grid->SetColWidths(0, 600); // wider than the window: its right part is cut off
    const QPoint onRow = h.Centre(0, 2);
    for (const QPoint& release : {QPoint(onRow.x(), vp->height() + 5 * rh),
                                  QPoint(vp->width() + 10, onRow.y()), QPoint(10, -5)}) {
        QTest::mousePress(vp, Qt::LeftButton, {}, onRow);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, release);
    }
    QVERIFY2(sent.Sent.isEmpty(), kind);

    // The row cut by the bottom edge is on screen: a release there hands it over.
    Click(h.Grid, Qt::LeftButton, QPoint(vp->width() - 1, vp->height() - 1));
    QVERIFY2(sent.Sent == QList<QByteArray>{"R" + QByteArray::number(h.Grid->VisibleRowCount() + 1)}, kind);
}

} // namespace

class TestGrids : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { SetThousandsSeparator(QStringLiteral(",")); }

    void QuickStrikeInvertsTheNewestRowOnly()
    {
        THosted<TQuickStrikeGrid> h;
        const TColor text = RGBColor(255, 255, 128);
        h.Grid->SetTextColor(text);
        TFrontInsertList<TQuickStrikeEntry> list(1000);
        list.InsertAtFront(Alert("IBM"));
        list.InsertAtFront(Alert("MSFT"));
        h.Grid->SetEntries(list.Snapshot());

        QImage image = h.Render();
        for (int col = 0; col < 6; ++col) {
            const QRect top = h.Grid->CellRect(col, 1);
            QCOMPARE(BackgroundOf(image, top), Q(text));
            QVERIFY2(HasText(image, top, clBlack), qPrintable(QString::number(col)));
            const QRect second = h.Grid->CellRect(col, 2);
            QCOMPARE(BackgroundOf(image, second), Q(clBlack));
            QVERIFY(HasText(image, second, text));
        }
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(0, 0)), h.Grid->FixedColor());
        QVERIFY(HasText(image, h.Grid->CellRect(0, 0), clBlack));

        // A new alert takes the highlight; the previous top row returns to normal.
        list.InsertAtFront(Alert("AAPL"));
        h.Grid->SetEntries(list.Snapshot());
        image = h.Render();
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(3, 1)), Q(text));
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(3, 2)), Q(clBlack));
        QCOMPARE(h.Grid->RowCount(), 4);

        // An empty list leaves one normal, empty row.
        h.Grid->SetEntries({});
        image = h.Render();
        QCOMPARE(h.Grid->RowCount(), 2);
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(0, 1)), Q(clBlack));
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(0, 1)));
    }

    void QuickStrikeEmptyCellsAndExtraColumn()
    {
        THosted<TQuickStrikeGrid> h;
        TFrontInsertList<TQuickStrikeEntry> list(1000);
        TQuickStrikeEntry noPrevClose = Alert("ZERO", 12, 0);
        noPrevClose.ExtraValue = NaN;
        list.InsertAtFront(noPrevClose);
        list.InsertAtFront(Alert("TOP"));
        h.Grid->SetEntries(list.Snapshot());
        const QImage image = h.Render();
        QVERIFY(HasText(image, h.Grid->CellRect(2, 2), clWhite));   // Chg = Last
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(3, 2)));        // no %Chg
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(4, 2)));        // NaN extra value

        const QFontMetrics metrics(TestFont());
        const TCellText wide(metrics, QRect(0, 0, 200, 20));
        QCOMPARE(h.Grid->FormatExtraValue(12.9, wide), QStringLiteral("12.90"));
        h.Grid->SetExtraColumnFormat("i");
        QCOMPARE(h.Grid->FormatExtraValue(12.9, wide), QStringLiteral("12.90"));
        h.Grid->SetExtraColumnFormat("I");
        QCOMPARE(h.Grid->FormatExtraValue(12.9, wide), QStringLiteral("12"));
        QCOMPARE(h.Grid->FormatExtraValue(-0.7, wide), QStringLiteral("0"));
        QCOMPARE(h.Grid->FormatExtraValue(3e9, wide), QStringLiteral("..."));
        const TCellText narrow(metrics, QRect(0, 0, metrics.horizontalAdvance(QStringLiteral("1.2M")), 20));
        QCOMPARE(h.Grid->FormatExtraValue(1234567, narrow), QStringLiteral("1.2M"));
    }

    void BollingerColoursNumbersBySign()
    {
        THosted<TBollingerGrid> h;
        auto entry = [](const char* symbol, double last, double prevClose, double dist) {
            TBollingerEntry e;
            e.Symbol = symbol;
            e.Last = last;
            e.PrevClose = prevClose;
            e.DistFromBB = dist;
            return e;
        };
        h.Grid->SetEntries(TBollingerEntries::FromVector({
            entry("FLAT", 50, 50, -3),
            entry("DOWN", 50, 50.001, 2),
            entry("NOPC", 50, NaN, 0),
        }));
        const QImage image = h.Render();
        const TColor green = RGBColor(100, 255, 100), red = RGBColor(255, 75, 75);
        QVERIFY(HasText(image, h.Grid->CellRect(0, 1), clWhite));
        QVERIFY(HasText(image, h.Grid->CellRect(1, 1), green)); // a positive price is green
        QVERIFY(HasText(image, h.Grid->CellRect(2, 1), clWhite)); // change exactly 0
        QVERIFY(!HasText(image, h.Grid->CellRect(2, 1), red));
        QVERIFY(HasText(image, h.Grid->CellRect(3, 1), red));
        QVERIFY(HasText(image, h.Grid->CellRect(2, 2), red)); // however small
        QVERIFY(HasText(image, h.Grid->CellRect(3, 2), green));
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(2, 3)));
        QVERIFY(HasText(image, h.Grid->CellRect(3, 3), clWhite));
        QCOMPARE(h.Grid->GetExtraColumnTitle(), QByteArray("BBand"));
    }

    void RookTintsRowsByRankAndMarksCounts()
    {
        THosted<TRookGrid> h;
        const TColor green = RGBColor(0, 255, 0);
        h.Grid->SetTextColor(green);
        auto entry = [](double rank, qint32 count) {
            TRookEntry e;
            e.Time = "10:41";
            e.Symbol = "IBM";
            e.Change = 1.25;
            e.Volume = 1234567;
            e.Count = count;
            e.Rank = rank;
            e.RV = 2;
            e.BB = 3;
            return e;
        };
        h.Grid->SetEntries(TRookEntries::FromVector(
            {entry(0.5, 10), entry(0, 9), entry(1.7, 1), entry(-0.2, 0)}));
        const QImage image = h.Render();
        for (int col = 0; col < 6; ++col) {
            QCOMPARE(BackgroundOf(image, h.Grid->CellRect(col, 1)), QColor(128, 255, 128));
            QCOMPARE(BackgroundOf(image, h.Grid->CellRect(col, 2)), Q(clBlack));
            QCOMPARE(BackgroundOf(image, h.Grid->CellRect(col, 3)), Q(green));
            QCOMPARE(BackgroundOf(image, h.Grid->CellRect(col, 4)), Q(clWhite));
        }
        QVERIFY(HasText(image, h.Grid->CellRect(1, 1), clBlack));
        QVERIFY(HasText(image, h.Grid->CellRect(1, 2), green));
        // The count cell: yellow from 10 on, over the tint.
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(6, 1)), Q(clYellow));
        QVERIFY(HasText(image, h.Grid->CellRect(6, 1), clBlack));
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(6, 2)), Q(clBlack));
        QVERIFY(HasText(image, h.Grid->CellRect(6, 2), green));
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(6, 4))); // count 0
    }

    void TextsDrawnAgainLookAsWhenFirstDrawn()
    {
        // A text's first paint draws it directly, later paints draw the glyphs kept for it:
        // the two must not differ by a pixel (here with texts too wide for their cells too).
        THosted<TRookGrid> h;
        TRookEntry e;
        e.Time = "10:41:07";
        e.Symbol = "VERYLONGSYMBOLNAME";
        e.Change = -1234567.25;
        e.Volume = 1234567;
        e.Count = 12;
        e.Rank = 0.5;
        e.RV = 2;
        e.BB = 3;
        h.Grid->SetEntries(TRookEntries::FromVector({e, e, e}));
        const QImage first = h.Render();
        const QImage second = h.Render();
        const QImage third = h.Render();
        QCOMPARE(second, first);
        QCOMPARE(third, first);
    }

    void TamberMarksCountsFromTen()
    {
        THosted<TTamberGrid> h;
        const TColor orange = RGBColor(255, 200, 100);
        h.Grid->SetTextColor(orange);
        auto entry = [](qint32 count, double last) {
            TTamberEntry e;
            e.Time = "11:02";
            e.Symbol = "MSFT";
            e.Last = last;
            e.PrevClose = 12;
            e.Change = last - 12;
            e.Volume = 98765;
            e.Count = count;
            return e;
        };
        h.Grid->SetEntries(TTamberEntries::FromVector({entry(10, 12.34), entry(9, NaN)}));
        const QImage image = h.Render();
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(6, 1)), Q(clYellow));
        QVERIFY(HasText(image, h.Grid->CellRect(6, 1), clBlack));
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(6, 2)), Q(clBlack));
        QVERIFY(HasText(image, h.Grid->CellRect(6, 2), orange));
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(5, 1)), Q(clBlack));
        // Without a last price: no "Last", no "$Chg", but "%Chg" shows 0.0.
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(2, 2)));
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(4, 2)));
        QVERIFY(HasText(image, h.Grid->CellRect(3, 2), orange));
    }

    void SymbolWallFillsColumnsWrapsAndRepacks()
    {
        QWidget owner;
        owner.setFont(TestFont());
        owner.resize(WindowSize);
        auto* grid = new TSymbolOnlyGrid(&owner);
        owner.show();
        const TColor text = RGBColor(128, 255, 255);
        grid->SetTextColor(text);
        const int cw = grid->DefaultColWidth(), rh = grid->DefaultRowHeight();
        auto wall = [&](int cols, int dataRows) {
            grid->resize(cols * cw + cw / 2, (dataRows + 1) * rh + rh / 2);
        };
        wall(3, 4);
        QCOMPARE(grid->ColCount(), 3);
        QCOMPARE(grid->RowCount(), 5);
        QVERIFY(!grid->verticalScrollBar()->isVisible());

        TFrontInsertList<TQuickStrikeEntry> list(1000);
        auto add = [&](int i) {
            list.InsertAtFront(Alert(QByteArray("S" + QByteArray::number(i)).constData()));
            grid->SetEntries(list.Snapshot());
        };
        auto shown = [&](int col, int row) {
            qsizetype index;
            return grid->CellToEntry(col, row, index) ? grid->GetEntries()[index].Symbol : QByteArray();
        };
        for (int i = 0; i < 12; ++i)
            add(i);
        for (int p = 0; p < 12; ++p)
            QCOMPARE(shown(p / 4, p % 4 + 1), "S" + QByteArray::number(p));
        QImage image = grid->grab().toImage();
        QCOMPARE(BackgroundOf(image, grid->CellRect(2, 4)), Q(text));
        QCOMPARE(BackgroundOf(image, grid->CellRect(0, 1)), Q(clBlack));

        // The 13th overwrites the oldest at the top-left and takes the highlight.
        add(12);
        QCOMPARE(shown(0, 1), QByteArray("S12"));
        QCOMPARE(shown(0, 2), QByteArray("S1"));
        image = grid->grab().toImage();
        QCOMPARE(BackgroundOf(image, grid->CellRect(0, 1)), Q(text));
        QVERIFY(HasText(image, grid->CellRect(0, 1), clBlack));
        QCOMPARE(BackgroundOf(image, grid->CellRect(2, 4)), Q(clBlack));

        // Clicks: the highlighted cell sends the newest; the header sends nothing.
        {
            TSentSymbols sent;
            Click(grid, Qt::LeftButton, grid->CellRect(0, 1).center());
            Click(grid, Qt::LeftButton, grid->CellRect(1, 0).center());
            Click(grid, Qt::RightButton, grid->CellRect(1, 1).center());
            QCOMPARE(sent.Sent, QList<QByteArray>{"S12"});
        }

        // 20 entries; a resize that keeps both counts changes nothing, a smaller wall packs
        // the newest from the top-left, oldest first.
        for (int i = 13; i < 20; ++i)
            add(i);
        const int newest = grid->GetNewestPosition();
        grid->resize(grid->width() + 2, grid->height() + 1);
        QCOMPARE(grid->GetNewestPosition(), newest);
        wall(2, 4);
        QCOMPARE(grid->Capacity(), 8);
        QCOMPARE(grid->GetNewestPosition(), 7);
        QCOMPARE(shown(0, 1), QByteArray("S12"));
        QCOMPARE(shown(1, 4), QByteArray("S19"));
        image = grid->grab().toImage();
        QCOMPARE(BackgroundOf(image, grid->CellRect(1, 4)), Q(text));

        // Clearing empties the wall; the next symbol starts at the top-left again.
        list.Clear();
        grid->SetEntries(list.Snapshot());
        image = grid->grab().toImage();
        for (int col = 0; col < 2; ++col)
            for (int row = 1; row < 5; ++row)
                QVERIFY(IsEmptyCell(image, grid->CellRect(col, row)));
        {
            TSentSymbols sent;
            Click(grid, Qt::LeftButton, grid->CellRect(0, 1).center());
            QVERIFY(sent.Sent.isEmpty());
        }
        add(99);
        QCOMPARE(shown(0, 1), QByteArray("S99"));

        // Smaller than one cell: still one column and one data row.
        grid->resize(5, 5);
        QCOMPARE(grid->ColCount(), 1);
        QCOMPARE(grid->RowCount(), 2);
    }

    void PointsVolumeColumnAndFontChanges()
    {
        THosted<TPointsTopListGrid> h;
        auto entry = [](const char* symbol, double last, double change, double percentVol) {
            TPointsTopListEntry e;
            e.Symbol = symbol;
            e.Last = last;
            e.Change = change;
            e.PercentVol = percentVol;
            return e;
        };
        h.Grid->SetEntries(TPointsTopListEntries::FromVector(
            {entry("AAA", 12.5, 1.93, 12.5), entry("NOLAST", NaN, 1, 3), entry("NOVOL", 1, 1, NaN)}));
        QImage image = h.Render();
        QCOMPARE(h.Grid->ColCount(), 3);
        QVERIFY(h.Grid->CellRect(3, 0).isEmpty());
        const int right = h.Grid->CellRect(2, 0).right() + 1;
        QCOMPARE(image.pixelColor(right + 5, 5), Q(clBlack));
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(2, 2))); // no price: no change either

        h.Grid->ShowVolumeColumn();
        image = h.Render();
        QCOMPARE(h.Grid->ColCount(), 4);
        QCOMPARE(BackgroundOf(image, h.Grid->CellRect(3, 0)), h.Grid->FixedColor());
        QVERIFY(HasText(image, h.Grid->CellRect(3, 1), clWhite));
        QVERIFY(IsEmptyCell(image, h.Grid->CellRect(3, 3)));

        QFont bigger = TestFont();
        bigger.setPointSize(15);
        h.Owner.setFont(bigger);
        const QFontMetrics m(bigger);
        QCOMPARE(h.Grid->DefaultRowHeight(), m.height() + 4);
        QCOMPARE(h.Grid->ColWidths(3), m.horizontalAdvance(QStringLiteral("1000.00%")) + 16);
        QCOMPARE(h.Grid->ColWidths(0), m.horizontalAdvance(QStringLiteral("Symbol")) + 16);

        // Clicking the same row twice sends it twice.
        TSentSymbols sent;
        Click(h.Grid, Qt::LeftButton, h.Centre(1, 1));
        Click(h.Grid, Qt::LeftButton, h.Centre(2, 1));
        QCOMPARE(sent.Sent, (QList<QByteArray>{"AAA", "AAA"}));
    }

    void OnlySomeKindsReMeasureOnFontChanges()
    {
        QFont bigger = TestFont();
        bigger.setPointSize(15);
        const QFontMetrics m(bigger);

        THosted<TRookGrid> rook;
        rook.Owner.setFont(bigger);
        QCOMPARE(rook.Grid->DefaultRowHeight(), m.height() + 4);
        QCOMPARE(rook.Grid->ColWidths(3), m.horizontalAdvance(QStringLiteral("100,000,000")) + 16);

        THosted<TTamberGrid> tamber;
        QCOMPARE(tamber.Grid->ColWidths(2), 64);
        tamber.Grid->SetColWidths(2, 99); // as if dragged by the user
        tamber.Owner.setFont(bigger);
        QCOMPARE(tamber.Grid->ColWidths(2), 99);
        QCOMPARE(tamber.Grid->ColWidths(5), m.horizontalAdvance(QStringLiteral("100,000,000")) + 16);

        THosted<TQuickStrikeGrid> quick;
        const int height = quick.Grid->DefaultRowHeight();
        const int width = quick.Grid->ColWidths(0);
        quick.Owner.setFont(bigger);
        QCOMPARE(quick.Grid->DefaultRowHeight(), height);
        QCOMPARE(quick.Grid->ColWidths(0), width);
    }

    void ClicksHandOverTheRowsSymbol()
    {
        THosted<TQuickStrikeGrid> h;
        TSentSymbols sent;
        Click(h.Grid, Qt::LeftButton, h.Centre(0, 1)); // empty list: the one row is empty
        QVERIFY(sent.Sent.isEmpty());

        TFrontInsertList<TQuickStrikeEntry> list(1000);
        list.InsertAtFront(Alert("IBM"));
        list.InsertAtFront(Alert("MSFT"));
        h.Grid->SetEntries(list.Snapshot());
        Click(h.Grid, Qt::LeftButton, h.Centre(5, 2));  // the time cell of the second row
        Click(h.Grid, Qt::LeftButton, h.Centre(0, 0));  // header
        Click(h.Grid, Qt::RightButton, h.Centre(0, 1)); // right button
        Click(h.Grid, Qt::LeftButton, QPoint(200, 300)); // below the rows
        Click(h.Grid, Qt::LeftButton, h.Centre(1, 1));
        QCOMPARE(sent.Sent, (QList<QByteArray>{"IBM", "MSFT"}));
    }

    void ReleaseOutsideTheWindowHandsNothingOver()
    {
        CheckReleasesOutsideTheWindow<TQuickStrikeGrid, TQuickStrikeEntry>("QuickStrike");
        CheckReleasesOutsideTheWindow<TBollingerGrid, TBollingerEntry>("Bollinger");
        CheckReleasesOutsideTheWindow<TPointsTopListGrid, TPointsTopListEntry>("points");
        CheckReleasesOutsideTheWindow<TRookGrid, TRookEntry>("Rook");
        CheckReleasesOutsideTheWindow<TTamberGrid, TTamberEntry>("Tamber");

        // The wall always keeps one data row, even in a window smaller than one cell: then
        // that row is off screen and a release below the window must not reach it.
        QWidget owner;
        owner.setFont(TestFont());
        owner.resize(WindowSize);
        auto* wall = new TSymbolOnlyGrid(&owner);
        wall->resize(WindowSize);
        owner.show();
        TFrontInsertList<TQuickStrikeEntry> list(1000);
        list.InsertAtFront(Alert("WALL"));
        wall->SetEntries(list.Snapshot());
        const int rh = wall->DefaultRowHeight();
        TSentSymbols sent;
        Click(wall, Qt::LeftButton, wall->CellRect(0, 1).center()); // on screen: sent
        wall->resize(wall->DefaultColWidth() / 2, rh / 2);
        QCOMPARE(wall->RowCount(), 2);
        qsizetype index;
        QVERIFY(wall->CellToEntry(0, 1, index));
        QTest::mousePress(wall->viewport(), Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseRelease(wall->viewport(), Qt::LeftButton, {}, QPoint(2, rh + rh / 2));
        QCOMPARE(sent.Sent, QList<QByteArray>{"WALL"});
    }

    void NoHorizontalScrollBarEvenWhenColumnsOverflow()
    {
        THosted<TRookGrid> h;
        for (int col = 0; col < 7; ++col)
            h.Grid->SetColWidths(col, 200);
        std::vector<TRookEntry> rows(500);
        h.Grid->SetEntries(TRookEntries::FromVector(std::move(rows)));
        QApplication::processEvents();
        QVERIFY(!h.Grid->horizontalScrollBar()->isVisible());
        QVERIFY(h.Grid->verticalScrollBar()->isVisible());
    }
};

QTEST_MAIN(TestGrids)
#include "tst_grids.moc"
