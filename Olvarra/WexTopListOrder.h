#pragma once
// The full top list's ordering rule, apart from the grid: which list is on screen and when a
// newer one replaces it.
//
// A new order is shown at most every 30 seconds (at once when the user asks, always when the
// window ignores the sort timer, never by time while frozen). In between the rows on screen
// keep their places while their values are updated, and the symbols that are new in the
// server's list are named as missing, so that rows do not jump under the reader's eyes.
// Times are read from Clock().

#include "Olvarra/AlertRecords.h"

#include <QByteArray>
#include <utility>
#include <vector>

class TWexTopListOrder {
public:
    TWexTopListOrder();

    // A new list from the server: shown at once when it has the displayed symbols in the
    // displayed order or when it is time to sort; otherwise its values are copied over the
    // displayed rows of the same symbols and the list waits. True when it was shown.
    bool SetEntries(const TWexTopListEntries& list);
    // Shows the waiting list now, also while frozen; true when there was one.
    bool SortNow();
    // The window's one-second tick; true when a waiting list was shown.
    bool SortTimerTick();
    // Freezing keeps order and membership until unfrozen (or SortNow); unfreezing shows a
    // waiting list at once. False when flag is the state already; shown tells whether a
    // list was shown.
    bool SetFrozen(bool flag, bool& shown);
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

private:
    void ApplyPending();
    void UpdateInPlace();

    TWexTopListEntries DisplayedEntries;
    TWexTopListEntries PendingEntries;
    bool SortPending = false;
    qint32 MissingCount = 0;
    QByteArray MissingText;
    bool IgnoreSortTimer = false;
    bool Frozen = false;
    qint64 LastSortTime; // Clock().MonotonicMs() of the last SortNow
    std::vector<std::pair<quint32, size_t>> ScreenIndex; // UpdateInPlace's, kept for its room
};
