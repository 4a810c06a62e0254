#include "support/HostileServer.h"

#include <QDir>
#include <QTimer>
#include <QtEndian>
#include <sys/socket.h>
#include <zlib.h>

namespace {
const QByteArray OpeningText = "command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n";

QByteArray Le32(qint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}
} // namespace

QByteArray THostileRequest::Value(const QByteArray& key) const
{
    for (const auto& [k, v] : Pairs)
        if (k == key)
            return v;
    return {};
}

struct THostilePeer::TZ {
    z_stream Deflate{};
    z_stream Inflate{};
    TZ()
    {
        deflateInit(&Deflate, Z_DEFAULT_COMPRESSION);
        inflateInit(&Inflate);
    }
    ~TZ()
    {
        deflateEnd(&Deflate);
        inflateEnd(&Inflate);
    }
};

THostilePeer::THostilePeer(QTcpSocket* socket, int number, QObject* parent)
    : QObject(parent), Sock(socket), ConnNumber(number), Z(std::make_unique<TZ>())
{
    Sock->setParent(this);
    connect(Sock, &QTcpSocket::readyRead, this, &THostilePeer::ReadSome);
}

THostilePeer::~THostilePeer() = default;

bool THostilePeer::IsOpen() const { return Sock->state() == QAbstractSocket::ConnectedState; }

QByteArray THostilePeer::Compress(const QByteArray& plain)
{
    QByteArray out;
    z_stream& s = Z->Deflate;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    s.avail_in = uInt(plain.size());
    do {
        const qsizetype old = out.size();
        out.resize(old + 65536);
        s.next_out = reinterpret_cast<Bytef*>(out.data() + old);
        s.avail_out = 65536;
        deflate(&s, Z_SYNC_FLUSH);
        out.resize(old + 65536 - s.avail_out);
    } while (s.avail_out == 0 || s.avail_in > 0);
    return out;
}

void THostilePeer::SendFrame(qint32 id, const QByteArray& body) { SendPlain(Le32(id) + Le32(qint32(body.size())) + body); }

void THostilePeer::SendPlain(const QByteArray& plain) { SendRaw(Compress(plain)); }

void THostilePeer::SendRaw(const QByteArray& bytes)
{
    if (IsOpen())
        Sock->write(bytes);
}

void THostilePeer::TrickleRaw(const QByteArray& bytes)
{
    const bool idle = TrickleLeft.isEmpty();
    TrickleLeft += bytes;
    if (idle)
        QTimer::singleShot(0, this, &THostilePeer::Trickle);
}

void THostilePeer::Trickle()
{
    if (TrickleLeft.isEmpty() || !IsOpen())
        return;
    Sock->write(TrickleLeft.left(1));
    Sock->flush();
    TrickleLeft.remove(0, 1);
    if (!TrickleLeft.isEmpty())
        QTimer::singleShot(1, this, &THostilePeer::Trickle);
}

void THostilePeer::Close()
{
    Sock->flush();
    Sock->disconnectFromHost();
}

void THostilePeer::Reset()
{
    Sock->flush();
    Sock->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    struct linger l = {1, 0};
    ::setsockopt(int(Sock->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Sock->abort();
}

void THostilePeer::HalfClose()
{
    Sock->flush();
    ::shutdown(int(Sock->socketDescriptor()), SHUT_WR);
}

void THostilePeer::ReadSome()
{
    QByteArray bytes = Sock->readAll();
    auto* server = qobject_cast<THostileServer*>(parent());
    if (server && server->OnRawBytes) {
        server->OnRawBytes(*this, bytes);
        return;
    }
    if (!OpeningDone) {
        Opening += bytes;
        if (Opening.size() < OpeningText.size())
            return;
        bytes = Opening.mid(OpeningText.size());
        OpeningDone = true;
        if (server && server->OnOpened)
            server->OnOpened(*this);
    }
    z_stream& s = Z->Inflate;
    s.next_in = reinterpret_cast<Bytef*>(bytes.data());
    s.avail_in = uInt(bytes.size());
    while (s.avail_in > 0) {
        char out[65536];
        s.next_out = reinterpret_cast<Bytef*>(out);
        s.avail_out = sizeof out;
        const int rc = inflate(&s, Z_SYNC_FLUSH);
        Plain.append(out, qsizetype(sizeof out - s.avail_out));
        if (rc != Z_OK)
            break;
    }
    // Requests: length-prefixed key and value strings, ended by a zero length.
    for (;;) {
        THostileRequest request;
        qsizetype at = 0;
        bool whole = false;
        QByteArray key;
        bool haveKey = false;
        while (at + 4 <= Plain.size()) {
            const qint32 n = qFromLittleEndian<qint32>(Plain.constData() + at);
            if (n == 0 && !haveKey) {
                at += 4;
                whole = true;
                break;
            }
            if (n < 0 || at + 4 + n > Plain.size())
                break;
            const QByteArray text = Plain.mid(at + 4, n);
            at += 4 + n;
            if (!haveKey) {
                key = text;
                haveKey = true;
            } else {
                if (key == "message_id")
                    request.Id = text.toInt();
                else
                    request.Pairs.append({key, text});
                haveKey = false;
            }
        }
        if (!whole)
            return;
        Plain.remove(0, at);
        Seen.append(request);
        if (server && server->OnRequest)
            server->OnRequest(*this, request);
        if (!IsOpen())
            return;
    }
}

THostileServer::THostileServer()
{
    Listener.listen(QHostAddress::LocalHost, 0);
    connect(&Listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = Listener.nextPendingConnection()) {
            auto* peer = new THostilePeer(socket, int(Peers.size()) + 1, this);
            Peers.append(peer);
            if (OnAccepted)
                OnAccepted(*peer);
        }
    });
}

THostileServer::~THostileServer() { DropPeers(); }

void THostileServer::DropPeers()
{
    for (THostilePeer* peer : Peers) {
        peer->Sock->abort();
        delete peer;
    }
    Peers.clear();
}

QByteArray THostileServer::Address() const { return "127.0.0.1:" + QByteArray::number(Port()); }

void THostileServer::AnswerPolitely(THostilePeer& peer, const THostileRequest& request)
{
    const QByteArray command = request.Command();
    if (command == "login" && request.Id > 0)
        peer.SendFrame(request.Id, "SESSION ID\r\nS" + QByteArray::number(peer.Number()));
    else if (command == "ping" && request.Id > 0)
        peer.SendFrame(request.Id, QByteArray());
}

int OpenDescriptorCount() { return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size()); }
