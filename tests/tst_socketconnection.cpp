// labels: connection proxy
// The direct socket connection and the socket under it: address splitting, the order and
// count of events, draining received bytes, failures told at once and later, and our own
// SOCKS 4 handshake against a scripted loopback proxy.

#include "Platform/AsyncSocket.h"
#include "Platform/VeskError.h"
#include "Shared/SocketServerConnections.h"
#include "support/RefusingPort.h"
#include "support/UnknownHost.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

namespace {

// Counts what a connection raised, in order.
struct TEvents {
    QStringList Seen;
    void Hook(TGenericServerConnection& c)
    {
        c.OnSessionConnected = [this](TGenericServerConnection*) { Seen << QStringLiteral("connected"); };
        c.OnSessionClosed = [this](TGenericServerConnection*) { Seen << QStringLiteral("closed"); };
        c.OnDataAvailable = [this](TGenericServerConnection*) { Seen << QStringLiteral("data"); };
    }
    int Count(const char* what) const { return int(Seen.count(QLatin1String(what))); }
};

// A loopback listener that keeps the first connection it accepts.
struct TPeer {
    QTcpServer Server;
    QTcpSocket* Client = nullptr;
    QByteArray Got;
    TPeer()
    {
        Server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&Server, &QTcpServer::newConnection, [this] {
            Client = Server.nextPendingConnection();
            QObject::connect(Client, &QTcpSocket::readyRead, [this] { Got += Client->readAll(); });
        });
    }
    QByteArray Port() const { return QByteArray::number(Server.serverPort()); }
};

// A port on which nothing listens, reserved for the whole run.
QByteArray RefusedPort()
{
    static TRefusingPort port;
    return QByteArray::number(port.Port);
}

} // namespace

class TstSocketConnection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void splitsServerAddress_data();
    void splitsServerAddress();
    void connectedSessionCarriesBytesBothWays();
    void receiveDrainsABurstInOneString();
    void peerClosingEndsTheSessionOnce();
    void closeWritesQueuedBytesThenEnds();
    void refusedPortClosesWithoutConnecting();
    void unresolvableNameSaysDnsError();
    void badPortFailsAtOnceAndDestructionTellsAgain();
    void programmingErrorsAreAsserted();
    void socksSettingsNeedAllThreeAndUserCodeTurnsOnAuthentication();
    void socketCloseWhileConnectingReportsBothEvents();
    void socks4HandshakeIsExactAndKeepsEarlyData();
    void socks4RefusalEndsTheAttempt();
};

void TstSocketConnection::splitsServerAddress_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("port");
    QTest::newRow("host and port") << QByteArray("alerts.example:9339") << QByteArray("alerts.example") << QByteArray("9339");
    QTest::newRow("host alone") << QByteArray("alerts.example") << QByteArray("alerts.example") << QByteArray("8888");
    QTest::newRow("bare colon") << QByteArray("alerts.example:") << QByteArray("alerts.example") << QByteArray("");
    QTest::newRow("first colon splits") << QByteArray("a:1:2") << QByteArray("a") << QByteArray("1:2");
}

void TstSocketConnection::splitsServerAddress()
{
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, port);
    QByteArray gotHost, gotPort;
    SplitServerAddress(address, gotHost, gotPort);
    QCOMPARE(gotHost, host);
    QCOMPARE(gotPort, port);
}

void TstSocketConnection::connectedSessionCarriesBytesBothWays()
{
    TPeer peer;
    TEvents events; // outlives the connection, whose destruction still reports
    QByteArray received;
    TSocketServerConnection c("127.0.0.1", peer.Port());
    events.Hook(c);
    QVERIFY(c.Connect());
    // Nothing may be raised from inside Connect.
    QVERIFY(events.Seen.isEmpty());
    QCOMPARE(c.GetConnectionState(), quint8(0));
    QTRY_COMPARE(events.Count("connected"), 1);
    QCOMPARE(c.GetConnectionState(), quint8(1));

    c.Send("hello ");
    c.Send("server");
    QTRY_COMPARE(peer.Got, QByteArray("hello server"));

    peer.Client->write("and back");
    c.OnDataAvailable = [&](TGenericServerConnection* sender) {
        QCOMPARE(sender, &c);
        received += c.Receive();
    };
    QTRY_COMPARE(received, QByteArray("and back"));
    QVERIFY(c.Receive().isEmpty());
}

void TstSocketConnection::receiveDrainsABurstInOneString()
{
    TPeer peer;
    TEvents events; // outlives the connection, whose destruction still reports
    TSocketServerConnection c("127.0.0.1", peer.Port());
    events.Hook(c);
    QVERIFY(c.Connect());
    QTRY_COMPARE(events.Count("connected"), 1);
    QVERIFY(c.Receive().isEmpty());

    QByteArray burst(10000, Qt::Uninitialized);
    for (int i = 0; i < burst.size(); ++i)
        burst[i] = char(i * 7);
    QTRY_VERIFY(peer.Client);
    peer.Client->write(burst);
    // Let it all arrive before taking any: one Receive takes all of it.
    QTRY_COMPARE(c.GetSocket()->BytesWaiting(), qint64(burst.size()));
    QCOMPARE(c.Receive(), burst);
    QVERIFY(c.Receive().isEmpty());
}

void TstSocketConnection::peerClosingEndsTheSessionOnce()
{
    TPeer peer;
    TEvents events;
    {
        TSocketServerConnection c("127.0.0.1", peer.Port());
        events.Hook(c);
        QVERIFY(c.Connect());
        QTRY_VERIFY(peer.Client);
        QTRY_COMPARE(events.Count("connected"), 1);
        // Bytes sent just before the end are still there to take.
        peer.Client->write("last words");
        peer.Client->disconnectFromHost();
        QTRY_COMPARE(events.Count("closed"), 1);
        QCOMPARE(c.GetConnectionState(), quint8(2));
        QCOMPARE(c.Receive(), QByteArray("last words"));
        c.Send("dropped"); // closed: silently dropped
        c.Close();         // closed: nothing to do
    }
    // Destroying one already closed raises nothing more.
    QCOMPARE(events.Count("closed"), 1);
    QVERIFY(events.Seen.indexOf(QStringLiteral("connected")) < events.Seen.indexOf(QStringLiteral("closed")));
}

void TstSocketConnection::closeWritesQueuedBytesThenEnds()
{
    TPeer peer;
    TEvents events;
    auto c = std::make_unique<TSocketServerConnection>("127.0.0.1", peer.Port());
    events.Hook(*c);
    QVERIFY(c->Connect());
    QTRY_COMPARE(events.Count("connected"), 1);
    const QByteArray tail(200000, 'z');
    c->Send(tail);
    c->Close();
    QCOMPARE(events.Count("closed"), 0); // only when the socket says so
    QTRY_COMPARE(events.Count("closed"), 1);
    QTRY_COMPARE(peer.Got.size(), tail.size());
    c.reset();
    QCOMPARE(events.Count("closed"), 1);

    // Destroying a connection that is up raises the end exactly once.
    TPeer peer2;
    TEvents events2;
    auto d = std::make_unique<TSocketServerConnection>("127.0.0.1", peer2.Port());
    events2.Hook(*d);
    QVERIFY(d->Connect());
    QTRY_COMPARE(events2.Count("connected"), 1);
    d.reset();
    QCOMPARE(events2.Seen, QStringList({QStringLiteral("connected"), QStringLiteral("closed")}));
}

void TstSocketConnection::refusedPortClosesWithoutConnecting()
{
    TEvents events;
    TSocketServerConnection c("127.0.0.1", RefusedPort());
    events.Hook(c);
    QVERIFY(c.Connect());
    QVERIFY(events.Seen.isEmpty());
    QTRY_COMPARE(events.Count("closed"), 1);
    QCOMPARE(events.Count("connected"), 0);
    QCOMPARE(c.GetConnectionState(), quint8(2));
    // A refusal is not a name problem: the owner supplies its own words.
    QVERIFY(c.ErrorMessage.isEmpty());
    QCOMPARE(c.GetSocket()->LastError(), TSocketError::ConnectionRefused);
    c.Send("x"); // dropped, and no assertion: the session was reported
}

void TstSocketConnection::unresolvableNameSaysDnsError()
{
    TEvents events;
    {
        TSocketServerConnection c(UnknownHost, "9339");
        events.Hook(c);
        // The lookup does not block: the attempt starts and fails later.
        QVERIFY(c.Connect());
        QVERIFY(events.Seen.isEmpty());
        QTRY_COMPARE(events.Count("closed"), 1);
        QCOMPARE(events.Count("connected"), 0);
        QCOMPARE(c.ErrorMessage, QByteArray("DNS error"));
        QCOMPARE(c.GetSocket()->LastError(), TSocketError::HostNotFound);
    }
    QCOMPARE(events.Count("closed"), 1);
}

void TstSocketConnection::badPortFailsAtOnceAndDestructionTellsAgain()
{
    TEvents events;
    {
        TSocketServerConnection c("127.0.0.1", "");
        events.Hook(c);
        QVERIFY(!c.Connect());
        // Raised from inside Connect, once.
        QCOMPARE(events.Seen, QStringList({QStringLiteral("closed")}));
        QVERIFY2(c.ErrorMessage.startsWith("TSocketServerConnection.Connect, ESocketError, connect: invalid port"),
                 c.ErrorMessage.constData());
        QCOMPARE(c.GetConnectionState(), quint8(0));
        QTest::qWait(0);
        QCOMPARE(events.Seen.size(), 1);
    }
    // The state never left "connecting", so the end is told once more; owners tolerate it.
    QCOMPARE(events.Count("closed"), 2);

    for (const QByteArray& port : {QByteArray("0"), QByteArray("65536"), QByteArray("12ab"), QByteArray("9339:x")}) {
        TSocketServerConnection bad("127.0.0.1", port);
        QVERIFY2(!bad.Connect(), port.constData());
    }
}

void TstSocketConnection::programmingErrorsAreAsserted()
{
    TPeer peer;
    TSocketServerConnection c("127.0.0.1", peer.Port());
    QVERIFY(c.Connect());
    // Sending before the session is up, and connecting twice, are the owner's mistakes.
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, c.Send("too early"));
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, c.Connect());
}

void TstSocketConnection::socksSettingsNeedAllThreeAndUserCodeTurnsOnAuthentication()
{
    // Without a level the SOCKS settings are ignored entirely: the connection goes direct.
    TPeer peer;
    TEvents events;
    TSocketServerConnection direct("127.0.0.1", peer.Port());
    direct.SocksServer = "127.0.0.1";
    direct.SocksPort = RefusedPort();
    direct.SocksUserCode = "someone";
    events.Hook(direct);
    QVERIFY(direct.Connect());
    QVERIFY(direct.GetSocket()->SocksServer.isEmpty());
    QTRY_COMPARE(events.Count("connected"), 1);

    // A user code turns on user-name authentication even with an empty password.
    TSocketServerConnection viaSocks("127.0.0.1", peer.Port());
    viaSocks.SocksServer = "127.0.0.1";
    viaSocks.SocksPort = RefusedPort();
    viaSocks.SocksLevel = "5";
    viaSocks.SocksUserCode = "someone";
    QVERIFY(viaSocks.Connect());
    QCOMPARE(viaSocks.GetSocket()->SocksAuthentication, TAsyncSocket::TSocksAuthentication::UserCode);
    QCOMPARE(viaSocks.GetSocket()->SocksServer, QByteArray("127.0.0.1"));
}

void TstSocketConnection::socketCloseWhileConnectingReportsBothEvents()
{
    TAsyncSocket s;
    s.Addr = UnknownHost;
    s.Port = "80";
    QList<int> connected, closed;
    s.OnSessionConnected = [&](int e) { connected << e; };
    s.OnSessionClosed = [&](int e) { closed << e; };
    s.Connect();
    s.Close();
    QVERIFY(connected.isEmpty() && closed.isEmpty());
    QTRY_COMPARE(closed.size(), 1);
    QCOMPARE(connected, QList<int>({int(TSocketError::Aborted)}));
    QCOMPARE(closed, QList<int>({int(TSocketError::Aborted)}));
    QTest::qWait(0);
    QCOMPARE(closed.size(), 1); // the abandoned lookup never comes back

    TAsyncSocket t;
    t.Addr = "127.0.0.1";
    t.Port = "80";
    t.SocksServer = "127.0.0.1";
    t.SocksPort = "1080";
    t.SocksLevel = "6";
    QVERIFY_THROWS_EXCEPTION(ESocketError, t.Connect());
}

void TstSocketConnection::socks4HandshakeIsExactAndKeepsEarlyData()
{
    // The proxy is scripted here, so the request bytes can be checked exactly.
    TPeer proxy;
    TEvents events;
    QByteArray received;
    TSocketServerConnection c("localhost", "9339");
    c.SocksServer = "127.0.0.1";
    c.SocksPort = proxy.Port();
    c.SocksLevel = "4";
    c.SocksUserCode = "trader";
    events.Hook(c);
    c.OnDataAvailable = [&](TGenericServerConnection*) { received += c.Receive(); };
    QVERIFY(c.Connect());

    // The name was looked up here: SOCKS 4 carries the address itself.
    const QByteArray request = QByteArray("\x04\x01\x24\x7b\x7f\x00\x00\x01", 8) + "trader" + QByteArray(1, '\0');
    QTRY_COMPARE(proxy.Got, request);
    QCOMPARE(events.Count("connected"), 0);

    // The grant and the first bytes of the session in one piece.
    proxy.Client->write(QByteArray("\x00\x5a\x00\x00\x00\x00\x00\x00", 8) + "early");
    QTRY_COMPARE(received, QByteArray("early"));
    QCOMPARE(events.Seen.first(), QStringLiteral("connected"));
    c.Send("up");
    QTRY_VERIFY(proxy.Got.endsWith("up"));
}

void TstSocketConnection::socks4RefusalEndsTheAttempt()
{
    TPeer proxy;
    TEvents events;
    TSocketServerConnection c("127.0.0.1", "9339");
    c.SocksServer = "127.0.0.1";
    c.SocksPort = proxy.Port();
    c.SocksLevel = "4";
    events.Hook(c);
    QVERIFY(c.Connect());
    QTRY_COMPARE(proxy.Got.size(), 9);
    // A reply that comes in two pieces is still read as one.
    proxy.Client->write(QByteArray("\x00\x5b\x00", 3));
    QTRY_COMPARE(c.GetSocket()->BytesWaiting(), qint64(3));
    QCOMPARE(events.Count("closed"), 0);
    proxy.Client->write(QByteArray("\x00\x00\x00\x00\x00", 5));
    QTRY_COMPARE(events.Count("closed"), 1);
    QCOMPARE(events.Count("connected"), 0);
    QCOMPARE(c.GetSocket()->LastError(), TSocketError::ProxyFailed);
    QVERIFY(c.ErrorMessage.isEmpty());
}

QTEST_MAIN(TstSocketConnection)
#include "tst_socketconnection.moc"
