#include "Olvarra/RookGrid.h"

namespace {
using E = TRookEntry;
constexpr TGridColumn<E> Columns[TRookGrid::ColumnCount] = {
    {"Time", "00:00", TextCell<E, &E::Time, true>},
    {"Symbol", "Symbol", TextCell<E, &E::Symbol>},
    {"%Chg", "-1.93", FixedCell<E, &E::Change, 1>},
    {"Volume", "100,000,000", GroupedCountCell<E, &E::Volume>},
    {"RV", "10.00", FixedCell<E, &E::RV, 2>},
    {"BB", "100.00", FixedCell<E, &E::BB, 2>},
    {"#", "10", GroupedCountCell<E, &E::Count>, MarkedCountColours<E, &E::Count>},
};
} // namespace

TRookGrid::TRookGrid(QWidget* owner) : TRowGrid(owner, ColumnCount, Columns, frMeasureOnFontChange) {}

TCellColours TRookGrid::RowColours(int row) const
{
    // Small ranks tint the row near white, rank 1 and above take the window's colour.
    if (ShowsEntry(row) && EntryAt(row).Rank != 0)
        return {BlendColor(clWhite, TextColor, EntryAt(row).Rank), clBlack};
    return TRowGrid::RowColours(row);
}
