#pragma once
// The full top list grid: the server sends its whole ranked list in every message, and the
// grid shows it one row per symbol with up to fifteen configurable columns, value-coloured
// cells, dot gauges for new highs and lows and a price-spike highlight that plays the
// price-spike sound.
//
// When a newer list replaces the one on screen is the rule of TWexTopListOrder (the 30-second
// deferred re-sort, freezing, missing symbols); the grid forwards to it and shows the result.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"
#include "Olvarra/WexTopListOrder.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <vector>

class TWexTopListFullGrid : public TAlertGridBase {
    Q_OBJECT
public:
    // The logical columns a grid column can show (ColumnMap values).
    enum TLogicalColumn {
        lcSymbol = 0,
        lcPriceSpike = 1,
        lcVolRate = 2,
        lcTodaysRange = 3,
        lcOpeningRange = 4,
        lcStrength = 5,
        lcUpTrend = 6,
        lcNearHigh = 7,
        lcNewHigh = 8,
        lcNearLow = 9,
        lcNewLow = 10,
        lcLast = 11,
        lcChange = 12,
        lcVolume = 13,
        lcCount = 14,
        LogicalColumnCount = 15,
    };

    // The owner is required: the grid takes its font before measuring.
    explicit TWexTopListFullGrid(QWidget* owner);
    ~TWexTopListFullGrid() override;

    // The window's "columns" text: items split at commas and blanks, double quotes allowed,
    // each a whole number (malformed: 0). No item at all: the logical columns 0 to 10.
    void SetColumns(const QByteArray& text);
    const std::vector<qint32>& GetColumnMap() const { return ColumnMap; }

    // The list rule (TWexTopListOrder) decides which list shows; the grid shows it.
    void SetEntries(const TWexTopListEntries& list);
    void SortNow();
    // Called every second by the window.
    void SortTimerTick();
    void SetFrozen(bool flag);
    bool TimeToSort() const { return Order.TimeToSort(); }

    bool GetFrozen() const { return Order.GetFrozen(); }
    bool GetSortPending() const { return Order.GetSortPending(); }
    qint32 GetMissingCount() const { return Order.GetMissingCount(); }
    const QByteArray& GetMissingText() const { return Order.GetMissingText(); }
    bool GetIgnoreSortTimer() const { return Order.GetIgnoreSortTimer(); }
    void SetIgnoreSortTimer(bool on) { Order.SetIgnoreSortTimer(on); }

    const TWexTopListEntries& GetDisplayedEntries() const { return Order.GetDisplayedEntries(); }
    const TWexTopListEntries& GetPendingEntries() const { return Order.GetPendingEntries(); }
    const QByteArray& GetLastLinkedSymbol() const { return LastLinkedSymbol; }
    const QList<QByteArray>& GetSpikingSymbols() const { return SpikingSymbols; }

    // Captions and width samples of the logical columns (empty outside 0..14).
    static QString Caption(int logical);

    // Taken out: the displayed rows. The rows shown are the selected row when there is one.
    qsizetype EntryCount() const override { return qsizetype(GetDisplayedEntries().size()); }
    QString HeaderCaption(int col) const override { return Caption(LogicalColumn(col)); }
    void ShownRange(qsizetype& first, qsizetype& count) const override;

protected:
    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override;
    bool SelectCell(int col, int row) override;
    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override;
    void FontChanged() override;

private:
    struct TDotImages {
        QImage Large; // three times the text rectangle, painted on
        QImage Small; // the shrunk result that is drawn
    };

    // After a list was shown: row count, and the selection kept or dropped.
    void ShowApplied();
    void MeasureColumns();
    int LogicalColumn(int col) const;
    bool ShowsEntry(int row) const { return row >= 1 && size_t(row - 1) < GetDisplayedEntries().size(); }
    static TCellContent ValueContent(const TWexTopListEntry& entry, int logical, const TCellText& cell);
    void DrawDot(const TCellPainter& cell, double v, TColor colour, TColor background, TDotImages& images);

    TWexTopListOrder Order;
    TDotImages NewHighDotImages;
    TDotImages NewLowDotImages;
    std::vector<qint32> ColumnMap;
    bool SelectionEventsEnabled = false;
    QList<QByteArray> SpikingSymbols;
    QByteArray LastLinkedSymbol;
};
