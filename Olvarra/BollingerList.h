#pragma once
// The Bollinger window's list rule, apart from any widget: one row per symbol, ordered by the
// size of the distance from the band (largest first, equal distances by symbol in byte
// order), rows dropped two minutes after their last "add".
//
// The order is the one a scan from the top gives: a new row goes before the first row that it
// does not strictly precede, and a row without a distance stops the scan, so nothing added
// later is ever placed below it.

#include "Olvarra/AlertRecords.h"

#include <QByteArray>
#include <QList>
#include <memory>

class TBollingerList {
public:
    // A row lives this long after its last "add".
    static constexpr qint64 LifeMs = 2 * 60 * 1000;

    TBollingerList();
    ~TBollingerList();
    TBollingerList(const TBollingerList&) = delete;
    TBollingerList& operator=(const TBollingerList&) = delete;

    // One alert's "action" applied to the list: "add" inserts or moves the symbol's row,
    // "delete" removes it, anything else changes nothing. False only when nothing is to be
    // shown again: a "delete" of a symbol that has no row.
    bool Apply(const QByteArray& action, const TBollingerEntry& entry);
    void Add(const TBollingerEntry& entry);
    bool Delete(const QByteArray& symbol);
    // Drops the rows whose last "add" is LifeMs or more before now; true when any went.
    bool Expire(qint64 nowMs);

    // The rows as they are now, top first: a snapshot that later changes leave alone.
    TBollingerEntries Snapshot() const;
    qsizetype size() const;
    // The symbols the list answers for, sorted ignoring letter case.
    QList<QByteArray> Symbols() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};
