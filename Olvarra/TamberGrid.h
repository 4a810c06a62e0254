#pragma once
// Newest-first list of every alert: time, symbol, last price, percent and absolute change,
// volume and count; a count of 10 or more is marked yellow.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TTamberGrid : public TRowGrid<TTamberEntry> {
public:
    explicit TTamberGrid(QWidget* owner);

    // Row height and the widths of every column but "Last" from the current font ("Last"
    // keeps its width), then a repaint.
    void MeasureColumns();
    QString HeaderCaption(int col) const override;

protected:
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override;
    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override;
    void FontChanged() override;
};
