// labels: connection demoserver
// The demo server against a client written independently from the protocol's description
// (tests/independent_client.py), and its robustness and fault modes against raw sockets.

#include "support/DemoServer.h"

#include <QProcess>
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
class TRawPeer {
public:
    explicit TRawPeer(TDemoServer& server) : Server(server)
    {
        deflateInit(&Out, Z_DEFAULT_COMPRESSION);
        inflateInit(&In);
        Socket.connectToHost(QStringLiteral("127.0.0.1"), server.ServerPort());
        Socket.waitForConnected(5000);
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
        const QByteArray got = Socket.readAll();
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
    QByteArray Raw;
    QByteArray Plain;
    bool InflateFailed = false;
};

const QByteArray LoginBatch =
    Request({"command", "login", "username", "raw", "password", "pw", "session_id", ""}, 1) +
    Request({"command", "listen_for_alerts"}, 8) +
    Request({"command", "add_alert_category", "category", "quickstrike"}) +
    Request({"command", "ping", "response", "1"}, 7);

}  // namespace

class TDemoServerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void IndependentClient_data();
    void IndependentClient();
    void IndependentClientTunnel();
};

void TDemoServerTest::IndependentClient_data()
{
    QTest::addColumn<QStringList>("serverArguments");
    QTest::addColumn<QStringList>("clientArguments");
    const QStringList allKinds = {"--category", "quickstrike", "--category", "bollinger",
                                  "--category", "symbols",     "--category", "points",
                                  "--category", "simple",      "--category", "rook",
                                  "--category", "tamber",      "--category", "wex"};
    QTest::newRow("every kind") << QStringList{"--seed", "11", "--rate", "40", "--list-interval", "100"}
                                << allKinds + QStringList{"--alerts", "3"};
    QTest::newRow("mapped names")
        << QStringList{"--rate", "40", "--list-interval", "100", "--category", "Top Movers=wex",
                       "--category", "gap=rook"}
        << QStringList{"--category", "Top Movers=wex", "--category", "gap=rook", "--category",
                       "anything else=quickstrike"};
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

void TDemoServerTest::IndependentClientTunnel()
{
    TDemoServer server({"--rate", "40", "--list-interval", "100"});
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QByteArray output;
    const int code = RunIndependentClient(
        server, {"--tunnel", "--category", "quickstrike", "--category", "wex"}, output);
    QVERIFY2(code == 0, output.constData());
    QCOMPARE(server.RequestsWith("login").size(), 1);
    QCOMPARE(server.RequestsWith("ping").size(), 2);
    // Uploads 0, 1, 2 applied; the resend of 2 acknowledged; 4 after a gap refused.
    const auto posts = server.Posts();
    QCOMPARE(posts.size(), 5);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(posts[i].Sequence, qint64(i));
        QCOMPARE(posts[i].Status, 200);
        QCOMPARE(posts[i].Conn, 1);
    }
    QCOMPARE(posts[0].Bytes, qint64(Opening.size()));
    QCOMPARE(posts[3].Status, 200);
    QCOMPARE(posts[4].Status, 409);
}

QTEST_GUILESS_MAIN(TDemoServerTest)
#include "tst_demoserver.moc"
