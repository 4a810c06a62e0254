// labels: connection
// One conversation with the server: what goes out (opening command, held requests, ids and
// serials, compressed batches), how frames come back (split, joined, invalid), and that every
// waiting callback gets exactly one final answer. Most cases talk to a peer in this process
// for exact control of the bytes; one logs in to the demo server.

#include "Platform/AsyncSocket.h"
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"
#include "Shared/ZLibStreams.h"
#include "support/DemoServer.h"
#include "support/RefusingPort.h"
#include "support/UnknownHost.h"

#include <QHostAddress>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

namespace {

using TPairs = QList<QPair<QByteArray, QByteArray>>;

qint32 ReadInt(const QByteArray& b, qsizetype at)
{
    return qint32(quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 | quint32(quint8(b[at + 2])) << 16 |
                  quint32(quint8(b[at + 3])) << 24);
}

QByteArray Int(qint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((quint32(v) >> (8 * i)) & 0xFF);
    return out;
}

QByteArray Frame(qint32 id, const QByteArray& body) { return Int(id) + Int(qint32(body.size())) + body; }

// The server side of one conversation, scripted by the test: reads the opening command and
// the compressed requests, writes compressed (or raw) frames back.
struct TPeer {
    QTcpServer Server;
    QTcpSocket* Client = nullptr;
    QByteArray Raw;                 // everything received, as sent
    TZLibDecompressor Inflater;
    qsizetype Inflated = 0;         // bytes of Raw given to Inflater
    qsizetype Parsed = 0;           // bytes of Inflater.Output parsed into Requests
    QList<TPairs> Requests;
    TZLibCompressor Deflater;

    TPeer()
    {
        Server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&Server, &QTcpServer::newConnection, [this] {
            Client = Server.nextPendingConnection();
            QObject::connect(Client, &QTcpSocket::readyRead, [this] {
                Raw += Client->readAll();
                Parse();
            });
        });
    }
    QByteArray Address() const { return "127.0.0.1:" + QByteArray::number(Server.serverPort()); }

    void Parse()
    {
        const qsizetype start = TTalkWithServer::OpeningCommand.size();
        if (Raw.size() <= start)
            return;
        Inflater.Write(Raw.mid(qMax(start, Inflated)));
        Inflated = Raw.size();
        const QByteArray& in = Inflater.Output;
        for (;;) {
            TPairs pairs;
            qsizetype at = Parsed;
            bool whole = false;
            while (at + 4 <= in.size()) {
                const qint32 keyLength = ReadInt(in, at);
                if (keyLength == 0) {
                    at += 4;
                    whole = true;
                    break;
                }
                if (at + 4 + keyLength + 4 > in.size())
                    break;
                const QByteArray key = in.mid(at + 4, keyLength);
                const qint32 valueLength = ReadInt(in, at + 4 + keyLength);
                if (at + 8 + keyLength + valueLength > in.size())
                    break;
                pairs.append({key, in.mid(at + 8 + keyLength, valueLength)});
                at += 8 + keyLength + valueLength;
            }
            if (!whole)
                return;
            Requests.append(pairs);
            Parsed = at;
        }
    }

    QByteArray Compress(const QByteArray& plain)
    {
        Deflater.Write(plain);
        Deflater.Flush();
        return std::exchange(Deflater.Output, QByteArray());
    }
    void SendFrames(const QByteArray& frames) { Client->write(Compress(frames)); }
};

// Records every answer a callback got.
struct TAnswers {
    QList<QPair<bool, QByteArray>> Got;
    TResponseCallback Callback()
    {
        return [this](bool success, const QByteArray& body, const TMessageToServer&) { Got.append({success, body}); };
    }
};

// What a callback got when its only answer was an error response.
QList<QPair<bool, QByteArray>> OneFailure() { return {qMakePair(false, QByteArray())}; }

TMessageToServer Ping() { return MakeMessage({"command", "ping", "response", '1'}); }

QString DebugText()
{
    TMiscDebugWindow* w = SharedDebugWindow();
    return w ? w->Memo1->toPlainText() + w->GetPendingText() : QString();
}

// Reserved for the whole run, so that the refused attempts cannot reach anyone.
QByteArray RefusedAddress()
{
    static TRefusingPort port;
    return "127.0.0.1:" + QByteArray::number(port.Port);
}

// A conversation connected to the peer, with the opening command already read.
std::unique_ptr<TTalkWithServer> ConnectedTalk(TPeer& peer)
{
    auto talk = std::make_unique<TTalkWithServer>();
    talk->ServerAddress = peer.Address();
    talk->Connect();
    if (!QTest::qWaitFor([&] { return talk->GetState() == TTalkWithServer::Connected && peer.Client; }))
        return nullptr;
    return talk;
}

// The client's own socket, to see what the conversation has handed to it so far: without a
// turn of the event loop nothing is written, so it is all still queued there.
QTcpSocket* ClientSocket(const TTalkWithServer& talk)
{
    auto* connection = dynamic_cast<TSocketServerConnection*>(talk.GetConnection());
    return connection && connection->GetSocket() ? connection->GetSocket()->findChild<QTcpSocket*>() : nullptr;
}

// Sync flushes in what the peer received: each ends with an empty stored block.
int SyncFlushes(const QByteArray& raw) { return int(raw.count(QByteArray("\0\0\xff\xff", 4))); }

} // namespace

class TstTalkWithServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openingCommandThenHeldRequestsInOrder();
    void idsAndSerialsFollowTheSlotRule();
    void answeredAndCancelledSlotsAreReused();
    void framesAreCutAcrossAndWithinArrivals();
    void keptBodiesStayIntactAsMoreArrives();
    void persistentCallbackAndShutdownAnswerEveryoneOnce();
    void destructionAnswersWaitingCallbacks();
    void callbackErrorsAreReportedAndDispatchGoesOn();
    void invalidDataClosesTheConversation_data();
    void invalidDataClosesTheConversation();
    void requestsThatCannotGoOutAreAnsweredAtOnce();
    void connectionFailuresGiveTheirReasons();
    void serverAddressIsSplitAtTheFirstColon();
    void largeBurstArrivesIntactAndInOrder();
    void oneFlushedBlockPerTurnAndEarlyBlocksInABurst();
    void loginAndPingWithTheDemoServer();
};

void TstTalkWithServer::openingCommandThenHeldRequestsInOrder()
{
    TPeer peer;
    TAnswers answers;
    TTalkWithServer talk;
    talk.ServerAddress = peer.Address();
    QCOMPARE(talk.GetDisconnectReason(), QByteArray("Unable to connect to server."));
    talk.SendMessage(MakeMessage({"command", "login", "username", "x"}), true, answers.Callback());
    talk.SendMessage(MakeMessage({"command", "listen_for_alerts"}), false, {});
    talk.Connect();
    QCOMPARE(talk.GetDisconnectReason(), QByteArray("Error in server connection."));
    // Written after Connect, still before the connection is up.
    talk.SendMessage(Ping(), false, answers.Callback());
    int connectedEvents = 0;
    talk.OnConnected = [&] { ++connectedEvents; };

    QTRY_COMPARE(peer.Requests.size(), 3);
    QCOMPARE(connectedEvents, 1);
    QCOMPARE(talk.GetDisconnectReason(), QByteArray("Unexpected disconnect from server."));
    QVERIFY(peer.Raw.startsWith(TTalkWithServer::OpeningCommand));
    QCOMPARE(peer.Requests[0], TPairs({{"message_id", "1"}, {"command", "login"}, {"username", "x"}}));
    // Without a callback no id is asked for.
    QCOMPARE(peer.Requests[1], TPairs({{"command", "listen_for_alerts"}}));
    QCOMPARE(peer.Requests[2], TPairs({{"message_id", "8"}, {"command", "ping"}, {"response", "1"}}));

    // Later requests in one turn go out together and are decodable at once.
    talk.SendMessage(MakeMessage({"command", "a"}), false, {});
    talk.SendMessage(MakeMessage({"command", "b"}), false, {});
    QTRY_COMPARE(peer.Requests.size(), 5);
    QCOMPARE(peer.Requests[4], TPairs({{"command", "b"}}));
}

void TstTalkWithServer::idsAndSerialsFollowTheSlotRule()
{
    TAnswers answers; // declared first: the conversation answers it when destroyed
    TTalkWithServer talk; // never connected: requests are held, slots are still taken
    QList<qint32> ids;
    QList<quint64> serials;
    for (int i = 0; i < 11; ++i) {
        const TMessageHandle h = talk.SendMessage(Ping(), false, answers.Callback());
        ids << h.MessageId;
        serials << h.Serial;
    }
    QCOMPARE(ids, QList<qint32>({1, 8, 7, 6, 5, 4, 3, 2, 9, 16, 15}));
    QCOMPARE(talk.PendingSlotCount(), 16);
    for (int i = 1; i < serials.size(); ++i)
        QCOMPARE(serials[i], serials[0] + quint64(i));

    // One counter for the process: a second conversation continues it.
    TTalkWithServer other;
    const TMessageHandle h = other.SendMessage(Ping(), false, answers.Callback());
    QCOMPARE(h.MessageId, 1);
    QCOMPARE(h.Serial, serials.last() + 1);
    QVERIFY(answers.Got.isEmpty());
}

void TstTalkWithServer::answeredAndCancelledSlotsAreReused()
{
    TPeer peer;
    TAnswers a, b, c, d, e;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    const TMessageHandle ha = talk->SendMessage(Ping(), false, a.Callback()); // 1
    const TMessageHandle hb = talk->SendMessage(Ping(), false, b.Callback()); // 8
    const TMessageHandle hc = talk->SendMessage(Ping(), false, c.Callback()); // 7
    QCOMPARE(QList<qint32>({ha.MessageId, hb.MessageId, hc.MessageId}), QList<qint32>({1, 8, 7}));
    QTRY_COMPARE(peer.Requests.size(), 3);

    talk->CancelCallback(hc);
    talk->CancelCallback({8, hb.Serial + 1000}); // a stale handle changes nothing
    peer.SendFrames(Frame(8, "pong-b") + Frame(7, "pong-c"));
    QTRY_COMPARE(b.Got.size(), 1);
    QCOMPARE(b.Got[0], qMakePair(true, QByteArray("pong-b")));
    QVERIFY(c.Got.isEmpty()); // cancelled: freed silently

    // Both slots are free again: the highest is taken first.
    const TMessageHandle hd = talk->SendMessage(Ping(), false, d.Callback());
    const TMessageHandle he = talk->SendMessage(Ping(), false, e.Callback());
    QCOMPARE(hd.MessageId, 8);
    QCOMPARE(he.MessageId, 7);
    // The old handle of slot 7 no longer reaches its new owner.
    talk->CancelCallback(hc);
    peer.SendFrames(Frame(7, "pong-e"));
    QTRY_COMPARE(e.Got.size(), 1);
    QVERIFY(a.Got.isEmpty() && c.Got.isEmpty());
}

void TstTalkWithServer::framesAreCutAcrossAndWithinArrivals()
{
    TPeer peer;
    QStringList order;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    auto recorder = [&order](const char* name) {
        return [&order, name](bool success, const QByteArray& body, const TMessageToServer&) {
            order << QString::fromLatin1(name) + (success ? QStringLiteral(":") : QStringLiteral("!")) +
                         QString::fromLatin1(body);
        };
    };
    talk->SendMessage(Ping(), true, recorder("one"));   // 1
    talk->SendMessage(Ping(), true, recorder("eight")); // 8

    // A frame for id 1 whole, the next one (id 8) only in part; its rest later.
    const QByteArray big(3000, 'x');
    const QByteArray second = Frame(8, big);
    peer.Client->write(peer.Compress(Frame(1, "a") + second.left(5)));
    QTRY_COMPARE(order, QStringList({QStringLiteral("one:a")}));
    peer.Client->write(peer.Compress(second.mid(5, 1000)));
    peer.Client->write(peer.Compress(second.mid(1005)));
    QTRY_COMPARE(order.size(), 2);
    QCOMPARE(order[1], QStringLiteral("eight:") + QString::fromLatin1(big));

    // Several frames in one arrival, in order; ids that match no slot carry nothing.
    order.clear();
    peer.SendFrames(Frame(0, "zero") + Frame(9, "nine") + Frame(-3, "minus") + Frame(8, "b") + Frame(1, "c") +
                    Frame(1, ""));
    QTRY_COMPARE(order.size(), 3);
    QCOMPARE(order, QStringList({QStringLiteral("eight:b"), QStringLiteral("one:c"), QStringLiteral("one:")}));
    QCOMPARE(talk->GetState(), TTalkWithServer::Connected);
}

void TstTalkWithServer::keptBodiesStayIntactAsMoreArrives()
{
    // Bodies are handed over without a copy; one a callback keeps must not change when the
    // receive buffer takes, moves or drops the bytes around it.
    TPeer peer;
    TAnswers kept; // outlives the conversation, which answers it once more as it goes
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    talk->SendMessage(MakeMessage({"command", "listen_for_alerts"}), true, kept.Callback()); // 1
    QList<QByteArray> expected;
    for (int arrival = 0; arrival < 20; ++arrival) {
        QByteArray frames;
        for (int i = 0; i < 50; ++i) {
            const QByteArray body = "alert " + QByteArray::number(arrival * 50 + i) + ' ' +
                                    QByteArray((arrival * 7 + i) % 300, char('a' + i % 26));
            expected.append(body);
            frames += Frame(1, body);
        }
        peer.SendFrames(frames);
        QTRY_COMPARE(kept.Got.size(), expected.size());
    }
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(kept.Got[i].second, expected[i]);
}

void TstTalkWithServer::persistentCallbackAndShutdownAnswerEveryoneOnce()
{
    TPeer peer;
    TAnswers listen, ping, late;
    QList<bool> hook;
    int disconnects = 0;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    talk->OnResponse = [&](bool success, const QByteArray&, const TMessageToServer&) { hook << success; };
    talk->OnDisconnected = [&] { ++disconnects; };
    talk->SendMessage(MakeMessage({"command", "listen_for_alerts"}), true, listen.Callback()); // 1
    talk->SendMessage(Ping(), false, [&](bool success, const QByteArray& body, const TMessageToServer& m) {
        ping.Got.append({success, body});
        // Sent while the conversation shuts down: answered at once.
        talk->SendMessage(Ping(), false, late.Callback());
    }); // 8

    peer.SendFrames(Frame(1, "alert 1") + Frame(1, "alert 2"));
    peer.SendFrames(Frame(1, "alert 3"));
    QTRY_COMPARE(listen.Got.size(), 3);
    QCOMPARE(hook, QList<bool>({true, true, true}));

    peer.Client->disconnectFromHost();
    QTRY_COMPARE(talk->GetState(), TTalkWithServer::Closed);
    QCOMPARE(disconnects, 1);
    QCOMPARE(talk->GetDisconnectReason(), QByteArray("Unexpected disconnect from server."));
    QCOMPARE(listen.Got.size(), 4);
    QCOMPARE(listen.Got[3], qMakePair(false, QByteArray()));
    QCOMPARE(ping.Got, OneFailure());
    QCOMPARE(late.Got, OneFailure());
    // The hook ran for the ping's error and for the late one, not for the persistent request.
    QCOMPARE(hook, QList<bool>({true, true, true, false, false}));
    QCOMPARE(talk->PendingSlotCount(), 0);

    // Nothing is answered twice, not even when the conversation is destroyed.
    talk.reset();
    QCOMPARE(listen.Got.size(), 4);
    QCOMPARE(ping.Got.size(), 1);
}

void TstTalkWithServer::destructionAnswersWaitingCallbacks()
{
    TPeer peer;
    TAnswers a, b;
    {
        auto talk = ConnectedTalk(peer);
        QVERIFY(talk);
        talk->SendMessage(Ping(), false, a.Callback());
        talk->SendMessage(MakeMessage({"command", "listen_for_alerts"}), true, b.Callback());
    }
    QCOMPARE(a.Got, OneFailure());
    QCOMPARE(b.Got, OneFailure());
    // The peer sees the connection end.
    QTRY_COMPARE(peer.Client->state(), QAbstractSocket::UnconnectedState);

    // A conversation destroyed before it was ever connected answers too.
    TAnswers c;
    {
        TTalkWithServer talk;
        talk.SendMessage(Ping(), false, c.Callback());
    }
    QCOMPARE(c.Got.size(), 1);
}

void TstTalkWithServer::callbackErrorsAreReportedAndDispatchGoesOn()
{
    TPeer peer;
    TAnswers after, last;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    talk->SendMessage(Ping(), false, [](bool, const QByteArray&, const TMessageToServer&) {
        throw EVeskError(QStringLiteral("callback broke"));
    });
    talk->SendMessage(Ping(), false, after.Callback());
    peer.SendFrames(Frame(1, "p1") + Frame(8, "p8"));
    QTRY_COMPARE(after.Got.size(), 1);
    QVERIFY2(DebugText().contains(QStringLiteral(
                 "Class=EVeskError, Message=callback broke, Location=TTalkWithServer.SendGoodResponse, "
                 "(\"command\" --> \"ping\", \"response\" --> \"1\")")),
             qPrintable(DebugText()));
    QCOMPARE(talk->GetState(), TTalkWithServer::Connected);

    // The same at shutdown: the other callbacks still get their answers.
    talk->SendMessage(MakeMessage({"command", "x"}), false, [](bool, const QByteArray&, const TMessageToServer&) {
        throw std::runtime_error("error answer broke");
    });
    talk->SendMessage(Ping(), false, last.Callback());
    talk.reset();
    QCOMPARE(last.Got.size(), 1);
    QVERIFY(DebugText().contains(QStringLiteral("Location=TTalkWithServer.SendErrorResponse, (\"command\" --> \"x\")")));
}

void TstTalkWithServer::invalidDataClosesTheConversation_data()
{
    QTest::addColumn<QByteArray>("bad");
    QTest::addColumn<bool>("compressBad");
    QTest::addColumn<QByteArray>("reason");
    // After a good sync-flushed block, a deflate block header of the reserved type.
    QTest::newRow("not zlib") << QByteArray("\x06\x06\x06\x06", 4) << false << QByteArray("data error");
    QTest::newRow("negative length") << (Int(1) + Int(-5) + "abc") << true << QByteArray("negative frame length");
    QTest::newRow("huge length") << (Int(1) + Int(TTalkWithServer::MaxFrameLength + 1)) << true
                                 << QByteArray("frame too long");
}

void TstTalkWithServer::invalidDataClosesTheConversation()
{
    QFETCH(QByteArray, bad);
    QFETCH(bool, compressBad);
    QFETCH(QByteArray, reason);
    TPeer peer;
    TAnswers listen;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    talk->SendMessage(MakeMessage({"command", "listen_for_alerts"}), true, listen.Callback());
    // A good frame comes first in the same arrival and is still delivered.
    const QByteArray good = Frame(1, "before");
    const QByteArray arrival = compressBad ? peer.Compress(good + bad) : peer.Compress(good) + bad;
    peer.Client->write(arrival);

    QTRY_COMPARE(talk->GetState(), TTalkWithServer::Closed);
    QCOMPARE(talk->GetDisconnectReason(), "Invalid data from server: " + reason);
    QCOMPARE(listen.Got.first(), qMakePair(true, QByteArray("before")));
    QCOMPARE(listen.Got.last(), qMakePair(false, QByteArray()));
    QCOMPARE(listen.Got.size(), 2);
    QVERIFY(DebugText().contains(QStringLiteral("Message=") + QString::fromLatin1(reason) +
                                 QStringLiteral(", Location=TalkWithServer, TTalkWithServer.ServerConnectionDataAvailable")));
    // We closed it, not the peer.
    QTRY_COMPARE(peer.Client->state(), QAbstractSocket::UnconnectedState);
}

void TstTalkWithServer::requestsThatCannotGoOutAreAnsweredAtOnce()
{
    TPeer peer;
    TAnswers answers;
    QList<bool> hook;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    // Every key empty: nothing to write, even while connected.
    const TMessageHandle empty =
        talk->SendMessage(MakeMessage({"", "value"}), false, answers.Callback());
    QCOMPARE(answers.Got, OneFailure());
    QCOMPARE(empty.MessageId, 0);
    QCOMPARE(empty.Serial, quint64(0));

    // No callback: no id, no slot, and the request goes out without "message_id".
    const TMessageHandle blind = talk->SendMessage(MakeMessage({"command", "ping", "", "skipped"}), false, {});
    QCOMPARE(blind.MessageId, 0);
    QCOMPARE(talk->PendingSlotCount(), 0);
    QTRY_COMPARE(peer.Requests.size(), 1);
    QCOMPARE(peer.Requests[0], TPairs({{"command", "ping"}}));

    peer.Client->disconnectFromHost();
    QTRY_COMPARE(talk->GetState(), TTalkWithServer::Closed);
    answers.Got.clear();
    talk->OnResponse = [&](bool success, const QByteArray&, const TMessageToServer&) { hook << success; };
    const TMessageHandle closed = talk->SendMessage(Ping(), false, answers.Callback());
    // Answered before SendMessage returned.
    QCOMPARE(answers.Got, OneFailure());
    QCOMPARE(hook, QList<bool>({false}));
    QCOMPARE(closed.MessageId, 0);
    talk->SendMessage(Ping(), false, {}); // dropped without a word
}

void TstTalkWithServer::connectionFailuresGiveTheirReasons()
{
    {
        // Refused: ends as closed, never connected.
        int connected = 0, disconnected = 0;
        TAnswers answers;
        TTalkWithServer talk;
        talk.ServerAddress = RefusedAddress();
        talk.OnConnected = [&] { ++connected; };
        talk.OnDisconnected = [&] { ++disconnected; };
        talk.SendMessage(Ping(), false, answers.Callback());
        talk.Connect();
        QCOMPARE(talk.GetState(), TTalkWithServer::Starting);
        QTRY_COMPARE(talk.GetState(), TTalkWithServer::Closed);
        QCOMPARE(connected, 0);
        QCOMPARE(disconnected, 1);
        QCOMPARE(talk.GetDisconnectReason(), QByteArray("Error in server connection."));
        QCOMPARE(answers.Got.size(), 1);
    }
    {
        // A name that cannot be looked up.
        TTalkWithServer talk;
        talk.ServerAddress = QByteArray(UnknownHost) + ":9339";
        talk.Connect();
        QTRY_COMPARE(talk.GetState(), TTalkWithServer::Closed);
        QCOMPARE(talk.GetDisconnectReason(), QByteArray("DNS error"));
    }
    {
        // A port that is no port fails inside Connect.
        TTalkWithServer talk;
        talk.ServerAddress = "127.0.0.1:9339:1";
        talk.Connect();
        QCOMPARE(talk.GetState(), TTalkWithServer::Closed);
        QCOMPARE(talk.GetDisconnectReason(),
                 QByteArray("TSocketServerConnection.Connect, ESocketError, connect: invalid port '9339:1'"));
        // Used once: connecting again is a programming error.
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, talk.Connect());
    }
}

void TstTalkWithServer::serverAddressIsSplitAtTheFirstColon()
{
    TTalkWithServer talk;
    talk.ServerAddress = "127.0.0.1";
    talk.Connect();
    auto* c = qobject_cast<TSocketServerConnection*>(talk.GetConnection());
    QVERIFY(c);
    QCOMPARE(c->GetHost(), QByteArray("127.0.0.1"));
    QCOMPARE(c->GetPort(), QByteArray("8888"));
    // SOCKS options reach the connection only with level 4 or 5.
    TTalkWithServer socks;
    socks.ServerAddress = "alerts.example:9339";
    socks.SocksServer = "127.0.0.1";
    socks.SocksPort = 1;
    socks.SocksLevel = 3;
    socks.Connect();
    QVERIFY(socks.GetConnection()->SocksServer.isEmpty());
    QCOMPARE(qobject_cast<TSocketServerConnection*>(socks.GetConnection())->GetPort(), QByteArray("9339"));
}

void TstTalkWithServer::largeBurstArrivesIntactAndInOrder()
{
    TPeer peer;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    // Values that do not compress, so the early sends of full blocks happen many times.
    QList<QByteArray> values;
    for (int i = 0; i < 300; ++i) {
        QByteArray v(1000, Qt::Uninitialized);
        for (char& ch : v)
            ch = char(QRandomGenerator::global()->generate());
        values << v;
        talk->SendMessage(MakeMessage({"command", "blob", "n", i, "data", v}), false, {});
    }
    QTRY_COMPARE(peer.Requests.size(), 300);
    for (int i = 0; i < 300; ++i)
        QCOMPARE(peer.Requests[i], TPairs({{"command", "blob"}, {"n", QByteArray::number(i)}, {"data", values[i]}}));
}

void TstTalkWithServer::oneFlushedBlockPerTurnAndEarlyBlocksInABurst()
{
    TPeer peer;
    auto talk = ConnectedTalk(peer);
    QVERIFY(talk);
    QTcpSocket* socket = ClientSocket(*talk);
    QVERIFY(socket);
    QTRY_COMPARE(socket->bytesToWrite(), 0); // the opening command is out
    QCOMPARE(SyncFlushes(peer.Raw), 0);

    // Small requests of one turn: nothing leaves before the turn is over, then one block
    // with one flush; a second turn makes a second block.
    for (int i = 0; i < 20; ++i)
        talk->SendMessage(MakeMessage({"command", "small", "n", i}), false, {});
    QCOMPARE(socket->bytesToWrite(), 0);
    QTRY_COMPARE(peer.Requests.size(), 20);
    QCOMPARE(SyncFlushes(peer.Raw), 1);
    talk->SendMessage(Ping(), false, {});
    talk->SendMessage(Ping(), false, {});
    QTRY_COMPARE(peer.Requests.size(), 22);
    QCOMPARE(SyncFlushes(peer.Raw), 2);

    // A burst that does not compress: blocks of more than 4999 bytes go to the connection
    // while the turn is still running, each without a flush; the rest goes with the one
    // flush at the end of the turn.
    const qsizetype rawBefore = peer.Raw.size();
    qint64 handed = 0;
    QList<qint64> blocks;
    for (int i = 0; i < 100; ++i) {
        QByteArray v(1000, Qt::Uninitialized);
        for (char& ch : v)
            ch = char(QRandomGenerator::global()->generate());
        talk->SendMessage(MakeMessage({"command", "blob", "data", v}), false, {});
        if (socket->bytesToWrite() != handed) {
            blocks << socket->bytesToWrite() - handed;
            handed = socket->bytesToWrite();
        }
    }
    QVERIFY(blocks.size() >= 2);
    for (qint64 block : blocks)
        QVERIFY2(block > 4999, qPrintable(QString::number(block)));
    QTRY_COMPARE(peer.Requests.size(), 122);
    QCOMPARE(SyncFlushes(peer.Raw), 3);
    // What waited for the end of the turn is at most 4999 bytes plus what deflate itself
    // holds back (a block of about 16 kB for data that does not compress), not the burst.
    const qint64 rest = qint64(peer.Raw.size() - rawBefore) - handed;
    QVERIFY2(rest > 0 && rest < 4999 + 20'000, qPrintable(QStringLiteral("%1 of %2").arg(rest).arg(handed + rest)));
}

void TstTalkWithServer::loginAndPingWithTheDemoServer()
{
    TDemoServer server;
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TAnswers login, ping;
    TTalkWithServer talk;
    talk.ServerAddress = server.Address().toLatin1();
    talk.SendMessage(MakeMessage({"command", "login", "username", "x", "password", "y", "session_id", ""}), true,
                     login.Callback());
    talk.SendMessage(Ping(), false, ping.Callback());
    talk.Connect();
    QTRY_COMPARE(ping.Got.size(), 1);
    QVERIFY(ping.Got[0].first);
    QVERIFY(!login.Got.isEmpty());
    QVERIFY2(login.Got[0].second.startsWith("SESSION ID\r\n"), login.Got[0].second.constData());
    QVERIFY(login.Got[0].second.size() > int(qstrlen("SESSION ID\r\n")));
}

QTEST_MAIN(TstTalkWithServer)
#include "tst_talkwithserver.moc"
