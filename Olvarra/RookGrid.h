#pragma once
// Newest-first list of every alert: time, symbol, change, volume, RV, BB and count; rows are
// tinted by rank and a count of 10 or more is marked yellow.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TRookGrid : public TRowGrid<TRookEntry> {
public:
    explicit TRookGrid(QWidget* owner);

    // Row height and all seven column widths from the current font, then a repaint.
    void MeasureColumns();
    QString HeaderCaption(int col) const override;

protected:
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override;
    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override;
    void FontChanged() override;
};
