// Renders every grid kind, with fixed lists that reach the edge cases of painting (texts too
// wide for their cells, absent numbers, marked counts, rank tints, the newest row, a divider
// row, dot gauges, the stale mark), to one PNG each in the folder given. Painting changes are
// checked by rendering before and after and comparing the pictures pixel by pixel:
//
//   vesk-grid-snapshots before/   (old build)
//   vesk-grid-snapshots after/    (new build)
//   vesk-grid-snapshots --compare before/ after/

#include "Olvarra/BollingerGrid.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"
#include "Olvarra/WexGridFull.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QWidget>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace {

const QSize WindowSize(393, 480);
const char* const Symbols[] = {"AAPL", "MSFT", "IBM", "GOOGL", "AMZN", "NVDA", "TSLA", "META",
                               "NFLX", "INTC", "AMD", "ORCL", "CSCO", "QCOM", "AVGO", "ADBE"};
const double NaN = std::numeric_limits<double>::quiet_NaN();

QByteArray SymbolAt(int i)
{
    // Every eleventh symbol is far too wide for its cell, so fitting shows.
    return i % 11 == 5 ? QByteArray("VERYLONGSYMBOLNAME.XX") : QByteArray(Symbols[i % 16]);
}

int Saved = 0;
int Failed = 0;

template <class TGrid>
void Shoot(const QString& folder, const QString& name, const std::function<void(TGrid&)>& fill,
           const QString& staleMark = QString())
{
    QWidget owner;
    owner.resize(WindowSize);
    auto* grid = new TGrid(&owner);
    grid->resize(WindowSize);
    owner.show();
    fill(*grid);
    QImage image(WindowSize, QImage::Format_RGB32);
    grid->render(&image);
    if (!staleMark.isEmpty()) {
        grid->SetStaleMark(staleMark);
        grid->render(&image);
    }
    const QString path = QDir(folder).filePath(name + ".png");
    if (image.save(path))
        ++Saved;
    else {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++Failed;
    }
}

void ShootAll(const QString& folder)
{
    auto quickStrike = [](TQuickStrikeGrid& g, const char* format) {
        g.SetExtraColumnFormat(format);
        TFrontInsertList<TQuickStrikeEntry> list(1000);
        for (int i = 0; i < 60; ++i) {
            TQuickStrikeEntry e;
            e.Symbol = SymbolAt(i);
            e.Last = i % 13 == 3 ? NaN : 10 + i * 0.37;
            e.PrevClose = i % 17 == 4 ? NaN : e.Last - (i % 7 - 3) * 0.11;
            e.ExtraValue = i % 9 == 2 ? NaN : (i % 5 - 2) * 1234.567;
            e.Time = "09:31:02";
            list.InsertAtFront(e);
        }
        g.SetEntries(list.Snapshot());
    };
    Shoot<TQuickStrikeGrid>(folder, "quickstrike", [&](TQuickStrikeGrid& g) { quickStrike(g, ""); });
    Shoot<TQuickStrikeGrid>(folder, "quickstrike-whole", [&](TQuickStrikeGrid& g) {
        g.SetExtraColumnTitle("A much too long title");
        quickStrike(g, "I");
    });
    Shoot<TQuickStrikeGrid>(folder, "quickstrike-empty", [](TQuickStrikeGrid&) {});

    auto bollinger = [](TBollingerGrid& g) {
        std::vector<TBollingerEntry> rows;
        for (int i = 0; i < 40; ++i) {
            TBollingerEntry e;
            e.Symbol = SymbolAt(i);
            e.Last = i % 10 == 0 ? 0 : 50 + i * 0.1;
            e.PrevClose = e.Last + (i % 3 - 1) * 0.5;
            e.DistFromBB = i % 7 == 6 ? NaN : (i % 2 ? -1 : 1) * (40 - i) * 0.01;
            rows.push_back(e);
        }
        g.SetEntries(TBollingerEntries::FromVector(std::move(rows)));
    };
    Shoot<TBollingerGrid>(folder, "bollinger", bollinger);
    Shoot<TBollingerGrid>(folder, "bollinger-stale", bollinger, QStringLiteral("Stale since 09:31:05 — reconnecting"));

    Shoot<TSymbolOnlyGrid>(folder, "symbolwall", [](TSymbolOnlyGrid& g) {
        TFrontInsertList<TQuickStrikeEntry> list(1000);
        for (int i = 0; i < 150; ++i) {
            TQuickStrikeEntry e;
            e.Symbol = SymbolAt(i);
            list.InsertAtFront(e);
            g.SetEntries(list.Snapshot());
        }
    });

    auto points = [](TPointsTopListGrid& g, bool volume) {
        if (volume)
            g.ShowVolumeColumn();
        std::vector<TPointsTopListEntry> rows;
        for (int i = 0; i < 40; ++i) {
            TPointsTopListEntry e;
            e.Symbol = SymbolAt(i);
            e.Last = i % 8 == 7 ? NaN : 12.5 + i;
            e.Change = (i % 3 - 1) * 1.93;
            e.PercentVol = i % 6 == 1 ? NaN : i * 70.7;
            rows.push_back(e);
        }
        g.SetEntries(TPointsTopListEntries::FromVector(std::move(rows)));
    };
    Shoot<TPointsTopListGrid>(folder, "pointslist", [&](TPointsTopListGrid& g) { points(g, false); });
    Shoot<TPointsTopListGrid>(folder, "pointslist-volume", [&](TPointsTopListGrid& g) { points(g, true); });

    auto rook = [](TRookGrid& g) {
        g.SetTextColor(RGBColor(0, 255, 0));
        TFrontInsertList<TRookEntry> list;
        for (int i = 0; i < 60; ++i) {
            TRookEntry e;
            e.Time = "10:41";
            e.Symbol = SymbolAt(i);
            e.Change = i % 10 == 9 ? NaN : (i % 9 - 4) * 0.37;
            e.BB = 100.0 / (i % 50 + 1);
            e.Volume = (i % 1000) * 1234567;
            e.Count = i % 13;
            e.Rank = (i % 4) * 0.25;
            e.RV = (i % 20) * 0.5;
            list.InsertAtFront(e);
        }
        g.SetEntries(list.Snapshot());
    };
    Shoot<TRookGrid>(folder, "rook", rook);
    Shoot<TRookGrid>(folder, "rook-stale", rook, QStringLiteral("Stale since 10:00:00 — stopped by the server"));

    Shoot<TTamberGrid>(folder, "tamber", [](TTamberGrid& g) {
        TFrontInsertList<TTamberEntry> list;
        for (int i = 0; i < 60; ++i) {
            TTamberEntry e;
            e.Time = "11:02";
            e.Symbol = SymbolAt(i);
            e.Last = 12.34 + i % 100;
            e.PrevClose = 12;
            e.PercentChange = i % 9 == 8 ? NaN : (e.Last - 12) / 12 * 100;
            e.Change = e.Last - 12;
            e.Volume = (i % 1000) * 98765;
            e.Count = i % 12;
            list.InsertAtFront(e);
        }
        g.SetEntries(list.Snapshot());
    });

    Shoot<TWexTopListFullGrid>(folder, "wexfull", [](TWexTopListFullGrid& g) {
        g.SetColumns("0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,99");
        TWexTopListEntries rows;
        for (int i = 0; i < 30; ++i) {
            TWexTopListEntry e;
            e.Symbol = i == 12 ? QByteArray("-") : SymbolAt(i);
            e.PriceSpike = (i % 7) * 0.9; // below the spike threshold: no sound while shooting
            e.VolRate = i % 5 == 4 ? NaN : (i % 8) * 0.5;
            e.TodaysRange = i * 3.3;
            e.OpeningRange = i % 6 == 0 ? NaN : i * 1.1;
            e.Strength = (i % 9 - 4) * 2.5;
            e.UpTrend = (i % 5 - 2) * 1.5;
            e.NearHigh = i * 0.7;
            e.NearLow = i * 0.4;
            e.NewHigh = (i % 5) * 0.25;
            e.NewLow = ((i + 2) % 5) * 0.25;
            e.Last = 10 + i * 1.5;
            e.Change = (i % 7 - 3) * 0.8;
            e.Volume = i * 123456;
            e.Count = i * 3;
            rows.push_back(e);
        }
        g.SetEntries(rows);
    });
}

// Compares every PNG of the first folder with the one of the same name in the second.
int Compare(const QString& before, const QString& after)
{
    int differing = 0, compared = 0;
    const QStringList names = QDir(before).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const QImage a(QDir(before).filePath(name));
        const QImage b(QDir(after).filePath(name));
        ++compared;
        if (b.isNull()) {
            std::printf("%-28s missing in %s\n", qPrintable(name), qPrintable(after));
            ++differing;
            continue;
        }
        const QImage ca = a.convertToFormat(QImage::Format_RGB32);
        const QImage cb = b.convertToFormat(QImage::Format_RGB32);
        if (ca.size() != cb.size()) {
            std::printf("%-28s size differs\n", qPrintable(name));
            ++differing;
            continue;
        }
        long long pixels = 0;
        for (int y = 0; y < ca.height(); ++y) {
            const QRgb* la = reinterpret_cast<const QRgb*>(ca.constScanLine(y));
            const QRgb* lb = reinterpret_cast<const QRgb*>(cb.constScanLine(y));
            for (int x = 0; x < ca.width(); ++x)
                pixels += la[x] != lb[x];
        }
        std::printf("%-28s %s\n", qPrintable(name), pixels ? qPrintable(QStringLiteral("%1 pixels differ").arg(pixels)) : "identical");
        differing += pixels != 0;
    }
    std::printf("%d of %d pictures identical\n", compared - differing, compared);
    return compared > 0 && differing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == QLatin1String("--compare"))
        return Compare(args[1], args[2]);
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: vesk-grid-snapshots FOLDER | --compare BEFORE AFTER\n");
        return 2;
    }
    QDir().mkpath(args[0]);
    SetThousandsSeparator(QStringLiteral(","));
    ShootAll(args[0]);
    std::printf("%d pictures written to %s\n", Saved, qPrintable(args[0]));
    return Failed ? 1 : 0;
}
