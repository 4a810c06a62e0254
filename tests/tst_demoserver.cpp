// labels: connection demoserver
// The demo server against a client written independently from the protocol's description
// (tests/independent_client.py), and its robustness and fault modes against raw sockets.

#include "support/DemoServer.h"
#include "support/ProxyFixtures.h"

#include "Shared/P64.h"
#include "Shared/TalkWithServer.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>
#include <zlib.h>

namespace {

const QByteArray Opening = "command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n";

// Runs the python client to its end with the event loop turning; returns its exit code and
// puts its output in output.
int RunIndependentClient(TDemoServer& server, const QStringList& arguments, QByteArray& output)
{
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral("python3"),
                 QStringList{QStringLiteral(VESK_SOURCE_DIR "/tests/independent_client.py"),
                             QStringLiteral("--address"), server.Address()} +
                     arguments);
    if (!client.waitForStarted(10000))
        return -1;
    server.WaitFor([&] { return client.state() == QProcess::NotRunning; }, 60000);
    if (client.state() != QProcess::NotRunning) {
        client.kill();
        client.waitForFinished();
        output = client.readAll() + "\n(killed: took too long)";
        return -1;
    }
    output = client.readAll();
    return client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
}

QByteArray LE32(qint32 v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char((quint32(v) >> (8 * i)) & 0xff);
    return b;
}

qint32 ReadLE32(const QByteArray& b, qsizetype at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return qint32(v);
}

QByteArray Field(const QByteArray& text) { return LE32(qint32(text.size())) + text; }

QByteArray Request(const QVector<QByteArray>& keysAndValues, int id = 0)
{
    QByteArray out;
    if (id > 0)
        out += Field("message_id") + Field(QByteArray::number(id));
    for (const QByteArray& f : keysAndValues)
        out += Field(f);
    return out + LE32(0);
}

struct TFrame {
    qint32 Id;
    qint32 Length;
    QByteArray Body;
};

// A bare protocol peer on a QTcpSocket with zlib called directly: lets a test send what no
// sound client would, and see each frame header exactly as the server wrote it.
// Without a connection of its own it only compresses, and inflates what is put in Incoming.
class TRawPeer {
public:
    explicit TRawPeer(TDemoServer& server, bool connect = true) : Server(server)
    {
        deflateInit(&Out, Z_DEFAULT_COMPRESSION);
        inflateInit(&In);
        if (connect) {
            Socket.connectToHost(QStringLiteral("127.0.0.1"), server.ServerPort());
            Socket.waitForConnected(5000);
        }
    }
    ~TRawPeer()
    {
        deflateEnd(&Out);
        inflateEnd(&In);
    }

    void SendRaw(const QByteArray& bytes)
    {
        Socket.write(bytes);
        Socket.flush();
    }

    void Send(const QByteArray& plain) { SendRaw(Compress(plain)); }

    QByteArray Compress(const QByteArray& plain)
    {
        QByteArray out(int(deflateBound(&Out, uLong(plain.size())) + 64), 0);
        Out.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
        Out.avail_in = uInt(plain.size());
        Out.next_out = reinterpret_cast<Bytef*>(out.data());
        Out.avail_out = uInt(out.size());
        deflate(&Out, Z_SYNC_FLUSH);
        out.resize(out.size() - Out.avail_out);
        return out;
    }

    // Reads and inflates what arrived; false once the server's stream does not inflate.
    bool Pump()
    {
        const QByteArray got =
            (Socket.isOpen() ? Socket.readAll() : QByteArray()) + std::exchange(Incoming, {});
        Raw += got;
        if (got.isEmpty() || InflateFailed)
            return !InflateFailed;
        In.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(got.constData()));
        In.avail_in = uInt(got.size());
        do {
            char buffer[16384];
            In.next_out = reinterpret_cast<Bytef*>(buffer);
            In.avail_out = sizeof buffer;
            const int rc = inflate(&In, Z_SYNC_FLUSH);
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                InflateFailed = true;
                return false;
            }
            Plain.append(buffer, int(sizeof buffer - In.avail_out));
            if (rc == Z_BUF_ERROR)
                break;
        } while (In.avail_in > 0 || In.avail_out == 0);
        return true;
    }

    // Frames in order; a frame whose length cannot be a body ends the list, shown as is.
    QVector<TFrame> Frames()
    {
        Pump();
        QVector<TFrame> frames;
        qsizetype at = 0;
        while (Plain.size() - at >= 8) {
            const qint32 id = ReadLE32(Plain, at);
            const qint32 length = ReadLE32(Plain, at + 4);
            if (length < 0 || length > 64 * 1024 * 1024) {
                frames.append({id, length, {}});
                break;
            }
            if (Plain.size() - at - 8 < length)
                break;
            frames.append({id, length, Plain.mid(at + 8, length)});
            at += 8 + length;
        }
        return frames;
    }

    bool WaitForFrames(int count)
    {
        return Server.WaitFor([&] { return Frames().size() >= count; });
    }

    bool WaitForClose()
    {
        return Server.WaitFor([&] { return Socket.state() == QAbstractSocket::UnconnectedState; });
    }

    TDemoServer& Server;
    QTcpSocket Socket;
    z_stream Out{};
    z_stream In{};
    QByteArray Incoming;
    QByteArray Raw;
    QByteArray Plain;
    bool InflateFailed = false;
};

const QByteArray LoginBatch =
    Request({"command", "login", "username", "raw", "password", "pw", "session_id", ""}, 1) +
    Request({"command", "listen_for_alerts"}, 8) +
    Request({"command", "add_alert_category", "category", "quickstrike"}) +
    Request({"command", "ping", "response", "1"}, 7);

QStringList Strings(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* s : items)
        out << QString::fromLatin1(s);
    return out;
}

// The alert bodies (frames for the listen id 8), with the time fields cut out.
QVector<QByteArray> AlertBodies(const QVector<TFrame>& frames)
{
    QVector<QByteArray> bodies;
    for (const TFrame& f : frames)
        if (f.Id == 8)
            bodies.append(QString::fromLatin1(f.Body)
                              .remove(QRegularExpression(QStringLiteral("time=[^&]*")))
                              .toLatin1());
    return bodies;
}

}  // namespace

class TDemoServerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void IndependentClient_data();
    void IndependentClient();
    void IndependentClientTunnel_data();
    void IndependentClientTunnel();
    void TunnelThroughHttpProxy();
    void TunnelWithQtHttpClient();
    void UploadsThatCannotApply_data();
    void UploadsThatCannotApply();
    void RequestsCutIntoSingleBytes();
    void BrokenClientStreamsAreDropped_data();
    void BrokenClientStreamsAreDropped();
    void StopRefusesAndCloses();
    void GarbageInsteadOfZlib();
    void BadFrameAfterGoodOne_data();
    void BadFrameAfterGoodOne();
    void PingRepliesStopAfterLimit();
    void CloseAfter();
    void SeededDataRepeats();
    void FullTopListsChange();
    void BlastSendsTheStampedMix();
    void ScriptIsPlayed_data();
    void ScriptIsPlayed();
    void OwnConversationLayer();
    void OwnConversationLayerRejectsBrokenStreams_data();
    void OwnConversationLayerRejectsBrokenStreams();
};

void TDemoServerTest::IndependentClient_data()
{
    QTest::addColumn<QStringList>("serverArguments");
    QTest::addColumn<QStringList>("clientArguments");
    const QStringList allKinds = Strings({"--category", "quickstrike", "--category", "bollinger",
                                          "--category", "symbols", "--category", "points",
                                          "--category", "simple", "--category", "rook",
                                          "--category", "tamber", "--category", "wex"});
    QTest::newRow("every kind") << Strings({"--seed", "11", "--rate", "40", "--list-interval", "100"})
                                << allKinds + Strings({"--alerts", "3"});
    QTest::newRow("mapped names")
        << Strings({"--rate", "40", "--list-interval", "100", "--category", "Top Movers=wex",
                    "--category", "gap=rook"})
        << Strings({"--category", "Top Movers=wex", "--category", "gap=rook", "--category",
                    "anything else=quickstrike"});
    QTest::newRow("burst") << Strings({"--rate", "0", "--list-interval", "0", "--burst", "500"})
                           << Strings({"--category", "bollinger", "--category", "points",
                                       "--alerts", "500"});
}

void TDemoServerTest::IndependentClient()
{
    QFETCH(QStringList, serverArguments);
    QFETCH(QStringList, clientArguments);
    TDemoServer server(serverArguments);
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QByteArray output;
    const int code = RunIndependentClient(server, clientArguments, output);
    QVERIFY2(code == 0, output.constData());

    // The request log shows what the client sent, in order, with ids apart from the pairs.
    const auto requests = server.Requests();
    QVERIFY(requests.size() >= 4);
    QCOMPARE(requests[0].Command(), QByteArray("login"));
    QCOMPARE(requests[0].Id, std::optional<qint64>(1));
    QCOMPARE(requests[0].Value("username"), QByteArray("independent"));
    QVERIFY(requests[0].Has("session_id"));
    QCOMPARE(requests[1].Command(), QByteArray("listen_for_alerts"));
    QCOMPARE(requests[2].Command(), QByteArray("add_alert_category"));
    QVERIFY(!requests[2].Id.has_value());
    QCOMPARE(server.RequestsWith("ping").size(), 2);
    QVERIFY(server.WaitFor([&] { return server.ClosedCount() == 1; }));
    QCOMPARE(server.OpenedCount(), 1);
}

void TDemoServerTest::IndependentClientTunnel_data()
{
    QTest::addColumn<QStringList>("serverArguments");
    QTest::addColumn<QStringList>("clientArguments");
    QTest::addColumn<QVector<int>>("firstStatuses");
    QTest::newRow("origin form") << Strings({"--rate", "40"}) << QStringList() << QVector<int>{200};
    QTest::newRow("absolute form") << Strings({"--rate", "40"}) << Strings({"--absolute-uri"})
                                   << QVector<int>{200};
    QTest::newRow("failing uploads") << Strings({"--rate", "40", "--post-fail", "2"})
                                     << QStringList() << QVector<int>{500, 500, 200};
    QTest::newRow("slow uploads") << Strings({"--rate", "40", "--post-delay", "50"})
                                  << QStringList() << QVector<int>{200};
}

void TDemoServerTest::IndependentClientTunnel()
{
    QFETCH(QStringList, serverArguments);
    QFETCH(QStringList, clientArguments);
    QFETCH(QVector<int>, firstStatuses);
    TDemoServer server(serverArguments + Strings({"--list-interval", "100"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QByteArray output;
    const int code = RunIndependentClient(
        server, Strings({"--tunnel", "--category", "quickstrike", "--category", "wex"}) + clientArguments,
        output);
    QVERIFY2(code == 0, output.constData());
    QCOMPARE(server.RequestsWith("login").size(), 1);
    QCOMPARE(server.RequestsWith("ping").size(), 2);

    // Upload 0 carries the opening command (after any failed tries); then 1 and 2; the
    // resend of 2 is acknowledged, and 4 after a gap is refused.
    const auto posts = server.Posts();
    const int failed = int(firstStatuses.size()) - 1;
    QCOMPARE(posts.size(), failed + 5);
    for (int i = 0; i < failed; ++i) {
        QCOMPARE(posts[i].Sequence, qint64(0));
        QCOMPARE(posts[i].Status, firstStatuses[i]);
    }
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(posts[failed + i].Sequence, qint64(i));
        QCOMPARE(posts[failed + i].Status, 200);
        QCOMPARE(posts[failed + i].Conn, 1);
    }
    QCOMPARE(posts[failed].Bytes, qint64(Opening.size()));
    QCOMPARE(posts[failed + 3].Status, 200);
    QCOMPARE(posts[failed + 4].Status, 409);
}

void TDemoServerTest::TunnelThroughHttpProxy()
{
    TTinyProxy proxy;
    VESK_START_PROXY(proxy);
    TDemoServer server(Strings({"--rate", "40"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QByteArray output;
    const int code = RunIndependentClient(
        server, {"--tunnel", "--proxy", QStringLiteral("127.0.0.1:%1").arg(proxy.Port())}, output);
    QVERIFY2(code == 0, (output + "\nproxy log:\n" + proxy.Log()).constData());
    QCOMPARE(server.RequestsWith("login").size(), 1);
    QVERIFY(server.Posts().size() >= 3);
}

void TDemoServerTest::TunnelWithQtHttpClient()
{
    // The HTTP client the tunnel connection is built on: a long GET read piece by piece
    // while it lasts, and form POSTs to the upload URL.
    TDemoServer server(Strings({"--rate", "20"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QNetworkAccessManager http;
    http.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply* download = http.get(QNetworkRequest(QUrl(server.TunnelUrl())));
    QByteArray received;
    const auto handshakeReader = QObject::connect(download, &QNetworkReply::readyRead,
                                                  [&] { received += download->readAll(); });
    QVERIFY(server.WaitFor([&] { return received.count("\r\n") >= 2; }));
    QCOMPARE(download->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const QList<QByteArray> handshake = received.split('\n');
    QCOMPARE(handshake[0], QByteArray("VESK TUNNEL 1\r"));
    const QUrl uploadUrl(QString::fromLatin1(handshake[1].trimmed()));
    QCOMPARE(uploadUrl.port(), int(server.ServerPort()));
    TRawPeer peer(server, false);
    peer.Incoming = received.mid(received.indexOf("\r\n", received.indexOf("\r\n") + 2) + 2);
    QObject::disconnect(handshakeReader);
    QObject::connect(download, &QNetworkReply::readyRead, [&] { peer.Incoming += download->readAll(); });

    const QByteArray chunks[2] = {Opening, peer.Compress(LoginBatch)};
    for (int sequence = 0; sequence < 2; ++sequence) {
        QNetworkRequest post(uploadUrl);
        post.setHeader(QNetworkRequest::ContentTypeHeader,
                       QByteArrayLiteral("application/x-www-form-urlencoded"));
        QNetworkReply* upload = http.post(post, "sequence=" + QByteArray::number(sequence) +
                                                    "&body=" + P64Encode(chunks[sequence]));
        QVERIFY(server.WaitFor([&] { return upload->isFinished(); }));
        QCOMPARE(upload->error(), QNetworkReply::NoError);
        QCOMPARE(upload->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QCOMPARE(upload->readAll(), QByteArray());
        upload->deleteLater();
    }
    QVERIFY(peer.WaitForFrames(3));
    const auto frames = peer.Frames();
    QCOMPARE(frames[0].Id, 1);
    QCOMPARE(frames[1].Id, 7);
    QCOMPARE(frames[2].Id, 8);
    QVERIFY(frames[2].Body.startsWith("quickstrike\r\n"));
    download->abort();
    QVERIFY(server.WaitFor([&] { return server.ClosedCount() == 1; }));
    delete download;
}

void TDemoServerTest::UploadsThatCannotApply_data()
{
    QTest::addColumn<QByteArray>("request");  // "<session>" stands for the open tunnel's id
    QTest::addColumn<QByteArray>("statusLine");
    QTest::newRow("not P64") << QByteArray("POST /upload?session=<session> HTTP/1.0\r\n"
                                           "Content-Length: 19\r\n\r\nsequence=0&body=a+b")
                             << QByteArray("HTTP/1.0 400 Bad Request");
    QTest::newRow("no sequence") << QByteArray("POST /upload?session=<session> HTTP/1.0\r\n"
                                               "Content-Length: 7\r\n\r\nbody=ab")
                                 << QByteArray("HTTP/1.0 400 Bad Request");
    QTest::newRow("unknown session") << QByteArray("POST /upload?session=nope HTTP/1.0\r\n"
                                                   "Content-Length: 18\r\n\r\nsequence=0&body=ab")
                                     << QByteArray("HTTP/1.0 404 Not Found");
    QTest::newRow("no length") << QByteArray("POST /upload?session=<session> HTTP/1.0\r\n\r\n")
                               << QByteArray("HTTP/1.0 411 Length Required");
    QTest::newRow("too long") << QByteArray("POST /upload?session=<session> HTTP/1.0\r\n"
                                            "Content-Length: 99999999\r\n\r\n")
                              << QByteArray("HTTP/1.0 413 Payload Too Large");
    QTest::newRow("gap") << QByteArray("POST http://127.0.0.1/upload?session=<session> HTTP/1.1\r\n"
                                       "Content-Length: 18\r\n\r\nsequence=1&body=ab")
                         << QByteArray("HTTP/1.0 409 Conflict");
    QTest::newRow("other method") << QByteArray("HEAD /tunnel HTTP/1.0\r\n\r\n")
                                  << QByteArray("HTTP/1.0 405 Method Not Allowed");
}

void TDemoServerTest::UploadsThatCannotApply()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    TDemoServer server(Strings({"--rate", "0"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QTcpSocket tunnel;
    tunnel.connectToHost(QStringLiteral("127.0.0.1"), server.ServerPort());
    tunnel.write("GET /tunnel HTTP/1.0\r\n\r\n");
    QByteArray handshake;
    QVERIFY(server.WaitFor([&] {
        handshake += tunnel.readAll();
        return handshake.contains("session=") && handshake.endsWith("\r\n");
    }));
    const QByteArray session = handshake.mid(handshake.indexOf("session=") + 8).trimmed();

    QTcpSocket upload;
    upload.connectToHost(QStringLiteral("127.0.0.1"), server.ServerPort());
    upload.write(request.replace("<session>", session));
    QByteArray answer;
    QVERIFY(server.WaitFor([&] {
        answer += upload.readAll();
        return upload.state() == QAbstractSocket::UnconnectedState;
    }));
    QCOMPARE(answer.left(answer.indexOf("\r\n")), statusLine);
    // Nothing of it reached the conversation, which is still open.
    QCOMPARE(server.Requests().size(), 0);
    QCOMPARE(tunnel.state(), QAbstractSocket::ConnectedState);
}

void TDemoServerTest::RequestsCutIntoSingleBytes()
{
    TDemoServer server(Strings({"--rate", "0"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    const QByteArray stream = Opening + peer.Compress(LoginBatch);
    for (char c : stream) {
        peer.SendRaw(QByteArray(1, c));
        QTest::qWait(0);
    }
    QVERIFY(peer.WaitForFrames(2));
    const auto frames = peer.Frames();
    QCOMPARE(frames[0].Id, 1);
    QVERIFY(frames[0].Body.startsWith("SESSION ID\r\nDS"));
    QCOMPARE(frames[1].Id, 7);
    QCOMPARE(frames[1].Length, 0);
    const auto requests = server.Requests();
    QCOMPARE(requests.size(), 4);
    QCOMPARE(requests[2].Value("category"), QByteArray("quickstrike"));
    QCOMPARE(requests[3].Value("response"), QByteArray("1"));
}

void TDemoServerTest::BrokenClientStreamsAreDropped_data()
{
    QTest::addColumn<QByteArray>("plainPrefix");
    QTest::addColumn<QByteArray>("compressed");  // the client's stream, compressed by the peer
    QTest::addColumn<QByteArray>("complaint");
    QTest::newRow("not zlib") << Opening + "\x01\x02 no zlib here" << QByteArray() << QByteArray("inflate");
    QTest::newRow("negative key length") << Opening << LE32(-5) << QByteArray("negative");
    QTest::newRow("negative value length") << Opening << Field("command") + LE32(-1)
                                           << QByteArray("negative");
    QTest::newRow("huge key length") << Opening << LE32(0x7fffff00) << QByteArray("larger");
    QTest::newRow("field over the cap") << Opening << LE32(64 * 1024 * 1024 + 1) << QByteArray("larger");
    QTest::newRow("wrong opening") << QByteArray("command=set_output&mode=text\r\n") << QByteArray()
                                   << QByteArray("opening");
    QTest::newRow("endless opening line") << QByteArray(5000, 'a') << QByteArray() << QByteArray("opening");
}

void TDemoServerTest::BrokenClientStreamsAreDropped()
{
    QFETCH(QByteArray, plainPrefix);  // sent as it is
    QFETCH(QByteArray, compressed);
    QFETCH(QByteArray, complaint);
    TDemoServer server(Strings({"--rate", "0"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    {
        TRawPeer bad(server);
        bad.SendRaw(plainPrefix + (compressed.isEmpty() ? QByteArray() : bad.Compress(compressed)));
        // Dropped at once: nobody waits for 2 GiB that will never come.
        QVERIFY(bad.WaitForClose());
    }
    QVERIFY2(server.StdErr().contains(complaint), server.StdErr().constData());
    // The server carries on with the next client.
    TRawPeer good(server);
    good.SendRaw(Opening + good.Compress(LoginBatch));
    QVERIFY(good.WaitForFrames(2));
    QVERIFY(server.IsRunning());
}

void TDemoServerTest::StopRefusesAndCloses()
{
    TDemoServer server(Strings({"--stop", "Closed for maintenance", "--burst", "5"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    peer.SendRaw(Opening + peer.Compress(LoginBatch));
    QVERIFY(peer.WaitForClose());
    const auto frames = peer.Frames();
    QVERIFY(!frames.isEmpty());
    QCOMPARE(frames[0].Id, 1);
    QCOMPARE(frames[0].Body, QByteArray("STOP\r\nClosed for maintenance"));
    for (const TFrame& f : frames)
        QVERIFY(f.Id != 8);
}

void TDemoServerTest::GarbageInsteadOfZlib()
{
    TDemoServer server(Strings({"--garbage"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    peer.SendRaw(Opening + peer.Compress(LoginBatch));
    QVERIFY(server.WaitFor([&] { return !peer.Pump(); }));
    QVERIFY(peer.Frames().isEmpty());
}

void TDemoServerTest::BadFrameAfterGoodOne_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<qint32>("length");
    QTest::newRow("negative") << "negative" << -5;
    QTest::newRow("huge") << "huge" << 0x7fffff00;
}

void TDemoServerTest::BadFrameAfterGoodOne()
{
    QFETCH(QString, mode);
    QFETCH(qint32, length);
    TDemoServer server({"--rate", "0", "--bad-frame", mode});
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    peer.SendRaw(Opening + peer.Compress(LoginBatch));
    QVERIFY(peer.WaitForFrames(4));
    const auto frames = peer.Frames();
    QCOMPARE(frames.size(), 4);
    QCOMPARE(frames[0].Id, 1);
    QCOMPARE(frames[1].Id, 7);
    QCOMPARE(frames[2].Id, 8);
    QVERIFY(frames[2].Body.startsWith("quickstrike\r\nsymbol="));
    QCOMPARE(frames[3].Length, length);
}

void TDemoServerTest::PingRepliesStopAfterLimit()
{
    TDemoServer server(Strings({"--rate", "0", "--no-ping-replies-after", "1"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    peer.SendRaw(Opening + peer.Compress(LoginBatch));
    QVERIFY(peer.WaitForFrames(2));
    // Requests are answered in order, so once the login for id 5 is answered the server has
    // passed over the ping for id 6 without a reply.
    peer.Send(Request({"command", "ping", "response", "1"}, 6) +
              Request({"command", "login", "username", "raw"}, 5));
    QVERIFY(peer.WaitForFrames(3));
    const auto frames = peer.Frames();
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames[2].Id, 5);
    QCOMPARE(server.RequestsWith("ping").size(), 2);
}

void TDemoServerTest::CloseAfter()
{
    TDemoServer server(Strings({"--close-after", "100"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    peer.SendRaw(Opening + peer.Compress(LoginBatch));
    QVERIFY(peer.WaitForClose());
    QVERIFY(server.WaitFor([&] { return server.ClosedCount() == 1; }));
}

void TDemoServerTest::SeededDataRepeats()
{
    QVector<QByteArray> runs[2];
    for (auto& bodies : runs) {
        TDemoServer server(Strings({"--seed", "5", "--rate", "0", "--list-interval", "0", "--burst", "30"}));
        QVERIFY2(server.IsRunning(), server.Problem().constData());
        TRawPeer peer(server);
        peer.SendRaw(Opening + peer.Compress(LoginBatch));
        QVERIFY(peer.WaitForFrames(32));
        bodies = AlertBodies(peer.Frames());
    }
    QCOMPARE(runs[0].size(), 30);
    QCOMPARE(runs[0], runs[1]);
    // ... and the alerts differ from one another: the prices walk.
    QVERIFY(runs[0][0] != runs[0][1]);
}

void TDemoServerTest::FullTopListsChange()
{
    TDemoServer server(Strings({"--seed", "3", "--rate", "0", "--list-interval", "0", "--burst", "40"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    peer.SendRaw(Opening +
                 peer.Compress(Request({"command", "listen_for_alerts"}, 8) +
                               Request({"command", "add_alert_category", "category", "wex"})));
    QVERIFY(peer.WaitForFrames(40));
    QVector<QByteArrayList> orders;
    int dividers = 0;
    int spikes = 0;
    int zeros = 0;
    for (const QByteArray& body : AlertBodies(peer.Frames())) {
        QByteArrayList symbols;
        for (const QByteArray& item : body.mid(body.indexOf("\r\n") + 2).split('&')) {
            if (item.startsWith("symbol")) {
                const QByteArray symbol = item.mid(item.indexOf('=') + 1);
                if (symbol == "-")
                    ++dividers;
                else
                    symbols.append(symbol);
            } else if (item.startsWith("price_spike") && item.mid(item.indexOf('=') + 1).toDouble() >= 7) {
                ++spikes;
            } else if (item.startsWith("new_high") && item.endsWith("=0.00")) {
                ++zeros;
            }
        }
        QVERIFY2(symbols.size() >= 15 && symbols.size() <= 40, body.left(200).constData());
        orders.append(symbols);
    }
    QCOMPARE(orders.size(), 40);
    int reordered = 0;
    int membershipChanged = 0;
    for (int i = 1; i < orders.size(); ++i) {
        reordered += orders[i] != orders[i - 1];
        membershipChanged += QSet<QByteArray>(orders[i].begin(), orders[i].end()) !=
                             QSet<QByteArray>(orders[i - 1].begin(), orders[i - 1].end());
    }
    QVERIFY(reordered > 20);
    QVERIFY(membershipChanged > 10);
    QVERIFY(dividers > 0);
    QVERIFY(spikes > 0);
    QVERIFY(zeros > 40);
}

void TDemoServerTest::BlastSendsTheStampedMix()
{
    // Three single-row categories and two list kinds; 500 alerts: every 50th a 20-row list.
    TDemoServer server(Strings({"--seed", "9", "--blast", "500"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    QByteArray batch = Request({"command", "listen_for_alerts"}, 8);
    for (const char* category : {"quickstrike", "bollinger", "rook", "points", "wex"})
        batch += Request({"command", "add_alert_category", "category", category});
    peer.SendRaw(Opening + peer.Compress(batch));
    QVERIFY(peer.WaitForFrames(500));
    QVERIFY(server.WaitFor([&] { return server.Logged("BLAST {\"conn\":1,\"alerts\":500,"); }));
    const QVector<TFrame> frames = peer.Frames();
    QCOMPARE(frames.size(), 500); // nothing but the blast: no made-up alerts besides it
    QMap<QByteArray, int> perCategory;
    qint64 previousSent = 0;
    for (int i = 0; i < frames.size(); ++i) {
        const QByteArray& body = frames[i].Body;
        QCOMPARE(frames[i].Id, 8);
        const QByteArray category = body.left(body.indexOf("\r\n"));
        ++perCategory[category];
        QMap<QByteArray, QByteArray> fields;
        for (const QByteArray& item : body.mid(body.indexOf("\r\n") + 2).split('&'))
            fields.insert(item.left(item.indexOf('=')), item.mid(item.indexOf('=') + 1));
        QCOMPARE(fields.value("blast_seq"), QByteArray::number(i));
        const qint64 sent = fields.value("blast_sent").toLongLong();
        QVERIFY(sent >= previousSent && sent > 1'700'000'000'000'000LL);
        previousSent = sent;
        const bool list = i % 50 == 49;
        QCOMPARE(category == "points" || category == "wex", list);
        if (list)
            QVERIFY2(fields.contains("symbol19") && !fields.contains("symbol20"), body.left(120).constData());
    }
    QCOMPARE(perCategory.value("points") + perCategory.value("wex"), 10);
    QCOMPARE(perCategory.value("points"), 5);
    for (const char* category : {"quickstrike", "bollinger", "rook"})
        QVERIFY(qAbs(perCategory.value(category) - 490 / 3) <= 1);
}

void TDemoServerTest::ScriptIsPlayed_data()
{
    QTest::addColumn<QString>("filterFlag");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::newRow("subscribed only") << "--script-once"
                                     << QByteArrayList{"quickstrike\r\nsymbol=AAA&last=1",
                                                       "quickstrike\r\nsymbol=C%26C"};
    QTest::newRow("unfiltered") << "--script-unfiltered"
                                << QByteArrayList{"quickstrike\r\nsymbol=AAA&last=1",
                                                  "other\r\nsymbol=BBB",
                                                  "quickstrike\r\nsymbol=C%26C"};
}

void TDemoServerTest::ScriptIsPlayed()
{
    QFETCH(QString, filterFlag);
    QFETCH(QByteArrayList, expected);
    QTemporaryFile script;
    QVERIFY(script.open());
    script.write("# one alert per line\n"
                 "quickstrike\tsymbol=AAA&last=1\n"
                 "\n"
                 "other\tsymbol=BBB\r\n"
                 "quickstrike\tsymbol=C%26C\n");
    script.close();
    TDemoServer server({"--script", script.fileName(), "--script-interval", "5", "--script-once",
                        filterFlag});
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TRawPeer peer(server);
    peer.SendRaw(Opening + peer.Compress(LoginBatch));
    QVERIFY(peer.WaitForFrames(2 + int(expected.size())));
    // Played once: a further request is answered after every line of the script.
    QTest::qWait(50);
    peer.Send(Request({"command", "ping", "response", "1"}, 6));
    QVERIFY(peer.WaitForFrames(3 + int(expected.size())));
    QByteArrayList bodies;
    for (const TFrame& f : peer.Frames())
        if (f.Id == 8)
            bodies.append(f.Body);
    QCOMPARE(bodies, expected);
}

void TDemoServerTest::OwnConversationLayer()
{
    TDemoServer server(Strings({"--rate", "50", "--list-interval", "50"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TTalkWithServer talk;
    talk.ServerAddress = server.Address().toLatin1();
    QByteArray loginReply;
    bool pinged = false;
    QByteArrayList alerts;
    talk.SendMessage(MakeMessage({"command", "login", "username", "own", "password", "pw",
                                  "session_id", ""}),
                     true, [&](bool ok, const QByteArray& body, const TMessageToServer&) {
                         if (ok)
                             loginReply = body;
                     });
    talk.SendMessage(MakeMessage({"command", "listen_for_alerts"}), true,
                     [&](bool ok, const QByteArray& body, const TMessageToServer&) {
                         if (ok)
                             alerts.append(body.left(body.indexOf("\r\n")));
                     });
    talk.SendMessage(MakeMessage({"command", "add_alert_category", "category", "rook"}), false, {});
    talk.SendMessage(MakeMessage({"command", "add_alert_category", "category", "wex"}), false, {});
    talk.SendMessage(MakeMessage({"command", "ping", "response", '1'}), false,
                     [&](bool ok, const QByteArray&, const TMessageToServer&) { pinged = ok; });
    talk.Connect();
    QVERIFY(server.WaitFor([&] { return pinged && alerts.contains("wex") && alerts.count("rook") > 5; }));
    QVERIFY(loginReply.startsWith("SESSION ID\r\nDS1-"));
    QCOMPARE(talk.GetState(), TTalkWithServer::Connected);
    // The ids the conversation gives out, as the server read them.
    const auto requests = server.Requests();
    QCOMPARE(requests.size(), 5);
    QCOMPARE(requests[0].Id, std::optional<qint64>(1));
    QCOMPARE(requests[1].Id, std::optional<qint64>(8));
    QVERIFY(!requests[2].Id.has_value());
    QCOMPARE(requests[4].Id, std::optional<qint64>(7));
    QCOMPARE(requests[0].Value("password"), QByteArray("pw"));
}

void TDemoServerTest::OwnConversationLayerRejectsBrokenStreams_data()
{
    QTest::addColumn<QStringList>("mode");
    QTest::newRow("garbage") << Strings({"--garbage"});
    QTest::newRow("negative frame length") << Strings({"--bad-frame", "negative"});
    QTest::newRow("huge frame length") << Strings({"--bad-frame", "huge"});
}

void TDemoServerTest::OwnConversationLayerRejectsBrokenStreams()
{
    QFETCH(QStringList, mode);
    TDemoServer server(mode + Strings({"--rate", "0"}));
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TTalkWithServer talk;
    talk.ServerAddress = server.Address().toLatin1();
    int loginAnswers = 0;
    talk.SendMessage(MakeMessage({"command", "login", "username", "own"}), false,
                     [&](bool, const QByteArray&, const TMessageToServer&) { ++loginAnswers; });
    talk.SendMessage(MakeMessage({"command", "listen_for_alerts"}), true, {});
    talk.Connect();
    QVERIFY(server.WaitFor([&] { return talk.GetState() == TTalkWithServer::Closed; }));
    QVERIFY2(talk.GetDisconnectReason().startsWith("Invalid data from server: "),
             talk.GetDisconnectReason().constData());
    QCOMPARE(loginAnswers, 1);
}

QTEST_MAIN(TDemoServerTest)
#include "tst_demoserver.moc"
