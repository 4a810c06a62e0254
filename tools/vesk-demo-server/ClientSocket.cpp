#include "ClientSocket.h"

#include "Conversation.h"
#include "ServerLog.h"
#include "WireFormat.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTimer>

namespace {

constexpr qsizetype MaxHeaderBytes = 64 * 1024;
constexpr qint64 MaxPostBody = 1024 * 1024;
// A client that stops reading must not make the server hoard its output.
constexpr qint64 MaxUnsentBytes = 64 * 1024 * 1024;
constexpr qint64 ReadPiece = 64 * 1024;

const char* const HttpMethods[] = {"GET ", "POST ", "HEAD ", "PUT ", "DELETE ", "OPTIONS ",
                                   "CONNECT "};

QByteArray JsonNumberOrNull(int n) { return n > 0 ? QByteArray::number(n) : QByteArray("null"); }

}  // namespace

TClientSocket::TClientSocket(QTcpSocket* socket, TServerState& state, QObject* parent)
    : QObject(parent), Socket(socket), Server(state)
{
    Socket->setParent(this);
    connect(Socket, &QTcpSocket::readyRead, this, &TClientSocket::ReadyRead);
    connect(Socket, &QTcpSocket::disconnected, this, &TClientSocket::Disconnected);
    if (Socket->state() != QAbstractSocket::ConnectedState)
        QTimer::singleShot(0, this, &TClientSocket::Disconnected);
}

TClientSocket::~TClientSocket()
{
    if (!TunnelId.isEmpty())
        Server.UnregisterTunnel(TunnelId);
}

void TClientSocket::ReadyRead()
{
    while (Socket->bytesAvailable() > 0 && Mode != TMode::Done) {
        const QByteArray piece = Socket->read(ReadPiece);
        if (piece.isEmpty())
            break;
        switch (Mode) {
        case TMode::Unknown:
            Buffer += piece;
            Classify();
            break;
        case TMode::Conversation:
            Talk->Input(piece);
            break;
        case TMode::HttpHeaders:
            Buffer += piece;
            HandleHttpHeaders();
            break;
        case TMode::PostBody:
            Buffer += piece;
            if (Buffer.size() >= Request.ContentLength)
                FinishPost();
            break;
        case TMode::TunnelDownload:
        case TMode::Done:
            break;  // nothing more is read on these
        }
    }
}

void TClientSocket::Classify()
{
    bool couldBeHttp = false;
    for (const char* method : HttpMethods) {
        const QByteArray m(method);
        if (Buffer.startsWith(m)) {
            Mode = TMode::HttpHeaders;
            HandleHttpHeaders();
            return;
        }
        if (m.startsWith(Buffer))
            couldBeHttp = true;
    }
    if (couldBeHttp)
        return;  // wait for the next bytes
    const QByteArray first = Buffer;
    Buffer.clear();
    StartConversation(first);
}

void TClientSocket::StartConversation(const QByteArray& firstBytes)
{
    Mode = TMode::Conversation;
    ConnNumber = Server.NextConn();
    LogLine("CONN " + QByteArray::number(ConnNumber) + " open");
    Talk = new TConversation(
        ConnNumber, Server.Options(), [this](const QByteArray& b) { WriteToClient(b); },
        [this] { CloseFromServer(); }, [this] { return Socket->bytesToWrite(); }, this);
    Talk->Input(firstBytes);
}

void TClientSocket::WriteToClient(const QByteArray& bytes)
{
    if (Socket->state() != QAbstractSocket::ConnectedState)
        return;
    Socket->write(bytes);
    if (Socket->bytesToWrite() > MaxUnsentBytes) {
        LogProblem("conn " + QByteArray::number(ConnNumber) +
                   ": client does not read its alerts; dropping it");
        if (Talk)
            Talk->Detach();
        Socket->abort();
    }
}

void TClientSocket::CloseFromServer()
{
    Mode = TMode::Done;
    Socket->disconnectFromHost();
}

void TClientSocket::Disconnected()
{
    if (Talk)
        Talk->Detach();
    if (ConnNumber > 0 && !CloseLogged) {
        CloseLogged = true;
        LogLine("CONN " + QByteArray::number(ConnNumber) + " close");
    }
    if (!TunnelId.isEmpty()) {
        Server.UnregisterTunnel(TunnelId);
        TunnelId.clear();
    }
    Mode = TMode::Done;
    deleteLater();
}

void TClientSocket::HandleHttpHeaders()
{
    switch (ReadRequestHead(Buffer, MaxHeaderBytes, Request)) {
    case THeadResult::Incomplete:
        return;
    case THeadResult::TooLarge:
        Answer(431, "Request Header Fields Too Large");
        return;
    case THeadResult::Bad:
        Answer(400, "Bad Request");
        return;
    case THeadResult::Complete:
        break;
    }
    const qint64 length = Request.ContentLength;

    if (Request.Method == "GET") {
        StartTunnel();
    } else if (Request.Method == "POST") {
        if (Request.Path != "/upload") {
            Answer(404, "Not Found");
        } else if (length == -1) {
            Answer(411, "Length Required");
        } else if (length < 0 || length > MaxPostBody) {
            Answer(413, "Payload Too Large");
        } else {
            Mode = TMode::PostBody;
            if (Buffer.size() >= length)
                FinishPost();
        }
    } else {
        Answer(405, "Method Not Allowed");
    }
}

void TClientSocket::StartTunnel()
{
    Mode = TMode::TunnelDownload;
    Buffer.clear();
    ConnNumber = Server.NextConn();
    TunnelId = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    Server.RegisterTunnel(TunnelId, this);
    LogLine("CONN " + QByteArray::number(ConnNumber) + " open");

    QHostAddress local = Socket->localAddress();
    QByteArray host = local.toString().toLatin1();
    if (local.protocol() == QAbstractSocket::IPv6Protocol)
        host = '[' + host + ']';
    // No Content-Length: the body lasts as long as the conversation.
    Socket->write("HTTP/1.0 200 OK\r\n"
                  "Content-Type: application/octet-stream\r\n"
                  "Cache-Control: no-cache\r\n"
                  "Connection: close\r\n"
                  "\r\n"
                  "VESK TUNNEL 1\r\n"
                  "http://" + host + ':' + QByteArray::number(Server.Port()) +
                  "/upload?session=" + TunnelId + "\r\n");
    Talk = new TConversation(
        ConnNumber, Server.Options(), [this](const QByteArray& b) { WriteToClient(b); },
        [this] { CloseFromServer(); }, [this] { return Socket->bytesToWrite(); }, this);
}

int TClientSocket::UploadStatus(qint64 sequence) const
{
    if (!Talk || Mode != TMode::TunnelDownload)
        return 404;
    if (sequence > NextSequence)
        return 409;  // an upload was skipped; applying this one would corrupt the stream
    return 200;      // the next one, or a resend of one already applied
}

void TClientSocket::Upload(qint64 sequence, const QByteArray& bytes)
{
    if (UploadStatus(sequence) != 200 || sequence < NextSequence)
        return;
    ++NextSequence;
    Talk->Input(bytes);
}

void TClientSocket::FinishPost()
{
    Mode = TMode::Done;
    const QByteArray body = Buffer.left(Request.ContentLength);
    Buffer.clear();
    QByteArray session;
    for (const auto& [key, value] : ParseUrlForm(Request.Query))
        if (key == "session")
            session = value;
    qint64 sequence = -1;
    QByteArray encoded;
    bool haveSequence = false;
    bool haveBody = false;
    for (const auto& [key, value] : ParseUrlForm(body)) {
        if (key == "sequence")
            sequence = value.toLongLong(&haveSequence);
        else if (key == "body") {
            encoded = value;
            haveBody = true;
        }
    }

    int status = 200;
    int conn = 0;
    std::optional<QByteArray> bytes;
    TTunnelEnd* tunnel = nullptr;
    if (Server.CountPost() <= Server.Options().PostFail) {
        status = 500;
    } else if (!haveSequence || sequence < 0 || !haveBody) {
        status = 400;
    } else if (bytes = P64Decode(encoded); !bytes) {
        status = 400;
    } else if (tunnel = Server.FindTunnel(session); !tunnel) {
        status = 404;
    } else {
        conn = tunnel->Conn();
        status = tunnel->UploadStatus(sequence);
    }
    const qsizetype size = bytes ? bytes->size() : 0;
    // Logged before the requests it carries are read, so the log keeps their order.
    LogLine("POST {\"conn\":" + JsonNumberOrNull(conn) + ",\"sequence\":" +
            (haveSequence ? QByteArray::number(sequence) : QByteArray("null")) +
            ",\"bytes\":" + QByteArray::number(size) + ",\"status\":" + QByteArray::number(status) +
            "}");
    if (tunnel && status == 200)
        tunnel->Upload(sequence, *bytes);
    static const QHash<int, QByteArray> reasons = {
        {200, "OK"}, {400, "Bad Request"}, {404, "Not Found"}, {409, "Conflict"},
        {500, "Internal Server Error"}};
    const int delay = Server.Options().PostDelayMs;
    if (delay > 0)
        QTimer::singleShot(delay, this, [this, status] { Answer(status, reasons.value(status)); });
    else
        Answer(status, reasons.value(status));
}

void TClientSocket::Answer(int status, const QByteArray& reason)
{
    Mode = TMode::Done;
    if (Socket->state() != QAbstractSocket::ConnectedState)
        return;
    Socket->write("HTTP/1.0 " + QByteArray::number(status) + ' ' + reason +
                  "\r\nContent-Type: text/plain\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    Socket->disconnectFromHost();
}
