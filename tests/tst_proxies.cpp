// labels: connection proxy
// The same login-and-ping round trip against the demo server, directly and through a real
// SOCKS proxy (dante) in each mode, checking that the proxy really carried it; and the ways a
// proxy can turn us away.

#include "Shared/TalkWithServer.h"
#include "support/DemoServer.h"
#include "support/ProxyFixtures.h"

#include <QTest>

namespace {

struct TRoundTrip {
    QList<QPair<bool, QByteArray>> Login;
    QList<QPair<bool, QByteArray>> Ping;
    int Connected = 0;
};

// Logs in and pings; the caller waits for the answers.
void StartRoundTrip(TTalkWithServer& talk, TRoundTrip& trip)
{
    talk.OnConnected = [&trip] { ++trip.Connected; };
    talk.SendMessage(MakeMessage({"command", "login", "username", "x", "password", "y", "session_id", ""}), true,
                     [&trip](bool success, const QByteArray& body, const TMessageToServer&) {
                         trip.Login.append({success, body});
                     });
    talk.SendMessage(MakeMessage({"command", "ping", "response", '1'}), false,
                     [&trip](bool success, const QByteArray& body, const TMessageToServer&) {
                         trip.Ping.append({success, body});
                     });
    talk.Connect();
}

void UseProxy(TTalkWithServer& talk, const TDanteProxy& proxy)
{
    talk.SocksServer = "127.0.0.1";
    talk.SocksPort = proxy.Port();
    talk.SocksLevel = proxy.Level().toInt();
}

} // namespace

class TstProxies : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loginAndPingRoundTrip_data();
    void loginAndPingRoundTrip();
    void proxyTurnsUsAway_data();
    void proxyTurnsUsAway();
};

void TstProxies::loginAndPingRoundTrip_data()
{
    QTest::addColumn<int>("mode"); // -1: direct
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("direct") << -1 << QByteArray("127.0.0.1");
    QTest::newRow("SOCKS 5") << int(TDanteProxy::Socks5NoAuth) << QByteArray("127.0.0.1");
    QTest::newRow("SOCKS 5, name looked up by the proxy") << int(TDanteProxy::Socks5NoAuth) << QByteArray("localhost");
    QTest::newRow("SOCKS 5 with user name") << int(TDanteProxy::Socks5UserName) << QByteArray("127.0.0.1");
    QTest::newRow("SOCKS 4") << int(TDanteProxy::Socks4) << QByteArray("127.0.0.1");
    QTest::newRow("SOCKS 4, name looked up here") << int(TDanteProxy::Socks4) << QByteArray("localhost");
}

void TstProxies::loginAndPingRoundTrip()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, host);
    TDemoServer server;
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    std::unique_ptr<TDanteProxy> proxy;
    if (mode >= 0) {
        proxy = std::make_unique<TDanteProxy>(TDanteProxy::TMode(mode));
        VESK_START_PROXY(*proxy);
    }

    TRoundTrip trip;
    TTalkWithServer talk;
    talk.ServerAddress = host + ':' + QByteArray::number(server.ServerPort());
    if (proxy) {
        UseProxy(talk, *proxy);
        if (proxy->GetMode() == TDanteProxy::Socks5UserName) {
            talk.SocksUserCode = TDanteProxy::TestUserName;
            talk.SocksPassword = TDanteProxy::TestPassword;
        }
    }
    StartRoundTrip(talk, trip);

    QTRY_COMPARE_WITH_TIMEOUT(trip.Ping.size(), 1, 10000);
    QVERIFY2(trip.Ping[0].first, talk.GetDisconnectReason().constData());
    QCOMPARE(trip.Connected, 1);
    QCOMPARE(trip.Login.size(), 1);
    QVERIFY2(trip.Login[0].second.startsWith("SESSION ID\r\n"), trip.Login[0].second.constData());
    QCOMPARE(server.RequestsWith("login").size(), 1);
    if (proxy) {
        // The server was reached from the proxy, not from us.
        QTRY_VERIFY2(proxy->CarriedConnectionTo(server.ServerPort()), proxy->Log().constData());
    }
}

void TstProxies::proxyTurnsUsAway_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("userCode");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("wrong password") << int(TDanteProxy::Socks5UserName) << QByteArray("127.0.0.1")
                                    << TDanteProxy::TestUserName << QByteArray("not it")
                                    << QByteArray("Error in server connection.");
    QTest::newRow("no credentials") << int(TDanteProxy::Socks5UserName) << QByteArray("127.0.0.1") << QByteArray()
                                    << QByteArray() << QByteArray("Error in server connection.");
    QTest::newRow("SOCKS 4, unknown name") << int(TDanteProxy::Socks4) << QByteArray("no-such-host.invalid")
                                           << QByteArray() << QByteArray() << QByteArray("DNS error");
    QTest::newRow("SOCKS 5, name unknown to the proxy") << int(TDanteProxy::Socks5NoAuth)
                                                        << QByteArray("no-such-host.invalid") << QByteArray()
                                                        << QByteArray() << QByteArray("DNS error");
}

void TstProxies::proxyTurnsUsAway()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, userCode);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, reason);
    TDemoServer server;
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TDanteProxy proxy{TDanteProxy::TMode(mode)};
    VESK_START_PROXY(proxy);

    TRoundTrip trip;
    TTalkWithServer talk;
    talk.ServerAddress = host + ':' + QByteArray::number(server.ServerPort());
    UseProxy(talk, proxy);
    talk.SocksUserCode = userCode;
    talk.SocksPassword = password;
    StartRoundTrip(talk, trip);

    QTRY_COMPARE_WITH_TIMEOUT(talk.GetState(), TTalkWithServer::Closed, 10000);
    QCOMPARE(trip.Connected, 0);
    QCOMPARE(talk.GetDisconnectReason(), reason);
    // Every waiting callback still got its one answer.
    QCOMPARE(trip.Login.size(), 1);
    QCOMPARE(trip.Ping.size(), 1);
    QVERIFY(!trip.Ping[0].first);
    QCOMPARE(server.OpenedCount(), 0);
}

QTEST_MAIN(TstProxies)
#include "tst_proxies.moc"
