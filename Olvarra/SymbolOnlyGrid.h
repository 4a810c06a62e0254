#pragma once
// A wall of symbols: as many equal cells as fit, filled column by column; after the last cell
// the next symbol goes to the top-left again, over the oldest one. The newest is highlighted.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TSymbolOnlyGrid : public TAlertGridBase {
public:
    explicit TSymbolOnlyGrid(QWidget* owner);

    // The list is newest first; each call places one more symbol (the window adds one entry
    // per call). An empty list clears the wall.
    void SetEntries(TQuickStrikeEntries entries);
    const TQuickStrikeEntries& GetEntries() const { return Entries; }

    // Counts from the control's size; when forced or when a count changed, the shown entries
    // are packed again from the top-left.
    void Relayout(bool force);

    // Whether the cell shows an entry, and which element of the list.
    bool CellToEntry(int col, int row, qsizetype& index) const;

    int GetNewestPosition() const { return NewestPosition; }
    int Capacity() const { return (RowCount() - 1) * ColCount(); }

    // Taken out as one "Symbol" column, newest first; the wall shows the newest Capacity().
    qsizetype EntryCount() const override { return Entries.size(); }
    QString HeaderCaption(int col) const override;
    int ExportColumnCount() const override { return 1; }
    void ShownRange(qsizetype& first, qsizetype& count) const override;

protected:
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override;
    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override;
    void MouseUp(Qt::MouseButton button, const QPoint& pos) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TQuickStrikeEntries Entries;
    int NewestPosition = 0;
    bool LaidOut = false;
};
