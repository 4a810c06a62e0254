#pragma once
// A ranked list (or a newest-first simple list): symbol, last price, change and, when the
// window asks for it, the percent volume.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

class TPointsTopListGrid : public TRowGrid<TPointsTopListEntry> {
public:
    enum TColumn { pcSymbol, pcLast, pcChange, pcPercentVolume, ColumnCount };

    // Shows the first three columns; measures them, and again when the font changes.
    explicit TPointsTopListGrid(QWidget* owner);

    // Adds the fourth column ("%Vol"); there is no way back to three.
    void ShowVolumeColumn();
};
