#include "Olvarra/RookGrid.h"

#include <cmath>

namespace {
const char* const Captions[] = {"Time", "Symbol", "%Chg", "Volume", "RV", "BB", "#"};
const char* const Samples[] = {"00:00", "Symbol", "-1.93", "100,000,000", "10.00", "100.00", "10"};
constexpr int ColumnCount = 7;
constexpr int CountColumn = 6;
} // namespace

TRookGrid::TRookGrid(QWidget* owner) : TRowGrid(owner, ColumnCount)
{
    if (owner)
        MeasureColumns();
}

void TRookGrid::MeasureColumns()
{
    MeasureDefaultRowHeight();
    MeasureSampleColumns(Samples, ColumnCount);
    InvalidateGrid();
}

void TRookGrid::FontChanged()
{
    MeasureColumns();
}

void TRookGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, col, Captions, ColumnCount);
        return;
    }

    const bool hasEntry = ShowsEntry(row);
    TColor background = FromQColor(Color());
    TColor text = TextColor;
    if (hasEntry && col == CountColumn && EntryAt(row).Count >= 10) {
        background = clYellow;
        text = clBlack;
    } else if (hasEntry && EntryAt(row).Rank != 0) {
        // Small ranks tint the row near white, rank 1 and above take the window's colour.
        background = BlendColor(clWhite, TextColor, EntryAt(row).Rank);
        text = clBlack;
    }
    BeginCell(canvas, rect, false, background, text);
    if (!hasEntry)
        return;

    const TRookEntry& e = EntryAt(row);
    switch (col) {
    case 0:
        DrawTextRight(Cell.FitText(CellString(e.Time)));
        break;
    case 1:
        DrawTextLeft(Cell.FitText(CellString(e.Symbol)));
        break;
    case 2:
        DrawFixedRight(e.Change, 1);
        break;
    case 3:
        DrawCountRight(e.Volume, TCellText::csGrouped);
        break;
    case 4:
        DrawFixedRight(e.RV, 2);
        break;
    case 5:
        DrawFixedRight(e.BB, 2);
        break;
    case 6:
        DrawCountRight(e.Count, TCellText::csGrouped);
        break;
    default:
        break;
    }
}
