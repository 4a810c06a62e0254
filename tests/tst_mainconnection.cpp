// labels: shell connection
// The main connection against the demo server: what it sends, its status texts, reconnects
// and the watchdog. Time moves only through the manual clock and direct Tick() calls.

#include "Olvarra/MainConnectionUnit.h"
#include "Platform/Clock.h"
#include "support/DemoServer.h"

#include <QLocale>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <stdexcept>

namespace {

// A main connection whose own timer is stopped: the test runs its ticks.
struct TConnectionRig {
    explicit TConnectionRig(const QStringList& serverArguments = {"--no-alerts"})
        : Scoped(&ManualClock), Server(serverArguments)
    {
        Connection = std::make_unique<TMainConnection>(Server.Address().toLatin1(), nullptr);
        Connection->GetTimer()->stop();
    }

    void Login(const QByteArray& user = "joe", const QByteArray& password = "secret")
    {
        Connection->SetUserName(user);
        Connection->SetPassword(password);
    }

    // Lets queued wake-ups and socket events run without waiting for anything.
    static void Settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    QList<QByteArray> CommandsOf(int conn)
    {
        QList<QByteArray> result;
        for (const TDemoRequest& r : Server.Requests())
            if (r.Conn == conn)
                result.append(r.Command());
        return result;
    }

    TManualClock ManualClock;
    TScopedClock Scoped;
    TDemoServer Server;
    std::unique_ptr<TMainConnection> Connection;
};

// "Working:  " and the local time of the answer in the user's long format, without the time
// zone that Qt's long format would add.
bool IsWorkingText(const QString& status, const TManualClock& clock)
{
    const QDateTime now = clock.LocalNow();
    return status.startsWith(QStringLiteral("Working:  ")) && status.contains(now.time().toString(QStringLiteral("mm:ss")))
           && !status.contains(now.timeZoneAbbreviation());
}

} // namespace

class TestMainConnection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void LoginListenSubscribePingInOrder();
    void AlertsReachEveryListener();
    void ClosedConversationReplacedWithSessionId();
    void SilentServerGivenUpAfter25Ticks();
    void StopShowsTextAndHoldsUntilLogin();
    void UnchangedCredentialsDoNotReconnect();
    void ResetReconnectsWithoutSession();
    void WallClockSetBackKeepsPinging();
    void NoPasswordOpensOnlyTheConversation();
    void StatusTimeFormatLosesOnlyTheZone_data();
    void StatusTimeFormatLosesOnlyTheZone();
};

void TestMainConnection::LoginListenSubscribePingInOrder()
{
    TConnectionRig rig;
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    c.AddCategory("wex");
    c.AddCategory("ABC");
    c.AddCategory("abc"); // the same category: the first spelling stays
    c.AddCategory("");
    c.AddCategory("Bollinger");
    QCOMPARE(c.GetCategories(), (QList<QByteArray>{"ABC", "Bollinger", "wex"}));

    int statusChanges = 0;
    c.OnStatusChange = [&] { ++statusChanges; };
    rig.Login("Xjoe", "pw");
    QVERIFY(rig.Server.WaitForRequests("ping", 1));
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
    QVERIFY(statusChanges >= 1);

    const QVector<TDemoRequest> requests = rig.Server.Requests();
    QCOMPARE(requests.size(), 6);
    QCOMPARE(rig.CommandsOf(1), (QList<QByteArray>{"login", "listen_for_alerts", "add_alert_category",
                                                  "add_alert_category", "add_alert_category", "ping"}));
    QCOMPARE(requests[0].Id, std::optional<qint64>(1));
    QCOMPARE(requests[0].Value("username"), QByteArray("Xjoe"));
    QCOMPARE(requests[0].Value("password"), QByteArray("pw"));
    QVERIFY(requests[0].Has("session_id"));
    QCOMPARE(requests[0].Value("session_id"), QByteArray());
    QCOMPARE(requests[1].Id, std::optional<qint64>(8));
    QCOMPARE(requests[2].Value("category"), QByteArray("ABC"));
    QCOMPARE(requests[3].Value("category"), QByteArray("Bollinger"));
    QCOMPARE(requests[4].Value("category"), QByteArray("wex"));
    for (int i = 2; i <= 4; ++i)
        QVERIFY(!requests[i].Id.has_value());
    QCOMPARE(requests[5].Id, std::optional<qint64>(7));
    QCOMPARE(requests[5].Value("response"), QByteArray("1"));

    // No periodic ping before 4.5 s have passed.
    rig.ManualClock.Advance(4000);
    c.Tick();
    rig.ManualClock.Advance(600);
    c.Tick();
    QVERIFY(rig.Server.WaitForRequests("ping", 2));
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus().startsWith("Working:  "); }));
    QVERIFY2(IsWorkingText(c.GetStatus(), rig.ManualClock), qPrintable(c.GetStatus()));
    QCOMPARE(rig.Server.RequestsWith("ping").size(), 2);
    QCOMPARE(c.GetTicksWithoutPing(), 0);
    QVERIFY(!c.GetSessionId().isEmpty());
}

void TestMainConnection::AlertsReachEveryListener()
{
    TConnectionRig rig({"--rate", "50", "--seed", "3"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    c.AddCategory("quickstrike");
    QList<QByteArray> first, second;
    c.AddAlertListener([&](const QByteArray& body) {
        first.append(body);
        throw std::runtime_error("a failing window");
    });
    c.AddAlertListener({}); // unassigned: skipped
    c.AddAlertListener([&](const QByteArray& body) { second.append(body); });
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return second.size() >= 3; }));
    QCOMPARE(first.mid(0, 3), second.mid(0, 3));
    QVERIFY(second[0].startsWith("quickstrike\r\n"));

    // A failure answer carries no alert.
    const int before = int(second.size());
    c.ListenResponse(false, "quickstrike\r\nsymbol=X", {});
    QCOMPARE(int(second.size()), before);
    // The fake-data window's way in.
    c.ListenResponse(true, "quickstrike\r\nsymbol=X", {});
    QCOMPARE(second.last(), QByteArray("quickstrike\r\nsymbol=X"));
}

void TestMainConnection::ClosedConversationReplacedWithSessionId()
{
    TConnectionRig rig({"--no-alerts", "--close-after", "800"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return !c.GetSessionId().isEmpty(); }));
    const QByteArray session = c.GetSessionId();
    QVERIFY(rig.Server.WaitFor(
        [&] { return c.GetServer() && c.GetServer()->GetState() == TTalkWithServer::Closed; }));
    QCOMPARE(rig.Server.OpenedCount(), 1);

    c.Tick(); // reaps the closed conversation and asks for a new one
    QVERIFY(rig.Server.WaitForRequests("login", 2));
    const QVector<TDemoRequest> logins = rig.Server.RequestsWith("login");
    QCOMPARE(logins[1].Conn, 2);
    QCOMPARE(logins[1].Value("session_id"), session);
    // Each new conversation starts its ids afresh.
    QCOMPARE(logins[1].Id, std::optional<qint64>(1));
}

void TestMainConnection::SilentServerGivenUpAfter25Ticks()
{
    TConnectionRig rig({"--no-alerts", "--no-ping-replies"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitForRequests("ping", 1));
    TTalkWithServer* const first = c.GetServer();
    for (int i = 0; i < 24; ++i)
        c.Tick();
    QCOMPARE(c.GetServer(), first);
    QCOMPARE(c.GetStatus(), QString());
    c.Tick(); // the 25th
    QCOMPARE(c.GetStatus(), QString("Disconnected."));
    QCOMPARE(c.GetServer(), nullptr);
    QCOMPARE(c.GetTicksWithoutPing(), 0);
    QVERIFY(rig.Server.WaitForRequests("login", 2));
    QCOMPARE(rig.Server.RequestsWith("login")[1].Conn, 2);
    QVERIFY(rig.Server.WaitFor([&] { return rig.Server.ClosedCount() == 1; }));
    // The status stays until a ping is answered again.
    QCOMPARE(c.GetStatus(), QString("Disconnected."));
}

void TestMainConnection::StopShowsTextAndHoldsUntilLogin()
{
    TConnectionRig rig({"--no-alerts", "--stop", "Account suspended", "--close-after", "800"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.IsStopped(); }));
    QCOMPARE(c.GetStatus(), QString("Account suspended"));
    QVERIFY(rig.Server.WaitFor(
        [&] { return c.GetServer() && c.GetServer()->GetState() == TTalkWithServer::Closed; }));
    for (int i = 0; i < 30; ++i) {
        rig.ManualClock.Advance(500);
        c.Tick();
        TConnectionRig::Settle();
    }
    QCOMPARE(c.GetServer(), nullptr);
    QCOMPARE(rig.Server.OpenedCount(), 1);
    QCOMPARE(c.GetStatus(), QString("Account suspended"));

    // The same credentials again: Login after a refusal tries once more.
    rig.Login();
    QVERIFY(!c.IsStopped());
    QVERIFY(rig.Server.WaitForRequests("login", 2));
    QCOMPARE(rig.Server.RequestsWith("login")[1].Conn, 2);
}

void TestMainConnection::UnchangedCredentialsDoNotReconnect()
{
    TConnectionRig rig;
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
    TTalkWithServer* const server = c.GetServer();
    rig.Login();
    TConnectionRig::Settle();
    QCOMPARE(c.GetServer(), server);
    QCOMPARE(c.GetStatus(), QString("Connected!"));
    QCOMPARE(rig.Server.OpenedCount(), 1);

    // A changed password is a new login on a new conversation.
    rig.Login("joe", "other");
    QVERIFY(rig.Server.WaitForRequests("login", 2));
    QCOMPARE(rig.Server.RequestsWith("login")[1].Value("password"), QByteArray("other"));
    QCOMPARE(rig.Server.OpenedCount(), 2);
}

void TestMainConnection::ResetReconnectsWithoutSession()
{
    TConnectionRig rig;
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!" && !c.GetSessionId().isEmpty(); }));
    QStringList statuses;
    c.OnStatusChange = [&] { statuses.append(c.GetStatus()); };
    c.Reset();
    QCOMPARE(statuses, (QStringList{"Disconnected.", ""}));
    QVERIFY(c.GetSessionId().isEmpty());
    QVERIFY(rig.Server.WaitForRequests("login", 2));
    QCOMPARE(rig.Server.RequestsWith("login")[1].Value("session_id"), QByteArray());
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
}

void TestMainConnection::WallClockSetBackKeepsPinging()
{
    TConnectionRig rig;
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
    rig.ManualClock.SetLocal(rig.ManualClock.LocalNow().addSecs(-3600));
    for (int ping = 2; ping <= 4; ++ping) {
        rig.ManualClock.Advance(4600);
        c.Tick();
        QVERIFY(rig.Server.WaitForRequests("ping", ping));
    }
    QVERIFY(rig.Server.WaitFor([&] { return IsWorkingText(c.GetStatus(), rig.ManualClock); }));
    QCOMPARE(c.GetTicksWithoutPing(), 0);
}

void TestMainConnection::NoPasswordOpensOnlyTheConversation()
{
    TConnectionRig rig;
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    // A failing status display is swallowed.
    c.OnStatusChange = [] { throw std::runtime_error("display"); };
    c.SetUserName("joe");
    QVERIFY(rig.Server.WaitFor([&] { return rig.Server.OpenedCount() == 1; }));
    QVERIFY(c.GetServer());
    for (int i = 0; i < 30; ++i) {
        rig.ManualClock.Advance(500);
        c.Tick();
    }
    TConnectionRig::Settle();
    QCOMPARE(c.GetTicksWithoutPing(), 0);
    QCOMPARE(rig.Server.Requests().size(), 0);
    QCOMPARE(c.GetStatus(), QString());
}

void TestMainConnection::StatusTimeFormatLosesOnlyTheZone_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zone in brackets") << "H:mm:ss (t)" << "H:mm:ss";
    QTest::newRow("after AM/PM") << "h:mm:ss AP t" << "h:mm:ss AP";
    QTest::newRow("after the seconds") << "HH:mm:ss t" << "HH:mm:ss";
    QTest::newRow("first") << "t HH:mm:ss" << "HH:mm:ss";
    QTest::newRow("quoted t stays") << "H 'at' mm" << "H 'at' mm";
    QTest::newRow("quoted t and a zone") << "H 'at' mm t" << "H 'at' mm";
    QTest::newRow("doubled quote in quoted text") << "HH 'it''s t' mm t" << "HH 'it''s t' mm";
    QTest::newRow("between fields") << "h:mm t AP" << "h:mm AP";
    QTest::newRow("square brackets, blanks inside") << "HH:mm:ss [ t ]" << "HH:mm:ss";
    QTest::newRow("narrow no-break space") << QString::fromUtf8("h:mm:ss\u202fAP\u202ft")
                                           << QString::fromUtf8("h:mm:ss\u202fAP");
    QTest::newRow("no zone") << "HH:mm:ss" << "HH:mm:ss";
    QTest::newRow("only a zone") << "t" << "";
}

void TestMainConnection::StatusTimeFormatLosesOnlyTheZone()
{
    QFETCH(QString, format);
    QFETCH(QString, expected);
    QCOMPARE(TimeFormatWithoutZone(format), expected);
}

QTEST_GUILESS_MAIN(TestMainConnection)
#include "tst_mainconnection.moc"
