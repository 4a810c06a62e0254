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
    return 0;
}
