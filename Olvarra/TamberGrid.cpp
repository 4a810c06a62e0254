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

QString TTamberGrid::HeaderCaption(int col) const
{
    return col >= 0 && col < ColumnCount ? QString::fromLatin1(Captions[col]) : QString();
}

void TTamberGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, HeaderCaption(col));
        return;
    }

    const bool hasEntry = ShowsEntry(row);
    const bool marked = hasEntry && col == CountColumn && EntryAt(row).Count >= 10;
    BeginCell(canvas, rect, false, marked ? clYellow : FromQColor(Color()), marked ? clBlack : TextColor);
    if (hasEntry)
        DrawContent(DataCellContent(col, row - 1, Cell));
}

TCellContent TTamberGrid::DataCellContent(int col, qsizetype index, const TCellText& cell) const
{
    const TTamberEntry& e = Entries[index];
    switch (col) {
    case 0:
        return TextContent(e.Time, true);
    case 1:
        return TextContent(e.Symbol);
    case 2:
        return FixedContent(e.Last, 1, cell);
    case 3:
        return FixedContent(e.PercentChange, 1, cell);
    case 4:
        return FixedContent(e.Change, 1, cell);
    case 5:
        return CountContent(e.Volume, TCellText::csGrouped, cell);
    case 6:
        return CountContent(e.Count, TCellText::csGrouped, cell);
    default:
        return NumberContent(QString());
    }
}
