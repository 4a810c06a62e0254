// An alert body (category line, then the field list as a form) into the records of every
// kind. Each record must carry what its fields say, absent or malformed numbers as the
// kind's rule gives them, and the numbered lists must stop exactly where their rule says.
#include "FuzzCheck.h"
#include "Olvarra/AlertRecords.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include <cmath>

namespace {
bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

double NumberOf(const tHashTable& fields, const QByteArray& key) { return FieldToNumber(fields.Get(key)); }

QByteArray Numbered(const char* key, size_t i) { return QByteArray(key) + QByteArray::number(qulonglong(i)); }

bool Same(const TPointsTopListEntry& a, const TPointsTopListEntry& b)
{
    return a.Symbol == b.Symbol && Same(a.Last, b.Last) && Same(a.Change, b.Change) && Same(a.PercentVol, b.PercentVol);
}

bool Same(const TWexTopListEntry& a, const TWexTopListEntry& b)
{
    return a.Symbol == b.Symbol && Same(a.PriceSpike, b.PriceSpike) && Same(a.VolRate, b.VolRate) &&
           Same(a.TodaysRange, b.TodaysRange) && Same(a.OpeningRange, b.OpeningRange) && Same(a.Strength, b.Strength) &&
           Same(a.UpTrend, b.UpTrend) && Same(a.NearHigh, b.NearHigh) && Same(a.NearLow, b.NearLow) &&
           Same(a.NewHigh, b.NewHigh) && Same(a.NewLow, b.NewLow) && Same(a.Last, b.Last) && Same(a.Change, b.Change) &&
           a.Volume == b.Volume && a.Count == b.Count;
}

template <class T>
bool SameLists(const std::vector<T>& a, const std::vector<T>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!Same(a[i], b[i]))
            return false;
    return true;
}

// A window reads the same records in one pass that keeps only the keys its kind reads: each
// must equal the record read from the table of the whole form.
void CheckPicksAgainst(const tHashTable& fields, const QByteArray& fieldList)
{
    std::vector<QByteArray> keys = QuickStrikeKeys("sma_divergence");
    for (const auto& more : {BollingerKeys(), SimpleListKeys(), RookKeys(), TamberKeys()})
        keys.insert(keys.end(), more.begin(), more.end());
    TFormPick pick(keys);
    pick.Parse(fieldList);
    for (const QByteArray& key : keys)
        FUZZ_CHECK(pick.GetView(key) == fields.GetView(key) && pick.GetView(key).isNull() == fields.GetView(key).isNull());
    const TQuickStrikeEntry q1 = ReadQuickStrikeEntry(fields, "sma_divergence"), q2 = ReadQuickStrikeEntry(pick, "sma_divergence");
    FUZZ_CHECK(q1.Symbol == q2.Symbol && q1.Time == q2.Time && Same(q1.Last, q2.Last) && Same(q1.PrevClose, q2.PrevClose) &&
               Same(q1.ExtraValue, q2.ExtraValue));
    const TRookEntry r1 = ReadRookEntry(fields), r2 = ReadRookEntry(pick);
    FUZZ_CHECK(r1.Time == r2.Time && r1.Symbol == r2.Symbol && Same(r1.Change, r2.Change) && Same(r1.BB, r2.BB) &&
               r1.Volume == r2.Volume && r1.Count == r2.Count && Same(r1.Rank, r2.Rank) && Same(r1.RV, r2.RV));
    const TTamberEntry t1 = ReadTamberEntry(fields), t2 = ReadTamberEntry(pick);
    FUZZ_CHECK(t1.Time == t2.Time && Same(t1.PercentChange, t2.PercentChange) && Same(t1.Change, t2.Change) &&
               t1.Volume == t2.Volume && t1.Count == t2.Count && Same(t1.PrevClose, t2.PrevClose));

    TNumberedFormPick points(PointsTopListColumns()), wex(WexTopListColumns());
    points.Parse(fieldList);
    wex.Parse(fieldList);
    FUZZ_CHECK(SameLists(ReadPointsTopList(fields), ReadPointsTopList(points)));
    FUZZ_CHECK(SameLists(ReadWexTopList(fields), ReadWexTopList(wex)));
    FUZZ_CHECK(fields.Get(Numbered("symbol", size_t(wex.Rows()))).isEmpty() && wex.Rows() <= fields.Count());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = AsBytes(data, size);
    const QByteArray category = AlertCategory(body);
    const QByteArray fieldList = AlertFieldList(body);
    FUZZ_CHECK(body.startsWith(category));
    FUZZ_CHECK(!category.contains("\r\n"));
    FUZZ_CHECK(!fieldList.contains("\r\n"));
    if (body.contains("\r\n"))
        FUZZ_CHECK(body.startsWith(category + "\r\n" + fieldList));
    else
        FUZZ_CHECK(category == body && fieldList.isEmpty());

    tHashTable fields;
    ParseForm(fieldList, fields);

    const TQuickStrikeEntry quick = ReadQuickStrikeEntry(fields, "sma_divergence");
    FUZZ_CHECK(quick.Symbol == fields.Get("symbol") && quick.Time == fields.Get("time"));
    FUZZ_CHECK(Same(quick.Last, NumberOf(fields, "last")) && Same(quick.PrevClose, NumberOf(fields, "prev_close")));
    FUZZ_CHECK(Same(quick.ExtraValue, NumberOf(fields, "sma_divergence")));

    const TBollingerEntry bollinger = ReadBollingerEntry(fields);
    FUZZ_CHECK(bollinger.Symbol == fields.Get("symbol"));
    FUZZ_CHECK(Same(bollinger.DistFromBB, NumberOf(fields, "dist_from_bb")));

    const TPointsTopListEntry simple = ReadSimpleListEntry(fields);
    FUZZ_CHECK(simple.PercentVol == 0 && Same(simple.Change, NumberOf(fields, "change")));

    const TRookEntry rook = ReadRookEntry(fields);
    FUZZ_CHECK(rook.Volume == WholeNumber(fields.Get("volume"), 0) && rook.Count == WholeNumber(fields.Get("count"), 0));
    FUZZ_CHECK(!std::isnan(rook.Rank)); // an absent rank is 0
    FUZZ_CHECK(Same(rook.RV, NumberOf(fields, "rv")) && Same(rook.BB, NumberOf(fields, "bb")));

    const TTamberEntry tamber = ReadTamberEntry(fields);
    FUZZ_CHECK(!std::isnan(tamber.PrevClose) && !std::isnan(tamber.PercentChange));
    if (!(tamber.Last > 0 && tamber.PrevClose > 0))
        FUZZ_CHECK(tamber.PercentChange == 0);
    FUZZ_CHECK(Same(tamber.Change, tamber.Last - tamber.PrevClose));

    // Points list: entries while symbol, last and change are all there.
    const auto points = ReadPointsTopList(fields);
    for (size_t i = 0; i < points.size(); ++i) {
        FUZZ_CHECK(points[i].Symbol == fields.Get(Numbered("symbol", i)) && !points[i].Symbol.isEmpty());
        FUZZ_CHECK(!std::isnan(points[i].Last) && !std::isnan(points[i].Change));
        FUZZ_CHECK(Same(points[i].PercentVol, NumberOf(fields, Numbered("percent_vol", i))));
    }
    const size_t p = points.size();
    FUZZ_CHECK(fields.Get(Numbered("symbol", p)).isEmpty() || std::isnan(NumberOf(fields, Numbered("last", p))) ||
               std::isnan(NumberOf(fields, Numbered("change", p))));
    FUZZ_CHECK(int(p) <= fields.Count());

    // Wex list: entries while there is a symbol; the numbers may be anything.
    const auto wex = ReadWexTopList(fields);
    for (size_t i = 0; i < wex.size(); ++i) {
        FUZZ_CHECK(wex[i].Symbol == fields.Get(Numbered("symbol", i)) && !wex[i].Symbol.isEmpty());
        FUZZ_CHECK(Same(wex[i].PriceSpike, NumberOf(fields, Numbered("price_spike", i))));
        FUZZ_CHECK(wex[i].Volume == WholeNumber(fields.Get(Numbered("volume", i)), 0));
    }
    FUZZ_CHECK(fields.Get(Numbered("symbol", wex.size())).isEmpty());
    FUZZ_CHECK(int(wex.size()) <= fields.Count());

    CheckPicksAgainst(fields, fieldList);
    return 0;
}
