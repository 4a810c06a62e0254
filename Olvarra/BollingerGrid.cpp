#include "Olvarra/BollingerGrid.h"

namespace {
using E = TBollingerEntry;

double Change(const E& e) { return e.Last - e.PrevClose; }

TCellContent ChangeCell(const E& e, const TCellText& cell)
{
    return FixedContent(Change(e), 2, cell);
}

// Every number in the light colour of its sign; the symbol in white whatever the window's
// colour.
TCellColours WhiteText(const E&, const TCellColours& row) { return {row.Background, clWhite}; }
template <double (*Value)(const E&)>
TCellColours SignColours(const E& e, const TCellColours& row)
{
    return {row.Background, TBollingerGrid::SignColor(Value(e))};
}
double Last(const E& e) { return e.Last; }
double Distance(const E& e) { return e.DistFromBB; }

constexpr TGridColumn<E> Columns[TBollingerGrid::ColumnCount] = {
    {"Symbol", "Symbol", TextCell<E, &E::Symbol>, WhiteText},
    {"Last", "100.00", FixedCell<E, &E::Last, 2>, SignColours<Last>},
    {"Chg", "-1.93", ChangeCell, SignColours<Change>},
    {nullptr, "-13.3%", FixedCell<E, &E::DistFromBB, 2>, SignColours<Distance>}, // named by the settings
};
} // namespace

TBollingerGrid::TBollingerGrid(QWidget* owner) : TRowGrid(owner, ColumnCount, Columns)
{
    SetExtraColumnTitle("BBand");
}

void TBollingerGrid::SetExtraColumnTitle(const QByteArray& title)
{
    ExtraColumnTitle = title;
    InvalidateCell(bcDistance, 0);
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
    if (col == bcDistance)
        return CellString(ExtraColumnTitle);
    return TRowGrid::HeaderCaption(col);
}
