#include "Olvarra/QuickStrikeGrid.h"

#include <cmath>

namespace {
const char* const Captions[] = {"Symbol", "Last", "Chg", "%Chg", nullptr, "Time"};
const char* const Samples[] = {"Symbol", "100.00", "-1.93", "-13.3%", "-0.12", "00:00:00"};
constexpr int ColumnCount = 6;
} // namespace

TQuickStrikeGrid::TQuickStrikeGrid(QWidget* owner) : TRowGrid(owner, ColumnCount)
{
    // Measured once: a font chosen later changes the text but not these sizes.
    if (owner) {
        MeasureDefaultRowHeight();
        MeasureSampleColumns(Samples, ColumnCount);
    }
}

void TQuickStrikeGrid::SetExtraColumnTitle(const QByteArray& title)
{
    ExtraColumnTitle = title;
    InvalidateCell(4, 0);
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
    if (col == 4)
        return ExtraColumnTitle.isEmpty() ? QStringLiteral("Divrg") : CellString(ExtraColumnTitle);
    if (col >= 0 && col < ColumnCount)
        return QString::fromLatin1(Captions[col]);
    return QString();
}

void TQuickStrikeGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, HeaderCaption(col));
        return;
    }

    const bool hasEntry = ShowsEntry(row);
    // The newest alert stands out: its whole row is drawn with the colours swapped.
    const bool newest = hasEntry && row == 1;
    const TColor background = FromQColor(Color());
    BeginCell(canvas, rect, false, newest ? TextColor : background, newest ? clBlack : TextColor);
    if (hasEntry)
        DrawContent(DataCellContent(col, row - 1, Cell));
}

TCellContent TQuickStrikeGrid::DataCellContent(int col, qsizetype index, const TCellText& cell) const
{
    const TQuickStrikeEntry& e = Entries[index];
    switch (col) {
    case 0:
        return TextContent(e.Symbol);
    case 1:
        return FixedContent(e.Last, 2, cell);
    case 2:
        if (!std::isnan(e.Last) && !std::isnan(e.PrevClose))
            return NumberContent(cell.FormatFixed(e.Last - e.PrevClose, 2));
        break;
    case 3:
        if (!std::isnan(e.Last) && !std::isnan(e.PrevClose) && e.PrevClose != 0)
            return NumberContent(cell.FormatPercent((e.Last - e.PrevClose) / e.PrevClose * 100));
        break;
    case 4:
        if (!std::isnan(e.ExtraValue))
            return NumberContent(FormatExtraValue(e.ExtraValue, cell));
        break;
    case 5:
        // The time is cut at the cell edge rather than shortened.
        return TextContent(e.Time, false, false);
    default:
        break;
    }
    return NumberContent(QString());
}
