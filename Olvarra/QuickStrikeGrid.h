#pragma once
// The default alert grid: one row per alert, newest at the top and drawn inverted, with one
// configurable value column.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TQuickStrikeGrid : public TRowGrid<TQuickStrikeEntry> {
public:
    enum TColumn { qcSymbol, qcLast, qcChange, qcPercentChange, qcExtra, qcTime, ColumnCount };

    // Measured once: a font chosen later changes the text but not the sizes.
    explicit TQuickStrikeGrid(QWidget* owner);

    // Caption of the extra column; empty shows "Divrg".
    const QByteArray& GetExtraColumnTitle() const { return ExtraColumnTitle; }
    void SetExtraColumnTitle(const QByteArray& title);
    // "I" (exactly) shows the extra value as a whole number; anything else with 2 decimals.
    const QByteArray& GetExtraColumnFormat() const { return ExtraColumnFormat; }
    void SetExtraColumnFormat(const QByteArray& format);

    // The extra value as the given cell shows it.
    QString FormatExtraValue(double x, const TCellText& cell) const;

    QString HeaderCaption(int col) const override;

protected:
    TCellColours RowColours(int row) const override;
    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override;

private:
    QByteArray ExtraColumnTitle;
    QByteArray ExtraColumnFormat;
};
