#pragma once
// A ranked list (or a newest-first simple list): symbol, last price, change and, when the
// window asks for it, the percent volume.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TPointsTopListGrid : public TRowGrid<TPointsTopListEntry> {
public:
    explicit TPointsTopListGrid(QWidget* owner);

    // Adds the fourth column ("%Vol"); there is no way back to three.
    void ShowVolumeColumn();
    QString HeaderCaption(int col) const override;
    // Row height and the widths of the shown columns from the current font, then a repaint.
    void MeasureColumns();

protected:
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override;
    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override;
    void FontChanged() override;
};
