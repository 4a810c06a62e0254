// labels: faults connection
// The fault matrix: a hostile or broken server on 127.0.0.1 against the real main connection
// and conversation. Each case checks the status text, the reconnect (or none), the memory the
// conversation holds for received bytes, and that no descriptor is left open. Time-based rules
// run on the manual clock; waits for the network are bounded and end as soon as they can.

#include "Olvarra/MainConnectionUnit.h"
#include "Platform/Clock.h"
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"
#include "Platform/AsyncSocket.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"
#include "support/DemoServer.h"
#include "support/HostileServer.h"
#include "support/ProxyFixtures.h"
#include "support/RefusingPort.h"
#include "support/UnknownHost.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QTimer>
#include <QtEndian>
#include <QtTest>
#include <memory>

namespace {


constexpr qsizetype MiB = 1024 * 1024;
// What the conversation may hold for received bytes when no large frame is under way: two
// inflate slices of room (the buffer grows by doubling) and one socket read of compressed
// bytes (at most the socket's 1 MiB, in a buffer that doubles).
constexpr qsizetype SmallBound = 4 * MiB + 64 * 1024;

QByteArray Le32(qint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray Frame(qint32 id, const QByteArray& body) { return Le32(id) + Le32(qint32(body.size())) + body; }

void Settle()
{
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A main connection on the manual clock whose own timer is stopped: the test runs its ticks.
struct TFaultRig {
    explicit TFaultRig(const QByteArray& address = {})
    {
        Settle();
        FdsBefore = OpenDescriptorCount();
        Connection = std::make_unique<TMainConnection>(address.isEmpty() ? Server.Address() : address, nullptr);
        Connection->GetTimer()->stop();
        Connection->AddAlertListener([this](const QByteArray& body) { Alerts.append(body); });
    }

    void Login()
    {
        Connection->SetUserName("joe");
        Connection->SetPassword("pw");
    }
    void Tick(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            Clock.Advance(500);
            Connection->Tick();
            Settle();
        }
    }
    bool WaitFor(const std::function<bool()>& condition, int ms = 5000) { return QTest::qWaitFor(condition, ms); }
    QString Status() const { return Connection->GetStatus(); }
    TTalkWithServer* Talk() const { return Connection->GetServer(); }
    QByteArray Reason() const { return Talk() ? Talk()->GetDisconnectReason() : QByteArray("(none)"); }
    bool TalkClosed() const { return Talk() && Talk()->GetState() == TTalkWithServer::Closed; }
    qsizetype Peak() const { return Talk() ? Talk()->GetPeakHeldCapacity() : 0; }
    // Everything is closed and freed; the descriptors are back to what they were.
    int LeakedDescriptors()
    {
        Connection.reset();
        Server.DropPeers();
        Settle();
        // An abandoned name lookup ends on its own thread a moment later; under a loaded
        // machine (suites run in parallel) that moment has been seen to pass 3 s.
        (void)QTest::qWaitFor([this] { return OpenDescriptorCount() <= FdsBefore; }, 10000);
        const int leaked = OpenDescriptorCount() - FdsBefore;
        if (leaked > 0) {
            // Say what stays open, so that a failure can be traced.
            const QDir fds(QStringLiteral("/proc/self/fd"));
            for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System))
                qWarning("open descriptor %s -> %s", qPrintable(fd),
                         qPrintable(QFile::symLinkTarget(fds.filePath(fd))));
        }
        return leaked;
    }

    TManualClock Clock;
    TScopedClock Scoped{&Clock};
    THostileServer Server;
    int FdsBefore = 0;
    std::unique_ptr<TMainConnection> Connection;
    QList<QByteArray> Alerts;
};

// Reserved for the whole run, so that the refused attempts cannot reach anyone.
quint16 ClosedPort()
{
    static TRefusingPort port;
    return port.Port;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void EndInTheMiddleOfAFrame_data();
    void EndInTheMiddleOfAFrame();
    void SilentServersGivenUpByTheWatchdog_data();
    void SilentServersGivenUpByTheWatchdog();
    void BrokenStreams_data();
    void BrokenStreams();
    void FailedConnectsRetriedEveryTick_data();
    void FailedConnectsRetriedEveryTick();
    void StopEndsReconnecting();
    void SocksRefusal();
    void TunnelFailures_data();
    void TunnelFailures();
    void OneByteAtATime();
    void FramesForUnknownIds();
    void ClockSetBackAndForward();
    void FloodWorkedInTurnsAndWatchdogStillFires();
    void AlertsBeforeACloseAllDelivered();
    void SlowReaderHoldsABoundedBacklog();
    void ZipBomb();
    void HugeAlert();
};

// What opens descriptors once per process (the debug window and its fonts, the name
// resolver) is opened here, so that the cases count only their own.
void TestFaults::initTestCase()
{
    ReportException(EVeskError(QStringLiteral("warming up")), QStringLiteral("tst_faults"));
    bool looked = false;
    QHostInfo::lookupHost(QString::fromLatin1(UnknownHost), this, [&](const QHostInfo&) { looked = true; });
    QVERIFY(QTest::qWaitFor([&] { return looked; }, 10000));
    QTest::qWait(300);
    (void)ClosedPort();
    Settle();
}

// ---- The end of the connection ----

void TestFaults::EndInTheMiddleOfAFrame_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("close") << 0;
    QTest::newRow("reset") << 1;
}

void TestFaults::EndInTheMiddleOfAFrame()
{
    QFETCH(int, how);
    TFaultRig rig;
    bool cut = false;
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        THostileServer::AnswerPolitely(peer, r);
        if (r.Command() == "ping" && peer.Number() == 1 && !cut) {
            cut = true;
            // An alert whose last 90 bytes never come.
            const QByteArray frame = Frame(8, "cat\r\nsymbol=" + QByteArray(100, 'A'));
            peer.SendPlain(frame.left(frame.size() - 90));
            how == 0 ? peer.Close() : peer.Reset();
        }
    };
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.TalkClosed(); }));
    QCOMPARE(rig.Status(), QStringLiteral("Connected!"));
    QCOMPARE(rig.Reason(), QByteArray("Unexpected disconnect from server."));
    QVERIFY(rig.Alerts.isEmpty());
    QVERIFY(rig.Peak() <= SmallBound);
    rig.Tick();
    QVERIFY(rig.WaitFor([&] { return rig.Server.Accepted() == 2 && rig.Server.Last()->Requests().size() >= 1; }));
    QCOMPARE(rig.Server.Last()->Requests()[0].Value("session_id"), QByteArray("S1"));
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

void TestFaults::SilentServersGivenUpByTheWatchdog_data()
{
    QTest::addColumn<int>("answered");
    QTest::addColumn<bool>("halfClosed");
    QTest::newRow("silent from the start") << 0 << false;
    QTest::newRow("half-open: goes quiet after the login") << 3 << false;
    QTest::newRow("half-closed: no more bytes, still reading") << 3 << true;
}

void TestFaults::SilentServersGivenUpByTheWatchdog()
{
    QFETCH(int, answered);
    QFETCH(bool, halfClosed);
    TFaultRig rig;
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        if (peer.Number() > 1)
            return THostileServer::AnswerPolitely(peer, r);
        if (int(peer.Requests().size()) > answered) // login, listen, ping
            return;
        THostileServer::AnswerPolitely(peer, r);
        if (halfClosed && r.Command() == "ping")
            peer.HalfClose();
    };
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.Server.Accepted() == 1 && rig.Server.Last()->Requests().size() >= 3; }));
    QVERIFY(rig.WaitFor([&] { return !answered || rig.Status() == QStringLiteral("Connected!"); }));
    Settle();
    QCOMPARE(rig.Status(), answered ? QStringLiteral("Connected!") : QString());
    if (halfClosed) {
        // The end of the server's bytes is the end of the conversation: no watchdog needed.
        QVERIFY(rig.WaitFor([&] { return rig.TalkClosed(); }));
        rig.Tick();
        QVERIFY(rig.WaitFor([&] { return rig.Server.Accepted() == 2; }));
    } else {
        rig.Tick(24);
        QCOMPARE(rig.Server.Accepted(), 1);
        QVERIFY(!rig.TalkClosed());
        rig.Clock.Advance(500);
        rig.Connection->Tick();
        QCOMPARE(rig.Status(), QStringLiteral("Disconnected."));
        QVERIFY(rig.WaitFor([&] { return rig.Server.Accepted() == 2; }));
        QVERIFY(rig.WaitFor([&] { return rig.Status() == QStringLiteral("Connected!"); }));
    }
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

// ---- Bytes that make no sense ----

void TestFaults::BrokenStreams_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("garbage instead of zlib") << 0 << QByteArray("Invalid data from server: data error");
    QTest::newRow("negative frame length") << 1 << QByteArray("Invalid data from server: negative frame length");
    QTest::newRow("huge frame length") << 2 << QByteArray("Invalid data from server: frame too long");
    QTest::newRow("length just above the cap") << 3 << QByteArray("Invalid data from server: frame too long");
}

void TestFaults::BrokenStreams()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, reason);
    TFaultRig rig;
    rig.Connection->AddCategory("cat");
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        if (peer.Number() > 1 || kind == 0)
            return THostileServer::AnswerPolitely(peer, r);
        THostileServer::AnswerPolitely(peer, r);
        if (r.Command() != "ping")
            return;
        // A good alert, then a length no server means, in one block; then it keeps talking.
        const qint32 length = kind == 1 ? -5 : kind == 2 ? 0x7fffff00 : TTalkWithServer::MaxFrameLength + 1;
        peer.SendPlain(Frame(8, "cat\r\nsymbol=GOOD") + Le32(8) + Le32(length) + QByteArray(64, 'x'));
        peer.SendFrame(8, "cat\r\nsymbol=AFTER");
    };
    if (kind == 0)
        rig.Server.OnOpened = [](THostilePeer& peer) { peer.SendRaw("this is not a zlib stream \xff\xfe\xfd\r\n"); };
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.TalkClosed(); }));
    QCOMPARE(rig.Reason(), reason);
    QCOMPARE(rig.Alerts, kind == 0 ? QList<QByteArray>{} : QList<QByteArray>{"cat\r\nsymbol=GOOD"});
    QVERIFY(rig.Peak() <= SmallBound);
    rig.Tick();
    QVERIFY(rig.WaitFor([&] { return rig.Server.Accepted() == 2; }));
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

// ---- Connections that never come up ----

void TestFaults::FailedConnectsRetriedEveryTick_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("refused") << "127.0.0.1:" + QByteArray::number(ClosedPort()) << QByteArray("Error in server connection.");
    QTest::newRow("name not found") << QByteArray(UnknownHost) + ":9339" << QByteArray("DNS error");
}

void TestFaults::FailedConnectsRetriedEveryTick()
{
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, reason);
    TFaultRig rig(address);
    rig.Login();
    int fdsAfterFirst = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
        Settle();
        TTalkWithServer* talk = rig.Talk();
        QVERIFY(talk);
        QVERIFY2(rig.WaitFor([&] { return rig.TalkClosed(); }, 10000), rig.Reason().constData());
        QCOMPARE(rig.Reason(), reason);
        QCOMPARE(rig.Status(), QString());
        rig.Tick(); // the closed one is freed and the next attempt starts at once
        QVERIFY(rig.Talk());
        if (attempt == 0)
            fdsAfterFirst = OpenDescriptorCount();
        else
            QVERIFY(QTest::qWaitFor([&] { return OpenDescriptorCount() <= fdsAfterFirst; }, 3000));
    }
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

void TestFaults::StopEndsReconnecting()
{
    TFaultRig rig;
    rig.Server.OnRequest = [](THostilePeer& peer, const THostileRequest& r) {
        if (r.Command() == "login") {
            peer.SendFrame(r.Id, "STOP\r\nGo away");
            peer.Close();
        }
    };
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.TalkClosed(); }));
    QCOMPARE(rig.Status(), QStringLiteral("Go away"));
    QVERIFY(rig.Connection->IsStopped());
    rig.Tick(30);
    Settle();
    QCOMPARE(rig.Server.Accepted(), 1);
    QVERIFY(!rig.Talk());
    QCOMPARE(rig.Status(), QStringLiteral("Go away"));
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

void TestFaults::SocksRefusal()
{
    TDanteProxy proxy(TDanteProxy::Socks5NoAuth);
    VESK_START_PROXY(proxy);
    Settle();
    const int fdsBefore = OpenDescriptorCount();
    {
        TTalkWithServer talk;
        talk.ServerAddress = "127.0.0.1:" + QByteArray::number(ClosedPort());
        talk.SocksLevel = 5;
        talk.SocksServer = "127.0.0.1";
        talk.SocksPort = proxy.Port();
        bool answered = false;
        talk.SendMessage(MakeMessage({"command", "ping", "response", "1"}), false,
                         [&](bool success, const QByteArray&, const TMessageToServer&) { answered = !success; });
        talk.Connect();
        QVERIFY(QTest::qWaitFor([&] { return talk.GetState() == TTalkWithServer::Closed; }, 10000));
        QVERIFY(answered); // the waiting request got its error response
        QCOMPARE(talk.GetDisconnectReason(), QByteArray("Error in server connection."));
        QCOMPARE(talk.GetPeakHeldCapacity(), qsizetype(0));
    }
    Settle();
    QVERIFY(OpenDescriptorCount() <= fdsBefore);
}

void TestFaults::TunnelFailures_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("500") << QByteArray("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\nConnection: close\r\n\r\noops!")
                         << QByteArray("Error in server connection.");
    QTest::newRow("GET that ends") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 13\r\nConnection: close\r\n\r\nS1\r\n/post/1\r\nxx")
                                   << QByteArray("Unexpected disconnect from server.");
}

void TestFaults::TunnelFailures()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, reason);
    THostileServer server;
    server.OnRawBytes = [&](THostilePeer& peer, const QByteArray& bytes) {
        if (bytes.startsWith("GET ")) {
            peer.SendRaw(answer);
            peer.Close();
        }
    };
    Settle();
    const int fdsBefore = OpenDescriptorCount();
    {
        TTalkWithServer talk;
        talk.UseHttpTunnel = true;
        talk.HttpTunnelUrl = "http://" + server.Address() + "/tunnel";
        talk.Connect();
        QVERIFY(QTest::qWaitFor([&] { return talk.GetState() == TTalkWithServer::Closed; }, 10000));
        QCOMPARE(talk.GetDisconnectReason(), reason);
        QVERIFY(talk.GetPeakHeldCapacity() <= SmallBound);
    }
    server.DropPeers();
    Settle();
    // The network access manager may keep a pooled connection of its own; it is one at most.
    QVERIFY(OpenDescriptorCount() <= fdsBefore + 1);
}

// ---- Streams that are legal but awkward ----

void TestFaults::OneByteAtATime()
{
    TFaultRig rig;
    rig.Connection->AddCategory("cat");
    const QByteArray alert = "cat\r\nsymbol=ONE&price=12.5";
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        if (r.Command() == "login")
            peer.TrickleRaw(peer.Compress(Frame(r.Id, "SESSION ID\r\nT1")));
        else if (r.Command() == "listen_for_alerts")
            peer.TrickleRaw(peer.Compress(Frame(r.Id, alert)));
        else if (r.Command() == "ping")
            peer.TrickleRaw(peer.Compress(Frame(r.Id, {})));
    };
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.Status() == QStringLiteral("Connected!"); }, 20000));
    QCOMPARE(rig.Alerts, QList<QByteArray>{alert});
    QCOMPARE(rig.Connection->GetSessionId(), QByteArray("T1"));
    QVERIFY(rig.Peak() <= 64 * 1024);
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

void TestFaults::FramesForUnknownIds()
{
    TFaultRig rig;
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        if (r.Command() == "ping") {
            QByteArray plain;
            const qint32 ids[] = {0, -3, 9999, 5, 2, 0x7fffffff};
            for (int i = 0; i < 14000; ++i)
                plain += Frame(ids[i % 6], "x");
            peer.SendPlain(plain);
        }
        THostileServer::AnswerPolitely(peer, r);
    };
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.Status() == QStringLiteral("Connected!"); }));
    QVERIFY(rig.Alerts.isEmpty());
    QCOMPARE(rig.Talk()->PendingSlotCount(), 8);
    QVERIFY(rig.Talk()->GetState() == TTalkWithServer::Connected);
    QVERIFY(rig.Peak() <= SmallBound);
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

void TestFaults::ClockSetBackAndForward()
{
    TFaultRig rig;
    rig.Server.OnRequest = THostileServer::AnswerPolitely;
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.Status() == QStringLiteral("Connected!"); }));
    for (const int hours : {-1, +1, +1}) {
        rig.Clock.SetLocal(rig.Clock.LocalNow().addSecs(hours * 3600));
        const int pingsBefore = int(rig.Server.Last()->Requests().size());
        rig.Tick(10); // 5 s: one periodic ping is due, whatever the wall clock did
        QVERIFY(rig.WaitFor([&] { return rig.Status().startsWith(QStringLiteral("Working:  ")); }));
        QVERIFY2(rig.Status().contains(rig.Clock.LocalNow().time().toString(QStringLiteral("mm"))), qPrintable(rig.Status()));
        QCOMPARE(int(rig.Server.Last()->Requests().size()), pingsBefore + 1);
        QVERIFY(rig.Connection->GetTicksWithoutPing() < 10);
        rig.Connection->OnStatusChange = nullptr;
    }
    QCOMPARE(rig.Server.Accepted(), 1);
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

// ---- Floods ----

// 30,000 alerts in one block; each costs the window 1 ms of (manual) time. The work is done in
// turns with the event loop running between them; the 500 ms tick, run from the event loop on
// the manual clock as the real timer would be, still gives up on a server whose ping answer
// waits behind the flood for 12.5 s.
void TestFaults::FloodWorkedInTurnsAndWatchdogStillFires()
{
    TFaultRig rig;
    rig.Connection->AddCategory("cat");
    constexpr int FloodSize = 30000;
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        if (peer.Number() == 1 && r.Command() == "listen_for_alerts") {
            QByteArray plain;
            for (int i = 0; i < FloodSize; ++i)
                plain += Frame(r.Id, "cat\r\nseq=" + QByteArray::number(i));
            peer.SendPlain(plain);
            return;
        }
        THostileServer::AnswerPolitely(peer, r); // the ping answer comes after the flood
    };
    int loopTurns = 0;
    QSet<int> turnsSeen;
    qsizetype mostHeld = 0;
    bool inOrder = true;
    rig.Connection->AddAlertListener([&](const QByteArray& body) {
        rig.Clock.Advance(1);
        turnsSeen.insert(loopTurns);
        inOrder = inOrder && body == "cat\r\nseq=" + QByteArray::number(rig.Alerts.size() - 1);
        if (rig.Talk())
            mostHeld = qMax(mostHeld, rig.Talk()->GetHeldInputBytes());
    });
    // The event loop's own view: a zero timer counts its turns and runs the tick every 500 ms.
    qint64 lastTick = rig.Clock.MonotonicMs();
    QTimer loop;
    loop.setInterval(0);
    QObject::connect(&loop, &QTimer::timeout, [&] {
        ++loopTurns;
        if (rig.Clock.MonotonicMs() - lastTick >= 500) {
            lastTick += 500;
            rig.Connection->Tick();
        }
    });
    loop.start();
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.Server.Accepted() == 2; }, 30000));
    loop.stop();
    QVERIFY2(inOrder, "alerts out of order");
    // 12.5 s of 1 ms alerts: about 12,500 delivered before the watchdog gave up, in turns of 15.
    QVERIFY2(rig.Alerts.size() >= 12000 && rig.Alerts.size() < FloodSize, qPrintable(QString::number(rig.Alerts.size())));
    QVERIFY2(turnsSeen.size() >= rig.Alerts.size() / 20, qPrintable(QString::number(turnsSeen.size())));
    QVERIFY(mostHeld <= SmallBound);
    QVERIFY(rig.WaitFor([&] { return rig.Status() == QStringLiteral("Connected!"); }));
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

// The server sends 5,000 alerts and closes at once. The close waits behind the alerts that
// came before it, worked on in turns: every one is delivered, then the conversation ends.
void TestFaults::AlertsBeforeACloseAllDelivered()
{
    TFaultRig rig;
    rig.Connection->AddCategory("cat");
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        THostileServer::AnswerPolitely(peer, r);
        if (peer.Number() == 1 && r.Command() == "listen_for_alerts") {
            QByteArray plain;
            for (int i = 0; i < 5000; ++i)
                plain += Frame(r.Id, "cat\r\nseq=" + QByteArray::number(i));
            peer.SendPlain(plain);
            peer.Close();
        }
    };
    bool closedEarly = false;
    rig.Connection->AddAlertListener([&](const QByteArray&) {
        rig.Clock.Advance(1);
        closedEarly = closedEarly || rig.TalkClosed();
    });
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.TalkClosed(); }));
    QCOMPARE(rig.Alerts.size(), 5000);
    QCOMPARE(rig.Alerts.back(), QByteArray("cat\r\nseq=4999"));
    QVERIFY(!closedEarly);
    rig.Tick();
    QVERIFY(rig.WaitFor([&] { return rig.Server.Accepted() == 2; }));
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

// 24 MiB of alerts that do not compress, to a window that takes 5 ms for each: the socket
// stops reading while the conversation is behind, so what is held stays at a few MiB whatever
// the server has sent.
void TestFaults::SlowReaderHoldsABoundedBacklog()
{
    TFaultRig rig;
    rig.Connection->AddCategory("cat");
    rig.Server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
        THostileServer::AnswerPolitely(peer, r);
        if (peer.Number() == 1 && r.Command() == "listen_for_alerts") {
            QByteArray noise(64 * 1024, Qt::Uninitialized);
            QByteArray plain;
            quint32 x = 12345;
            for (int i = 0; i < 384; ++i) {
                for (char& c : noise)
                    c = char((x = x * 1103515245u + 12345u) >> 24);
                plain += Frame(r.Id, "cat\r\n" + noise);
            }
            peer.SendPlain(plain); // one write: the network takes it as fast as it can
        }
    };
    qsizetype mostHeld = 0, mostInSocket = 0;
    rig.Connection->AddAlertListener([&](const QByteArray&) {
        rig.Clock.Advance(5);
        TTalkWithServer* talk = rig.Talk();
        mostHeld = qMax(mostHeld, talk->GetHeldInputBytes());
        if (auto* connection = dynamic_cast<TSocketServerConnection*>(talk->GetConnection()))
            mostInSocket = qMax<qsizetype>(mostInSocket, connection->GetSocket()->BytesWaiting());
    });
    rig.Login();
    QVERIFY(rig.WaitFor([&] { return rig.Alerts.size() == 384; }, 30000));
    qInfo("slow reader: most held %lld, most waiting in the socket %lld", qint64(mostHeld), qint64(mostInSocket));
    QVERIFY(mostHeld <= SmallBound);
    QVERIFY(mostInSocket <= 2 * MiB);
    QVERIFY(rig.Peak() <= SmallBound);
    QVERIFY(rig.LeakedDescriptors() <= 0);
}

// At least 1 GiB of empty frames from about 1 MiB on the wire. The receive buffers stay at a
// few MiB, the event loop keeps running, and the conversation carries on afterwards.
void TestFaults::ZipBomb()
{
    Settle();
    const int fdsBefore = OpenDescriptorCount();
    {
        TDemoServer server({"--no-alerts", "--zip-bomb", "1024"});
        QVERIFY2(server.IsRunning(), server.Problem().constData());
        TTalkWithServer talk;
        talk.ServerAddress = server.Address().toLatin1();
        bool loggedIn = false, pinged = false;
        talk.SendMessage(MakeMessage({"command", "login", "username", "u", "password", "p", "session_id", ""}), true,
                         [&](bool success, const QByteArray&, const TMessageToServer&) { loggedIn = success; });
        talk.Connect();
        int loopTurns = 0;
        QTimer loop;
        loop.setInterval(0);
        QObject::connect(&loop, &QTimer::timeout, [&] { ++loopTurns; });
        loop.start();
        QVERIFY(QTest::qWaitFor([&] { return loggedIn; }, 10000));
        const int turnsAtLogin = loopTurns;
        QVERIFY(server.WaitFor([&] {
            server.Poll();
            return server.StdErr().isEmpty() && talk.GetHeldInputBytes() == 0 && loopTurns > turnsAtLogin + 50;
        }, 60000));
        // A ping written now is answered only after every byte of the bomb was worked through.
        talk.SendMessage(MakeMessage({"command", "ping", "response", "1"}), false,
                         [&](bool success, const QByteArray&, const TMessageToServer&) { pinged = success; });
        QVERIFY(QTest::qWaitFor([&] { return pinged; }, 60000));
        loop.stop();
        qInfo("zip bomb: %d event-loop turns, peak receive room %lld bytes", loopTurns - turnsAtLogin,
              qint64(talk.GetPeakHeldCapacity()));
        QVERIFY(loopTurns - turnsAtLogin > 50);
        QVERIFY(talk.GetPeakHeldCapacity() <= SmallBound);
        QVERIFY(talk.GetHeldInputCapacity() <= SmallBound);
        QCOMPARE(talk.GetState(), TTalkWithServer::Connected);
    }
    Settle();
    QVERIFY(OpenDescriptorCount() <= fdsBefore);
}

// One alert of 40 MiB (an 8 MiB symbol and 200,000 fields) reaches the listener whole; the
// receive buffers hold it once and give the room back afterwards.
void TestFaults::HugeAlert()
{
    Settle();
    const int fdsBefore = OpenDescriptorCount();
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TDemoServer server({"--no-alerts", "--huge-alert", "40"});
        QVERIFY2(server.IsRunning(), server.Problem().constData());
        TMainConnection connection(server.Address().toLatin1(), nullptr);
        connection.GetTimer()->stop();
        connection.AddCategory("quickstrike");
        qsizetype size = 0;
        QByteArray symbolStart;
        connection.AddAlertListener([&](const QByteArray& body) {
            size = body.size();
            symbolStart = body.mid(body.indexOf("&symbol=") + 8, 4);
        });
        connection.SetUserName("u");
        connection.SetPassword("p");
        QVERIFY(QTest::qWaitFor([&] { return size > 0; }, 30000));
        QVERIFY2(size == 40 * MiB, qPrintable(QString::number(size)));
        QCOMPARE(symbolStart, QByteArray("SSSS"));
        TTalkWithServer* talk = connection.GetServer();
        QVERIFY(talk->GetPeakHeldCapacity() <= 40 * MiB + SmallBound);
        QVERIFY(QTest::qWaitFor([&] { return talk->GetHeldInputCapacity() <= SmallBound; }, 5000));
    }
    Settle();
    QVERIFY(OpenDescriptorCount() <= fdsBefore);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
