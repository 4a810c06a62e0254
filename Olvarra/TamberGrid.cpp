#include "Olvarra/TamberGrid.h"

namespace {
using E = TTamberEntry;
constexpr TGridColumn<E> Columns[TTamberGrid::ColumnCount] = {
    {"Time", "00:00", TextCell<E, &E::Time, true>},
    {"Symbol", "Symbol", TextCell<E, &E::Symbol>},
    // No sample: "Last" keeps the default width, or whatever the user dragged it to.
    {"Last", nullptr, FixedCell<E, &E::Last, 1>},
    {"%Chg", "-1.93", FixedCell<E, &E::PercentChange, 1>},
    {"$Chg", "-1.93", FixedCell<E, &E::Change, 1>},
    {"Volume", "100,000,000", GroupedCountCell<E, &E::Volume>},
    {"#", "10", GroupedCountCell<E, &E::Count>, MarkedCountColours<E, &E::Count>},
};
} // namespace

TTamberGrid::TTamberGrid(QWidget* owner) : TRowGrid(owner, ColumnCount, Columns, frMeasureOnFontChange) {}
