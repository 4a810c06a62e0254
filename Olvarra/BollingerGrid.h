#pragma once
// A live set of symbols, one row each, every number coloured by its sign.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TBollingerGrid : public TRowGrid<TBollingerEntry> {
public:
    enum TColumn { bcSymbol, bcLast, bcChange, bcDistance, ColumnCount };

    // Measured once: a font chosen later changes the text but not the sizes.
    explicit TBollingerGrid(QWidget* owner);

    const QByteArray& GetExtraColumnTitle() const { return ExtraColumnTitle; }
    // Stores the title and repaints only its header cell.
    void SetExtraColumnTitle(const QByteArray& title);

    // Light green above 0, white at 0, light red below.
    static TColor SignColor(double x);

    QString HeaderCaption(int col) const override;

private:
    QByteArray ExtraColumnTitle;
};
