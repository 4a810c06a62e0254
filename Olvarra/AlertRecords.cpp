#include "Olvarra/AlertRecords.h"

#include "Platform/Clock.h"
#include "Shared/ByteSlices.h"
#include "Shared/StringStringHashtables.h"

#include <array>
#include <cstring>

namespace {
// A number field whose absence means 0 rather than "not known".
double GetNumberOrZero(const tHashTable& fields, QByteArrayView key)
{
    const double value = GetNumber(fields, key);
    return std::isnan(value) ? 0 : value;
}

// "symbol" + 12 and the like, made on the stack.
class Numbered {
public:
    Numbered(const char* key, int i)
    {
        const qsizetype n = qsizetype(strlen(key));
        Q_ASSERT(n < 40);
        memcpy(Text, key, size_t(n));
        char digits[12];
        int d = 0;
        unsigned v = unsigned(i);
        do {
            digits[d++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        Length = n;
        while (d > 0)
            Text[Length++] = digits[--d];
    }
    operator QByteArrayView() const { return QByteArrayView(Text, Length); }

private:
    char Text[56];
    qsizetype Length = 0;
};

// Short texts seen lately (symbols, times), so that an equal text shares their storage
// instead of allocating its own. Bounded, four ways to a set: two texts whose hashes meet
// no longer push each other out on every alert, as they did when each hash had one place.
// A server sending a new symbol with every alert only costs the allocation each would have
// cost anyway.
constexpr qsizetype MaxSharedText = 32;
constexpr int SharedTextSetBits = 9;
constexpr quint32 SharedTextWays = 4;

struct TSharedTextSet {
    std::array<QByteArray, SharedTextWays> Texts;
    quint32 Next = 0; // the way a new text takes: the one that came in longest ago
};

QByteArray SharedText(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > MaxSharedText)
        return QByteArray(text.data(), text.size());
    thread_local std::array<TSharedTextSet, 1u << SharedTextSetBits> sets;
    // The table's hash keeps little of a word's high bytes in its low bits ("SYM1", "SYM2"
    // would share a set), so the set comes from the top bits of a multiplicative mix.
    TSharedTextSet& set = sets[(tHashTable::Hash(text) * 2654435769u) >> (32 - SharedTextSetBits)];
    for (const QByteArray& kept : set.Texts)
        if (QByteArrayView(kept) == text)
            return kept;
    QByteArray& slot = set.Texts[set.Next];
    set.Next = (set.Next + 1) % SharedTextWays;
    slot = QByteArray(text.data(), text.size());
    return slot;
}

QByteArray InPlace(QByteArrayView text)
{
    return QByteArray::fromRawData(text.data(), text.size());
}
} // namespace

QByteArray AlertCategory(const QByteArray& body)
{
    const qsizetype end = IndexOfLineBreak(body);
    return end < 0 ? body : body.left(end);
}

QByteArray AlertFieldList(const QByteArray& body)
{
    const qsizetype first = IndexOfLineBreak(body);
    if (first < 0)
        return {};
    const qsizetype start = first + 2;
    const qsizetype end = IndexOfLineBreak(body, start);
    return end < 0 ? body.mid(start) : body.mid(start, end - start);
}

QByteArray GetText(const tHashTable& fields, QByteArrayView key)
{
    const QByteArrayView value = fields.GetView(key);
    if (value.isNull())
        return QByteArray(); // absent
    return SharedText(value);
}

double GetNumber(const tHashTable& fields, QByteArrayView key)
{
    return FieldToNumber(InPlace(fields.GetView(key)));
}

qint32 GetWhole(const tHashTable& fields, QByteArrayView key)
{
    return WholeNumber(InPlace(fields.GetView(key)), 0);
}

TQuickStrikeEntry ReadQuickStrikeEntry(const tHashTable& fields, QByteArrayView extraColumnKey)
{
    TQuickStrikeEntry entry;
    entry.Symbol = GetText(fields, "symbol");
    entry.Last = GetNumber(fields, "last");
    entry.PrevClose = GetNumber(fields, "prev_close");
    entry.ExtraValue = GetNumber(fields, extraColumnKey);
    entry.Time = GetText(fields, "time");
    return entry;
}

TBollingerEntry ReadBollingerEntry(const tHashTable& fields)
{
    TBollingerEntry entry;
    entry.Symbol = GetText(fields, "symbol");
    entry.Last = GetNumber(fields, "last");
    entry.PrevClose = GetNumber(fields, "prev_close");
    entry.DistFromBB = GetNumber(fields, "dist_from_bb");
    // The row's two-minute life is an interval, so it runs on the monotonic clock: a clock
    // change can neither keep rows alive for an hour nor drop them early.
    entry.Received = Clock().MonotonicMs();
    return entry;
}

TPointsTopListEntry ReadSimpleListEntry(const tHashTable& fields)
{
    TPointsTopListEntry entry;
    entry.Symbol = GetText(fields, "symbol");
    entry.Last = GetNumber(fields, "last");
    entry.Change = GetNumber(fields, "change");
    entry.PercentVol = 0;
    return entry;
}

TRookEntry ReadRookEntry(const tHashTable& fields)
{
    TRookEntry entry;
    entry.Time = GetText(fields, "time");
    entry.Symbol = GetText(fields, "symbol");
    entry.Change = GetNumber(fields, "change");
    entry.BB = GetNumber(fields, "bb");
    entry.Volume = GetWhole(fields, "volume");
    entry.Count = GetWhole(fields, "count");
    entry.Rank = GetNumberOrZero(fields, "rank");
    entry.RV = GetNumber(fields, "rv");
    return entry;
}

TTamberEntry ReadTamberEntry(const tHashTable& fields)
{
    TTamberEntry entry;
    entry.Time = GetText(fields, "time");
    entry.Symbol = GetText(fields, "symbol");
    entry.Last = GetNumber(fields, "last");
    entry.Volume = GetWhole(fields, "volume");
    entry.Count = GetWhole(fields, "count");
    entry.PrevClose = GetNumberOrZero(fields, "prev_close");
    // NaN compares false, so a missing last price gives 0 here and NaN below.
    entry.PercentChange =
        entry.Last > 0 && entry.PrevClose > 0 ? (entry.Last - entry.PrevClose) / entry.PrevClose * 100 : 0;
    entry.Change = entry.Last - entry.PrevClose;
    return entry;
}

std::vector<TPointsTopListEntry> ReadPointsTopList(const tHashTable& fields)
{
    std::vector<TPointsTopListEntry> list;
    list.reserve(32); // a usual list in one allocation
    for (int i = 0;; ++i) {
        TPointsTopListEntry entry;
        entry.Symbol = GetText(fields, Numbered("symbol", i));
        entry.Last = GetNumber(fields, Numbered("last", i));
        entry.Change = GetNumber(fields, Numbered("change", i));
        entry.PercentVol = GetNumber(fields, Numbered("percent_vol", i));
        if (entry.Symbol.isEmpty() || std::isnan(entry.Last) || std::isnan(entry.Change))
            break;
        list.push_back(std::move(entry));
    }
    return list;
}

TWexTopListEntries ReadWexTopList(const tHashTable& fields)
{
    TWexTopListEntries list;
    list.reserve(55);
    for (int i = 0;; ++i) {
        TWexTopListEntry entry;
        entry.Symbol = GetText(fields, Numbered("symbol", i));
        if (entry.Symbol.isEmpty())
            break;
        entry.PriceSpike = GetNumber(fields, Numbered("price_spike", i));
        entry.VolRate = GetNumber(fields, Numbered("vol_rate", i));
        entry.TodaysRange = GetNumber(fields, Numbered("todays_range", i));
        entry.OpeningRange = GetNumber(fields, Numbered("opening_range", i));
        entry.Strength = GetNumber(fields, Numbered("strength", i));
        entry.UpTrend = GetNumber(fields, Numbered("up_trend", i));
        entry.NearHigh = GetNumber(fields, Numbered("near_high", i));
        entry.NearLow = GetNumber(fields, Numbered("near_low", i));
        entry.NewHigh = GetNumber(fields, Numbered("new_high", i));
        entry.NewLow = GetNumber(fields, Numbered("new_low", i));
        entry.Last = GetNumber(fields, Numbered("last", i));
        entry.Change = GetNumber(fields, Numbered("change", i));
        entry.Volume = GetWhole(fields, Numbered("volume", i));
        entry.Count = GetWhole(fields, Numbered("count", i));
        list.push_back(std::move(entry));
    }
    return list; // the order copies it into room it keeps, so it is not shrunk here
}
