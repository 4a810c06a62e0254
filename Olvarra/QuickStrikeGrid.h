#pragma once
// The default alert grid: one row per alert, newest at the top and drawn inverted, with one
// configurable value column.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TQuickStrikeGrid : public TRowGrid<TQuickStrikeEntry> {
public:
    explicit TQuickStrikeGrid(QWidget* owner);

    // Caption of the extra column; empty shows "Divrg".
    const QByteArray& GetExtraColumnTitle() const { return ExtraColumnTitle; }
    void SetExtraColumnTitle(const QByteArray& title);
    // "I" (exactly) shows the extra value as a whole number; anything else with 2 decimals.
    const QByteArray& GetExtraColumnFormat() const { return ExtraColumnFormat; }
    void SetExtraColumnFormat(const QByteArray& format);

    // The extra value as the given cell (by default the one being painted) shows it.
    QString FormatExtraValue(double x) const { return FormatExtraValue(x, Cell); }
    QString FormatExtraValue(double x, const TCellText& cell) const;

    QString HeaderCaption(int col) const override;

protected:
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override;
    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override;

private:
    QByteArray ExtraColumnTitle;
    QByteArray ExtraColumnFormat;
};
