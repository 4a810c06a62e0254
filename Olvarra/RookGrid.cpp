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

QString TRookGrid::HeaderCaption(int col) const
{
    return col >= 0 && col < ColumnCount ? QString::fromLatin1(Captions[col]) : QString();
}

void TRookGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, HeaderCaption(col));
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
    if (hasEntry)
        DrawContent(DataCellContent(col, row - 1, Cell));
}

TCellContent TRookGrid::DataCellContent(int col, qsizetype index, const TCellText& cell) const
{
    const TRookEntry& e = Entries[index];
    switch (col) {
    case 0:
        return TextContent(e.Time, true);
    case 1:
        return TextContent(e.Symbol);
    case 2:
        return FixedContent(e.Change, 1, cell);
    case 3:
        return CountContent(e.Volume, TCellText::csGrouped, cell);
    case 4:
        return FixedContent(e.RV, 2, cell);
    case 5:
        return FixedContent(e.BB, 2, cell);
    case 6:
        return CountContent(e.Count, TCellText::csGrouped, cell);
    default:
        return NumberContent(QString());
    }
}
