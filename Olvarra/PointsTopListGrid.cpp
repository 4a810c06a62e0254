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

QString TPointsTopListGrid::HeaderCaption(int col) const
{
    return col >= 0 && col < 4 ? QString::fromLatin1(Captions[col]) : QString();
}

void TPointsTopListGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, HeaderCaption(col));
        return;
    }
    BeginCell(canvas, rect, false, FromQColor(Color()), TextColor);
    if (ShowsEntry(row))
        DrawContent(DataCellContent(col, row - 1, Cell));
}

TCellContent TPointsTopListGrid::DataCellContent(int col, qsizetype index, const TCellText& cell) const
{
    const TPointsTopListEntry& e = Entries[index];
    switch (col) {
    case 0:
        return TextContent(e.Symbol);
    case 1:
        return FixedContent(e.Last, 2, cell);
    case 2:
        // A change without a price to go with it is not shown.
        if (!std::isnan(e.Change) && !std::isnan(e.Last))
            return NumberContent(cell.FormatFixed(e.Change, 2));
        break;
    case 3:
        if (!std::isnan(e.PercentVol))
            return NumberContent(cell.FormatPercent(e.PercentVol));
        break;
    default:
        break;
    }
    return NumberContent(QString());
}
