#include "Olvarra/AlertRecords.h"

#include "Platform/Clock.h"
#include "Shared/ByteSlices.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include <array>
#include <cstring>

namespace {
// A number field whose absence means 0 rather than "not known".
template <class TFields>
double GetNumberOrZero(const TFields& fields, QByteArrayView key)
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

namespace {
QByteArray TextOf(QByteArrayView value)
{
    if (value.isNull())
        return QByteArray(); // absent
    return SharedText(value);
}
} // namespace

template <class TFields>
QByteArray GetText(const TFields& fields, QByteArrayView key)
{
    return TextOf(fields.GetView(key));
}

template <class TFields>
double GetNumber(const TFields& fields, QByteArrayView key)
{
    return FieldToNumber(InPlace(fields.GetView(key)));
}

template <class TFields>
qint32 GetWhole(const TFields& fields, QByteArrayView key)
{
    return WholeNumber(InPlace(fields.GetView(key)), 0);
}

#define VESK_FIELD_READERS(TFields)                                                              \
    template QByteArray GetText(const TFields&, QByteArrayView);                                \
    template double GetNumber(const TFields&, QByteArrayView);                                  \
    template qint32 GetWhole(const TFields&, QByteArrayView);
VESK_FIELD_READERS(tHashTable)
VESK_FIELD_READERS(TFormPick)
#undef VESK_FIELD_READERS

std::vector<QByteArray> QuickStrikeKeys(const QByteArray& extraColumnKey)
{
    return {"symbol", "last", "prev_close", extraColumnKey, "time"};
}

std::vector<QByteArray> BollingerKeys()
{
    return {"action", "symbol", "last", "prev_close", "dist_from_bb"};
}

std::vector<QByteArray> SimpleListKeys()
{
    return {"symbol", "last", "change"};
}

std::vector<QByteArray> RookKeys()
{
    return {"time", "symbol", "change", "bb", "volume", "count", "rank", "rv"};
}

std::vector<QByteArray> TamberKeys()
{
    return {"time", "symbol", "last", "volume", "count", "prev_close"};
}

template <class TFields>
TQuickStrikeEntry ReadQuickStrikeEntry(const TFields& fields, QByteArrayView extraColumnKey)
{
    TQuickStrikeEntry entry;
    entry.Symbol = GetText(fields, "symbol");
    entry.Last = GetNumber(fields, "last");
    entry.PrevClose = GetNumber(fields, "prev_close");
    entry.ExtraValue = GetNumber(fields, extraColumnKey);
    entry.Time = GetText(fields, "time");
    return entry;
}

template <class TFields>
TBollingerEntry ReadBollingerEntry(const TFields& fields)
{
    TBollingerEntry entry;
    entry.Symbol = GetText(fields, "symbol");
    entry.Last = GetNumber(fields, "last");
    entry.PrevClose = GetNumber(fields, "prev_close");
    entry.DistFromBB = GetNumber(fields, "dist_from_bb");
    // The row's two-minute life is an interval, so it runs on the monotonic clock: a clock
    // change can neither keep rows alive for an hour nor drop them early. Read cheaply: a row
    // may go a few milliseconds early.
    entry.Received = Clock().RoughMonotonicMs();
    return entry;
}

template <class TFields>
TPointsTopListEntry ReadSimpleListEntry(const TFields& fields)
{
    TPointsTopListEntry entry;
    entry.Symbol = GetText(fields, "symbol");
    entry.Last = GetNumber(fields, "last");
    entry.Change = GetNumber(fields, "change");
    entry.PercentVol = 0;
    return entry;
}

template <class TFields>
TRookEntry ReadRookEntry(const TFields& fields)
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

template <class TFields>
TTamberEntry ReadTamberEntry(const TFields& fields)
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

// Each single-row reader, for both sources of fields.
#define VESK_SINGLE_ROW_READERS(TFields)                                                         \
    template TQuickStrikeEntry ReadQuickStrikeEntry(const TFields&, QByteArrayView);            \
    template TBollingerEntry ReadBollingerEntry(const TFields&);                                \
    template TPointsTopListEntry ReadSimpleListEntry(const TFields&);                           \
    template TRookEntry ReadRookEntry(const TFields&);                                          \
    template TTamberEntry ReadTamberEntry(const TFields&);
VESK_SINGLE_ROW_READERS(tHashTable)
VESK_SINGLE_ROW_READERS(TFormPick)
#undef VESK_SINGLE_ROW_READERS

namespace {
// The numbered lists' columns, in the order of their names below.
enum TPointsColumn { pcSymbol, pcLast, pcChange, pcPercentVol, PointsColumns };
enum TWexColumn {
    wcSymbol, wcPriceSpike, wcVolRate, wcTodaysRange, wcOpeningRange, wcStrength, wcUpTrend, wcNearHigh,
    wcNearLow, wcNewHigh, wcNewLow, wcLast, wcChange, wcVolume, wcCount, WexColumns
};
const char* const PointsNames[PointsColumns] = {"symbol", "last", "change", "percent_vol"};
const char* const WexNames[WexColumns] = {
    "symbol",   "price_spike", "vol_rate", "todays_range", "opening_range", "strength", "up_trend", "near_high",
    "near_low", "new_high",    "new_low",  "last",         "change",        "volume",   "count"};

// A table's numbered keys, read a row at a time, as a pick reads them.
template <int Columns>
class TTableRows {
public:
    TTableRows(const tHashTable& table, const char* const (&names)[Columns]) : Table(table), Names(names) {}
    // No bound but the list's own stop rule, which every list reaches at the first row
    // without a symbol.
    qsizetype Rows() const { return std::numeric_limits<int>::max(); }
    void ReadRow(qsizetype row, QByteArrayView* values) const
    {
        for (int c = 0; c < Columns; ++c)
            values[c] = Table.GetView(Numbered(Names[c], int(row)));
    }

private:
    const tHashTable& Table;
    const char* const (&Names)[Columns];
};

template <class TRows>
std::vector<TPointsTopListEntry> ReadPointsRows(const TRows& rows)
{
    std::vector<TPointsTopListEntry> list;
    list.reserve(32); // a usual list in one allocation
    for (qsizetype i = 0; i < rows.Rows(); ++i) {
        QByteArrayView v[PointsColumns];
        rows.ReadRow(i, v);
        TPointsTopListEntry entry;
        entry.Symbol = TextOf(v[pcSymbol]);
        entry.Last = FieldToNumber(InPlace(v[pcLast]));
        entry.Change = FieldToNumber(InPlace(v[pcChange]));
        entry.PercentVol = FieldToNumber(InPlace(v[pcPercentVol]));
        if (entry.Symbol.isEmpty() || std::isnan(entry.Last) || std::isnan(entry.Change))
            break;
        list.push_back(std::move(entry));
    }
    return list;
}

template <class TRows>
TWexTopListEntries ReadWexRows(const TRows& rows)
{
    TWexTopListEntries list;
    list.reserve(55);
    for (qsizetype i = 0; i < rows.Rows(); ++i) {
        QByteArrayView v[WexColumns];
        rows.ReadRow(i, v);
        TWexTopListEntry entry;
        entry.Symbol = TextOf(v[wcSymbol]);
        if (entry.Symbol.isEmpty())
            break;
        const auto number = [&v](TWexColumn c) { return FieldToNumber(InPlace(v[c])); };
        entry.PriceSpike = number(wcPriceSpike);
        entry.VolRate = number(wcVolRate);
        entry.TodaysRange = number(wcTodaysRange);
        entry.OpeningRange = number(wcOpeningRange);
        entry.Strength = number(wcStrength);
        entry.UpTrend = number(wcUpTrend);
        entry.NearHigh = number(wcNearHigh);
        entry.NearLow = number(wcNearLow);
        entry.NewHigh = number(wcNewHigh);
        entry.NewLow = number(wcNewLow);
        entry.Last = number(wcLast);
        entry.Change = number(wcChange);
        entry.Volume = WholeNumber(InPlace(v[wcVolume]), 0);
        entry.Count = WholeNumber(InPlace(v[wcCount]), 0);
        list.push_back(std::move(entry));
    }
    return list; // the order copies it into room it keeps, so it is not shrunk here
}

template <int Columns>
std::vector<QByteArray> ColumnList(const char* const (&names)[Columns])
{
    return std::vector<QByteArray>(std::begin(names), std::end(names));
}
} // namespace

std::vector<QByteArray> PointsTopListColumns()
{
    return ColumnList(PointsNames);
}

std::vector<QByteArray> WexTopListColumns()
{
    return ColumnList(WexNames);
}

std::vector<TPointsTopListEntry> ReadPointsTopList(const tHashTable& fields)
{
    return ReadPointsRows(TTableRows<PointsColumns>(fields, PointsNames));
}

std::vector<TPointsTopListEntry> ReadPointsTopList(const TNumberedFormPick& fields)
{
    VESK_ASSERT(fields.ColumnCount() == PointsColumns);
    return ReadPointsRows(fields);
}

TWexTopListEntries ReadWexTopList(const tHashTable& fields)
{
    return ReadWexRows(TTableRows<WexColumns>(fields, WexNames));
}

TWexTopListEntries ReadWexTopList(const TNumberedFormPick& fields)
{
    VESK_ASSERT(fields.ColumnCount() == WexColumns);
    return ReadWexRows(fields);
}
