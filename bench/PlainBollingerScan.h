#pragma once
// The Bollinger list rule written plainly, as the window used to keep it: a vector scanned from
// the top for each "add" and copied whole for each hand-over. The differential test holds
// TBollingerList to it, and the benchmark measures it as the cost before.

#include "Olvarra/AlertRecords.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

class TPlainBollingerScan {
public:
    static constexpr qint64 LifeMs = 2 * 60 * 1000;

    bool Apply(const QByteArray& action, const TBollingerEntry& entry)
    {
        if (action == "add")
            Add(entry);
        else if (action == "delete")
            return Delete(entry.Symbol);
        return true;
    }

    void Add(const TBollingerEntry& entry)
    {
        qsizetype p = Known.count(entry.Symbol) ? FindExact(entry.Symbol) : -1;
        Known.insert(entry.Symbol);
        if (p == -1) {
            Rows.push_back(entry);
            p = qsizetype(Rows.size()) - 1;
        }
        const double dist = std::fabs(entry.DistFromBB);
        qsizetype t = qsizetype(Rows.size());
        for (qsizetype i = 0; i < qsizetype(Rows.size()); ++i) {
            const TBollingerEntry& row = Rows[size_t(i)];
            const double e = std::fabs(row.DistFromBB);
            if (std::isnan(dist) || std::isnan(e) || (e == dist && row.Symbol >= entry.Symbol) || e < dist) {
                t = i;
                break;
            }
        }
        const auto at = [&](qsizetype i) { return Rows.begin() + i; };
        if (t > p) {
            std::rotate(at(p), at(p + 1), at(t));
            Rows[size_t(t - 1)] = entry;
        } else if (t < p) {
            std::rotate(at(t), at(p), at(p + 1));
            Rows[size_t(t)] = entry;
        } else {
            Rows[size_t(p)] = entry;
        }
    }

    bool Delete(const QByteArray& symbol)
    {
        const qsizetype p = Known.count(symbol) ? FindExact(symbol) : -1;
        if (p == -1)
            return false;
        Known.erase(symbol);
        Rows.erase(Rows.begin() + p);
        return true;
    }

    bool Expire(qint64 nowMs)
    {
        Known.clear();
        std::vector<TBollingerEntry> kept;
        for (const TBollingerEntry& row : Rows) {
            if (row.Received + LifeMs > nowMs) {
                kept.push_back(row);
                Known.insert(row.Symbol);
            }
        }
        if (kept.size() == Rows.size())
            return false;
        Rows = std::move(kept);
        return true;
    }

    // The hand-over as it was: a copy of every row.
    TBollingerEntries Snapshot() const { return TBollingerEntries::FromVector(Rows); }
    const std::vector<TBollingerEntry>& GetRows() const { return Rows; }
    QList<QByteArray> Symbols() const { return QList<QByteArray>(Known.begin(), Known.end()); }

private:
    struct TCaseInsensitiveLess {
        bool operator()(const QByteArray& a, const QByteArray& b) const { return a.compare(b, Qt::CaseInsensitive) < 0; }
    };

    qsizetype FindExact(const QByteArray& symbol) const
    {
        for (qsizetype i = 0; i < qsizetype(Rows.size()); ++i)
            if (Rows[size_t(i)].Symbol == symbol)
                return i;
        return -1;
    }

    std::vector<TBollingerEntry> Rows;
    std::set<QByteArray, TCaseInsensitiveLess> Known;
};
