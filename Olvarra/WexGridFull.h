#pragma once
// The full top list grid: the server sends its whole ranked list in every message, and the
// grid shows it one row per symbol with up to fifteen configurable columns, value-coloured
// cells, dot gauges for new highs and lows and a price-spike highlight that plays the
// price-spike sound.
//
// A new order is shown at most every 30 seconds (at once when the user asks, always when the
// window ignores the sort timer, never by time while frozen). In between the rows on screen
// keep their places while their values are updated, and the symbols that are new in the
// server's list are named as missing, so that rows do not jump under the reader's eyes.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertRecords.h"

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

    // A new list from the server: shown at once when it has the displayed symbols in the
    // displayed order or when it is time to sort; otherwise its values are copied over the
    // displayed rows of the same symbols and the list waits.
    void SetEntries(const TWexTopListEntries& list);
    // Shows the waiting list now, also while frozen.
    void SortNow();
    // Called every second by the window.
    void SortTimerTick();
    // Freezing keeps order and membership until unfrozen (or SortNow); unfreezing shows a
    // waiting list at once.
    void SetFrozen(bool flag);
    bool TimeToSort() const;

    bool GetFrozen() const { return Frozen; }
    bool GetSortPending() const { return SortPending; }
    qint32 GetMissingCount() const { return MissingCount; }
    // Up to five missing symbols joined by ", ", then " and <n> more".
    const QByteArray& GetMissingText() const { return MissingText; }
    bool GetIgnoreSortTimer() const { return IgnoreSortTimer; }
    void SetIgnoreSortTimer(bool on) { IgnoreSortTimer = on; }

    const TWexTopListEntries& GetDisplayedEntries() const { return DisplayedEntries; }
    const TWexTopListEntries& GetPendingEntries() const { return PendingEntries; }
    const QByteArray& GetLastLinkedSymbol() const { return LastLinkedSymbol; }
    const QList<QByteArray>& GetSpikingSymbols() const { return SpikingSymbols; }

    // Captions and width samples of the logical columns (empty outside 0..14).
    static QString Caption(int logical);

    // Taken out: the displayed rows. The rows shown are the selected row when there is one.
    qsizetype EntryCount() const override { return qsizetype(DisplayedEntries.size()); }
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

    void ApplyPending();
    void UpdateInPlace();
    void MeasureColumns();
    int LogicalColumn(int col) const;
    bool ShowsEntry(int row) const { return row >= 1 && size_t(row - 1) < DisplayedEntries.size(); }
    static TCellContent ValueContent(const TWexTopListEntry& entry, int logical, const TCellText& cell);
    void DrawDot(QPainter& canvas, double v, TColor colour, TColor background, TDotImages& images);

    TWexTopListEntries DisplayedEntries;
    TWexTopListEntries PendingEntries;
    bool SortPending = false;
    qint32 MissingCount = 0;
    QByteArray MissingText;
    bool IgnoreSortTimer = false;
    bool Frozen = false;
    qint64 LastSortTime; // Clock().MonotonicMs() of the last SortNow
    TDotImages NewHighDotImages;
    TDotImages NewLowDotImages;
    std::vector<qint32> ColumnMap;
    bool SelectionEventsEnabled = false;
    QList<QByteArray> SpikingSymbols;
    QByteArray LastLinkedSymbol;
};
