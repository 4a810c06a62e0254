#include "Olvarra/QuickStrikeGrid.h"

#include <cmath>

namespace {
using E = TQuickStrikeEntry;

TCellContent ChangeCell(const E& e, const TCellText& cell)
{
    if (std::isnan(e.Last) || std::isnan(e.PrevClose))
        return NumberContent(QString());
    return NumberContent(cell.FormatFixed(e.Last - e.PrevClose, 2));
}

TCellContent PercentChangeCell(const E& e, const TCellText& cell)
{
    if (std::isnan(e.Last) || std::isnan(e.PrevClose) || e.PrevClose == 0)
        return NumberContent(QString());
    return NumberContent(cell.FormatPercent((e.Last - e.PrevClose) / e.PrevClose * 100));
}

constexpr TGridColumn<E> Columns[TQuickStrikeGrid::ColumnCount] = {
    {"Symbol", "Symbol", TextCell<E, &E::Symbol>},
    {"Last", "100.00", FixedCell<E, &E::Last, 2>},
    {"Chg", "-1.93", ChangeCell},
    {"%Chg", "-13.3%", PercentChangeCell},
    // Named by the settings, and formatted as they say (DataCellContent).
    {nullptr, "-0.12", nullptr},
    // The time is cut at the cell edge rather than shortened.
    {"Time", "00:00:00", TextCell<E, &E::Time, false, false>},
};
} // namespace

TQuickStrikeGrid::TQuickStrikeGrid(QWidget* owner) : TRowGrid(owner, ColumnCount, Columns) {}

void TQuickStrikeGrid::SetExtraColumnTitle(const QByteArray& title)
{
    ExtraColumnTitle = title;
    InvalidateCell(qcExtra, 0);
}

void TQuickStrikeGrid::SetExtraColumnFormat(const QByteArray& format)
{
    ExtraColumnFormat = format;
    InvalidateGrid();
}

QString TQuickStrikeGrid::FormatExtraValue(double x, const TCellText& cell) const
{
    if (ExtraColumnFormat == "I") {
        const double whole = std::trunc(x);
        // Outside the 32-bit range (or not a number) there is no whole number to show.
        if (!(whole >= -2147483648.0 && whole <= 2147483647.0))
            return QStringLiteral("...");
        return cell.FormatCount(qint32(whole), TCellText::csPlain);
    }
    return cell.FormatFixed(x, 2);
}

QString TQuickStrikeGrid::HeaderCaption(int col) const
{
    if (col == qcExtra)
        return ExtraColumnTitle.isEmpty() ? QStringLiteral("Divrg") : CellString(ExtraColumnTitle);
    return TRowGrid::HeaderCaption(col);
}

TCellColours TQuickStrikeGrid::RowColours(int row) const
{
    // The newest alert stands out: its whole row is drawn with the colours swapped.
    if (row == 1 && ShowsEntry(row))
        return {TextColor, clBlack};
    return TRowGrid::RowColours(row);
}

TCellContent TQuickStrikeGrid::DataCellContent(int col, qsizetype index, const TCellText& cell) const
{
    if (col == qcExtra) {
        const double x = Entries[index].ExtraValue;
        return NumberContent(std::isnan(x) ? QString() : FormatExtraValue(x, cell));
    }
    return TRowGrid::DataCellContent(col, index, cell);
}
