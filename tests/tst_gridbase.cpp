// labels: grids
// The grid control and the shared grid mechanics: fitting numbers and texts into narrowing
// cells, the cell frame, painting cost, mouse mapping, column dragging and row selection.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"
#include "Olvarra/QuickStrikeGrid.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <set>

namespace {

QFont TestFont()
{
    return QFont(QStringLiteral("DejaVu Sans"), 9);
}

// A cell exactly as wide as a text, so that text just fits.
TCellText CellFor(const QFontMetrics& metrics, int width)
{
    return TCellText(metrics, QRect(0, 0, width, 20));
}

// Records what the base frame made of each painted cell.
class TProbeGrid : public TRowGrid<TQuickStrikeEntry> {
public:
    explicit TProbeGrid(QWidget* owner) : TRowGrid(owner, 3) {}

    struct TPainted {
        int Col, Row;
        QRect TextRect;
    };
    std::vector<TPainted> Painted;
    std::set<int> RowsPainted;
    std::vector<std::pair<int, int>> Selections;
    bool AllowSelection = true;

protected:
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override
    {
        const TCellPainter cell = BeginCell(canvas, rect, fixed, fixed ? FromQColor(FixedColor()) : clBlack, TextColor);
        Painted.push_back({col, row, cell.TextRect()});
        RowsPainted.insert(row);
    }
    bool SelectCell(int col, int row) override
    {
        Selections.emplace_back(col, row);
        return AllowSelection;
    }
};

// Lays the grid out as an alert window would: visible, at its size.
void Host(QWidget& owner, QWidget& grid, QSize size)
{
    owner.resize(size);
    grid.resize(size);
    owner.show();
}

void Paint(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_RGB32);
    widget.render(&image);
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), target->mapToGlobal(QPointF(pos)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestGridBase : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { SetThousandsSeparator(QStringLiteral(",")); }

    void CountsFallBackToShorterFormsAsTheCellNarrows()
    {
        const QFontMetrics m(TestFont());
        auto shown = [&](qint32 n, const char* fits, TCellText::TCountStyle style) {
            return CellFor(m, m.horizontalAdvance(QString::fromLatin1(fits))).FormatCount(n, style);
        };
        // Each form in a cell exactly its own width; one pixel less gives the next form.
        QCOMPARE(shown(2'600'000, "2600000", TCellText::csPlain), QStringLiteral("2600000"));
        QCOMPARE(shown(2'600'000, "2.60M", TCellText::csPlain), QStringLiteral("2.60M"));
        QCOMPARE(shown(2'600'000, "2.6M", TCellText::csPlain), QStringLiteral("2.6M"));
        QCOMPARE(shown(2'600'000, "3M", TCellText::csPlain), QStringLiteral("3M"));
        QCOMPARE(CellFor(m, m.horizontalAdvance(QStringLiteral("3M")) - 1).FormatCount(2'600'000, TCellText::csPlain),
                 QStringLiteral("..."));
        QCOMPARE(shown(15'300, "15.3K", TCellText::csPlain), QStringLiteral("15.3K"));
        QCOMPARE(shown(15'300, "15K", TCellText::csPlain), QStringLiteral("15K"));
        // Below a thousand there is no shorter form, also for negative numbers.
        QCOMPARE(shown(999, "99", TCellText::csPlain), QStringLiteral("..."));
        QCOMPARE(shown(-5000, "-5", TCellText::csPlain), QStringLiteral("..."));
        QCOMPARE(shown(1000, "1.0K", TCellText::csPlain), QStringLiteral("1.0K"));
        // No form for thousands of millions: 2000.00M, 2000.0M, 2000M, then "...".
        QCOMPARE(shown(2'000'000'000, "2000.0M", TCellText::csPlain), QStringLiteral("2000.0M"));
        QCOMPARE(shown(2'000'000'000, "2,000M", TCellText::csGrouped), QStringLiteral("2,000M"));
        QCOMPARE(shown(1'234'567, "1,234,567", TCellText::csGrouped), QStringLiteral("1,234,567"));
        QCOMPARE(shown(1'234'567, "1.23M", TCellText::csGrouped), QStringLiteral("1.23M"));
    }

    void FixedAndPercentFormats()
    {
        const QFontMetrics m(TestFont());
        const TCellText wide = CellFor(m, 300);
        QCOMPARE(wide.FormatFixed(12.34, 1), QStringLiteral("12.3"));
        QCOMPARE(wide.FormatFixed(-1.5, 2), QStringLiteral("-1.50"));
        QCOMPARE(wide.FormatPercent(12.5), QStringLiteral("12.50%"));
        QCOMPARE(wide.FormatFixed(qInf(), 2), QStringLiteral("..."));
        QCOMPARE(CellFor(m, m.horizontalAdvance(QStringLiteral("100.0"))).FormatFixed(1000, 2),
                 QStringLiteral("..."));
        QCOMPARE(TCellText::FixedText(-1234567.891, 2, true), QStringLiteral("-1,234,567.89"));
        QCOMPARE(TCellText::FixedText(999, 0, true), QStringLiteral("999"));
        SetThousandsSeparator(QStringLiteral("."));
        QCOMPARE(TCellText::FixedText(1234.5, 1, true), QStringLiteral("1.234.5"));
        SetThousandsSeparator(QStringLiteral(","));
    }

    void FitTextKeepsTheLongestPrefixThatFits()
    {
        const QFontMetrics m(TestFont());
        const QString symbol = QStringLiteral("VERYLONGSYMBOL");
        QCOMPARE(CellFor(m, m.horizontalAdvance(symbol)).FitText(symbol), symbol);
        int width = m.horizontalAdvance(QStringLiteral("..."));
        for (QChar c : QStringLiteral("VERY"))
            width += m.horizontalAdvance(c);
        QCOMPARE(CellFor(m, width).FitText(symbol), QStringLiteral("VERY..."));
        QCOMPARE(CellFor(m, width - 1).FitText(symbol), QStringLiteral("VER..."));
        // Narrower than "..." itself: just "..." (clipped when drawn).
        QCOMPARE(CellFor(m, 3).FitText(symbol), QStringLiteral("..."));
    }

    void TextCacheMeasuresAsTheFontDoesAndStaysBounded()
    {
        const QFontMetrics m(TestFont());
        TTextCache cache;
        cache.Reset(m);
        const QString price = QStringLiteral("123.45");
        QCOMPARE(cache.Width(price), m.horizontalAdvance(price));
        QCOMPARE(cache.Width(price), m.horizontalAdvance(price)); // remembered, still the same
        QVERIFY(cache.Glyphs(price));
        QCOMPARE(cache.Glyphs(price)->text(), price);
        QCOMPARE(cache.Glyphs(price)->textFormat(), Qt::PlainText); // "<b>" from a server is text
        // For drawing, a text gets its glyphs only when it is drawn a second time.
        const QString time = QStringLiteral("09:31");
        QVERIFY(!cache.GlyphsWhenDrawnAgain(time));
        QVERIFY(cache.GlyphsWhenDrawnAgain(time));
        QCOMPARE(cache.GlyphsWhenDrawnAgain(time)->text(), time);
        QVERIFY(cache.GlyphsWhenDrawnAgain(price)); // laid out already

        // Another font: nothing measured for the old one survives.
        QFont big = TestFont();
        big.setPixelSize(40);
        const QFontMetrics bm(big);
        cache.Reset(bm);
        QCOMPARE(cache.Size(), qsizetype(0));
        QCOMPARE(cache.Width(price), bm.horizontalAdvance(price));

        // A hostile stream of distinct texts, and texts too long to keep: bounded either way.
        for (int i = 0; i < 3 * TTextCache::Capacity; ++i)
            cache.Width(QString::number(i));
        QVERIFY(cache.Size() <= TTextCache::Capacity);
        // It keeps what the last two paints used, so it follows the cells on screen, not the
        // texts seen all day.
        cache.StartPaint();
        cache.Width(price);
        QVERIFY(cache.Size() > 1);
        cache.StartPaint();
        QCOMPARE(cache.Size(), qsizetype(1)); // the price, used by the paint before
        cache.StartPaint();
        QCOMPARE(cache.Size(), qsizetype(0));
        const QString longText(TTextCache::MaxLength + 1, QLatin1Char('W'));
        QVERIFY(!cache.Glyphs(longText));
        QCOMPARE(cache.Width(longText), bm.horizontalAdvance(longText));
    }

    void PlainTextsLookAndMeasureExactlyAsShaped()
    {
        // Texts drawn from the plain glyph table, against the same texts shaped and drawn by
        // Qt: not a pixel nor a width apart, kerned and foreign texts left to the shaper.
        const QFont font = TestFont();
        const QFontMetrics m(font);
        TTextCache cache;
        cache.Reset(font);
        const std::shared_ptr<TPlainGlyphs> table = TPlainGlyphs::For(font);
        QCOMPARE(TPlainGlyphs::For(font), table); // one table per font, shared

        const QStringList numbers = {QStringLiteral("0"), QStringLiteral("123.45"), QStringLiteral("-0.25%"),
                                     QStringLiteral("1,234,567"), QStringLiteral("12.35M"), QStringLiteral("999K"),
                                     QStringLiteral("10:41:07"), QStringLiteral("9:30 AM"), QStringLiteral("..."),
                                     QStringLiteral("IBM"), QStringLiteral("BRK.B"), QStringLiteral("CSCO")};
        // Kerned pairs and ligatures in this font, texts with characters the table does not
        // hold, and the rest of printable ASCII.
        const QStringList others = {QStringLiteral("AV"), QStringLiteral("To"), QStringLiteral("MSFT"), QStringLiteral("WAVE"),
                                    QStringLiteral("office"), QStringLiteral("Caf\u00e9"), QStringLiteral("\u20ac5"),
                                    QStringLiteral("a\tb"), QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac"),
                                    QStringLiteral("A\u0301"), QStringLiteral(" !\"#$&'()*+/;<=>?@[\\]^_`{|}~"),
                                    QStringLiteral("The quick brown fox"), QStringLiteral("<b>x</b>")};
        int kerned = 0;
        for (const QString& s : numbers + others) {
            int width = -1;
            const bool plain = table->Lay(s, &width);
            if (numbers.contains(s))
                QVERIFY2(plain, qPrintable(s)); // else the comparison below tests nothing
            int sumOfChars = 0;
            for (QChar c : s)
                sumOfChars += QFontMetricsF(font).horizontalAdvance(c) * 64;
            if (QFontMetricsF(font).horizontalAdvance(s) * 64 != sumOfChars) {
                ++kerned;
                QVERIFY2(!plain, qPrintable(s));
            }
            if (plain)
                QCOMPARE(width, m.horizontalAdvance(s));
            QCOMPARE(cache.Width(s), m.horizontalAdvance(s));

            QImage shaped(200, 24, QImage::Format_RGB32);
            QImage fast(200, 24, QImage::Format_RGB32);
            for (QImage* image : {&shaped, &fast}) {
                image->fill(Qt::black);
                QPainter canvas(image);
                canvas.setFont(font);
                canvas.setPen(Qt::yellow);
                cache.StartPaint(&canvas.font());
                QCOMPARE(cache.PlainGlyphs(s) != nullptr, plain);
                const TCellPainter cell(canvas, TCellText(m, QRect(3, 2, 190, 20), image == &fast ? &cache : nullptr));
                cell.DrawRight(s);
            }
            QVERIFY2(fast == shaped, qPrintable(s));
        }
        QVERIFY(kerned >= 3); // the font kerns, so the pair checks were put to work

        // Plain texts are not kept: the cache holds only what needed shaping.
        cache.StartPaint();
        cache.StartPaint();
        QCOMPARE(cache.Size(), qsizetype(0));
        cache.Width(QStringLiteral("1.25"));
        QCOMPARE(cache.Size(), qsizetype(0));
        cache.Width(QStringLiteral("AV"));
        QCOMPARE(cache.Size(), qsizetype(1));

        // Another painter font (or none) draws through the shaper; widths stay the cache's.
        QFont big = font;
        big.setPixelSize(40);
        cache.StartPaint(&big);
        QVERIFY(!cache.PlainGlyphs(QStringLiteral("1.25")));
        cache.StartPaint();
        QVERIFY(!cache.PlainGlyphs(QStringLiteral("1.25")));
        QCOMPARE(cache.Width(QStringLiteral("1.25")), m.horizontalAdvance(QStringLiteral("1.25")));
        cache.Reset(m); // metrics alone: no plain table
        cache.StartPaint(&font);
        QVERIFY(!cache.PlainGlyphs(QStringLiteral("1.25")));
    }

    void AFontChangeFitsTextsWithTheNewFont()
    {
        // The QuickStrike grid measures its columns once, so a much larger font chosen later
        // no longer fits the price: what was measured with the old font must not be used.
        QWidget owner;
        owner.setFont(TestFont());
        auto* grid = new TQuickStrikeGrid(&owner);
        Host(owner, *grid, QSize(393, 480));
        TFrontInsertList<TQuickStrikeEntry> list(10);
        TQuickStrikeEntry e;
        e.Symbol = "IBM";
        e.Last = 123.45;
        list.InsertAtFront(e);
        grid->SetEntries(list.Snapshot());
        Paint(*grid);
        QCOMPARE(grid->ExportAll().Rows[0][TQuickStrikeGrid::qcLast].Text, QStringLiteral("123.45"));
        QFont big = TestFont();
        big.setPixelSize(40);
        grid->setFont(big);
        Paint(*grid);
        QCOMPARE(grid->ExportAll().Rows[0][TQuickStrikeGrid::qcLast].Text, QStringLiteral("..."));
    }

    void TheScrollBarFollowsAFloodOfRowCountsOncePerTurnOfTheEventLoop()
    {
        QWidget owner;
        auto* grid = new TProbeGrid(&owner);
        Host(owner, *grid, QSize(300, 200));
        grid->SetDefaultRowHeight(20);
        QCoreApplication::processEvents();
        QScrollBar* bar = grid->verticalScrollBar();
        const auto maxTop = [&](int rows) { return std::max(1, rows - std::max(1, grid->VisibleRowCount())); };

        for (int rows = 2; rows <= 1000; ++rows)
            grid->SetRowCount(rows);
        // Scrolling straight after the flood uses the new count: the bar follows first.
        grid->SetTopRow(900);
        QCOMPARE(grid->TopRow(), 900);
        QCOMPARE(bar->value(), 900 - 1);
        QCOMPARE(bar->maximum(), maxTop(1000) - 1);

        for (int rows = 1000; rows <= 2000; ++rows)
            grid->SetRowCount(rows);
        QCoreApplication::processEvents();
        QCOMPARE(bar->maximum(), maxTop(2000) - 1);
        QCOMPARE(bar->value(), 900 - 1);

        // A list that shrinks moves the top row at once, and the bar with the next turn.
        grid->SetRowCount(5);
        QCOMPARE(grid->TopRow(), maxTop(5));
        QCoreApplication::processEvents();
        QCOMPARE(bar->maximum(), maxTop(5) - 1);
        QCOMPARE(bar->value(), maxTop(5) - 1);
    }

    void BlendColorMixesChannelsAndRoundsHalvesToEven()
    {
        QCOMPARE(BlendColor(clWhite, RGBColor(0, 255, 0), 0.5), RGBColor(128, 255, 128));
        QCOMPARE(BlendColor(clWhite, RGBColor(0, 255, 0), 1.7), RGBColor(0, 255, 0));
        QCOMPARE(BlendColor(clWhite, RGBColor(0, 255, 0), -0.2), clWhite);
        QCOMPARE(BlendColor(RGBColor(0, 0, 0), RGBColor(5, 7, 255), 0.5), RGBColor(2, 4, 128));
        QCOMPARE(BlendColor(clWhite | 0xFF000000u, clBlack, 0), clWhite);
    }

    void CellFrameMarginsAndHeaderInset()
    {
        QWidget owner;
        owner.setFont(TestFont());
        TProbeGrid grid(&owner);
        Host(owner, grid, QSize(300, 200));
        grid.SetColWidths(0, 14);
        grid.SetColWidths(1, 15);
        grid.SetColWidths(2, 17);
        Paint(grid);
        auto textRect = [&](int col, int row) {
            for (const auto& p : grid.Painted)
                if (p.Col == col && p.Row == row)
                    return p.TextRect;
            return QRect();
        };
        QCOMPARE(textRect(0, 1).width(), 14); // 14 pixels or less: no margin
        QCOMPARE(textRect(1, 1).width(), 9);  // wider: 3 pixels each side
        QCOMPARE(textRect(0, 0).width(), 12); // header: 1-pixel inset, then no margin
        QCOMPARE(textRect(2, 0).width(), 9);  // 17 - 2 = 15, then the margins
        QCOMPARE(textRect(2, 0).top(), 1);

        grid.Painted.clear();
        grid.SetCtl3D(false);
        Paint(grid);
        QCOMPARE(textRect(2, 0).width(), 11);
        QCOMPARE(textRect(2, 0).top(), 0);
        // Without the 3-D look columns are measured 4 pixels narrower.
        QCOMPARE(grid.MeasureColumn(QStringLiteral("Symbol")),
                 QFontMetrics(TestFont()).horizontalAdvance(QStringLiteral("Symbol")) + 12);
    }

    void PaintingCostsTheVisibleRowsOnly()
    {
        QWidget owner;
        owner.setFont(TestFont());
        TProbeGrid grid(&owner);
        Host(owner, grid, QSize(393, 480));
        grid.SetDefaultRowHeight(20);
        std::vector<TQuickStrikeEntry> rows(100'000);
        grid.SetEntries(TRowList<TQuickStrikeEntry>::FromVector(std::move(rows)));
        QCOMPARE(grid.RowCount(), 100'001);

        grid.ResetDrawCellCount();
        Paint(grid);
        const int visibleRows = 480 / 20 + 1;
        QVERIFY(grid.DrawCellCount() <= quint64(visibleRows * 3));
        QVERIFY(grid.RowsPainted.count(0));
        QVERIFY(!grid.RowsPainted.count(30));

        // Scrolled far down, the header still comes first and only rows from the top row on
        // are painted.
        grid.RowsPainted.clear();
        grid.SetTopRow(50'000);
        QCOMPARE(grid.TopRow(), 50'000);
        Paint(grid);
        QCOMPARE(*grid.RowsPainted.begin(), 0);
        QCOMPARE(*std::next(grid.RowsPainted.begin()), 50'000);
        QVERIFY(grid.RowsPainted.size() <= size_t(visibleRows));

        // Shrinking the list pulls the top row back into range.
        grid.SetEntries({});
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(grid.TopRow(), 1);
    }

    void MouseToCellFollowsWidthsAndScrolling()
    {
        QWidget owner;
        owner.setFont(TestFont());
        TProbeGrid grid(&owner);
        Host(owner, grid, QSize(300, 200));
        grid.SetDefaultRowHeight(20);
        grid.SetColWidths(0, 50);
        grid.SetColWidths(1, 30);
        grid.SetColWidths(2, 40);
        grid.SetEntries(TRowList<TQuickStrikeEntry>::FromVector(std::vector<TQuickStrikeEntry>(50)));

        int col, row;
        QVERIFY(grid.MouseToCell(QPoint(10, 5), col, row));
        QCOMPARE(col, 0);
        QCOMPARE(row, 0);
        QVERIFY(grid.MouseToCell(QPoint(50, 25), col, row));
        QCOMPARE(col, 1);
        QCOMPARE(row, 1);
        QVERIFY(grid.MouseToCell(QPoint(119, 59), col, row));
        QCOMPARE(col, 2);
        QCOMPARE(row, 2);
        QVERIFY(!grid.MouseToCell(QPoint(120, 30), col, row)); // right of the last column
        QCOMPARE(col, -1);

        grid.SetTopRow(10);
        QVERIFY(grid.MouseToCell(QPoint(10, 25), col, row));
        QCOMPARE(row, 10);
        QVERIFY(grid.MouseToCell(QPoint(10, 5), col, row));
        QCOMPARE(row, 0); // the header does not scroll
        QCOMPARE(grid.CellRect(0, 10), QRect(0, 20, 50, 20));
        QVERIFY(grid.CellRect(0, 9).isEmpty());

        // Below the last row.
        grid.SetEntries({});
        QVERIFY(!grid.MouseToCell(QPoint(10, 45), col, row));
    }

    void MouseToCellMapsOnlyVisibleCells()
    {
        QWidget owner;
        owner.setFont(TestFont());
        TProbeGrid grid(&owner);
        Host(owner, grid, QSize(300, 210));
        grid.SetDefaultRowHeight(20);
        grid.SetColWidths(2, 400); // runs past the right edge
        grid.SetEntries(TRowList<TQuickStrikeEntry>::FromVector(std::vector<TQuickStrikeEntry>(50)));
        const QSize area = grid.viewport()->size();
        QCOMPARE(area.height(), 210); // ten rows and a half under the header

        int col, row;
        // The half row at the bottom and the cut column at the right are on screen.
        QVERIFY(grid.MouseToCell(QPoint(area.width() - 1, area.height() - 1), col, row));
        QCOMPARE(col, 2);
        QCOMPARE(row, 10);
        // Below, right of, above and left of the viewport nothing is, though rows and columns
        // go on there.
        QVERIFY(!grid.MouseToCell(QPoint(10, area.height()), col, row));
        QCOMPARE(row, -1);
        QVERIFY(!grid.MouseToCell(QPoint(10, area.height() + 200), col, row));
        QVERIFY(!grid.MouseToCell(QPoint(area.width(), 30), col, row));
        QCOMPARE(col, -1);
        QVERIFY(!grid.MouseToCell(QPoint(10, -1), col, row));
        QVERIFY(!grid.MouseToCell(QPoint(-1, 30), col, row));

        // Dragging a row selection below the window selects nothing there.
        grid.SetOptions(TDrawGrid::goRowSelect);
        QWidget* vp = grid.viewport();
        SendMouse(vp, QEvent::MouseButtonPress, QPoint(10, 45), Qt::LeftButton, Qt::LeftButton);
        SendMouse(vp, QEvent::MouseMove, QPoint(10, area.height() + 300), Qt::NoButton, Qt::LeftButton);
        SendMouse(vp, QEvent::MouseButtonRelease, QPoint(10, area.height() + 300), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(grid.Row(), 2);
        QCOMPARE(grid.TopRow(), 1);
        QCOMPARE(grid.Selections.size(), size_t(1));
    }

    void DraggingAHeaderBorderResizesTheColumn()
    {
        QWidget owner;
        owner.setFont(TestFont());
        TProbeGrid grid(&owner);
        Host(owner, grid, QSize(300, 200));
        grid.SetDefaultRowHeight(20);
        grid.SetColWidths(0, 50);
        QWidget* vp = grid.viewport();

        SendMouse(vp, QEvent::MouseButtonPress, QPoint(50, 10), Qt::LeftButton, Qt::LeftButton);
        SendMouse(vp, QEvent::MouseMove, QPoint(70, 12), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(grid.ColWidths(0), 70);
        SendMouse(vp, QEvent::MouseButtonRelease, QPoint(80, 12), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(grid.ColWidths(0), 80);
        QCOMPARE(grid.ColWidths(1), 64);

        // Only in the header row, and only with the option on.
        SendMouse(vp, QEvent::MouseButtonPress, QPoint(80, 30), Qt::LeftButton, Qt::LeftButton);
        SendMouse(vp, QEvent::MouseButtonRelease, QPoint(100, 30), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(grid.ColWidths(0), 80);
        grid.SetOptions(TDrawGrid::goThumbTracking);
        SendMouse(vp, QEvent::MouseButtonPress, QPoint(80, 10), Qt::LeftButton, Qt::LeftButton);
        SendMouse(vp, QEvent::MouseButtonRelease, QPoint(100, 10), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(grid.ColWidths(0), 80);
    }

    void RowSelectionAsksTheGridOnlyForTheUsersMoves()
    {
        QWidget owner;
        owner.setFont(TestFont());
        TProbeGrid grid(&owner);
        Host(owner, grid, QSize(300, 200));
        grid.SetDefaultRowHeight(20);
        grid.SetOptions(TDrawGrid::goRowSelect | TDrawGrid::goThumbTracking);
        grid.SetEntries(TRowList<TQuickStrikeEntry>::FromVector(std::vector<TQuickStrikeEntry>(100)));
        QCOMPARE(grid.Row(), -1);

        // Code sets the row quietly and scrolls it into view.
        grid.SetRow(60);
        QCOMPARE(grid.Row(), 60);
        QVERIFY(grid.Selections.empty());
        QVERIFY(grid.TopRow() <= 60 && 60 < grid.TopRow() + grid.VisibleRowCount());

        // The keyboard asks first.
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(grid.Row(), 61);
        QCOMPARE(grid.Selections.back().second, 61);

        // A veto keeps the selection.
        grid.AllowSelection = false;
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(grid.Row(), 61);
        QCOMPARE(grid.Selections.back().second, 60);
        grid.AllowSelection = true;

        // A click on a data row selects it; on the header it does not.
        grid.SetTopRow(1);
        SendMouse(grid.viewport(), QEvent::MouseButtonPress, QPoint(10, 45), Qt::LeftButton, Qt::LeftButton);
        SendMouse(grid.viewport(), QEvent::MouseButtonRelease, QPoint(10, 45), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(grid.Row(), 2);
        SendMouse(grid.viewport(), QEvent::MouseButtonPress, QPoint(10, 5), Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(grid.Row(), 2);

        // A list that shrinks under the selection moves it to the last row, quietly.
        const size_t asked = grid.Selections.size();
        grid.SetEntries({});
        QCOMPARE(grid.Row(), 1);
        QCOMPARE(grid.Selections.size(), asked);
        grid.SetRow(-1);
        QCOMPARE(grid.Row(), -1);
    }
};

QTEST_MAIN(TestGridBase)
#include "tst_gridbase.moc"
