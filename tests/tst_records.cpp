// labels: grids records
// Reading alert messages into row records: the two lines, field conversions, the numbered
// lists and their stop rules, and the computed Tamber fields.

#include "Olvarra/AlertRecords.h"
#include "Platform/Clock.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include "Platform/NumberText.h"

#include <QRandomGenerator>
#include <QtTest>
#include <cmath>
#include <clocale>
#include <cstdlib>
#include <string>

namespace {
// The field table of one message body, as an alert window builds it.
struct TFields {
    explicit TFields(const QByteArray& fieldList) { ParseForm(fieldList, Table); }
    tHashTable Table;
};

// Every field of a record as text (NaN as "nan"), so that two readings compare at once.
QByteArray Line(std::initializer_list<QByteArray> texts, std::initializer_list<double> numbers)
{
    QByteArray line;
    for (const QByteArray& text : texts)
        line += (text.isNull() ? QByteArray("<null>") : "[" + text + "]") + " ";
    for (double number : numbers)
        line += QByteArray::number(number, 'g', 17) + " ";
    return line;
}

// Each reader's record, read through the given source of fields.
template <class TKeys, class TRows>
QByteArrayList Records(const TKeys& keys, const TRows& rows)
{
    QByteArrayList lines;
    const TQuickStrikeEntry q = ReadQuickStrikeEntry(keys, "sma_divergence");
    lines << "quickstrike " + Line({q.Symbol, q.Time}, {q.Last, q.PrevClose, q.ExtraValue});
    const TBollingerEntry b = ReadBollingerEntry(keys);
    lines << "bollinger " + Line({GetText(keys, "action"), b.Symbol}, {b.Last, b.PrevClose, b.DistFromBB});
    const TPointsTopListEntry p = ReadSimpleListEntry(keys);
    lines << "simple " + Line({p.Symbol}, {p.Last, p.Change, p.PercentVol});
    const TRookEntry r = ReadRookEntry(keys);
    lines << "rook " + Line({r.Time, r.Symbol}, {r.Change, r.BB, double(r.Volume), double(r.Count), r.Rank, r.RV});
    const TTamberEntry t = ReadTamberEntry(keys);
    lines << "tamber "
                 + Line({t.Time, t.Symbol},
                        {t.Last, t.PercentChange, t.Change, double(t.Volume), double(t.Count), t.PrevClose});
    for (const TPointsTopListEntry& e : ReadPointsTopList(rows.first))
        lines << "points " + Line({e.Symbol}, {e.Last, e.Change, e.PercentVol});
    for (const TWexTopListEntry& e : ReadWexTopList(rows.second))
        lines << "wex "
                     + Line({e.Symbol}, {e.PriceSpike, e.VolRate, e.TodaysRange, e.OpeningRange, e.Strength, e.UpTrend,
                                         e.NearHigh, e.NearLow, e.NewHigh, e.NewLow, e.Last, e.Change,
                                         double(e.Volume), double(e.Count)});
    return lines;
}

// Forms made of the keys the readers read, spelt as they are and in ways that must not
// match (case, leading zeros, numbers too long), with "%" in keys and values, repeated keys,
// empty values and items that are not pairs.
QByteArray RandomForm(QRandomGenerator& random)
{
    static const QByteArrayList keys = {
        "symbol", "last", "prev_close", "time", "sma_divergence", "change", "bb", "volume", "count", "rank", "rv",
        "dist_from_bb", "action", "sym%62ol", "l%61st", "Symbol", "", "symbol0", "symbol1", "symbol2", "symbol01",
        "symbol%30", "sym%62ol1", "last0", "last1", "last2", "change0", "change1", "change2", "percent_vol0",
        "percent_vol1", "price_spike0", "price_spike1", "volume1", "count0", "new_low1", "symbol999999999",
        "symbol1000000000", "symbol-1", "last%", "symbol%3"};
    static const QByteArrayList values = {"", "1.5", "A", "B", "abc", "%41B", "x%2", "12", "-3", "1e3", "nan",
                                          "S%26P", "a=b", "%3D", "1%2E5"};
    QByteArray form;
    const int items = random.bounded(12);
    for (int i = 0; i < items; ++i) {
        if (i > 0)
            form += random.bounded(8) == 0 ? "&&" : "&";
        if (random.bounded(10) == 0) {
            form += "lonely";
            continue;
        }
        form += keys[random.bounded(keys.size())] + "=" + values[random.bounded(values.size())];
    }
    return form;
}
} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void RecordTextsOutliveTheMessage()
    {
        // A window parses the field line in place, as a view into the body. The record's
        // texts must be its own: the body's bytes go (or are overwritten) after the message.
        QByteArray body("symbol=IBM&time=09%3A31%3A05&last=12.5&prev_close=12&sma_divergence=1");
        TQuickStrikeEntry entry;
        {
            tHashTable fields;
            ParseForm(QByteArray::fromRawData(body.constData(), body.size()), fields);
            entry = ReadQuickStrikeEntry(fields, "sma_divergence");
            QCOMPARE(fields.Get("symbol"), QByteArray("IBM"));
        }
        body.fill('#');
        QCOMPARE(entry.Symbol, QByteArray("IBM"));
        QCOMPARE(entry.Time, QByteArray("09:31:05"));
        QCOMPARE(entry.Last, 12.5);
        // The same for texts read from a table whose form text was a temporary, through a
        // table made after it on the same recycled storage.
        QByteArray symbol, value;
        {
            tHashTable fields;
            ParseForm(QByteArray("symbol=MS%46T&note=x"), fields);
            symbol = GetText(fields, "symbol");
            value = fields.Get("note");
        }
        tHashTable next;
        ParseForm(QByteArray("symbol=ZZZZ&note=y"), next);
        QCOMPARE(symbol, QByteArray("MSFT"));
        QCOMPARE(value, QByteArray("x"));
        QCOMPARE(GetText(next, "symbol"), QByteArray("ZZZZ"));
        QVERIFY(GetText(next, "absent").isNull());
    }

    // Texts seen lately share one storage, so a steady feed of known symbols and times
    // allocates nothing for them; a text too long to keep still reads right.
    void EqualTextsSeenLatelyShareStorage()
    {
        std::vector<QByteArray> first;
        auto read = [](const QByteArray& symbol) {
            TFields f("symbol=" + symbol + "&time=09%3A31%3A05");
            return GetText(f.Table, "symbol");
        };
        for (int i = 0; i < 300; ++i)
            first.push_back(read("S" + QByteArray::number(i * 7919)));
        int shared = 0;
        for (int i = 0; i < 300; ++i) {
            const QByteArray again = read("S" + QByteArray::number(i * 7919));
            QCOMPARE(again, first[size_t(i)]);
            shared += again.constData() == first[size_t(i)].constData();
        }
        QCOMPARE(shared, 300);
        const QByteArray longer(40, 'L');
        QCOMPARE(read(longer), longer);
    }

    void CategoryAndFieldListLines()
    {
        const QByteArray body("TopList\r\nsymbol=IBM&last=1\r\nignored=1");
        QCOMPARE(AlertCategory(body), QByteArray("TopList"));
        QCOMPARE(AlertFieldList(body), QByteArray("symbol=IBM&last=1"));
        QCOMPARE(AlertFieldList("Cat\r\nsymbol=A"), QByteArray("symbol=A"));
        // Without any line end there is no field list.
        QCOMPARE(AlertCategory("Cat"), QByteArray("Cat"));
        QCOMPARE(AlertFieldList("Cat"), QByteArray());
        QCOMPARE(AlertCategory("\r\nsymbol=A"), QByteArray());
    }

    void NumbersAndWholeNumbersFallBackQuietly()
    {
        TFields f("symbol=IBM&symbol=MSFT&last=abc&prev_close=&volume=12x&count=$FF");
        QCOMPARE(GetText(f.Table, "symbol"), QByteArray("MSFT")); // the later key wins
        QVERIFY(std::isnan(GetNumber(f.Table, "last")));
        QVERIFY(std::isnan(GetNumber(f.Table, "prev_close")));
        QVERIFY(std::isnan(GetNumber(f.Table, "missing")));
        QCOMPARE(GetWhole(f.Table, "volume"), 0);
        QCOMPARE(GetWhole(f.Table, "count"), 255);
        QCOMPARE(GetWhole(f.Table, "missing"), 0);
        QCOMPARE(GetText(f.Table, "missing"), QByteArray());
    }

    // Prices are read on a short path where the digits and the power of ten are exact; every
    // decimal must still come out bit for bit as the standard reading gives it, on both sides
    // of each limit of that path.
    void DecimalFieldsReadAsTheStandardReadsThem()
    {
        auto standard = [](const QByteArray& text) {
            // In the C locale whatever the test machine's: the point is the decimal mark.
            static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
            const std::string s = text.toStdString();
            char* end = nullptr;
            const double value = strtod_l(s.c_str(), &end, c);
            return end == s.c_str() + s.size() && !s.empty() ? value : std::nan("");
        };
        QList<QByteArray> texts = {"0", "-0", "+0", "12.34", "-0.5", "+7.25", "1500", "007", "0.1", "0.3",
                                   "9007199254740992", "9007199254740993", "-9007199254740993",
                                   "900719925474099.3", "900719925474099.5", "1234567890123456789",
                                   "12345678901234567890", "0.1234567890123456789", "1.0000000000000000000000",
                                   "0.0000000000000000000001", "0.00000000000000000000001", "5.", ".5", "-.5",
                                   "1e5", "1.5E-3", "0.000001e+7", "99999999999999999999.9", "4.35", "2.675"};
        QRandomGenerator random(12);
        const char alphabet[] = "0123456789";
        for (int i = 0; i < 20000; ++i) {
            QByteArray t;
            const int sign = int(random.bounded(5));
            if (sign == 0)
                t += '-';
            else if (sign == 1)
                t += '+';
            const int before = int(random.bounded(21));
            const int after = int(random.bounded(26));
            for (int d = 0; d < before; ++d)
                t += alphabet[random.bounded(10)];
            if (after > 0 || random.bounded(4) == 0)
                t += '.';
            for (int d = 0; d < after; ++d)
                t += alphabet[random.bounded(10)];
            texts << t;
        }
        for (const QByteArray& text : texts) {
            const double expected = standard(text);
            const double number = FieldToNumber(text);
            QVERIFY2(std::isnan(number) == std::isnan(expected), text.constData());
            if (!std::isnan(expected)) {
                QVERIFY2(number == expected, text.constData());
                QVERIFY2(std::signbit(number) == std::signbit(expected), text.constData());
            }
        }
        QVERIFY(std::isnan(FieldToNumber("+-1")));
        QVERIFY(std::isnan(FieldToNumber("-")));
        QVERIFY(std::isnan(FieldToNumber(".")));
        QVERIFY(std::isnan(FieldToNumber("1.2.3")));
        QVERIFY(std::isnan(FieldToNumber("12a")));
    }

    void SingleRowRecords()
    {
        TFields f("symbol=IBM&last=10&prev_close=8&time=09:31:02&sma_divergence=0.12&my_key=7"
                  "&dist_from_bb=-3&volume=1500&count=10&change=1.5&bb=2.5&rv=3.5");
        const TQuickStrikeEntry qs = ReadQuickStrikeEntry(f.Table, "my_key");
        QCOMPARE(qs.Symbol, QByteArray("IBM"));
        QCOMPARE(qs.Last, 10.0);
        QCOMPARE(qs.PrevClose, 8.0);
        QCOMPARE(qs.ExtraValue, 7.0);
        QCOMPARE(qs.Time, QByteArray("09:31:02"));
        QCOMPARE(ReadQuickStrikeEntry(f.Table, "sma_divergence").ExtraValue, 0.12);

        TManualClock clock(5'000);
        TScopedClock scoped(&clock);
        const TBollingerEntry bb = ReadBollingerEntry(f.Table);
        QCOMPARE(bb.DistFromBB, -3.0);
        QCOMPARE(bb.Received, qint64(5'000));

        const TPointsTopListEntry simple = ReadSimpleListEntry(f.Table);
        QCOMPARE(simple.Change, 1.5);
        QCOMPARE(simple.PercentVol, 0.0);

        const TRookEntry rook = ReadRookEntry(f.Table);
        QCOMPARE(rook.Volume, 1500);
        QCOMPARE(rook.Count, 10);
        QCOMPARE(rook.BB, 2.5);
        QCOMPARE(rook.RV, 3.5);
        QCOMPARE(rook.Rank, 0.0); // no "rank": 0, not NaN
        QCOMPARE(ReadRookEntry(TFields("rank=0.5").Table).Rank, 0.5);
        QCOMPARE(ReadRookEntry(TFields("rank=x").Table).Rank, 0.0);
    }

    void TamberComputedFields()
    {
        TTamberEntry t = ReadTamberEntry(TFields("last=10&prev_close=8").Table);
        QCOMPARE(t.PercentChange, 25.0);
        QCOMPARE(t.Change, 2.0);

        t = ReadTamberEntry(TFields("last=10").Table);
        QCOMPARE(t.PrevClose, 0.0);
        QCOMPARE(t.PercentChange, 0.0);
        QCOMPARE(t.Change, 10.0);

        t = ReadTamberEntry(TFields("prev_close=8").Table);
        QVERIFY(std::isnan(t.Last));
        QCOMPARE(t.PercentChange, 0.0);
        QVERIFY(std::isnan(t.Change));
    }

    void PointsListStopsAtTheFirstIncompleteRow()
    {
        const auto list = ReadPointsTopList(TFields(
            "symbol0=A&last0=1&change0=0.1&percent_vol0=12.5"
            "&symbol1=B&last1=2&change1=0.2"
            "&symbol2=C&last2=3&change2=0.3"
            "&symbol3=D&last3=4&change3=n/a"
            "&symbol4=E&last4=5&change4=0.5").Table);
        QCOMPARE(list.size(), size_t(3));
        QCOMPARE(list[2].Symbol, QByteArray("C"));
        QCOMPARE(list[0].PercentVol, 12.5);
        QVERIFY(std::isnan(list[1].PercentVol));

        // A missing last price also ends the list, and gaps are not bridged.
        QCOMPARE(ReadPointsTopList(TFields("symbol0=A&change0=1").Table).size(), size_t(0));
        QCOMPARE(ReadPointsTopList(TFields("symbol0=A&last0=1&change0=1&symbol2=C&last2=1&change2=1").Table).size(),
                 size_t(1));
    }

    // A window reads only the keys its kind reads, in one pass over the form, with no table:
    // every record must come out exactly as read from the table of the whole form.
    void PicksReadExactlyWhatTheTableHolds()
    {
        QByteArrayList forms = {
            "",
            "symbol=IBM&last=1&symbol=MSFT&last=",
            "sym%62ol=A%26B&l%61st=2%2E5&time=09%3A31%3A05&prev_close=%",
            "=only&symbol=&action=add&dist_from_bb=-1.5&rank=x&rv=nan",
            "symbol0=A&last0=1&change0=0.1&symbol1=B&last1=2&change1=n/a&symbol2=C&last2=3&change2=1",
            "symbol1=B&symbol0=A&symbol0=&symbol%30=C&last0=1&change0=1&last00=9&count0=4&count01=5",
            "symbol0=A&symbol1=B&symbol2=&symbol3=D&price_spike1=7&volume1=12&new_low0=0.25",
        };
        QByteArray longKey(70, 'k'), wex;
        forms << longKey + "=1&symbol=" + QByteArray(80, 'S') + "&time=%" + QByteArray(300, '7');
        for (int i = 0; i < 130; ++i)
            wex += "&symbol" + QByteArray::number(i) + "=S" + QByteArray::number(i) + "&last" + QByteArray::number(i)
                 + "=" + QByteArray::number(i) + "&change" + QByteArray::number(i) + "=1";
        forms << wex;
        QRandomGenerator random(20261210);
        for (int i = 0; i < 3000; ++i)
            forms << RandomForm(random);

        TFormPick keys;
        TNumberedFormPick points(PointsTopListColumns()), wexRows(WexTopListColumns());
        int lists = 0;
        for (const QByteArray& form : forms) {
            const TFields table(form);
            std::vector<QByteArray> wanted = QuickStrikeKeys("sma_divergence");
            for (const auto& more : {BollingerKeys(), SimpleListKeys(), RookKeys(), TamberKeys()})
                wanted.insert(wanted.end(), more.begin(), more.end());
            keys.SetKeys(wanted);
            keys.Parse(form);
            points.Parse(form);
            wexRows.Parse(form);
            const QByteArrayList viaTable = Records(table.Table, std::pair(std::cref(table.Table), std::cref(table.Table)));
            const QByteArrayList viaPicks = Records(keys, std::pair(std::cref(points), std::cref(wexRows)));
            if (viaTable != viaPicks)
                qWarning() << "form:" << form;
            QCOMPARE(viaPicks, viaTable);
            lists += viaTable.size() > 5;
            // Row Rows() never has a symbol; every row before it has one.
            QVERIFY(table.Table.Get("symbol" + QByteArray::number(points.Rows())).isEmpty());
            for (qsizetype row = 0; row < points.Rows(); ++row)
                QVERIFY(!table.Table.Get("symbol" + QByteArray::number(row)).isEmpty());
        }
        QVERIFY(lists > 100); // the random forms make lists too, not only single rows
    }

    void WexListNeedsOnlySymbols()
    {
        QCOMPARE(ReadWexTopList(TFields("last0=1&symbol1=B").Table).size(), size_t(0));
        QCOMPARE(ReadWexTopList(TFields("symbol0=&symbol1=B").Table).size(), size_t(0));

        QByteArray fields;
        for (int i = 0; i < 120; ++i)
            fields += "&symbol" + QByteArray::number(i) + "=S" + QByteArray::number(i);
        fields += "&price_spike7=7.5&volume7=1200&count119=3&new_low0=0.25";
        const auto list = ReadWexTopList(TFields(fields).Table);
        QCOMPARE(list.size(), size_t(120));
        QCOMPARE(list[119].Symbol, QByteArray("S119"));
        QCOMPARE(list[7].PriceSpike, 7.5);
        QCOMPARE(list[7].Volume, 1200);
        QCOMPARE(list[119].Count, 3);
        QCOMPARE(list[0].NewLow, 0.25);
        QVERIFY(std::isnan(list[0].PriceSpike));
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
