#pragma once
// Newest-first list of every alert: time, symbol, last price, percent and absolute change,
// volume and count; a count of 10 or more is marked yellow. Measures its row height and
// columns ("Last" keeps its width), and again when the font changes.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TTamberGrid : public TRowGrid<TTamberEntry> {
public:
    enum TColumn { tcTime, tcSymbol, tcLast, tcPercentChange, tcChange, tcVolume, tcCount, ColumnCount };

    explicit TTamberGrid(QWidget* owner);
};
