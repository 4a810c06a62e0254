#include "Olvarra/BollingerList.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

struct TCaseInsensitiveLess {
    bool operator()(const QByteArray& a, const QByteArray& b) const { return a.compare(b, Qt::CaseInsensitive) < 0; }
};

} // namespace

struct TBollingerList::TImpl {
    std::vector<TBollingerEntry> Rows;
    // Answers "never seen" without a scan; the row itself is found by its exact spelling.
    std::set<QByteArray, TCaseInsensitiveLess> Known;
};

TBollingerList::TBollingerList() : Impl(std::make_unique<TImpl>()) {}
TBollingerList::~TBollingerList() = default;

bool TBollingerList::Apply(const QByteArray& action, const TBollingerEntry& entry)
{
    if (action == "add")
        Add(entry);
    else if (action == "delete")
        return Delete(entry.Symbol);
    return true;
}

namespace {
qsizetype FindExact(const std::vector<TBollingerEntry>& rows, const QByteArray& symbol)
{
    for (qsizetype i = 0; i < qsizetype(rows.size()); ++i)
        if (rows[size_t(i)].Symbol == symbol)
            return i;
    return -1;
}
} // namespace

void TBollingerList::Add(const TBollingerEntry& entry)
{
    std::vector<TBollingerEntry>& rows = Impl->Rows;
    qsizetype p = Impl->Known.count(entry.Symbol) ? FindExact(rows, entry.Symbol) : -1;
    Impl->Known.insert(entry.Symbol);
    if (p == -1) {
        rows.push_back(entry);
        p = qsizetype(rows.size()) - 1;
    }
    const double dist = std::fabs(entry.DistFromBB);
    qsizetype t = qsizetype(rows.size());
    for (qsizetype i = 0; i < qsizetype(rows.size()); ++i) {
        const TBollingerEntry& row = rows[size_t(i)];
        const double e = std::fabs(row.DistFromBB);
        if (std::isnan(dist) || std::isnan(e) || (e == dist && row.Symbol >= entry.Symbol) || e < dist) {
            t = i;
            break;
        }
    }
    const auto at = [&](qsizetype i) { return rows.begin() + i; };
    if (t > p) {
        std::rotate(at(p), at(p + 1), at(t));
        rows[size_t(t - 1)] = entry;
    } else if (t < p) {
        std::rotate(at(t), at(p), at(p + 1));
        rows[size_t(t)] = entry;
    } else {
        rows[size_t(p)] = entry;
    }
}

bool TBollingerList::Delete(const QByteArray& symbol)
{
    const qsizetype p = Impl->Known.count(symbol) ? FindExact(Impl->Rows, symbol) : -1;
    if (p == -1)
        return false;
    Impl->Known.erase(symbol);
    Impl->Rows.erase(Impl->Rows.begin() + p);
    return true;
}

bool TBollingerList::Expire(qint64 nowMs)
{
    Impl->Known.clear();
    std::vector<TBollingerEntry> kept;
    kept.reserve(Impl->Rows.size());
    for (const TBollingerEntry& row : Impl->Rows) {
        if (row.Received + LifeMs > nowMs) {
            kept.push_back(row);
            Impl->Known.insert(row.Symbol);
        }
    }
    if (kept.size() == Impl->Rows.size())
        return false;
    Impl->Rows = std::move(kept);
    return true;
}

TBollingerEntries TBollingerList::Snapshot() const
{
    return TBollingerEntries::FromVector(Impl->Rows);
}

qsizetype TBollingerList::size() const
{
    return qsizetype(Impl->Rows.size());
}

QList<QByteArray> TBollingerList::Symbols() const
{
    return QList<QByteArray>(Impl->Known.begin(), Impl->Known.end());
}
