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

void TBollingerGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        QString caption;
        if (col == 3)
            caption = CellString(ExtraColumnTitle);
        else if (col >= 0 && col < 3)
            caption = QString::fromLatin1(Captions[col]);
        DrawHeaderCell(canvas, rect, caption);
        return;
    }

    const TColor background = FromQColor(Color());
    if (!ShowsEntry(row)) {
        BeginCell(canvas, rect, false, background, clWhite);
        return;
    }
    const TBollingerEntry& e = EntryAt(row);
    switch (col) {
    case 0:
        BeginCell(canvas, rect, false, background, clWhite);
        DrawTextLeft(Cell.FitText(CellString(e.Symbol)));
        break;
    case 1:
        BeginCell(canvas, rect, false, background, SignColor(e.Last));
        DrawFixedRight(e.Last, 2);
        break;
    case 2: {
        const double change = e.Last - e.PrevClose;
        BeginCell(canvas, rect, false, background, SignColor(change));
        DrawFixedRight(change, 2);
        break;
    }
    case 3:
        BeginCell(canvas, rect, false, background, SignColor(e.DistFromBB));
        DrawFixedRight(e.DistFromBB, 2);
        break;
    default:
        BeginCell(canvas, rect, false, background, clWhite);
        break;
    }
}
