#pragma once
// Made-up market data for the alert categories: a universe of ticker-like symbols whose
// prices take a random walk, and the form text of one alert of each window kind. Seeded, so
// a test that fixes the seed sees the same sequence of alerts.

#include <QByteArray>
#include <QTime>
#include <QVector>
#include <optional>
#include <random>

enum class TAlertKind { QuickStrike, Bollinger, Symbols, Points, Simple, Rook, Tamber, Wex };

// "quickstrike", "bollinger", "symbols", "points", "simple", "rook", "tamber", "wex".
std::optional<TAlertKind> AlertKindFromName(const QByteArray& name);
QByteArray AlertKindName(TAlertKind kind);
// Kinds whose every message carries a whole numbered list rather than one row.
bool IsListKind(TAlertKind kind);

class TMarketData {
public:
    explicit TMarketData(quint64 seed);

    // The form text (key=value&...) of the next alert of that kind. listRows > 0 fixes the
    // number of stock rows of a numbered list (points, wex) instead of letting it vary.
    QByteArray NextForm(TAlertKind kind, const QTime& now, int listRows = 0);

    int SymbolCount() const { return int(Stocks.size()); }

private:
    struct TStock {
        QByteArray Symbol;
        double Last = 0;
        double PrevClose = 0;
        qint64 Volume = 0;
        int Count = 0;
        double WexScore = 0;
        double Spike = 0;
        double Indicators[8] = {};  // todays_range ... new_low of the full top list
    };

    double Uniform(double low, double high);
    double Normal(double sigma);
    bool Chance(double p);
    int Pick(int n);
    TStock& Step(int index);

    std::mt19937_64 Rng;
    QVector<TStock> Stocks;
    QVector<int> BollingerShown;  // symbols added to the Bollinger list and not deleted
    double WexSize = 25;
};
