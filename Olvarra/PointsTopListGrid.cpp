#include "Olvarra/PointsTopListGrid.h"

#include <cmath>

namespace {
const char* const Captions[] = {"Symbol", "Last", "Chg", "%Vol"};
const char* const Samples[] = {"Symbol", "100.00", "-1.93", "1000.00%"};
} // namespace

TPointsTopListGrid::TPointsTopListGrid(QWidget* owner) : TRowGrid(owner, 3)
{
    if (owner) {
        MeasureDefaultRowHeight();
        MeasureColumns();
    }
}

void TPointsTopListGrid::ShowVolumeColumn()
{
    SetColCount(4);
    MeasureColumns();
}

void TPointsTopListGrid::MeasureColumns()
{
    MeasureSampleColumns(Samples, std::min(ColCount(), 4));
    InvalidateGrid();
}

void TPointsTopListGrid::FontChanged()
{
    // A font chosen by the user later re-sizes this kind.
    MeasureDefaultRowHeight();
    MeasureColumns();
}

void TPointsTopListGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, col, Captions, 4);
        return;
    }
    BeginCell(canvas, rect, false, FromQColor(Color()), TextColor);
    if (!ShowsEntry(row))
        return;
    const TPointsTopListEntry& e = EntryAt(row);
    switch (col) {
    case 0:
        DrawTextLeft(Cell.FitText(CellString(e.Symbol)));
        break;
    case 1:
        DrawFixedRight(e.Last, 2);
        break;
    case 2:
        // A change without a price to go with it is not shown.
        if (!std::isnan(e.Change) && !std::isnan(e.Last))
            DrawTextRight(Cell.FormatFixed(e.Change, 2));
        break;
    case 3:
        if (!std::isnan(e.PercentVol))
            DrawTextRight(Cell.FormatPercent(e.PercentVol));
        break;
    default:
        break;
    }
}
