#include "MarketData.h"

#include "WireFormat.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

const char* const Universe[] = {
    "ABRX", "ACLO", "ADVN", "AGRN", "ALTM", "AMBR", "ANVL", "APXO", "ARCT", "ASPN",
    "AXLE", "BALT", "BRVO", "BLNK", "BOLT", "BRKN", "CADR", "CALX", "CEDR", "CHRM",
    "CLVR", "CMTK", "CORV", "CRST", "DALN", "DELV", "DNMO", "DRFT", "ECHO", "EDGR",
    "ELMR", "EMBR", "ENVX", "EQNX", "FALK", "FERN", "FLUX", "FRGE", "GLDN", "GNTR",
    "GRVL", "HALO", "HRBR", "HXGN", "ICRN", "INDG", "IONQX", "JSPR", "KELP", "KNTR",
    "LARK", "LMNL", "LUMX", "MAGN", "MRLN", "MSTC", "NBLA", "NEXO", "NRTH", "OAKR",
    "OPAL", "ORBT", "PNCL", "PRSM", "QRTZ", "RAVN", "RDGE", "SAGE", "SLTE", "SPRK",
    "STRM", "TALN", "TMBR", "TRVX", "UMBR", "VALE", "VRTX", "WAVR", "XNTH", "ZEPH",
};

QByteArray Num(double v, int decimals) { return QByteArray::number(v, 'f', decimals); }

}  // namespace

std::optional<TAlertKind> AlertKindFromName(const QByteArray& name)
{
    static const std::pair<const char*, TAlertKind> names[] = {
        {"quickstrike", TAlertKind::QuickStrike}, {"bollinger", TAlertKind::Bollinger},
        {"symbols", TAlertKind::Symbols},         {"points", TAlertKind::Points},
        {"simple", TAlertKind::Simple},           {"rook", TAlertKind::Rook},
        {"tamber", TAlertKind::Tamber},           {"wex", TAlertKind::Wex},
    };
    for (const auto& [text, kind] : names)
        if (name == text)
            return kind;
    return std::nullopt;
}

QByteArray AlertKindName(TAlertKind kind)
{
    switch (kind) {
    case TAlertKind::QuickStrike: return "quickstrike";
    case TAlertKind::Bollinger: return "bollinger";
    case TAlertKind::Symbols: return "symbols";
    case TAlertKind::Points: return "points";
    case TAlertKind::Simple: return "simple";
    case TAlertKind::Rook: return "rook";
    case TAlertKind::Tamber: return "tamber";
    case TAlertKind::Wex: return "wex";
    }
    return "quickstrike";
}

bool IsListKind(TAlertKind kind) { return kind == TAlertKind::Points || kind == TAlertKind::Wex; }

TMarketData::TMarketData(quint64 seed) : Rng(seed)
{
    for (const char* symbol : Universe) {
        TStock s;
        s.Symbol = symbol;
        // Log-uniform prices: many cheap stocks, a few expensive ones.
        s.PrevClose = std::round(std::exp(Uniform(std::log(2.0), std::log(450.0))) * 100) / 100;
        s.Last = s.PrevClose * (1 + Normal(0.01));
        s.Volume = qint64(Uniform(10'000, 2'000'000));
        s.WexScore = Normal(1.0);
        s.Spike = Uniform(0, 4);
        for (double& v : s.Indicators)
            v = Chance(0.4) ? 0 : Uniform(0, 1.2);
        Stocks.append(s);
    }
}

double TMarketData::Uniform(double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(Rng);
}

double TMarketData::Normal(double sigma) { return std::normal_distribution<double>(0, sigma)(Rng); }

bool TMarketData::Chance(double p) { return Uniform(0, 1) < p; }

int TMarketData::Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(Rng); }

TMarketData::TStock& TMarketData::Step(int index)
{
    TStock& s = Stocks[index];
    s.Last = std::max(0.05, s.Last * std::exp(Normal(0.003)));
    s.Volume += qint64(Uniform(100, 20'000));
    s.Count = std::min(s.Count + 1, 15);
    return s;
}

QByteArray TMarketData::NextForm(TAlertKind kind, const QTime& now, int listRows)
{
    const QByteArray hms = now.toString(QStringLiteral("HH:mm:ss")).toLatin1();
    const QByteArray hm = now.toString(QStringLiteral("HH:mm")).toLatin1();
    TPairs f;
    switch (kind) {
    case TAlertKind::QuickStrike:
    case TAlertKind::Symbols: {
        TStock& s = Step(Pick(int(Stocks.size())));
        f = {{"symbol", s.Symbol},
             {"last", Num(s.Last, 2)},
             {"prev_close", Num(s.PrevClose, 2)},
             {"time", hms},
             {"sma_divergence", Num(Normal(1.5), 2)},
             {"change", Num(s.Last - s.PrevClose, 2)},
             {"volume", QByteArray::number(s.Volume)},
             {"vol_rate", Num(Uniform(0, 4), 1)}};
        break;
    }
    case TAlertKind::Bollinger: {
        if (!BollingerShown.isEmpty() && Chance(0.15)) {
            const int at = Pick(int(BollingerShown.size()));
            f = {{"action", "delete"}, {"symbol", Stocks[BollingerShown[at]].Symbol}};
            BollingerShown.remove(at);
            break;
        }
        const int index = Pick(int(Stocks.size()));
        TStock& s = Step(index);
        if (!BollingerShown.contains(index))
            BollingerShown.append(index);
        const double dist = (Chance(0.5) ? 1 : -1) * Uniform(0, 4);
        f = {{"action", "add"},
             {"symbol", s.Symbol},
             {"last", Num(s.Last, 2)},
             {"prev_close", Num(s.PrevClose, 2)},
             {"dist_from_bb", Num(dist, 2)},
             {"time", hms}};
        break;
    }
    case TAlertKind::Simple: {
        TStock& s = Step(Pick(int(Stocks.size())));
        f = {{"symbol", s.Symbol}, {"last", Num(s.Last, 2)}, {"change", Num(s.Last - s.PrevClose, 2)}};
        break;
    }
    case TAlertKind::Points: {
        QVector<int> order(Stocks.size());
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), Rng);
        order.resize(listRows > 0 ? std::min(listRows, int(order.size())) : 10 + Pick(11));
        for (int i : order)
            Step(i);
        // A points list ranks by the change in price, largest first.
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            return Stocks[a].Last - Stocks[a].PrevClose > Stocks[b].Last - Stocks[b].PrevClose;
        });
        for (int row = 0; row < order.size(); ++row) {
            const TStock& s = Stocks[order[row]];
            const QByteArray n = QByteArray::number(row);
            f.append({"symbol" + n, s.Symbol});
            f.append({"last" + n, Num(s.Last, 2)});
            f.append({"change" + n, Num(s.Last - s.PrevClose, 2)});
            f.append({"percent_vol" + n, Num(Uniform(0, 300), 1)});
        }
        break;
    }
    case TAlertKind::Rook: {
        TStock& s = Step(Pick(int(Stocks.size())));
        // The Rook list's change is in percent.
        f = {{"time", hm},
             {"symbol", s.Symbol},
             {"change", Num((s.Last - s.PrevClose) / s.PrevClose * 100, 2)},
             {"bb", Num(Normal(2), 2)},
             {"volume", QByteArray::number(s.Volume)},
             {"count", QByteArray::number(1 + Pick(15))},
             {"rank", Chance(0.2) ? QByteArray("0") : Num(Uniform(0, 1.5), 2)},
             {"rv", Num(Uniform(0, 5), 2)}};
        break;
    }
    case TAlertKind::Tamber: {
        TStock& s = Step(Pick(int(Stocks.size())));
        f = {{"time", hm},
             {"symbol", s.Symbol},
             {"last", Num(s.Last, 2)},
             {"prev_close", Num(s.PrevClose, 2)},
             {"volume", QByteArray::number(s.Volume)},
             {"count", QByteArray::number(1 + Pick(15))}};
        break;
    }
    case TAlertKind::Wex: {
        // Scores drift, so the ranking changes a little between lists and symbols near the
        // cut-off come and go.
        for (TStock& s : Stocks)
            s.WexScore += Normal(0.25);
        WexSize = std::clamp(WexSize + Normal(2), 15.0, 40.0);
        QVector<int> order(Stocks.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [&](int a, int b) { return Stocks[a].WexScore > Stocks[b].WexScore; });
        order.resize(listRows > 0 ? std::min(listRows, int(order.size())) : int(std::lround(WexSize)));
        // A fixed size has no divider row, so the list holds exactly that many rows.
        const int divider = listRows <= 0 && Chance(0.3) ? 3 + Pick(int(order.size()) - 6) : -1;
        int row = 0;
        static const char* const indicatorKeys[8] = {"todays_range", "opening_range", "strength",
                                                     "up_trend",     "near_high",     "near_low",
                                                     "new_high",     "new_low"};
        for (int k = 0; k < order.size(); ++k) {
            if (k == divider)
                f.append({"symbol" + QByteArray::number(row++), "-"});
            TStock& s = Step(order[k]);
            s.Spike = Chance(0.01) ? Uniform(7, 12) : s.Spike * 0.7 + Uniform(0, 4) * 0.3;
            for (double& v : s.Indicators)
                if (Chance(0.3))
                    v = Chance(0.4) ? 0 : Uniform(0, 1.2);
            const QByteArray n = QByteArray::number(row++);
            f.append({"symbol" + n, s.Symbol});
            f.append({"price_spike" + n, Num(s.Spike, 1)});
            f.append({"vol_rate" + n, Num(Uniform(0, 4), 1)});
            for (int i = 0; i < 8; ++i)
                f.append({indicatorKeys[i] + n, Num(s.Indicators[i], 2)});
            f.append({"last" + n, Num(s.Last, 2)});
            f.append({"change" + n, Num((s.Last - s.PrevClose) / s.PrevClose * 100, 2)});
            f.append({"volume" + n, QByteArray::number(s.Volume)});
            f.append({"count" + n, QByteArray::number(1 + Pick(30))});
        }
        break;
    }
    }
    return FormText(f);
}
