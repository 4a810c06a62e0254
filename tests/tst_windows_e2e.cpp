// labels: windows grids
// The alert windows end to end: the demo server streams alerts of every category to a client
// started from a Vesk.ini with one window of each kind, and every window shows rows; window
// placements and visibility survive a restart of the main window.

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/BollingerGrid.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/MainWindow.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"
#include "Olvarra/WexGridFull.h"
#include "support/DemoServer.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

// Category (the demo server's default names) and display value of each window, in order.
const std::pair<const char*, const char*> WindowKinds[] = {
    {"quickstrike", ""},
    {"bollinger", "set"},
    {"symbols", "symbol"},
    {"points", "pointslist"},
    {"simple", "simplelist"},
    {"rook", "rook-simplelist"},
    {"tamber", "tamber-simplelist"},
    {"wex", "wex"},
};

template <class TList>
QList<QByteArray> SymbolsOf(const TList& list)
{
    QList<QByteArray> out;
    for (qsizetype i = 0; i < qsizetype(list.size()); ++i)
        out.append(list[i].Symbol);
    return out;
}

// The symbol of every row a window's grid holds, top row first.
QList<QByteArray> SymbolsShown(const TAlertForm& window)
{
    QWidget* grid = window.GetGrid();
    if (auto* g = dynamic_cast<TQuickStrikeGrid*>(grid))
        return SymbolsOf(g->GetEntries());
    if (auto* g = dynamic_cast<TBollingerGrid*>(grid))
        return SymbolsOf(g->GetEntries());
    if (auto* g = dynamic_cast<TSymbolOnlyGrid*>(grid))
        return SymbolsOf(g->GetEntries());
    if (auto* g = dynamic_cast<TPointsTopListGrid*>(grid))
        return SymbolsOf(g->GetEntries());
    if (auto* g = dynamic_cast<TRookGrid*>(grid))
        return SymbolsOf(g->GetEntries());
    if (auto* g = dynamic_cast<TTamberGrid*>(grid))
        return SymbolsOf(g->GetEntries());
    if (auto* g = dynamic_cast<TWexTopListFullGrid*>(grid))
        return SymbolsOf(g->GetDisplayedEntries());
    return {};
}

qsizetype RowsShown(const TAlertForm& window) { return SymbolsShown(window).size(); }

// A symbol no made-up alert carries, marking a message sent to one category.
QByteArray Tag(const QByteArray& category) { return "ZZ-" + category; }

} // namespace

class TestWindowsEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void EveryKindShowsStreamedAlerts();
    void PlacementsSurviveARestart();

private:
    std::unique_ptr<TMainForm> StartClient();
    void Login();
    void StopClient();

    QTemporaryDir Dir;
    QString OldCurrent;
    std::unique_ptr<TDemoServer> Server;
    std::unique_ptr<TMainForm> Main;
    std::vector<QPointer<TAlertForm>> Windows;
};

void TestWindowsEndToEnd::initTestCase()
{
    QVERIFY(Dir.isValid());
    Server = std::make_unique<TDemoServer>(
        QStringList{"--seed", "7", "--rate", "50", "--list-interval", "200"});
    QVERIFY2(Server->IsRunning(), Server->Problem().constData());

    QByteArray ini = "[General]\r\nwindow count=8\r\n[Connection]\r\naddress=" + Server->Address().toLatin1() + "\r\n";
    int i = 0;
    for (const auto& [category, display] : WindowKinds) {
        ini += "[Alert Window " + QByteArray::number(i++) + "]\r\nsubscription=" + category + "\r\ntitle=" + category
               + " alerts\r\ndisplay=" + display + "\r\n";
    }
    QFile file(Dir.filePath(QStringLiteral("Vesk.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ini);
    file.close();
    // The process's one main connection reads Vesk.ini in the current folder on first use.
    OldCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(Dir.path()));
}

std::unique_ptr<TMainForm> TestWindowsEndToEnd::StartClient()
{
    TMainFormSetup setup;
    setup.ConfigPath = Dir.filePath(QStringLiteral("Vesk.ini"));
    setup.SettingsPath = Dir.filePath(QStringLiteral("settings.ini"));
    auto main = std::make_unique<TMainForm>(setup);
    Windows.clear();
    for (TAlertForm* window : main->GetAlertWindows())
        Windows.emplace_back(window);
    return main;
}

void TestWindowsEndToEnd::StopClient()
{
    // The main window writes the placements on destruction; the alert windows, which nobody
    // owns in the program, go afterwards.
    Main.reset();
    for (QPointer<TAlertForm>& window : Windows)
        delete window.data();
    Windows.clear();
}

void TestWindowsEndToEnd::cleanupTestCase()
{
    StopClient();
    Server.reset();
    QDir::setCurrent(OldCurrent);
}

void TestWindowsEndToEnd::Login()
{
    // The same credentials again change nothing on a connection that is up.
    Main->UsernameEdit->setText(QStringLiteral("trader"));
    Main->PasswordEdit->setText(QStringLiteral("secret"));
    Main->LoginButtonClick();
}

void TestWindowsEndToEnd::cleanup()
{
    StopClient();
}

void TestWindowsEndToEnd::EveryKindShowsStreamedAlerts()
{
    Main = StartClient();
    QCOMPARE(Windows.size(), std::size(WindowKinds));
    QCOMPARE(&Main->GetConnection(), &MainConnection());
    QCOMPARE(MainConnection().GetServerAddress(), Server->Address().toLatin1());

    Login();

    QVERIFY(Server->WaitForRequests("add_alert_category", int(std::size(WindowKinds)), 15000));
    QStringList subscribed;
    for (const TDemoRequest& request : Server->RequestsWith("add_alert_category"))
        subscribed.append(QString::fromLatin1(request.Value("category")));
    for (const auto& [category, display] : WindowKinds)
        QVERIFY2(subscribed.contains(QLatin1String(category)), category);

    for (size_t i = 0; i < Windows.size(); ++i) {
        QVERIFY(Windows[i]);
        QTRY_VERIFY2_WITH_TIMEOUT(RowsShown(*Windows[i]) > 0, WindowKinds[i].first, 15000);
    }
    QVERIFY(RowsShown(*Windows[0]) <= 1000);
    QCOMPARE(Windows[3]->GetDisplayKind(), dkPointsList);
    QCOMPARE(Windows[7]->GetDisplayKind(), dkWexTopList);

    // Each window keeps to its own category. In the stream itself: the whole lists of the
    // points and wex categories carry no "symbol", so a one-row window that took them would
    // hold rows without a symbol.
    for (size_t i : {0, 2, 4, 5, 6})
        QVERIFY2(!SymbolsShown(*Windows[i]).contains(QByteArray()), WindowKinds[i].first);
    // And exactly: one marked message per category, where the server's alerts come in,
    // then messages every window must ignore (another letter case, a longer name, a first
    // line that only starts with the category, no category). Each carries its mark in every
    // form a kind reads (a points list row also needs a price and a change), so a window
    // that took one would show it.
    auto marked = [](const QByteArray& tag) {
        return "\r\naction=add&symbol=" + tag + "&symbol0=" + tag + "&last0=1&change0=1";
    };
    for (const auto& [category, display] : WindowKinds)
        MainConnection().ListenResponse(true, QByteArray(category) + marked(Tag(category)), TMessageToServer());
    QList<QByteArray> decoys;
    for (const auto& [category, display] : WindowKinds) {
        const QByteArray name(category);
        decoys << name.toUpper() << name + "x" << name + " " << name + "\rx";
    }
    decoys << QByteArray();
    for (const QByteArray& decoy : decoys)
        MainConnection().ListenResponse(true, decoy + marked(Tag("decoy")), TMessageToServer());
    dynamic_cast<TWexTopListFullGrid*>(Windows[7]->GetGrid())->SortNow(); // a list in a new order waits otherwise
    for (size_t i = 0; i < Windows.size(); ++i) {
        const QList<QByteArray> shown = SymbolsShown(*Windows[i]);
        const char* name = WindowKinds[i].first;
        QVERIFY2(shown.contains(Tag(name)), name);
        QVERIFY2(!shown.contains(Tag("decoy")), name);
        for (const auto& [other, display] : WindowKinds)
            if (std::strcmp(other, name) != 0)
                QVERIFY2(!shown.contains(Tag(other)), qPrintable(QStringLiteral("%1 holds %2").arg(name, other)));
    }
}

void TestWindowsEndToEnd::PlacementsSurviveARestart()
{
    Main = StartClient();
    QCOMPARE(Windows.size(), std::size(WindowKinds));
    // Fresh settings: every window starts hidden.
    for (const QPointer<TAlertForm>& window : Windows)
        QVERIFY(!window->isVisible());

    Windows[0]->move(40, 50);
    Windows[0]->resize(300, 200);
    Windows[0]->show();
    Windows[5]->move(120, 90);
    Windows[5]->resize(250, 330);
    Windows[5]->show();
    Windows[2]->show();
    Windows[2]->hide(); // closed again by the user
    const QRect firstFrame = Windows[0]->frameGeometry();
    const QRect sixthFrame = Windows[5]->frameGeometry();
    StopClient();

    Main = StartClient();
    QCOMPARE(Windows.size(), std::size(WindowKinds));
    QVERIFY(Windows[0]->isVisible());
    QVERIFY(Windows[5]->isVisible());
    QVERIFY(!Windows[2]->isVisible());
    QVERIFY(!Windows[1]->isVisible());
    QCOMPARE(Windows[0]->size(), QSize(300, 200));
    QCOMPARE(Windows[5]->size(), QSize(250, 330));
    QCOMPARE(Windows[0]->frameGeometry().topLeft(), firstFrame.topLeft());
    QCOMPARE(Windows[5]->frameGeometry().topLeft(), sixthFrame.topLeft());
    // The grid fills the restored window.
    QCOMPARE(Windows[5]->GetGrid()->geometry(), Windows[5]->rect());

    // The restarted windows take alerts (on the connection that is still up when the cases
    // run in order).
    Login();
    QTRY_VERIFY_WITH_TIMEOUT(RowsShown(*Windows[0]) > 0, 15000);
}

QTEST_MAIN(TestWindowsEndToEnd)
#include "tst_windows_e2e.moc"
