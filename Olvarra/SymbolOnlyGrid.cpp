#include "Olvarra/SymbolOnlyGrid.h"

#include <QResizeEvent>

TSymbolOnlyGrid::TSymbolOnlyGrid(QWidget* owner) : TAlertGridBase(owner, 6, false)
{
    // The wall is sized to the window; there is never anything to scroll to.
    SetScrollBars(ssNone);
    if (owner) {
        MeasureDefaultRowHeight();
        SetDefaultColWidth(MeasureColumn(QStringLiteral("Symbol")));
        Relayout(true);
    }
}

void TSymbolOnlyGrid::Relayout(bool force)
{
    const int oldCols = ColCount();
    const int oldRows = RowCount();
    SetColCount(std::max(1, width() / std::max(1, DefaultColWidth())));
    SetRowCount(std::max(2, height() / std::max(1, DefaultRowHeight())));
    if (force || ColCount() != oldCols || RowCount() != oldRows) {
        NewestPosition = int(std::min<qsizetype>(Entries.size(), Capacity())) - 1;
        InvalidateGrid();
    }
}

void TSymbolOnlyGrid::SetEntries(TQuickStrikeEntries entries)
{
    if (entries.isEmpty()) {
        Entries = TQuickStrikeEntries();
        Relayout(true);
        return;
    }
    if (!LaidOut) {
        Relayout(true);
        LaidOut = true;
    }
    Entries = std::move(entries);
    NewestPosition = (NewestPosition + 1) % Capacity();
    InvalidateGrid();
}

bool TSymbolOnlyGrid::CellToEntry(int col, int row, qsizetype& index) const
{
    index = -1;
    if (row <= 0 || row >= RowCount() || col < 0 || col >= ColCount())
        return false;
    const int position = (row - 1) + col * (RowCount() - 1);
    qsizetype i = NewestPosition - position;
    if (i < 0)
        i += Capacity();
    if (i < 0 || i >= Entries.size())
        return false;
    index = i;
    return true;
}

QString TSymbolOnlyGrid::HeaderCaption(int) const
{
    return QStringLiteral("Symbol");
}

void TSymbolOnlyGrid::ShownRange(qsizetype& first, qsizetype& count) const
{
    first = 0;
    count = std::min<qsizetype>(Entries.size(), std::max(0, Capacity()));
}

TCellContent TSymbolOnlyGrid::DataCellContent(int, qsizetype index, const TCellText&) const
{
    return TextContent(Entries[index].Symbol);
}

void TSymbolOnlyGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    if (fixed) {
        DrawHeaderCell(canvas, rect, HeaderCaption(col));
        return;
    }
    qsizetype index;
    const bool hasEntry = CellToEntry(col, row, index);
    const bool newest = hasEntry && index == 0;
    const TColor background = FromQColor(Color());
    const TCellPainter cell = BeginCell(canvas, rect, false, newest ? TextColor : background, newest ? clBlack : TextColor);
    if (hasEntry)
        cell.Draw(DataCellContent(col, index, cell.CellText()));
}

void TSymbolOnlyGrid::MouseUp(Qt::MouseButton button, const QPoint& pos)
{
    TAlertGridBase::MouseUp(button, pos);
    if (button != Qt::LeftButton)
        return;
    int col, row;
    qsizetype index;
    if (MouseToCell(pos, col, row) && CellToEntry(col, row, index))
        SendSymbol(Entries[index].Symbol);
}

void TSymbolOnlyGrid::resizeEvent(QResizeEvent* event)
{
    TAlertGridBase::resizeEvent(event);
    Relayout(false);
}
