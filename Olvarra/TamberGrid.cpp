#include "Olvarra/TamberGrid.h"

#include <cmath>

namespace {
const char* const Captions[] = {"Time", "Symbol", "Last", "%Chg", "$Chg", "Volume", "#"};
// "Last" has no sample: it keeps the default width, or whatever the user dragged it to.
const char* const Samples[] = {"00:00", "Symbol", nullptr, "-1.93", "-1.93", "100,000,000", "10"};
constexpr int ColumnCount = 7;
constexpr int CountColumn = 6;
} // namespace

TTamberGrid::TTamberGrid(QWidget* owner) : TRowGrid(owner, ColumnCount)
{
    if (owner)
        MeasureColumns();
}

void TTamberGrid::MeasureColumns()
{
    MeasureDefaultRowHeight();
    MeasureSampleColumns(Samples, ColumnCount); // "Last" has no sample and keeps its width
    InvalidateGrid();
}

void TTamberGrid::FontChanged()
{
    MeasureColumns();
}

void TTamberGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, col, Captions, ColumnCount);
        return;
    }

    const bool hasEntry = ShowsEntry(row);
    const bool marked = hasEntry && col == CountColumn && EntryAt(row).Count >= 10;
    BeginCell(canvas, rect, false, marked ? clYellow : FromQColor(Color()), marked ? clBlack : TextColor);
    if (!hasEntry)
        return;

    const TTamberEntry& e = EntryAt(row);
    switch (col) {
    case 0:
        DrawTextRight(Cell.FitText(CellString(e.Time)));
        break;
    case 1:
        DrawTextLeft(Cell.FitText(CellString(e.Symbol)));
        break;
    case 2:
        DrawFixedRight(e.Last, 1);
        break;
    case 3:
        DrawFixedRight(e.PercentChange, 1);
        break;
    case 4:
        DrawFixedRight(e.Change, 1);
        break;
    case 5:
        DrawCountRight(e.Volume, TCellText::csGrouped);
        break;
    case 6:
        DrawCountRight(e.Count, TCellText::csGrouped);
        break;
    default:
        break;
    }
}
