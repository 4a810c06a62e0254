// labels: windows grids
// The alert window: configuration, the list rule of each kind, the hand-over of the Bollinger
// list, the exclusion list, Clear Window and the full top list menu.

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
#include <typeinfo>

namespace {

using TSymbols = QList<QByteArray>;

// A window configured from the given lines; its timer is left to the test.
std::unique_ptr<TAlertForm> MakeWindow(const QByteArray& lines)
{
    auto window = std::make_unique<TAlertForm>();
    window->GetExpireBollingersTimer()->stop();
    window->LoadSettings(TConfigFile::FromText("[Alert Window 0]\n" + lines), "Alert Window 0");
    return window;
}

template <class TGrid>
TGrid* GridOf(const TAlertForm& window)
{
    return dynamic_cast<TGrid*>(window.GetGrid());
}

template <class T>
TSymbols Symbols(const TRowList<T>& list)
{
    TSymbols out;
    for (qsizetype i = 0; i < list.size(); ++i)
        out.append(list[i].Symbol);
    return out;
}

// The symbols a window's grid holds, top row first, whatever the kind.
TSymbols Rows(const TAlertForm& window)
{
    if (auto* g = GridOf<TQuickStrikeGrid>(window))
        return Symbols(g->GetEntries());
    if (auto* g = GridOf<TSymbolOnlyGrid>(window))
        return Symbols(g->GetEntries());
    if (auto* g = GridOf<TBollingerGrid>(window))
        return Symbols(g->GetEntries());
    if (auto* g = GridOf<TPointsTopListGrid>(window))
        return Symbols(g->GetEntries());
    if (auto* g = GridOf<TRookGrid>(window))
        return Symbols(g->GetEntries());
    if (auto* g = GridOf<TTamberGrid>(window))
        return Symbols(g->GetEntries());
    return {};
}

// Whether a grid still holds the very list it was handed earlier. Every hand-over is a new
// snapshot with storage (or, for a list kept in a tree, a source) of its own; the caller
// keeps the earlier one, so its storage cannot be reused by a later one.
template <class T>
bool SameList(const TRowList<T>& earlier, const TRowList<T>& now)
{
    return earlier.size() == now.size() && (earlier.isEmpty() || &earlier[0] == &now[0])
           && earlier.SourceIdentity() == now.SourceIdentity();
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
    void SettingsAndKindKeys();
    void HexadecimalOnlyAfterDollarLowerXOrZeroLowerX();
    void CategoryMustMatchLineOneExactly();
    void NewestFirstListsAndCaps();
    void PointsListIsReplacedWhole();
    void ExclusionList();
    void BollingerHandOver();
    void ClearWindow();
    void RightClickOpensTheWindowMenu();
    void WexMenuFollowsTheGrid();
    void ListenersAndDestroyedWindows();
};

void TestAlertWindow::DisplayKinds_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("gridClass");
    QTest::newRow("empty") << QByteArray() << int(dkQuickStrike) << QByteArray("TQuickStrikeGrid");
    QTest::newRow("unknown") << QByteArray("list") << int(dkQuickStrike) << QByteArray("TQuickStrikeGrid");
    QTest::newRow("Set") << QByteArray("Set") << int(dkQuickStrike) << QByteArray("TQuickStrikeGrid");
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
    auto window = MakeWindow("display=" + display + "\n");
    QCOMPARE(int(window->GetDisplayKind()), kind);
    QWidget* grid = window->GetGrid();
    QVERIFY(QByteArray(typeid(*grid).name()).endsWith(gridClass));
    QCOMPARE(window->findChildren<TDrawGrid*>(Qt::FindDirectChildrenOnly).size(), 1);
    QVERIFY(grid->isVisibleTo(window.get()));
    window->show();
    window->resize(500, 300);
    QCOMPARE(grid->geometry(), QRect(0, 0, 500, 300));

    const bool clearable = kind == dkQuickStrike || kind == dkSymbolOnly || kind == dkSimpleList;
    QCOMPARE(window->GetPopupMenu(), clearable ? window->GetClearPopup()
                                               : kind == dkWexTopList ? window->GetWexMenu() : nullptr);
}

void TestAlertWindow::SettingsAndKindKeys()
{
    auto plain = MakeWindow("");
    QCOMPARE(plain->size(), QSize(393, 480));
    QVERIFY(plain->windowFlags() & Qt::Tool);
    QVERIFY(!(plain->windowFlags() & Qt::WindowMinimizeButtonHint));
    QCOMPARE(plain->windowTitle(), QStringLiteral("Alerts"));
    QCOMPARE(plain->GetExtraColumnKey(), QByteArray("sma_divergence"));
    QCOMPARE(GridOf<TQuickStrikeGrid>(*plain)->GetTextColor(), TColor(0xFFFFFF));

    // Red is the low byte of a configured colour.
    auto strike = MakeWindow("subscription=qs\nsuffix=-2\ntitle=Strikes\ncolor=$0080FF\n"
                             "extra_column_visible_name=Gap\nextra_column_format=I\n"
                             "extra_column_internal_name=gap_pct\n");
    QCOMPARE(strike->GetSubscription(), QByteArray("qs"));
    QCOMPARE(strike->GetSuffix(), QByteArray("-2"));
    QCOMPARE(strike->windowTitle(), QStringLiteral("Strikes"));
    auto* grid = GridOf<TQuickStrikeGrid>(*strike);
    QCOMPARE(grid->GetExtraColumnTitle(), QByteArray("Gap"));
    QCOMPARE(grid->GetExtraColumnFormat(), QByteArray("I"));
    QCOMPARE(ToQColor(grid->GetTextColor()), QColor(255, 128, 0));
    strike->HandleAlertMessage(Alert("qs", "symbol=A&gap_pct=1.5&sma_divergence=9"));
    QCOMPARE(grid->GetEntries()[0].ExtraValue, 1.5);

    // The extra column keys mean nothing to the symbol wall, which always reads
    // sma_divergence; a malformed colour is white.
    auto wall = MakeWindow("display=symbol\ncolor=12x\nextra_column_internal_name=gap_pct\n");
    QCOMPARE(GridOf<TSymbolOnlyGrid>(*wall)->GetTextColor(), TColor(0xFFFFFF));
    wall->HandleAlertMessage(Alert("", "symbol=A&gap_pct=1.5&sma_divergence=9"));
    QCOMPARE(GridOf<TSymbolOnlyGrid>(*wall)->GetEntries()[0].ExtraValue, 9.0);

    // "volume" only for the points list; "color" not for Bollinger or the full top list.
    auto points = MakeWindow("display=pointslist\nvolume=1\ncolor=255\n");
    QCOMPARE(GridOf<TPointsTopListGrid>(*points)->ColCount(), 4);
    QCOMPARE(GridOf<TPointsTopListGrid>(*points)->GetTextColor(), TColor(255));
    auto simple = MakeWindow("display=simplelist\nvolume=1\ncolor=x00FF00\n");
    QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->ColCount(), 3);
    QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->GetTextColor(), TColor(0x00FF00));
    auto bollinger = MakeWindow("display=set\ncolor=255\nextra=Band\n");
    QCOMPARE(GridOf<TBollingerGrid>(*bollinger)->GetTextColor(), TColor(0xFFFFFF));
    QCOMPARE(GridOf<TBollingerGrid>(*bollinger)->GetExtraColumnTitle(), QByteArray("Band"));
    auto wex = MakeWindow("display=wex\ncolor=255\ncolumns=0, 11 12\nignore_sort_timer=1\n");
    auto* wexGrid = GridOf<TWexTopListFullGrid>(*wex);
    QCOMPARE(wexGrid->GetTextColor(), TColor(0xFFFFFF));
    QCOMPARE(wexGrid->GetColumnMap(), (std::vector<qint32>{0, 11, 12}));
    QVERIFY(wexGrid->GetIgnoreSortTimer());
}

void TestAlertWindow::HexadecimalOnlyAfterDollarLowerXOrZeroLowerX()
{
    // A colour with a capital X is malformed: the default white.
    QCOMPARE(GridOf<TQuickStrikeGrid>(*MakeWindow("color=0X00FF00\n"))->GetTextColor(), TColor(0xFFFFFF));
    QCOMPARE(GridOf<TQuickStrikeGrid>(*MakeWindow("color=X00FF00\n"))->GetTextColor(), TColor(0xFFFFFF));
    QCOMPARE(GridOf<TQuickStrikeGrid>(*MakeWindow("color=0x00FF00\n"))->GetTextColor(), TColor(0x00FF00));

    // So is an alert's whole number: 0, an empty cell.
    auto rook = MakeWindow("display=rook-simplelist\n");
    rook->HandleAlertMessage(Alert("", "symbol=R&volume=X10&count=0X10"));
    rook->HandleAlertMessage(Alert("", "symbol=S&volume=x10&count=0x10"));
    const TRookEntries& rows = GridOf<TRookGrid>(*rook)->GetEntries();
    QCOMPARE(rows[1].Volume, 0);
    QCOMPARE(rows[1].Count, 0);
    QCOMPARE(rows[0].Volume, 16);
    QCOMPARE(rows[0].Count, 16);
}

void TestAlertWindow::CategoryMustMatchLineOneExactly()
{
    auto window = MakeWindow("subscription=quickstrike\n");
    for (const char* other : {"QuickStrike", "quickstrikes", "quick", " quickstrike"})
        window->HandleAlertMessage(Alert(other, "symbol=OTHER"));
    window->HandleAlertMessage("quickstrike\nsymbol=BARE_LF");
    QVERIFY(Rows(*window).isEmpty());

    // Lines after the second are ignored; a body of only the category is a row of defaults.
    window->HandleAlertMessage("quickstrike\r\nsymbol=A&last=1.5\r\nsymbol=IGNORED\r\n");
    window->HandleAlertMessage("quickstrike");
    window->HandleAlertMessage("quickstrike\r\nsymbol=B&time=09%3A31");
    QCOMPARE(Rows(*window), (TSymbols{"B", "", "A"}));
    const auto& rows = GridOf<TQuickStrikeGrid>(*window)->GetEntries();
    QCOMPARE(rows[0].Time, QByteArray("09:31"));
    QCOMPARE(rows[2].Last, 1.5);

    // Only "\r\n" ends the field line: a bare '\r' is part of it, also as its last byte.
    window->HandleAlertMessage("quickstrike\r\nsymbol=C\rD&last=2&time=09\r\r\nsymbol=IGNORED");
    window->HandleAlertMessage("quickstrike\r\nsymbol=E\r");
    window->HandleAlertMessage("quickstrike\r\nsymbol=F\r\n");
    QCOMPARE(Rows(*window), (TSymbols{"F", "E\r", "C\rD", "B", "", "A"}));
    QCOMPARE(rows[2].Last, 2.0);
    QCOMPARE(rows[2].Time, QByteArray("09\r"));
}

void TestAlertWindow::NewestFirstListsAndCaps()
{
    // The capped kinds keep the newest 1000; Rook and Tamber keep everything.
    const std::pair<const char*, int> kinds[] = {
        {"", 1000}, {"symbol", 1000}, {"simplelist", 1000}, {"rook-simplelist", 2500}, {"tamber-simplelist", 2500}};
    for (const auto& [display, kept] : kinds) {
        auto window = MakeWindow(QByteArray("subscription=c\ndisplay=") + display + "\n");
        for (int i = 0; i < 2500; ++i)
            window->HandleAlertMessage(Alert("c", "symbol=S" + QByteArray::number(i) + "&last=10&prev_close=8&change=2"));
        const TSymbols rows = Rows(*window);
        QCOMPARE(rows.size(), kept);
        QCOMPARE(rows.first(), QByteArray("S2499"));
        QCOMPARE(rows.last(), "S" + QByteArray::number(2500 - kept));
    }
    auto simple = MakeWindow("display=simplelist\n");
    simple->HandleAlertMessage(Alert("", "symbol=V&last=1&change=2&percent_vol=5"));
    QCOMPARE(GridOf<TPointsTopListGrid>(*simple)->GetEntries()[0].PercentVol, 0.0);
    auto tamber = MakeWindow("display=tamber-simplelist\n");
    tamber->HandleAlertMessage(Alert("", "symbol=T&last=10&prev_close=8&volume=$FF"));
    QCOMPARE(GridOf<TTamberGrid>(*tamber)->GetEntries()[0].PercentChange, 25.0);
    QCOMPARE(GridOf<TTamberGrid>(*tamber)->GetEntries()[0].Volume, 255);
}

void TestAlertWindow::PointsListIsReplacedWhole()
{
    auto points = MakeWindow("display=pointslist\n");
    points->HandleAlertMessage(Alert("", "symbol0=A&last0=1&change0=1&symbol1=B&last1=2&change1=2"));
    QCOMPARE(Rows(*points), (TSymbols{"A", "B"}));
    points->HandleAlertMessage(Alert("", "symbol0=C&last0=1&change0=1"));
    QCOMPARE(Rows(*points), (TSymbols{"C"}));
    points->HandleAlertMessage(Alert("", "symbol0=&last0=1&change0=1"));
    QVERIFY(Rows(*points).isEmpty());
    QCOMPARE(GridOf<TPointsTopListGrid>(*points)->RowCount(), 2);
}

void TestAlertWindow::ExclusionList()
{
    TQuickStrikeExcludeList list;
    for (const char* s : {"msft", "IBM", "MSFT", "aapl", "Ibm", "b"})
        list.Add(s);
    QCOMPARE(list.GetItems(), (TSymbols{"aapl", "b", "IBM", "msft"}));
    QVERIFY(list.Contains("MsFt"));
    QVERIFY(!list.Contains("IB"));
    QVERIFY(!list.Contains("IBMX"));

    // QuickStrike windows drop excluded symbols in any letter case; the wall shows them.
    QuickStrikeExcludeList().Clear();
    QuickStrikeExcludeList().Add("msft");
    auto strike = MakeWindow("");
    auto wall = MakeWindow("display=symbol\n");
    for (const char* symbol : {"MSFT", "IBM", "Msft"}) {
        strike->HandleAlertMessage(Alert("", QByteArray("symbol=") + symbol));
        wall->HandleAlertMessage(Alert("", QByteArray("symbol=") + symbol));
    }
    QCOMPARE(Rows(*strike), (TSymbols{"IBM"}));
    QCOMPARE(Rows(*wall).size(), 3);
    QuickStrikeExcludeList().Clear();
    strike->HandleAlertMessage(Alert("", "symbol=MSFT"));
    QCOMPARE(Rows(*strike), (TSymbols{"MSFT", "IBM"}));
}

// The Bollinger rule itself is tested without a widget (tst_listrules); here the window reads
// the alert's fields into it and hands the grid the list only when something is to be shown.
void TestAlertWindow::BollingerHandOver()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    auto window = MakeWindow("display=set\n");
    auto* grid = GridOf<TBollingerGrid>(*window);
    for (const char* fields : {"symbol=IBM&dist_from_bb=-3&last=5", "symbol=MSFT&dist_from_bb=2",
                               "symbol=AAPL&dist_from_bb=3", "symbol=NONE"})
        window->HandleAlertMessage(Alert("", QByteArray("action=add&") + fields));
    QCOMPARE(Rows(*window), (TSymbols{"NONE", "AAPL", "IBM", "MSFT"}));
    QCOMPARE(grid->GetEntries()[2].Last, 5.0);
    QCOMPARE(window->GetBollingerSymbols(), (TSymbols{"AAPL", "IBM", "MSFT", "NONE"}));

    TBollingerEntries shown = grid->GetEntries();
    window->HandleAlertMessage(Alert("", "action=delete&symbol=NEVER"));
    window->HandleAlertMessage(Alert("", "action=delete&symbol=ibm")); // rows match exact case
    QVERIFY(SameList(shown, grid->GetEntries()));
    window->HandleAlertMessage(Alert("", "action=delete&symbol=IBM"));
    QCOMPARE(Rows(*window), (TSymbols{"NONE", "AAPL", "MSFT"}));

    // Another action, or none, changes nothing but hands the list over again.
    for (const char* fields : {"action=remove&symbol=AAPL", "symbol=MSFT&dist_from_bb=7"}) {
        shown = grid->GetEntries();
        window->HandleAlertMessage(Alert("", fields));
        QVERIFY(!SameList(shown, grid->GetEntries()));
    }
    QCOMPARE(Rows(*window), (TSymbols{"NONE", "AAPL", "MSFT"}));

    // A tick that expires nothing hands nothing over; the window's own timer expires rows
    // (sped up: no test waits a second).
    clock.Advance(119'999);
    shown = grid->GetEntries();
    window->ExpireBollingersTimerTimer();
    QVERIFY(SameList(shown, grid->GetEntries()));
    clock.Advance(1);
    window->GetExpireBollingersTimer()->start(0);
    QTRY_VERIFY_WITH_TIMEOUT(Rows(*window).isEmpty(), 2000);
    QCOMPARE(grid->RowCount(), 2);
    QVERIFY(window->GetBollingerSymbols().isEmpty());
}

void TestAlertWindow::ClearWindow()
{
    auto strike = MakeWindow("");
    strike->HandleAlertMessage(Alert("", "symbol=A"));
    strike->GetClearWindowMenuItem()->trigger();
    QVERIFY(Rows(*strike).isEmpty());
    QCOMPARE(GridOf<TQuickStrikeGrid>(*strike)->RowCount(), 2);
    strike->HandleAlertMessage(Alert("", "symbol=C"));
    QCOMPARE(Rows(*strike), (TSymbols{"C"}));

    // The wall starts again at its top-left cell.
    auto wall = MakeWindow("display=symbol\n");
    auto* wallGrid = GridOf<TSymbolOnlyGrid>(*wall);
    for (const char* s : {"A", "B", "C"})
        wall->HandleAlertMessage(Alert("", QByteArray("symbol=") + s));
    QCOMPARE(wallGrid->GetNewestPosition(), 2);
    wall->ClearWindow();
    wall->HandleAlertMessage(Alert("", "symbol=D"));
    QCOMPARE(wallGrid->GetNewestPosition(), 0);
    qsizetype index = -1;
    QVERIFY(wallGrid->CellToEntry(0, 1, index));
    QCOMPARE(wallGrid->GetEntries()[index].Symbol, QByteArray("D"));

    // Kinds without the menu keep their rows.
    auto rook = MakeWindow("display=rook-simplelist\n");
    rook->HandleAlertMessage(Alert("", "symbol=A"));
    const TRookEntries shown = GridOf<TRookGrid>(*rook)->GetEntries();
    rook->ClearWindow();
    QVERIFY(SameList(shown, GridOf<TRookGrid>(*rook)->GetEntries()));
}

void TestAlertWindow::RightClickOpensTheWindowMenu()
{
    for (const QByteArray& display : {QByteArray("simplelist"), QByteArray("rook-simplelist")}) {
        auto window = MakeWindow("display=" + display + "\n");
        window->show();
        auto* grid = dynamic_cast<TDrawGrid*>(window->GetGrid());
        const QPoint at(20, 30);
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid->viewport(), &click);
        if (display == "simplelist") {
            QTRY_VERIFY_WITH_TIMEOUT(window->GetClearPopup()->isVisible(), 2000);
            window->GetClearPopup()->close();
        } else {
            QVERIFY(!window->GetClearPopup()->isVisible());
            QVERIFY(!window->GetWexMenu()->isVisible());
        }
    }
}

void TestAlertWindow::WexMenuFollowsTheGrid()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    auto window = MakeWindow("display=wex\n");
    auto* grid = GridOf<TWexTopListFullGrid>(*window);
    QAction* freeze = window->GetFreezeAction();
    QAction* sortNow = window->GetSortNowAction();
    auto send = [&](std::initializer_list<const char*> symbols) {
        QByteArray fields;
        int i = 0;
        for (const char* s : symbols)
            fields += "&symbol" + QByteArray::number(i++) + "=" + s;
        window->HandleAlertMessage(Alert("", fields.mid(1)));
        Q_EMIT window->GetWexMenu()->aboutToShow();
    };

    send({"AAA", "BBB"}); // the first list shows at once
    QVERIFY(!sortNow->isEnabled());
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now"));
    QVERIFY(!freeze->isChecked());
    send({"BBB", "AAA"}); // same symbols in another order: waits, plain caption
    QVERIFY(sortNow->isEnabled());
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now"));
    send({"AAA", "CCC", "D%26E"}); // "&" would mark a shortcut letter
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now (CCC, D&&E missing)"));
    send({"C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8"});
    QCOMPARE(sortNow->text(), QStringLiteral("Sort Now (C1, C2, C3, C4, C5 and 3 more missing)"));

    freeze->trigger();
    QVERIFY(grid->GetFrozen());
    Q_EMIT window->GetWexMenu()->aboutToShow();
    QVERIFY(freeze->isChecked());
    sortNow->trigger(); // applies also while frozen
    QCOMPARE(grid->GetDisplayedEntries().size(), size_t(8));
    Q_EMIT window->GetWexMenu()->aboutToShow();
    QVERIFY(!sortNow->isEnabled());

    // Frozen, the window's tick does not apply a list; unfreezing does, at once.
    send({"ZZZ"});
    clock.Advance(31'000);
    window->ExpireBollingersTimerTimer();
    QVERIFY(grid->GetSortPending());
    freeze->trigger();
    QVERIFY(!grid->GetSortPending());
    Q_EMIT window->GetWexMenu()->aboutToShow();
    QVERIFY(!freeze->isChecked());

    // Unfrozen, the tick applies a waiting list 30 seconds after the last apply.
    send({"YYY"});
    clock.Advance(29'000);
    window->ExpireBollingersTimerTimer();
    QVERIFY(grid->GetSortPending());
    clock.Advance(2'000);
    window->ExpireBollingersTimerTimer();
    QCOMPARE(grid->GetDisplayedEntries()[0].Symbol, QByteArray("YYY"));
}

void TestAlertWindow::ListenersAndDestroyedWindows()
{
    auto kept = MakeWindow("subscription=l\n");
    MakeWindow("subscription=l\n").reset(); // its listener stays registered
    MainConnection().ListenResponse(true, Alert("l", "symbol=A"), TMessageToServer());
    QCOMPARE(Rows(*kept), (TSymbols{"A"}));

    // A window made for a connection of its own listens there only.
    TMainConnection own("127.0.0.1:1", nullptr);
    TAlertForm separate(own);
    separate.LoadSettings(TConfigFile::FromText("[w]\nsubscription=l\n"), "w");
    own.ListenResponse(true, Alert("l", "symbol=B"), TMessageToServer());
    QCOMPARE(Rows(separate), (TSymbols{"B"}));
    QCOMPARE(Rows(*kept), (TSymbols{"A"}));

    // A window is listening before it is configured. Until then it ignores everything, also
    // a body whose category is empty, and keeps nothing for later.
    TAlertForm bare;
    bare.GetExpireBollingersTimer()->stop();
    bare.HandleAlertMessage("\r\nsymbol=A");
    bare.LoadSettings(TConfigFile::FromText("[w]\nsubscription=\n"), "w");
    QVERIFY(GridOf<TQuickStrikeGrid>(bare));
    bare.HandleAlertMessage("\r\nsymbol=B");
    QCOMPARE(Rows(bare), (TSymbols{"B"}));
}

QTEST_MAIN(TestAlertWindow)
#include "tst_alertwindow.moc"
