// labels: connection tunnel
// The HTTP tunnel connection and the request object under it. Most cases talk to an HTTP peer
// in this process, scripted by the test, for exact control of what arrives when and how each
// upload is answered; the last ones run a whole conversation through the demo server, directly
// and through an HTTP proxy.

#include "Platform/Clock.h"
#include "Platform/HttpRequest.h"
#include "Shared/HttpTunnels.h"
#include "Shared/P64.h"
#include "Shared/ServerMessages.h"
#include "Shared/TalkWithServer.h"
#include "support/DemoServer.h"
#include "support/ProxyFixtures.h"

#include <QBuffer>
#include <QHostAddress>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

namespace {

// One request as the peer read it.
struct TPeerRequest {
    QByteArray Method;
    QByteArray Target;
    QByteArray ContentType;
    QByteArray Body;
    QPointer<QTcpSocket> Socket;
};

// A minimal HTTP server on 127.0.0.1. The GET gets a header and then whatever the test writes
// with WriteDownload; each POST is answered with the next status of PostScript (200 once the
// script has run out), or held unanswered when that status is 0.
class THttpPeer {
public:
    QVector<TPeerRequest> Requests;
    QPointer<QTcpSocket> Download;
    QByteArray GetAnswer = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
    QList<int> PostScript;

    THttpPeer()
    {
        Server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&Server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = Server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    Parse(socket, *buffer);
                });
            }
        });
    }

    QByteArray Url(const QByteArray& path) const
    {
        return "http://127.0.0.1:" + QByteArray::number(Server.serverPort()) + path;
    }
    QByteArray Handshake() const { return "VESK TUNNEL 1\r\n" + Url("/up?s=1") + "\r\n"; }

    void WriteDownload(const QByteArray& bytes) { Download->write(bytes); }

    QVector<TPeerRequest> Posts() const
    {
        QVector<TPeerRequest> posts;
        for (const auto& r : Requests)
            if (r.Method == "POST")
                posts.append(r);
        return posts;
    }

    void Answer(QTcpSocket* socket, int status)
    {
        if (!socket)
            return;
        const QByteArray reason = status == 200 ? "OK" : status == 500 ? "Internal Server Error" : "Other";
        socket->write("HTTP/1.0 " + QByteArray::number(status) + ' ' + reason +
                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

private:
    void Parse(QTcpSocket* socket, QByteArray& buffer)
    {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.front().trimmed().split(' ');
        TPeerRequest request;
        request.Method = first.value(0);
        request.Target = first.value(1);
        request.Socket = socket;
        qsizetype length = 0;
        for (const QByteArray& raw : lines) {
            const QByteArray line = raw.trimmed();
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon).toLower();
            if (name == "content-length")
                length = line.mid(colon + 1).trimmed().toLongLong();
            else if (name == "content-type")
                request.ContentType = line.mid(colon + 1).trimmed();
        }
        if (buffer.size() < end + 4 + length)
            return;
        request.Body = buffer.mid(end + 4, length);
        buffer.clear();
        Requests.append(request);
        if (request.Method == "GET") {
            Download = socket;
            socket->write(GetAnswer);
        } else {
            const int status = PostScript.isEmpty() ? 200 : PostScript.takeFirst();
            if (status != 0)
                Answer(socket, status);
        }
    }

    QTcpServer Server;
};

// Everything a tunnel told its owner, in order.
struct TEvents {
    QList<QByteArray> Log;   // "connected", "data", "closed"
    QByteArray Received;
    QList<QByteArray> Diagnostics;
    bool ReceiveOnData = true;

    int Count(const QByteArray& what) const { return int(Log.count(what)); }

    void Attach(THttpTunnel& tunnel)
    {
        tunnel.OnSessionConnected = [this](TGenericServerConnection*) { Log.append("connected"); };
        tunnel.OnSessionClosed = [this](TGenericServerConnection*) { Log.append("closed"); };
        tunnel.OnDataAvailable = [this](TGenericServerConnection* sender) {
            Log.append("data");
            if (ReceiveOnData)
                Received += sender->Receive();
        };
        tunnel.OnDiagnostic = [this](TGenericServerConnection*, const QByteArray& text) { Diagnostics.append(text); };
    }
};

// A tunnel to the peer, connected and with the upload URL known.
bool ConnectTunnel(THttpPeer& peer, THttpTunnel& tunnel, TEvents& events)
{
    events.Attach(tunnel);
    tunnel.TunnelTimeout = 10000;
    if (!tunnel.Connect() || !QTest::qWaitFor([&] { return bool(peer.Download); }))
        return false;
    peer.WriteDownload(peer.Handshake());
    return QTest::qWaitFor([&] { return tunnel.GetTunnelState() == THttpTunnel::TunnelConnected; });
}

QByteArray RandomBytes(qsizetype n)
{
    QByteArray bytes(n, '\0');
    for (auto& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QByteArray UploadBody(int sequence, const QByteArray& chunk)
{
    return "sequence=" + QByteArray::number(sequence) + "&body=" + P64Encode(chunk);
}

// Waits until the tunnel has nothing in flight and nothing due (or has closed).
bool Settled(THttpTunnel& tunnel)
{
    return QTest::qWaitFor([&] {
        return tunnel.GetTunnelState() == THttpTunnel::TunnelClosed ||
               (tunnel.GetUploadState() == THttpTunnel::UploadIdle && tunnel.PendingSendBytes() == 0);
    });
}

} // namespace

class TstHttpTunnel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void handshakeSplitOverPiecesConnectsOnlyWhenComplete();
    void errorPageIsNotTakenForAHandshake();
    void handshakeThatNeverEndsIsGivenUp();
    void connectThatCannotStartClosesAtOnce_data();
    void connectThatCannotStartClosesAtOnce();
    void largeSendGoesUpInChunksOneAtATime();
    void failedUploadsAreResentUntilTheFourthFailureInARow_data();
    void failedUploadsAreResentUntilTheFourthFailureInARow();
    void uploadPastItsDeadlineIsAbortedAndResent();
    void closeEndsEverythingOnce();
    void requestObjectBusyAbortAndDestruction();
    void conversationThroughTheDemoServer_data();
    void conversationThroughTheDemoServer();
};

void TstHttpTunnel::handshakeSplitOverPiecesConnectsOnlyWhenComplete()
{
    THttpPeer peer;
    // Owner's state before the tunnel: destroying the tunnel still tells it of the end.
    TEvents events;
    THttpTunnel tunnel(peer.Url("/tunnel"));
    tunnel.TunnelTimeout = 10000;
    events.Attach(tunnel);
    QVERIFY(tunnel.Connect());
    QCOMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelConnecting);
    QTRY_VERIFY(peer.Download);
    QCOMPARE(peer.Requests[0].Target, QByteArray("/tunnel"));

    // Each piece must have reached the tunnel before the next is written, or TCP would join
    // them. Until then the tunnel hands out nothing.
    const QByteArray handshake = peer.Handshake();
    const qsizetype firstEnd = handshake.indexOf("\r\n");
    const QByteArray pieces[] = {handshake.left(firstEnd + 1), handshake.mid(firstEnd + 1, 10),
                                 handshake.mid(firstEnd + 11, handshake.size() - firstEnd - 12)};
    qsizetype written = 0;
    for (const QByteArray& piece : pieces) {
        peer.WriteDownload(piece);
        written += piece.size();
        QTRY_COMPARE(tunnel.BufferedReceiveBytes(), written);
        QCOMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelConnecting);
        QCOMPARE(tunnel.Receive(), QByteArray());
        QVERIFY(events.Log.isEmpty());
    }
    // The last LF completes the handshake; what follows it in the same piece is stream data.
    peer.WriteDownload("\nstream\r\nbytes");
    QTRY_COMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelConnected);
    QCOMPARE(events.Log, QList<QByteArray>({"connected", "data"}));
    QCOMPARE(events.Received, QByteArray("stream\r\nbytes"));

    peer.WriteDownload("more");
    QTRY_COMPARE(events.Received, QByteArray("stream\r\nbytesmore"));

    // The upload URL is the handshake's second line.
    tunnel.Send("x");
    QTRY_COMPARE(peer.Posts().size(), 1);
    QCOMPARE(peer.Posts()[0].Target, QByteArray("/up?s=1"));
}

void TstHttpTunnel::errorPageIsNotTakenForAHandshake()
{
    // A proxy's refusal or a wrong path answers with a page of several lines; that must end
    // the attempt, not look like a session.
    THttpPeer peer;
    peer.GetAnswer = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>\r\nnot here\r\n</html>\r\n";
    TEvents events;
    THttpTunnel tunnel(peer.Url("/tunnel"));
    events.Attach(tunnel);
    QVERIFY(tunnel.Connect());
    QTRY_VERIFY(peer.Download);
    peer.Download->disconnectFromHost();
    QTRY_COMPARE(events.Log, QList<QByteArray>({"closed"}));
    QCOMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelClosed);
    QCOMPARE(tunnel.Receive(), QByteArray());
}

void TstHttpTunnel::handshakeThatNeverEndsIsGivenUp()
{
    // A peer that streams bytes without the two opening lines would otherwise be buffered
    // for as long as it keeps sending.
    THttpPeer peer;
    TEvents events;
    THttpTunnel tunnel(peer.Url("/tunnel"));
    events.Attach(tunnel);
    QVERIFY(tunnel.Connect());
    QTRY_VERIFY(peer.Download);
    peer.WriteDownload("first line\r\n" + QByteArray(THttpTunnel::MaxHandshake - 12, 'x'));
    QTRY_COMPARE(tunnel.BufferedReceiveBytes(), THttpTunnel::MaxHandshake);
    QCOMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelConnecting);
    peer.WriteDownload(QByteArray(100000, 'y'));
    QTRY_COMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelClosed);
    QCOMPARE(events.Log, QList<QByteArray>({"closed"}));
    QCOMPARE(events.Diagnostics,
             QList<QByteArray>({"Invalid tunnel handshake: no upload address in the first 65536 bytes"}));
    QCOMPARE(tunnel.BufferedReceiveBytes(), 0);
    QCOMPARE(tunnel.Receive(), QByteArray());
}

void TstHttpTunnel::connectThatCannotStartClosesAtOnce_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QByteArray>("socksLevel");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("not a URL") << QByteArray("no tunnel here") << QByteArray()
                               << QByteArray("THttpTunnel.Connect, EHttpRequestError, Not an HTTP URL: no tunnel here, 0, ");
    QTest::newRow("SOCKS 4") << QByteArray("http://127.0.0.1:1/tunnel") << QByteArray("4")
                             << QByteArray("THttpTunnel.Connect, EHttpRequestError, SOCKS 4 is not available for HTTP "
                                           "requests; use SOCKS 5, 0, ");
}

void TstHttpTunnel::connectThatCannotStartClosesAtOnce()
{
    QFETCH(QByteArray, url);
    QFETCH(QByteArray, socksLevel);
    QFETCH(QByteArray, expected);
    TEvents events;
    THttpTunnel tunnel(url);
    tunnel.SocksServer = "127.0.0.1";
    tunnel.SocksPort = "1080";
    tunnel.SocksLevel = socksLevel;
    events.Attach(tunnel);
    QVERIFY(!tunnel.Connect());
    QCOMPARE(tunnel.ErrorMessage, expected);
    QCOMPARE(events.Log, QList<QByteArray>({"closed"}));
    QCOMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelClosed);
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, tunnel.Connect());
}

void TstHttpTunnel::largeSendGoesUpInChunksOneAtATime()
{
    THttpPeer peer;
    peer.PostScript = {0, 0, 0};   // held: the test answers each itself
    TEvents events;
    THttpTunnel tunnel(peer.Url("/tunnel"));
    QVERIFY(ConnectTunnel(peer, tunnel, events));

    const QByteArray data = RandomBytes(15000);
    // Given in two calls within one event: they go up together.
    tunnel.Send(data.left(100));
    tunnel.Send(data.mid(100));
    const qsizetype chunks[][2] = {{0, 6000}, {6000, 6000}, {12000, 3000}};
    for (int i = 0; i < 3; ++i) {
        QTRY_COMPARE(peer.Posts().size(), i + 1);
        const TPeerRequest post = peer.Posts()[i];
        QCOMPARE(post.ContentType, QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(post.Body, UploadBody(i, data.mid(chunks[i][0], chunks[i][1])));
        QCOMPARE(post.Body.size() - post.Body.indexOf("&body=") - 6, i < 2 ? 8000 : 4000);
        // Only one in flight: the rest waits until this one has succeeded.
        QTest::qWait(20);
        QCOMPARE(peer.Posts().size(), i + 1);
        QCOMPARE(tunnel.GetUploadState(), THttpTunnel::UploadInFlight);
        QCOMPARE(tunnel.PendingSendBytes(), 15000 - chunks[i][0] - chunks[i][1]);
        peer.Answer(post.Socket, 200);
    }
    QTRY_COMPARE(tunnel.GetSequence(), 3);
    QCOMPARE(tunnel.GetUploadState(), THttpTunnel::UploadIdle);
    QCOMPARE(tunnel.GetFailureCount(), 0);
    QVERIFY(events.Diagnostics.isEmpty());
}

void TstHttpTunnel::failedUploadsAreResentUntilTheFourthFailureInARow_data()
{
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<bool>("secondSend");
    QTest::addColumn<QList<int>>("sequences");
    QTest::addColumn<int>("failureCount");
    QTest::addColumn<bool>("closed");

    QTest::newRow("three failures, then success") << QList<int>{500, 500, 500, 200} << false
                                                  << QList<int>{0, 0, 0, 0} << 2 << false;
    QTest::newRow("fourth failure in a row") << QList<int>{500, 500, 500, 500} << false << QList<int>{0, 0, 0, 0}
                                             << 4 << true;
    // A success takes back only one failure: two more are enough to give up.
    QTest::newRow("success forgives one failure") << QList<int>{500, 500, 500, 200, 500, 500} << true
                                                  << QList<int>{0, 0, 0, 0, 1, 1} << 4 << true;
}

void TstHttpTunnel::failedUploadsAreResentUntilTheFourthFailureInARow()
{
    QFETCH(QList<int>, statuses);
    QFETCH(bool, secondSend);
    QFETCH(QList<int>, sequences);
    QFETCH(int, failureCount);
    QFETCH(bool, closed);

    THttpPeer peer;
    peer.PostScript = statuses;
    TEvents events;
    THttpTunnel tunnel(peer.Url("/tunnel"));
    QVERIFY(ConnectTunnel(peer, tunnel, events));

    tunnel.Send("first");
    QVERIFY(Settled(tunnel));
    if (secondSend) {
        QCOMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelConnected);
        tunnel.Send("second");
        QVERIFY(Settled(tunnel));
    }
    QTest::qWait(20);

    const auto posts = peer.Posts();
    QCOMPARE(posts.size(), sequences.size());
    for (int i = 0; i < posts.size(); ++i) {
        const QByteArray chunk = sequences[i] == 0 ? "first" : "second";
        QCOMPARE(posts[i].Body, UploadBody(sequences[i], chunk));
    }
    QCOMPARE(tunnel.GetFailureCount(), failureCount);
    QCOMPARE(tunnel.GetTunnelState() == THttpTunnel::TunnelClosed, closed);
    QCOMPARE(events.Count("closed"), closed ? 1 : 0);

    const int failures = int(statuses.count(500));
    QCOMPARE(events.Diagnostics.size(), failures);
    const QByteArray description = "500, Internal Server Error, state: 0";
    for (int i = 0; i < failures; ++i) {
        const bool last = closed && i == failures - 1;
        QCOMPARE(events.Diagnostics[i],
                 (last ? "ERROR sending data to server:  " : "Error sending data to server:  ") + description);
    }
    if (closed)
        QCOMPARE(tunnel.GetUploadState(), THttpTunnel::UploadStopped);
}

void TstHttpTunnel::uploadPastItsDeadlineIsAbortedAndResent()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    THttpPeer peer;
    peer.PostScript = {0};   // the first upload never gets an answer
    TEvents events;
    THttpTunnel tunnel(peer.Url("/tunnel"));
    QVERIFY(ConnectTunnel(peer, tunnel, events));
    tunnel.TunnelTimeout = 0;

    tunnel.Send("abc");
    QTRY_COMPARE(peer.Posts().size(), 1);
    QCOMPARE(tunnel.GetUploadState(), THttpTunnel::UploadInFlight);
    // The deadline is now: not yet past.
    tunnel.UploadTimerTimer();
    QCOMPARE(tunnel.GetUploadState(), THttpTunnel::UploadInFlight);

    clock.Advance(THttpTunnel::TimerIntervalMs);
    tunnel.UploadTimerTimer();
    QCOMPARE(tunnel.GetFailureCount(), 1);
    QCOMPARE(events.Diagnostics, QList<QByteArray>({"Error sending data to server:  404, Connection aborted on "
                                                    "request, state: 0"}));
    // The same body goes up again, and this time it is answered.
    QTRY_COMPARE(peer.Posts().size(), 2);
    QCOMPARE(peer.Posts()[1].Body, UploadBody(0, "abc"));
    QTRY_COMPARE(tunnel.GetSequence(), 1);
    QCOMPARE(tunnel.GetFailureCount(), 0);
    QCOMPARE(tunnel.GetTunnelState(), THttpTunnel::TunnelConnected);
}

void TstHttpTunnel::closeEndsEverythingOnce()
{
    THttpPeer peer;
    peer.PostScript = {0};
    TEvents events;
    auto tunnel = std::make_unique<THttpTunnel>(peer.Url("/tunnel"));
    events.ReceiveOnData = false;
    QVERIFY(ConnectTunnel(peer, *tunnel, events));
    peer.WriteDownload("kept");
    QTRY_COMPARE(events.Count("data"), 1);
    tunnel->Send("in flight");
    QTRY_COMPARE(peer.Posts().size(), 1);

    tunnel->Close();
    tunnel->Close();
    QCOMPARE(events.Count("closed"), 1);
    QCOMPARE(tunnel->GetUploadState(), THttpTunnel::UploadStopped);
    QCOMPARE(tunnel->GetDownloadRequest().GetState(), THttpRequest::Ready);
    QCOMPARE(tunnel->GetUploadRequest().GetState(), THttpRequest::Ready);
    // Aborting the upload told nobody of a failure.
    QVERIFY(events.Diagnostics.isEmpty());

    tunnel->Send("dropped");
    QCOMPARE(tunnel->PendingSendBytes(), 0);
    QCOMPARE(tunnel->Receive(), QByteArray("kept"));
    QCOMPARE(tunnel->Receive(), QByteArray());

    // Nothing arrives after Close, and destruction does not close a second time.
    QTest::qWait(20);
    tunnel.reset();
    QCOMPARE(events.Count("closed"), 1);
    QCOMPARE(peer.Posts().size(), 1);

    // The GET ending closes the tunnel by itself; destroying it then adds nothing.
    THttpPeer endedPeer;
    TEvents endedEvents;
    THttpTunnel ended(endedPeer.Url("/tunnel"));
    QVERIFY(ConnectTunnel(endedPeer, ended, endedEvents));
    endedPeer.Download->disconnectFromHost();
    QTRY_COMPARE(endedEvents.Log, QList<QByteArray>({"connected", "closed"}));
    QCOMPARE(ended.GetTunnelState(), THttpTunnel::TunnelClosed);
}

void TstHttpTunnel::requestObjectBusyAbortAndDestruction()
{
    THttpPeer peer;
    peer.PostScript = {0, 0};
    QBuffer body;
    body.setData("a=1");
    body.open(QIODevice::ReadOnly);

    THttpRequest request;
    QList<int> done;
    request.OnRequestDone = [&](int error) { done.append(error); };
    request.Url = peer.Url("/post");
    request.Post(&body);
    QCOMPARE(request.GetState(), THttpRequest::WaitingForHeader);
    QVERIFY_THROWS_EXCEPTION(EHttpRequestError, request.Get());
    QTRY_COMPARE(peer.Posts().size(), 1);
    QCOMPARE(peer.Posts()[0].Body, QByteArray("a=1"));

    request.Abort();
    QCOMPARE(done, QList<int>({THttpRequest::AbortedError}));
    QCOMPARE(request.GetState(), THttpRequest::Ready);
    QCOMPARE(request.GetStatusCode(), 404);
    QCOMPARE(request.GetReasonPhrase(), QByteArray("Connection aborted on request"));
    request.Abort();
    QCOMPARE(done.size(), 1);

    // A status other than 200 is a transfer that worked: error 0, the status tells the rest.
    peer.PostScript = {500};
    body.seek(0);
    request.Post(&body);
    QTRY_COMPARE(done.size(), 2);
    QCOMPARE(done[1], 0);
    QCOMPARE(request.GetStatusCode(), 500);
    QCOMPARE(request.GetReasonPhrase(), QByteArray("Internal Server Error"));

    // Destroyed while its request is out: the late answer reaches nobody.
    peer.PostScript = {0};
    auto doomed = std::make_unique<THttpRequest>();
    bool called = false;
    doomed->OnRequestDone = [&](int) { called = true; };
    doomed->Url = peer.Url("/post");
    body.seek(0);
    doomed->Post(&body);
    QTRY_COMPARE(peer.Posts().size(), 3);
    doomed.reset();
    peer.Answer(peer.Posts()[2].Socket, 200);
    QTest::qWait(50);
    QVERIFY(!called);
}

void TstHttpTunnel::conversationThroughTheDemoServer_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("direct") << QByteArray("direct");
    QTest::newRow("through an HTTP proxy") << QByteArray("http");
    QTest::newRow("through an HTTP proxy with a password") << QByteArray("http password");
    QTest::newRow("through SOCKS 5") << QByteArray("socks5");
}

void TstHttpTunnel::conversationThroughTheDemoServer()
{
    QFETCH(QByteArray, path);
    TTinyProxy httpProxy;
    TDanteProxy socksProxy(TDanteProxy::Socks5NoAuth);
    if (path == "http")
        VESK_START_PROXY(httpProxy);
    if (path == "http password" && !httpProxy.Start("tunneller", "s3cret")) {
        if (httpProxy.ShouldSkip())
            QSKIP(qPrintable(httpProxy.Why()));
        QFAIL(qPrintable(httpProxy.Why()));
    }
    if (path == "socks5")
        VESK_START_PROXY(socksProxy);
    TDemoServer server;
    QVERIFY2(server.IsRunning(), server.Problem().constData());

    // Declared before the conversation, which answers what is still waiting when it goes.
    QList<QByteArray> diagnostics;
    QList<QPair<bool, QByteArray>> login, ping;
    TTalkWithServer talk;
    talk.UseHttpTunnel = true;
    talk.HttpTunnelUrl = server.TunnelUrl().toLatin1();
    talk.TunnelTimeout = 10000;
    if (path.startsWith("http")) {
        talk.HttpProxyHost = "127.0.0.1";
        talk.HttpProxyPort = httpProxy.Port();
        if (path == "http password") {
            talk.HttpProxyUserName = "tunneller";
            talk.HttpProxyPassword = "s3cret";
        }
    } else if (path == "socks5") {
        talk.SocksServer = "127.0.0.1";
        talk.SocksPort = socksProxy.Port();
        talk.SocksLevel = 5;
    }
    talk.OnDiagnostic = [&](const QByteArray& text) { diagnostics.append(text); };
    talk.SendMessage(MakeMessage({"command", "login", "username", "x", "password", "y", "session_id", ""}), true,
                     [&](bool ok, const QByteArray& body, const TMessageToServer&) { login.append({ok, body}); });
    talk.SendMessage(MakeMessage({"command", "ping", "response", '1'}), false,
                     [&](bool ok, const QByteArray& body, const TMessageToServer&) { ping.append({ok, body}); });
    talk.Connect();
    QVERIFY(qobject_cast<THttpTunnel*>(talk.GetConnection()));

    QVERIFY2(server.WaitFor([&] { return !ping.isEmpty(); }), server.StdErr().constData());
    QVERIFY(ping[0].first);
    QVERIFY(!login.isEmpty());
    QVERIFY2(login[0].second.startsWith("SESSION ID\r\n"), login[0].second.constData());
    QCOMPARE(talk.GetState(), TTalkWithServer::Connected);
    QVERIFY(diagnostics.isEmpty());

    const auto posts = server.Posts();
    QVERIFY(!posts.isEmpty());
    for (int i = 0; i < posts.size(); ++i) {
        QCOMPARE(posts[i].Sequence, qint64(i));
        QCOMPARE(posts[i].Status, 200);
    }
    if (path.startsWith("http"))
        QVERIFY2(httpProxy.Log().contains("/upload"), httpProxy.Log().constData());
    if (path == "socks5")
        QVERIFY2(socksProxy.CarriedConnectionTo(server.ServerPort()), socksProxy.Log().constData());
}

QTEST_MAIN(TstHttpTunnel)
#include "tst_httptunnel.moc"
