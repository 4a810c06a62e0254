// labels: shell connection
// The main connection against the demo server: what it sends, its status texts, reconnects
// and the watchdog. Time moves only through the manual clock and direct Tick() calls.

#include "Olvarra/MainConnectionUnit.h"
#include "Platform/Clock.h"
#include "Shared/ZLibStreams.h"
#include "support/DemoServer.h"

#include <QHostAddress>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>
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

// A server scripted by the test, for answers the demo server never gives: late, or odd.
// It reads the opening command and the compressed requests, and answers only when told.
struct TScriptedServer {
    struct TRequest {
        qint32 Id = 0; // 0: none asked for
        QByteArray Command;
    };

    TScriptedServer()
    {
        Listener.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&Listener, &QTcpServer::newConnection, [this] {
            Client = Listener.nextPendingConnection();
            QObject::connect(Client, &QTcpSocket::readyRead, [this] { Read(); });
        });
    }
    QByteArray Address() const { return "127.0.0.1:" + QByteArray::number(Listener.serverPort()); }

    // The id of the n-th request (from 0) with this command, once it has arrived.
    qint32 IdOf(const QByteArray& command, int n = 0)
    {
        const bool arrived = QTest::qWaitFor([&] {
            int seen = 0;
            for (const TRequest& r : Requests)
                if (r.Command == command && seen++ == n)
                    return true;
            return false;
        });
        if (!arrived)
            return -1;
        int seen = 0;
        for (const TRequest& r : Requests)
            if (r.Command == command && seen++ == n)
                return r.Id;
        return -1;
    }
    int Count(const QByteArray& command) const
    {
        return int(std::count_if(Requests.begin(), Requests.end(), [&](const TRequest& r) { return r.Command == command; }));
    }

    // Response frames, compressed and sync-flushed as one write.
    void Answer(const QList<QPair<qint32, QByteArray>>& frames)
    {
        QByteArray plain;
        for (const auto& [id, body] : frames)
            plain += Int(id) + Int(qint32(body.size())) + body;
        Deflater.Write(plain);
        Deflater.Flush();
        Client->write(std::exchange(Deflater.Output, QByteArray()));
    }

    QTcpServer Listener;
    QTcpSocket* Client = nullptr;
    QList<TRequest> Requests;

private:
    static QByteArray Int(qint32 v)
    {
        QByteArray out(4, '\0');
        for (int i = 0; i < 4; ++i)
            out[i] = char((quint32(v) >> (8 * i)) & 0xFF);
        return out;
    }
    static qint32 ReadInt(const QByteArray& b, qsizetype at)
    {
        quint32 v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | quint8(b[at + i]);
        return qint32(v);
    }

    void Read()
    {
        Raw += Client->readAll();
        const qsizetype start = TTalkWithServer::OpeningCommand.size();
        if (Raw.size() <= start)
            return;
        Inflater.Write(Raw.mid(std::max(start, Inflated)));
        Inflated = Raw.size();
        const QByteArray& in = Inflater.Output;
        for (;;) {
            TRequest request;
            qsizetype at = Parsed;
            bool whole = false;
            while (at + 4 <= in.size()) {
                const qint32 keyLength = ReadInt(in, at);
                if (keyLength == 0) {
                    at += 4;
                    whole = true;
                    break;
                }
                if (at + 8 + keyLength > in.size())
                    break;
                const QByteArray key = in.mid(at + 4, keyLength);
                const qint32 valueLength = ReadInt(in, at + 4 + keyLength);
                if (at + 8 + keyLength + valueLength > in.size())
                    break;
                const QByteArray value = in.mid(at + 8 + keyLength, valueLength);
                if (key == "message_id")
                    request.Id = value.toInt();
                else if (key == "command")
                    request.Command = value;
                at += 8 + keyLength + valueLength;
            }
            if (!whole)
                return;
            Requests.append(request);
            Parsed = at;
        }
    }

    QByteArray Raw;
    TZLibDecompressor Inflater;
    qsizetype Inflated = 0;
    qsizetype Parsed = 0;
    TZLibCompressor Deflater;
};

// A main connection logged in to a scripted server, its login ping answered.
struct TScriptedRig {
    TScriptedRig() : Scoped(&ManualClock)
    {
        Connection = std::make_unique<TMainConnection>(Server.Address(), nullptr);
        Connection->GetTimer()->stop();
        Connection->SetUserName("joe");
        Connection->SetPassword("secret");
        LoginId = Server.IdOf("login");
        const qint32 ping = Server.IdOf("ping");
        if (LoginId > 0 && ping > 0) {
            Server.Answer({{LoginId, "SESSION ID\r\nfirst"}, {ping, {}}});
            (void)QTest::qWaitFor([&] { return Connection->GetStatus() == "Connected!"; });
        }
    }
    bool Ready() const { return Connection->GetStatus() == "Connected!" && Connection->GetSessionId() == "first"; }

    TManualClock ManualClock;
    TScopedClock Scoped;
    TScriptedServer Server;
    std::unique_ptr<TMainConnection> Connection;
    qint32 LoginId = -1;
};

} // namespace

class TestMainConnection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void LoginListenSubscribePingInOrder();
    void AlertsReachEveryListener();
    void ListenerAddedWhileAlertsAreHandedOut();
    void ClosedConversationReplacedWithSessionId();
    void SilentServerGivenUpAfter25Ticks();
    void StopShowsTextAndHoldsUntilLogin();
    void UnchangedCredentialsDoNotReconnect();
    void ResetReconnectsWithoutSession();
    void WallClockSetBackKeepsPinging();
    void NoPasswordOpensOnlyTheConversation();
    void StatusTimeFormatLosesOnlyTheZone_data();
    void StatusTimeFormatLosesOnlyTheZone();
    void LateAnswerToACancelledPingChangesNothing();
    void SessionIdReplyWithoutIdKeepsTheSession();
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

void TestMainConnection::ListenerAddedWhileAlertsAreHandedOut()
{
    // Listeners are called in place; one that adds many others while it runs must still
    // run to its end, and the new ones take this alert too. (Its state is one pointer, so
    // it lives inside the list: a list that moved its listeners would pull it away.)
    TMainConnection c("127.0.0.1:1", nullptr);
    struct TState {
        TMainConnection* Connection;
        QList<QByteArray> Got;
        int Added = 0;
    } state{&c, {}, 0};
    TState* s = &state;
    c.AddAlertListener([s](const QByteArray& body) {
        for (int i = 0; s->Added < 200 && i < 100; ++i, ++s->Added)
            s->Connection->AddAlertListener([s](const QByteArray& b) { s->Got.append(b); });
        s->Got.append("first " + body);
    });
    c.ListenResponse(true, "one", {});
    QCOMPARE(state.Got.size(), 101);
    QCOMPARE(state.Got.first(), QByteArray("first one"));
    c.ListenResponse(true, "two", {});
    QCOMPARE(state.Got.size(), 101 + 201);
    QCOMPARE(state.Got[101], QByteArray("first two"));
    QCOMPARE(state.Got.last(), QByteArray("two"));
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

void TestMainConnection::LateAnswerToACancelledPingChangesNothing()
{
    TScriptedRig rig;
    QVERIFY(rig.Ready());
    TMainConnection& c = *rig.Connection;

    // A periodic ping that the server leaves unanswered, then the next one, which cancels it.
    rig.ManualClock.Advance(4600);
    c.Tick();
    const qint32 first = rig.Server.IdOf("ping", 1);
    QVERIFY(first > 0);
    for (int i = 0; i < 10; ++i) {
        rig.ManualClock.Advance(500);
        c.Tick();
    }
    const qint32 second = rig.Server.IdOf("ping", 2);
    QVERIFY(second > 0 && second != first);
    const int ticks = c.GetTicksWithoutPing();
    QCOMPARE(ticks, 11);

    // The late answer comes, and behind it a new session id to show that it has been read.
    rig.Server.Answer({{first, {}}, {rig.LoginId, "SESSION ID\r\nsecond"}});
    QVERIFY(QTest::qWaitFor([&] { return c.GetSessionId() == "second"; }));
    QCOMPARE(c.GetStatus(), QString("Connected!"));
    QCOMPARE(c.GetTicksWithoutPing(), ticks);

    // The answer to the ping in force counts.
    rig.Server.Answer({{second, {}}});
    QVERIFY(QTest::qWaitFor([&] { return c.GetTicksWithoutPing() == 0; }));
    QVERIFY2(IsWorkingText(c.GetStatus(), rig.ManualClock), qPrintable(c.GetStatus()));
}

void TestMainConnection::SessionIdReplyWithoutIdKeepsTheSession()
{
    TScriptedRig rig;
    QVERIFY(rig.Ready());
    TMainConnection& c = *rig.Connection;
    // The login callback stays registered, so the server may answer it again. Each odd reply
    // is followed by the answer to a ping, whose status shows the reply has been read.
    const QByteArray odd[] = {"SESSION ID", "SESSION ID\r\n", "SESSION ID\r\n\0next", "SESSION"};
    int pings = 1;
    for (const QByteArray& reply : odd) {
        rig.ManualClock.Advance(4600);
        c.Tick();
        const qint32 ping = rig.Server.IdOf("ping", pings++);
        QVERIFY(ping > 0);
        bool answered = false;
        c.OnStatusChange = [&] { answered = true; };
        rig.Server.Answer({{rig.LoginId, reply}, {ping, {}}});
        QVERIFY(QTest::qWaitFor([&] { return answered; }));
        QVERIFY2(c.GetSessionId() == "first", reply.constData());
        QVERIFY(!c.IsStopped());
    }
    c.OnStatusChange = nullptr;
}

QTEST_GUILESS_MAIN(TestMainConnection)
#include "tst_mainconnection.moc"
