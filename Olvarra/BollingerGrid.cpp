#include "Olvarra/BollingerGrid.h"

#include <cmath>

namespace {
const char* const Captions[] = {"Symbol", "Last", "Chg"};
const char* const Samples[] = {"Symbol", "100.00", "-1.93", "-13.3%"};
constexpr int ColumnCount = 4;
} // namespace

TBollingerGrid::TBollingerGrid(QWidget* owner) : TRowGrid(owner, ColumnCount)
{
    SetExtraColumnTitle("BBand");
    if (owner) {
        MeasureDefaultRowHeight();
        MeasureSampleColumns(Samples, ColumnCount);
    }
}

void TBollingerGrid::SetExtraColumnTitle(const QByteArray& title)
{
    ExtraColumnTitle = title;
    InvalidateCell(3, 0);
}

TColor TBollingerGrid::SignColor(double x)
{
    if (x > 0)
        return RGBColor(100, 255, 100);
    if (x < 0)
        return RGBColor(255, 75, 75);
    return clWhite;
}

QString TBollingerGrid::HeaderCaption(int col) const
{
    if (col == 3)
        return CellString(ExtraColumnTitle);
    if (col >= 0 && col < 3)
        return QString::fromLatin1(Captions[col]);
    return QString();
}

void TBollingerGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, HeaderCaption(col));
        return;
    }

    const TColor background = FromQColor(Color());
    if (!ShowsEntry(row)) {
        BeginCell(canvas, rect, false, background, clWhite);
        return;
    }
    const TBollingerEntry& e = EntryAt(row);
    TColor text = clWhite;
    switch (col) {
    case 1:
        text = SignColor(e.Last);
        break;
    case 2:
        text = SignColor(e.Last - e.PrevClose);
        break;
    case 3:
        text = SignColor(e.DistFromBB);
        break;
    default:
        break;
    }
    BeginCell(canvas, rect, false, background, text);
    DrawContent(DataCellContent(col, row - 1, Cell));
}

TCellContent TBollingerGrid::DataCellContent(int col, qsizetype index, const TCellText& cell) const
{
    const TBollingerEntry& e = Entries[index];
    switch (col) {
    case 0:
        return TextContent(e.Symbol);
    case 1:
        return FixedContent(e.Last, 2, cell);
    case 2:
        return FixedContent(e.Last - e.PrevClose, 2, cell);
    case 3:
        return FixedContent(e.DistFromBB, 2, cell);
    default:
        return NumberContent(QString());
    }
}
