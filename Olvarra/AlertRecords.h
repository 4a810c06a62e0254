#pragma once
// The alert row records and how message text becomes their fields. Absent or malformed
// numbers are NaN, absent or malformed whole numbers 0; an alert is never rejected for them.

#include "Platform/NumberText.h"
#include "Olvarra/RowLists.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <cmath>
#include <limits>
#include <vector>

class tHashTable;
class TFormPick;
class TNumberedFormPick;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();


// The first line of an alert body (its category) and the second (its field list).
QByteArray AlertCategory(const QByteArray& body);
QByteArray AlertFieldList(const QByteArray& body);

// Reads fields from one message's table, or from the pick of the keys a reader reads (the
// same values). Texts are strings of their own (short ones shared with earlier equal texts,
// so a symbol seen before costs no allocation); numbers are read in place.
template <class TFields>
QByteArray GetText(const TFields& fields, QByteArrayView key);
template <class TFields>
double GetNumber(const TFields& fields, QByteArrayView key); // NaN default
template <class TFields>
qint32 GetWhole(const TFields& fields, QByteArrayView key); // 0 default

struct TQuickStrikeEntry {
    QByteArray Symbol;
    double Last = NaN;
    double PrevClose = NaN;
    double ExtraValue = NaN;
    QByteArray Time;
};

struct TBollingerEntry {
    QByteArray Symbol;
    double Last = NaN;
    double PrevClose = NaN;
    double DistFromBB = NaN;
    qint64 Received = 0; // monotonic milliseconds (Clock().MonotonicMs()) when processed
};

struct TPointsTopListEntry {
    QByteArray Symbol;
    double Last = NaN;
    double Change = NaN;
    double PercentVol = NaN;
};

struct TRookEntry {
    QByteArray Time;
    QByteArray Symbol;
    double Change = NaN;
    double BB = NaN;
    qint32 Volume = 0;
    qint32 Count = 0;
    double Rank = 0;
    double RV = NaN;
};

struct TTamberEntry {
    QByteArray Time;
    QByteArray Symbol;
    double Last = NaN;
    double PercentChange = 0;
    double Change = NaN;
    qint32 Volume = 0;
    qint32 Count = 0;
    double PrevClose = 0;
};

struct TWexTopListEntry {
    QByteArray Symbol;
    double PriceSpike = NaN;
    double VolRate = NaN;
    double TodaysRange = NaN;
    double OpeningRange = NaN;
    double Strength = NaN;
    double UpTrend = NaN;
    double NearHigh = NaN;
    double NearLow = NaN;
    double NewHigh = NaN;
    double NewLow = NaN;
    double Last = NaN;
    double Change = NaN;
    qint32 Volume = 0;
    qint32 Count = 0;
};

// What the grids are handed: immutable snapshots (see RowLists.h).
using TQuickStrikeEntries = TRowList<TQuickStrikeEntry>;
using TBollingerEntries = TRowList<TBollingerEntry>;
using TPointsTopListEntries = TRowList<TPointsTopListEntry>;
using TRookEntries = TRowList<TRookEntry>;
using TTamberEntries = TRowList<TTamberEntry>;
using TWexTopListEntries = std::vector<TWexTopListEntry>;

// Single-row records from the un-numbered keys, out of a table (tHashTable) or a pick
// (TFormPick) made with the reader's keys below.
template <class TFields>
TQuickStrikeEntry ReadQuickStrikeEntry(const TFields& fields, QByteArrayView extraColumnKey);
template <class TFields>
TBollingerEntry ReadBollingerEntry(const TFields& fields); // Received = now
template <class TFields>
TPointsTopListEntry ReadSimpleListEntry(const TFields& fields); // PercentVol 0
template <class TFields>
TRookEntry ReadRookEntry(const TFields& fields);
template <class TFields>
TTamberEntry ReadTamberEntry(const TFields& fields);

// The keys each single-row reader reads.
std::vector<QByteArray> QuickStrikeKeys(const QByteArray& extraColumnKey);
std::vector<QByteArray> BollingerKeys(); // with "action", which the Bollinger kind reads too
std::vector<QByteArray> SimpleListKeys();
std::vector<QByteArray> RookKeys();
std::vector<QByteArray> TamberKeys();

// Numbered lists: symbol0, last0, ... read until the list's stop rule, out of a table or a
// pick made with the list's columns below.
std::vector<TPointsTopListEntry> ReadPointsTopList(const tHashTable& fields);
std::vector<TPointsTopListEntry> ReadPointsTopList(const TNumberedFormPick& fields);
TWexTopListEntries ReadWexTopList(const tHashTable& fields);
TWexTopListEntries ReadWexTopList(const TNumberedFormPick& fields);

// The numbered keys of each list without their numbers, "symbol" first.
std::vector<QByteArray> PointsTopListColumns();
std::vector<QByteArray> WexTopListColumns();
