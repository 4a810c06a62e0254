// labels: windows grids
// The alert window: configuration, the list rule of each kind, the Bollinger keyed update and
// expiry, the exclusion list, Clear Window and the full top list menu.

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/BollingerGrid.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"
#include "Olvarra/WexGridFull.h"
#include "Platform/Clock.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

// A window configured from the given lines of section "Alert Window 0".
std::unique_ptr<TAlertForm> MakeWindow(const QByteArray& lines)
{
    auto window = std::make_unique<TAlertForm>();
    // Ticks are driven by the tests themselves.
    window->GetExpireBollingersTimer()->stop();
    window->LoadSettings(TConfigFile::FromText("[Alert Window 0]\n" + lines), "Alert Window 0");
    return window;
}

template <class TGrid>
TGrid* GridOf(const TAlertForm& window)
{
    auto* grid = dynamic_cast<TGrid*>(window.GetGrid());
    Q_ASSERT(grid);
    return grid;
}

// Whether a grid still holds the very list it was handed earlier: every hand-over is a new
// snapshot with storage of its own (the caller keeps the earlier one alive, so its storage
// cannot be reused for a later one).
template <class T>
bool SameList(const TRowList<T>& earlier, const TRowList<T>& now)
{
    if (earlier.size() != now.size())
        return false;
    return earlier.isEmpty() || &earlier[0] == &now[0];
}

template <class T>
QList<QByteArray> Symbols(const TRowList<T>& list)
{
    QList<QByteArray> out;
    for (qsizetype i = 0; i < list.size(); ++i)
        out.append(list[i].Symbol);
    return out;
}

QByteArray Alert(const QByteArray& category, const QByteArray& fields)
{
    return category + "\r\n" + fields + "\r\n";
}

} // namespace

class TestAlertWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void DisplayKinds_data();
    void DisplayKinds();
    void SettingsDefaultsAndKindKeys();
    void CategoryMustMatchLineOneExactly();
    void CappedKindsDropTheOldest();
    void RookAndTamberKeepEveryRow();
    void PointsListIsReplacedWholeAndWexGoesToTheGrid();
    void ExclusionList();
    void ExcludedSymbolsOnlyInQuickStrike();
    void BollingerOrder();
    void BollingerMissingDistance();
    void BollingerDeleteAndOtherActions();
    void BollingerExactCaseRows();
    void BollingerExpiry();
    void ClearWindow();
    void RightClickOpensTheWindowMenu();
    void WexMenuFollowsTheGrid();
    void ListenerReachesWindowsAndSurvivesDestroyedOnes();
};

void TestAlertWindow::DisplayKinds_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("gridClass");
    QTest::newRow("empty") << QByteArray() << int(dkQuickStrike) << QByteArray("TQuickStrikeGrid");
    QTest::newRow("unknown") << QByteArray("list") << int(dkQuickStrike) << QByteArray("TQuickStrikeGrid");
    QTest::newRow("Set") << QByteArray("Set") << int(dkQuickStrike) << QByteArray("TQuickStrikeGrid");
    QTest::newRow("WEX") << QByteArray("WEX") << int(dkQuickStrike) << QByteArray("TQuickStrikeGrid");
    QTest::newRow("set") << QByteArray("set") << int(dkBollinger) << QByteArray("TBollingerGrid");
    QTest::newRow("symbol") << QByteArray("symbol") << int(dkSymbolOnly) << QByteArray("TSymbolOnlyGrid");
    QTest::newRow("pointslist") << QByteArray("pointslist") << int(dkPointsList) << QByteArray("TPointsTopListGrid");
    QTest::newRow("simplelist") << QByteArray("simplelist") << int(dkSimpleList) << QByteArray("TPointsTopListGrid");
    QTest::newRow("rook") << QByteArray("rook-simplelist") << int(dkRookList) << QByteArray("TRookGrid");
    QTest::newRow("tamber") << QByteArray("tamber-simplelist") << int(dkTamberList) << QByteArray("TTamberGrid");
    QTest::newRow("wex") << QByteArray("wex") << int(dkWexTopList) << QByteArray("TWexTopListFullGrid");
}

void TestAlertWindow::DisplayKinds()
{
    QFETCH(QByteArray, display);
    QFETCH(int, kind);
    QFETCH(QByteArray, gridClass);
    auto window = MakeWindow("subscription=s\ndisplay=" + display + "\n");
    QCOMPARE(int(window->GetDisplayKind()), kind);
    QWidget* grid = window->GetGrid();
    QVERIFY(grid);
    QCOMPARE(grid->parentWidget(), window.get());
    QVERIFY(grid->isVisibleTo(window.get()));
    QCOMPARE(grid->geometry(), window->rect());
    // Exactly one grid: the window's only grid child.
    QCOMPARE(window->findChildren<TDrawGrid*>(Qt::FindDirectChildrenOnly).size(), 1);
    const bool isRightClass = (gridClass == "TQuickStrikeGrid" && dynamic_cast<TQuickStrikeGrid*>(grid))
                              || (gridClass == "TBollingerGrid" && dynamic_cast<TBollingerGrid*>(grid))
                              || (gridClass == "TSymbolOnlyGrid" && dynamic_cast<TSymbolOnlyGrid*>(grid))
                              || (gridClass == "TPointsTopListGrid" && dynamic_cast<TPointsTopListGrid*>(grid))
                              || (gridClass == "TRookGrid" && dynamic_cast<TRookGrid*>(grid))
                              || (gridClass == "TTamberGrid" && dynamic_cast<TTamberGrid*>(grid))
                              || (gridClass == "TWexTopListFullGrid" && dynamic_cast<TWexTopListFullGrid*>(grid));
    QVERIFY2(isRightClass, gridClass.constData());

    const bool clearable = kind == dkQuickStrike || kind == dkSymbolOnly || kind == dkSimpleList;
    QCOMPARE(window->GetPopupMenu(), clearable ? window->GetClearPopup()
                                               : kind == dkWexTopList ? window->GetWexMenu() : nullptr);
    // The grid follows the window's size.
    window->show();
    window->resize(500, 300);
    QCOMPARE(grid->geometry(), QRect(0, 0, 500, 300));
}

void TestAlertWindow::SettingsDefaultsAndKindKeys()
{
    {
        TAlertForm fresh;
        QCOMPARE(fresh.size(), QSize(393, 480));
        QVERIFY(fresh.windowFlags() & Qt::Tool);
        QVERIFY(fresh.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(fresh.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!fresh.isVisible());
        QVERIFY(fresh.GetExpireBollingersTimer()->isActive());
        QCOMPARE(fresh.GetExpireBollingersTimer()->interval(), 1000);
    }
    {
        auto window = MakeWindow("");
        QCOMPARE(window->windowTitle(), QStringLiteral("Alerts"));
        QCOMPARE(window->GetSubscription(), QByteArray());
        QCOMPARE(window->GetExtraColumnKey(), QByteArray("sma_divergence"));
        QCOMPARE(GridOf<TQuickStrikeGrid>(*window)->GetTextColor(), TColor(0xFFFFFF));
    }
    {
        // Red in the low byte; the extra column keys of a QuickStrike window.
        auto window = MakeWindow("subscription=qs\nsuffix=-2\ntitle=Strikes\ncolor=$0080FF\n"
                                 "extra_column_visible_name=Gap\nextra_column_format=I\n"
                                 "extra_column_internal_name=gap_pct\n");
        QCOMPARE(window->GetSubscription(), QByteArray("qs"));
        QCOMPARE(window->GetSuffix(), QByteArray("-2"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Strikes"));
        QCOMPARE(window->GetExtraColumnKey(), QByteArray("gap_pct"));
        auto* grid = GridOf<TQuickStrikeGrid>(*window);
        QCOMPARE(grid->GetExtraColumnTitle(), QByteArray("Gap"));
        QCOMPARE(grid->GetExtraColumnFormat(), QByteArray("I"));
        QCOMPARE(ToQColor(grid->GetTextColor()), QColor(255, 128, 0));

        // The extra value is read from the configured key.
        window->HandleAlertMessage(Alert("qs", "symbol=A&gap_pct=1.5&sma_divergence=9"));
        QCOMPARE(grid->GetEntries()[0].ExtraValue, 1.5);
    }
    {
        // A malformed colour is white; the extra column keys mean nothing outside QuickStrike.
        auto window = MakeWindow("display=symbol\ncolor=12x\nextra_column_internal_name=gap_pct\n");
        QCOMPARE(GridOf<TSymbolOnlyGrid>(*window)->GetTextColor(), TColor(0xFFFFFF));
        QCOMPARE(window->GetExtraColumnKey(), QByteArray("sma_divergence"));
        window->HandleAlertMessage(Alert("", "symbol=A&gap_pct=1.5&sma_divergence=9"));
        QCOMPARE(GridOf<TSymbolOnlyGrid>(*window)->GetEntries()[0].ExtraValue, 9.0);
    }
    {
        // "volume" only for the points list; "color" not for Bollinger or the full top list.
        auto points = MakeWindow("display=pointslist\nvolume=1\ncolor=255\n");
        QCOMPARE(GridOf<TPointsTopListGrid>(*points)->ColCount(), 4);
        QCOMPARE(GridOf<TPointsTopListGrid>(*points)->GetTextColor(), TColor(255));
        auto simple = MakeWindow("display=simplelist\nvolume=1\ncolor=255\n");
        QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->ColCount(), 3);
        QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->GetTextColor(), TColor(255));
        auto bollinger = MakeWindow("display=set\ncolor=255\nextra=Band\n");
        QCOMPARE(GridOf<TBollingerGrid>(*bollinger)->GetTextColor(), TColor(0xFFFFFF));
        QCOMPARE(GridOf<TBollingerGrid>(*bollinger)->GetExtraColumnTitle(), QByteArray("Band"));
        auto wex = MakeWindow("display=wex\ncolor=255\ncolumns=0, 11 12\nignore_sort_timer=1\n");
        auto* wexGrid = GridOf<TWexTopListFullGrid>(*wex);
        QCOMPARE(wexGrid->GetTextColor(), TColor(0xFFFFFF));
        QCOMPARE(wexGrid->GetColumnMap(), (std::vector<qint32>{0, 11, 12}));
        QVERIFY(wexGrid->GetIgnoreSortTimer());
        auto rook = MakeWindow("display=rook-simplelist\ncolor=x00FF00\n");
        QCOMPARE(GridOf<TRookGrid>(*rook)->GetTextColor(), TColor(0x00FF00));
        auto tamber = MakeWindow("display=tamber-simplelist\ncolor=65280\n");
        QCOMPARE(GridOf<TTamberGrid>(*tamber)->GetTextColor(), TColor(0x00FF00));
    }
}

void TestAlertWindow::CategoryMustMatchLineOneExactly()
{
    auto window = MakeWindow("subscription=quickstrike\n");
    auto* grid = GridOf<TQuickStrikeGrid>(*window);
    window->HandleAlertMessage(Alert("QuickStrike", "symbol=CASE"));
    window->HandleAlertMessage(Alert("quickstrikes", "symbol=LONGER"));
    window->HandleAlertMessage(Alert("quick", "symbol=SHORTER"));
    window->HandleAlertMessage("quickstrike\nsymbol=BARELF");
    window->HandleAlertMessage(Alert(" quickstrike", "symbol=BLANK"));
    QCOMPARE(grid->GetEntries().size(), 0);

    // Lines after the second are ignored; a body of only the category is a row of defaults.
    window->HandleAlertMessage("quickstrike\r\nsymbol=A&last=1.5\r\nsymbol=IGNORED\r\n");
    window->HandleAlertMessage("quickstrike");
    window->HandleAlertMessage("quickstrike\r\nsymbol=B&time=09%3A31");
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"B", "", "A"}));
    QCOMPARE(grid->GetEntries()[0].Time, QByteArray("09:31"));
    QCOMPARE(grid->GetEntries()[2].Last, 1.5);
    QVERIFY(std::isnan(grid->GetEntries()[1].Last));
}

void TestAlertWindow::CappedKindsDropTheOldest()
{
    for (const QByteArray& display : {QByteArray("qs"), QByteArray("symbol"), QByteArray("simplelist")}) {
        auto window = MakeWindow("subscription=c\ndisplay=" + display + "\n");
        for (int i = 0; i <= 1000; ++i)
            window->HandleAlertMessage(Alert("c", "symbol=S" + QByteArray::number(i) + "&last=1&change=2"));
        QList<QByteArray> symbols;
        if (display == "simplelist")
            symbols = Symbols(GridOf<TPointsTopListGrid>(*window)->GetEntries());
        else if (display == "symbol")
            symbols = Symbols(GridOf<TSymbolOnlyGrid>(*window)->GetEntries());
        else
            symbols = Symbols(GridOf<TQuickStrikeGrid>(*window)->GetEntries());
        QCOMPARE(symbols.size(), 1000);
        QCOMPARE(symbols.first(), QByteArray("S1000"));
        QCOMPARE(symbols[1], QByteArray("S999"));
        QCOMPARE(symbols.last(), QByteArray("S1"));
    }
    // The simple list reads no volume: PercentVol is 0, not absent.
    auto simple = MakeWindow("subscription=c\ndisplay=simplelist\n");
    simple->HandleAlertMessage(Alert("c", "symbol=V&last=1&change=2&percent_vol=5"));
    QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->GetEntries()[0].PercentVol, 0.0);
    QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->RowCount(), 2);
}

void TestAlertWindow::RookAndTamberKeepEveryRow()
{
    auto rook = MakeWindow("subscription=r\ndisplay=rook-simplelist\n");
    auto tamber = MakeWindow("subscription=t\ndisplay=tamber-simplelist\n");
    const int count = 2500;
    for (int i = 0; i < count; ++i) {
        const QByteArray fields = "symbol=S" + QByteArray::number(i) + "&last=10&prev_close=8&volume=" + QByteArray::number(i);
        rook->HandleAlertMessage(Alert("r", fields));
        tamber->HandleAlertMessage(Alert("t", fields));
    }
    const auto& rookRows = GridOf<TRookGrid>(*rook)->GetEntries();
    const auto& tamberRows = GridOf<TTamberGrid>(*tamber)->GetEntries();
    QCOMPARE(rookRows.size(), count);
    QCOMPARE(tamberRows.size(), count);
    QCOMPARE(GridOf<TRookGrid>(*rook)->RowCount(), count + 1);
    QCOMPARE(rookRows[0].Symbol, QByteArray("S2499"));
    QCOMPARE(rookRows[count - 1].Symbol, QByteArray("S0"));
    QCOMPARE(rookRows[count - 1].Volume, 0);
    QCOMPARE(tamberRows[0].Volume, 2499);
    QCOMPARE(tamberRows[0].PercentChange, 25.0);
    QCOMPARE(tamberRows[count - 1].Symbol, QByteArray("S0"));
}

void TestAlertWindow::PointsListIsReplacedWholeAndWexGoesToTheGrid()
{
    auto points = MakeWindow("subscription=p\ndisplay=pointslist\n");
    auto* grid = GridOf<TPointsTopListGrid>(*points);
    points->HandleAlertMessage(Alert("p", "symbol0=A&last0=1&change0=1&symbol1=B&last1=2&change1=2&percent_vol1=3"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"A", "B"}));
    QVERIFY(std::isnan(grid->GetEntries()[0].PercentVol));
    points->HandleAlertMessage(Alert("p", "symbol0=C&last0=1&change0=1"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"C"}));
    points->HandleAlertMessage(Alert("p", "symbol0=&last0=1&change0=1"));
    QCOMPARE(grid->GetEntries().size(), 0);
    QCOMPARE(grid->RowCount(), 2);

    TManualClock clock;
    TScopedClock scoped(&clock);
    auto wex = MakeWindow("subscription=w\ndisplay=wex\n");
    auto* wexGrid = GridOf<TWexTopListFullGrid>(*wex);
    wex->HandleAlertMessage(Alert("w", "symbol0=AAA&price_spike0=7&symbol1=-&symbol2=BBB"));
    QCOMPARE(wexGrid->GetDisplayedEntries().size(), size_t(3));
    QCOMPARE(wexGrid->GetDisplayedEntries()[2].Symbol, QByteArray("BBB"));
    QCOMPARE(wexGrid->GetDisplayedEntries()[0].PriceSpike, 7.0);
}

void TestAlertWindow::ExclusionList()
{
    TQuickStrikeExcludeList list;
    for (const char* s : {"msft", "IBM", "MSFT", "aapl", "Ibm", "ZZ", "b"})
        list.Add(s);
    QCOMPARE(list.GetItems(), (QList<QByteArray>{"aapl", "b", "IBM", "msft", "ZZ"}));
    QVERIFY(list.Contains("MsFt"));
    QVERIFY(list.Contains("ibm"));
    QVERIFY(!list.Contains("IB"));
    QVERIFY(!list.Contains("IBMX"));
    QVERIFY(!list.Contains(""));
    list.Clear();
    QVERIFY(list.GetItems().isEmpty());
    QVERIFY(!list.Contains("msft"));
}

void TestAlertWindow::ExcludedSymbolsOnlyInQuickStrike()
{
    QuickStrikeExcludeList().Clear();
    QuickStrikeExcludeList().Add("msft");
    auto strike = MakeWindow("subscription=x\n");
    auto wall = MakeWindow("subscription=x\ndisplay=symbol\n");
    for (const char* symbol : {"MSFT", "IBM", "Msft", "msft"}) {
        const QByteArray body = Alert("x", QByteArray("symbol=") + symbol);
        strike->HandleAlertMessage(body);
        wall->HandleAlertMessage(body);
    }
    QCOMPARE(Symbols(GridOf<TQuickStrikeGrid>(*strike)->GetEntries()), (QList<QByteArray>{"IBM"}));
    QCOMPARE(GridOf<TSymbolOnlyGrid>(*wall)->GetEntries().size(), 4);
    QuickStrikeExcludeList().Clear();
    strike->HandleAlertMessage(Alert("x", "symbol=MSFT"));
    QCOMPARE(Symbols(GridOf<TQuickStrikeGrid>(*strike)->GetEntries()), (QList<QByteArray>{"MSFT", "IBM"}));
}

void TestAlertWindow::BollingerOrder()
{
    auto window = MakeWindow("subscription=b\ndisplay=set\n");
    auto* grid = GridOf<TBollingerGrid>(*window);
    auto add = [&](const QByteArray& symbol, const QByteArray& dist) {
        window->HandleAlertMessage(Alert("b", "action=add&symbol=" + symbol + "&dist_from_bb=" + dist + "&last=5"));
    };
    add("IBM", "-3");
    add("MSFT", "2");
    add("AAPL", "3");
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"AAPL", "IBM", "MSFT"}));
    add("MSFT", "5");
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"MSFT", "AAPL", "IBM"}));
    QCOMPARE(grid->GetEntries()[0].DistFromBB, 5.0);
    // Moving down past rows with larger distances, and to the bottom.
    add("MSFT", "-0.5");
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"AAPL", "IBM", "MSFT"}));
    add("AAPL", "1");
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"IBM", "AAPL", "MSFT"}));
    // Equal distance: symbol order decides, also when the row moves up.
    add("ZZ", "1");
    add("AB", "-1");
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"IBM", "AAPL", "AB", "ZZ", "MSFT"}));
    add("ZZ", "3");
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"IBM", "ZZ", "AAPL", "AB", "MSFT"}));
    QCOMPARE(window->GetBollingerSymbols(), (QList<QByteArray>{"AAPL", "AB", "IBM", "MSFT", "ZZ"}));
    QCOMPARE(grid->GetEntries()[0].Last, 5.0);
}

void TestAlertWindow::BollingerMissingDistance()
{
    auto window = MakeWindow("subscription=b\ndisplay=set\n");
    auto* grid = GridOf<TBollingerGrid>(*window);
    window->HandleAlertMessage(Alert("b", "action=add&symbol=B&dist_from_bb=1"));
    window->HandleAlertMessage(Alert("b", "action=add&symbol=NONE"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"NONE", "B"}));
    // A larger distance stops at the row without one and goes above it; a smaller one too,
    // as it may not pass that row.
    window->HandleAlertMessage(Alert("b", "action=add&symbol=C&dist_from_bb=9"));
    window->HandleAlertMessage(Alert("b", "action=add&symbol=A&dist_from_bb=0.5"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"C", "A", "NONE", "B"}));
    // A present row that loses its distance moves to the top.
    window->HandleAlertMessage(Alert("b", "action=add&symbol=B&dist_from_bb=x"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"B", "C", "A", "NONE"}));
}

void TestAlertWindow::BollingerDeleteAndOtherActions()
{
    auto window = MakeWindow("subscription=b\ndisplay=set\n");
    auto* grid = GridOf<TBollingerGrid>(*window);
    for (const char* s : {"A", "B", "C"})
        window->HandleAlertMessage(Alert("b", QByteArray("action=add&dist_from_bb=1&symbol=") + s));
    TBollingerEntries shown = grid->GetEntries();

    window->HandleAlertMessage(Alert("b", "action=delete&symbol=NEVER"));
    window->HandleAlertMessage(Alert("b", "action=delete&symbol=b")); // other letter case
    QVERIFY(SameList(shown, grid->GetEntries()));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"A", "B", "C"}));

    window->HandleAlertMessage(Alert("b", "action=delete&symbol=B"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"A", "C"}));
    QCOMPARE(window->GetBollingerSymbols(), (QList<QByteArray>{"A", "C"}));

    // Another action changes nothing but is shown again.
    shown = grid->GetEntries();
    window->HandleAlertMessage(Alert("b", "action=remove&symbol=A"));
    QVERIFY(!SameList(shown, grid->GetEntries()));
    shown = grid->GetEntries();
    window->HandleAlertMessage(Alert("b", "symbol=C&dist_from_bb=7"));
    QVERIFY(!SameList(shown, grid->GetEntries()));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"A", "C"}));
    QCOMPARE(grid->GetEntries()[1].DistFromBB, 1.0);

    window->HandleAlertMessage(Alert("b", "action=delete&symbol=A"));
    window->HandleAlertMessage(Alert("b", "action=delete&symbol=C"));
    QCOMPARE(grid->GetEntries().size(), 0);
    QCOMPARE(grid->RowCount(), 2);
    QVERIFY(window->GetBollingerSymbols().isEmpty());
}

void TestAlertWindow::BollingerExactCaseRows()
{
    // The symbol set ignores letter case, the rows do not: "ibm" and "IBM" are two rows under
    // one set entry, and the next tick puts the set right again.
    TManualClock clock;
    TScopedClock scoped(&clock);
    auto window = MakeWindow("subscription=b\ndisplay=set\n");
    auto* grid = GridOf<TBollingerGrid>(*window);
    window->HandleAlertMessage(Alert("b", "action=add&symbol=ibm&dist_from_bb=1"));
    window->HandleAlertMessage(Alert("b", "action=add&symbol=IBM&dist_from_bb=2"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"IBM", "ibm"}));
    window->HandleAlertMessage(Alert("b", "action=delete&symbol=ibm"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"IBM"}));
    QVERIFY(window->GetBollingerSymbols().isEmpty());
    window->HandleAlertMessage(Alert("b", "action=delete&symbol=IBM"));
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"IBM"}));
    window->ExpireBollingersTimerTimer();
    QCOMPARE(window->GetBollingerSymbols(), (QList<QByteArray>{"IBM"}));
    window->HandleAlertMessage(Alert("b", "action=delete&symbol=IBM"));
    QCOMPARE(grid->GetEntries().size(), 0);
}

void TestAlertWindow::BollingerExpiry()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    auto window = MakeWindow("subscription=b\ndisplay=set\n");
    auto* grid = GridOf<TBollingerGrid>(*window);
    auto add = [&](const QByteArray& symbol, const QByteArray& dist) {
        window->HandleAlertMessage(Alert("b", "action=add&symbol=" + symbol + "&dist_from_bb=" + dist));
    };
    add("OLD", "3");
    clock.Advance(60'000);
    add("NEW", "2");
    add("MID", "1");
    clock.Advance(59'999);
    const TBollingerEntries shown = grid->GetEntries();
    window->ExpireBollingersTimerTimer();
    QVERIFY(SameList(shown, grid->GetEntries())); // nothing expired: no new hand-over
    QCOMPARE(grid->GetEntries().size(), 3);

    clock.Advance(1); // exactly two minutes after OLD's add
    window->ExpireBollingersTimerTimer();
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"NEW", "MID"}));
    QCOMPARE(window->GetBollingerSymbols(), (QList<QByteArray>{"MID", "NEW"}));

    // A repeated add restarts the row's life.
    clock.Advance(30'000);
    add("MID", "1");
    clock.Advance(30'000);
    window->ExpireBollingersTimerTimer();
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"MID"}));
    // A wall-clock jump does not touch the rows' lives.
    clock.SetLocal(clock.LocalNow().addSecs(3600));
    window->ExpireBollingersTimerTimer();
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"MID"}));
    clock.Advance(89'999);
    window->ExpireBollingersTimerTimer();
    QCOMPARE(Symbols(grid->GetEntries()), (QList<QByteArray>{"MID"}));
    clock.Advance(1);
    window->ExpireBollingersTimerTimer();
    QCOMPARE(grid->GetEntries().size(), 0);
    QCOMPARE(grid->RowCount(), 2);
    QVERIFY(window->GetBollingerSymbols().isEmpty());

    // The window's timer runs the same handler (sped up here: no test waits a second).
    add("T", "1");
    clock.Advance(120'000);
    window->GetExpireBollingersTimer()->setInterval(0);
    window->GetExpireBollingersTimer()->start();
    QTRY_COMPARE_WITH_TIMEOUT(grid->GetEntries().size(), 0, 2000);
}

void TestAlertWindow::ClearWindow()
{
    auto strike = MakeWindow("subscription=c\n");
    strike->HandleAlertMessage(Alert("c", "symbol=A"));
    strike->HandleAlertMessage(Alert("c", "symbol=B"));
    strike->GetClearWindowMenuItem()->trigger();
    QCOMPARE(GridOf<TQuickStrikeGrid>(*strike)->GetEntries().size(), 0);
    QCOMPARE(GridOf<TQuickStrikeGrid>(*strike)->RowCount(), 2);
    strike->HandleAlertMessage(Alert("c", "symbol=C"));
    QCOMPARE(Symbols(GridOf<TQuickStrikeGrid>(*strike)->GetEntries()), (QList<QByteArray>{"C"}));

    // The wall starts again at its top-left cell.
    auto wall = MakeWindow("subscription=c\ndisplay=symbol\n");
    auto* wallGrid = GridOf<TSymbolOnlyGrid>(*wall);
    for (const char* s : {"A", "B", "C"})
        wall->HandleAlertMessage(Alert("c", QByteArray("symbol=") + s));
    QCOMPARE(wallGrid->GetNewestPosition(), 2);
    wall->ClearWindow();
    QCOMPARE(wallGrid->GetEntries().size(), 0);
    wall->HandleAlertMessage(Alert("c", "symbol=D"));
    QCOMPARE(wallGrid->GetNewestPosition(), 0);
    qsizetype index = -1;
    QVERIFY(wallGrid->CellToEntry(0, 1, index));
    QCOMPARE(wallGrid->GetEntries()[index].Symbol, QByteArray("D"));

    auto simple = MakeWindow("subscription=c\ndisplay=simplelist\n");
    simple->HandleAlertMessage(Alert("c", "symbol=A"));
    simple->ClearWindow();
    QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->GetEntries().size(), 0);

    // Kinds without the menu keep their rows.
    auto rook = MakeWindow("subscription=c\ndisplay=rook-simplelist\n");
    rook->HandleAlertMessage(Alert("c", "symbol=A"));
    const TRookEntries shown = GridOf<TRookGrid>(*rook)->GetEntries();
    rook->ClearWindow();
    QVERIFY(SameList(shown, GridOf<TRookGrid>(*rook)->GetEntries()));
    auto points = MakeWindow("subscription=c\ndisplay=pointslist\n");
    points->HandleAlertMessage(Alert("c", "symbol0=A&last0=1&change0=1"));
    points->ClearWindow();
    QCOMPARE(GridOf<TPointsTopListGrid>(*points)->GetEntries().size(), 1);
    auto bollinger = MakeWindow("subscription=c\ndisplay=set\n");
    bollinger->HandleAlertMessage(Alert("c", "action=add&symbol=A"));
    bollinger->ClearWindow();
    QCOMPARE(GridOf<TBollingerGrid>(*bollinger)->GetEntries().size(), 1);
}

void TestAlertWindow::RightClickOpensTheWindowMenu()
{
    auto strike = MakeWindow("subscription=c\n");
    strike->show();
    auto* grid = GridOf<TQuickStrikeGrid>(*strike);
    const QPoint at(20, 30);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &click);
    QTRY_VERIFY_WITH_TIMEOUT(strike->GetClearPopup()->isVisible(), 2000);
    strike->GetClearPopup()->close();

    // A kind without a menu opens nothing.
    auto rook = MakeWindow("subscription=c\ndisplay=rook-simplelist\n");
    rook->show();
    auto* rookGrid = GridOf<TRookGrid>(*rook);
    QContextMenuEvent rookClick(QContextMenuEvent::Mouse, at, rookGrid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(rookGrid->viewport(), &rookClick);
    QVERIFY(!rook->GetClearPopup()->isVisible());
    QVERIFY(!rook->GetWexMenu()->isVisible());
}

void TestAlertWindow::WexMenuFollowsTheGrid()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    auto window = MakeWindow("subscription=w\ndisplay=wex\n");
    auto* grid = GridOf<TWexTopListFullGrid>(*window);
    QAction* freeze = window->GetFreezeAction();
    QAction* sortNow = window->GetSortNowAction();
    auto list = [](std::initializer_list<const char*> symbols) {
        QByteArray fields;
        int i = 0;
        for (const char* s : symbols)
            fields += "&symbol" + QByteArray::number(i++) + "=" + s;
        return Alert("w", fields.mid(1));
    };
    auto menuAboutToShow = [&]() { Q_EMIT window->GetWexMenu()->aboutToShow(); };

    window->HandleAlertMessage(list({"AAA", "BBB"})); // the first list shows at once
    menuAboutToShow();
    QVERIFY(!sortNow->isEnabled());
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now"));
    QVERIFY(!freeze->isChecked());

    // Same symbols in another order: pending, plain caption.
    clock.Advance(1000);
    window->HandleAlertMessage(list({"BBB", "AAA"}));
    menuAboutToShow();
    QVERIFY(sortNow->isEnabled());
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now"));

    // New symbols are named; past five they are counted.
    window->HandleAlertMessage(list({"AAA", "CCC", "DDD"}));
    menuAboutToShow();
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now (CCC, DDD missing)"));
    window->HandleAlertMessage(list({"C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8"}));
    menuAboutToShow();
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now (C1, C2, C3, C4, C5 and 3 more missing)"));

    // Freeze from the menu; Sort Now still applies the list.
    freeze->trigger();
    QVERIFY(grid->GetFrozen());
    menuAboutToShow();
    QVERIFY(freeze->isChecked());
    sortNow->trigger();
    QCOMPARE(grid->GetDisplayedEntries().size(), size_t(8));
    menuAboutToShow();
    QVERIFY(!sortNow->isEnabled());
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now"));

    // Frozen: the timer does not apply; unfrozen: the window's tick does after 30 seconds.
    window->HandleAlertMessage(list({"T%26E", "AAA"}));
    clock.Advance(31'000);
    window->ExpireBollingersTimerTimer();
    QVERIFY(grid->GetSortPending());
    menuAboutToShow();
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now (T&&E, AAA missing)"));
    freeze->trigger(); // unfreezing applies the waiting list at once
    QVERIFY(!grid->GetFrozen());
    QVERIFY(!grid->GetSortPending());
    menuAboutToShow();
    QVERIFY(!freeze->isChecked());

    window->HandleAlertMessage(list({"ZZZ"}));
    QVERIFY(grid->GetSortPending());
    clock.Advance(29'000);
    window->ExpireBollingersTimerTimer();
    QVERIFY(grid->GetSortPending());
    clock.Advance(2'000);
    window->ExpireBollingersTimerTimer();
    QVERIFY(!grid->GetSortPending());
    QCOMPARE(grid->GetDisplayedEntries()[0].Symbol, QByteArray("ZZZ"));
}

void TestAlertWindow::ListenerReachesWindowsAndSurvivesDestroyedOnes()
{
    auto kept = MakeWindow("subscription=l\n");
    auto gone = MakeWindow("subscription=l\n");
    gone.reset();
    MainConnection().ListenResponse(true, Alert("l", "symbol=A"), TMessageToServer());
    MainConnection().ListenResponse(false, Alert("l", "symbol=FAILED"), TMessageToServer());
    QCOMPARE(Symbols(GridOf<TQuickStrikeGrid>(*kept)->GetEntries()), (QList<QByteArray>{"A"}));

    // A window made for a connection of its own listens there only.
    TMainConnection own("127.0.0.1:1", nullptr);
    TAlertForm separate(own);
    separate.GetExpireBollingersTimer()->stop();
    separate.LoadSettings(TConfigFile::FromText("[w]\nsubscription=l\n"), "w");
    own.ListenResponse(true, Alert("l", "symbol=B"), TMessageToServer());
    MainConnection().ListenResponse(true, Alert("l", "symbol=C"), TMessageToServer());
    QCOMPARE(Symbols(GridOf<TQuickStrikeGrid>(separate)->GetEntries()), (QList<QByteArray>{"B"}));
    QCOMPARE(Symbols(GridOf<TQuickStrikeGrid>(*kept)->GetEntries()), (QList<QByteArray>{"C", "A"}));

    // An unconfigured window ignores everything, also a body whose category is empty.
    TAlertForm bare;
    bare.HandleAlertMessage("\r\nsymbol=A");
    QVERIFY(!bare.GetGrid());
}

QTEST_MAIN(TestAlertWindow)
#include "tst_alertwindow.moc"
