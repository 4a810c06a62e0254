#pragma once
// Newest-first list of every alert: time, symbol, change, volume, RV, BB and count; rows are
// tinted by rank and a count of 10 or more is marked yellow.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TRookGrid : public TRowGrid<TRookEntry> {
public:
    enum TColumn { rcTime, rcSymbol, rcChange, rcVolume, rcRV, rcBB, rcCount, ColumnCount };

    // Measures its row height and all seven columns, and again when the font changes.
    explicit TRookGrid(QWidget* owner);

protected:
    TCellColours RowColours(int row) const override;
};
