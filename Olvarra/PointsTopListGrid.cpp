#include "Olvarra/PointsTopListGrid.h"

#include <cmath>

namespace {
using E = TPointsTopListEntry;

TCellContent ChangeCell(const E& e, const TCellText& cell)
{
    // A change without a price to go with it is not shown.
    if (std::isnan(e.Change) || std::isnan(e.Last))
        return NumberContent(QString());
    return NumberContent(cell.FormatFixed(e.Change, 2));
}

TCellContent PercentVolumeCell(const E& e, const TCellText& cell)
{
    return NumberContent(std::isnan(e.PercentVol) ? QString() : cell.FormatPercent(e.PercentVol));
}

constexpr TGridColumn<E> Columns[TPointsTopListGrid::ColumnCount] = {
    {"Symbol", "Symbol", TextCell<E, &E::Symbol>},
    {"Last", "100.00", FixedCell<E, &E::Last, 2>},
    {"Chg", "-1.93", ChangeCell},
    {"%Vol", "1000.00%", PercentVolumeCell},
};
} // namespace

TPointsTopListGrid::TPointsTopListGrid(QWidget* owner)
    : TRowGrid(owner, pcPercentVolume, Columns, frMeasureOnFontChange)
{
}

void TPointsTopListGrid::ShowVolumeColumn()
{
    SetColCount(ColumnCount);
    MeasureColumns();
}
