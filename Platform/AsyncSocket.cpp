#include "Platform/AsyncSocket.h"

#include "Platform/NumberText.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QTcpSocket>

namespace {

// SOCKS 4 answers with 8 bytes: a zero, the result code, then port and address.
constexpr int Socks4ReplyLength = 8;
constexpr char Socks4Granted = 0x5A;

// Compact the receive buffer only when the consumed front is large; otherwise just move the
// offset, so taking bytes in small pieces never copies the rest each time.
constexpr qsizetype CompactThreshold = 64 * 1024;

// Received bytes the socket holds for us before it stops reading from the network. An owner
// that works slowly through a flood thus holds a bounded amount, and the sender is slowed by
// the network itself.
constexpr qint64 ReadBufferLimit = 1024 * 1024;

TSocketError ErrorKind(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::ProxyNotFoundError:
        return TSocketError::HostNotFound;
    case QAbstractSocket::ConnectionRefusedError:
        return TSocketError::ConnectionRefused;
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return TSocketError::Timeout;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return TSocketError::ProxyAuthentication;
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyProtocolError:
        return TSocketError::ProxyFailed;
    case QAbstractSocket::RemoteHostClosedError:
        return TSocketError::RemoteClosed;
    case QAbstractSocket::NetworkError:
        return TSocketError::Network;
    default:
        return TSocketError::Other;
    }
}

QString Latin1(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

} // namespace

TSocks4Reply ParseSocks4Reply(const char* data, qsizetype size)
{
    TSocks4Reply reply;
    if (size < Socks4ReplyLength)
        return reply;
    reply.Code = int(quint8(data[1]));
    reply.Kind = data[1] == Socks4Granted ? TSocks4Reply::Granted : TSocks4Reply::Refused;
    reply.Length = Socks4ReplyLength;
    return reply;
}

TAsyncSocket::TAsyncSocket(QObject* parent) : QObject(parent) {}

TAsyncSocket::~TAsyncSocket()
{
    // Posted notifications die with this object; only the socket and a lookup can still
    // reach us, so cut them off first.
    DetachSocket();
}

void TAsyncSocket::Post(std::function<void()> call)
{
    // Queued, never direct: the owner must never be called back from inside its own call
    // into the socket. Events posted to this object are dropped when it is destroyed.
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void TAsyncSocket::SetState(TSocketState state)
{
    if (state == SocketState)
        return;
    const TSocketState old = SocketState;
    SocketState = state;
    Post([this, old, state] {
        if (OnChangeState)
            OnChangeState(old, state);
    });
}

void TAsyncSocket::PostDataAvailable()
{
    if (DataNotificationPending)
        return;
    DataNotificationPending = true;
    Post([this] {
        DataNotificationPending = false;
        if (BytesWaiting() > 0 && OnDataAvailable)
            OnDataAvailable();
    });
}

void TAsyncSocket::DetachSocket()
{
    if (LookupId >= 0) {
        QHostInfo::abortHostLookup(LookupId);
        LookupId = -1;
    }
    if (Socket) {
        QObject::disconnect(Socket, nullptr, this, nullptr);
        Socket->abort();
        // Possibly inside one of its own signals: let the event loop free it.
        Socket->setParent(nullptr);
        Socket->deleteLater();
        Socket = nullptr;
    }
}

void TAsyncSocket::Fail(TSocketError error, const QString& text)
{
    if (SocketState == Closed)
        return;
    Error = error;
    ErrorText = text;
    const bool wasUp = SocketState == Connected;
    DetachSocket();
    SetState(Closed);
    const int code = int(error);
    if (!wasUp) {
        Post([this, code] {
            if (OnSessionConnected)
                OnSessionConnected(code);
        });
    }
    Post([this, code] {
        if (OnSessionClosed)
            OnSessionClosed(code);
    });
}

void TAsyncSocket::Connect()
{
    if (Used)
        throw ESocketError(QStringLiteral("connect: this socket has already been used"));
    if (Addr.isEmpty())
        throw ESocketError(QStringLiteral("connect: no remote address"));
    TargetPort = ParsePortText(Port);
    if (TargetPort == 0)
        throw ESocketError(QStringLiteral("connect: invalid port '%1'").arg(Latin1(Port)));

    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    UseSocks4 = false;
    if (!SocksServer.isEmpty()) {
        const quint16 socksPort = ParsePortText(SocksPort);
        if (socksPort == 0)
            throw ESocketError(QStringLiteral("connect: invalid SOCKS port '%1'").arg(Latin1(SocksPort)));
        if (SocksLevel == "5") {
            proxy = QNetworkProxy(QNetworkProxy::Socks5Proxy, Latin1(SocksServer), socksPort);
            if (SocksAuthentication == TSocksAuthentication::UserCode) {
                proxy.setUser(Latin1(SocksUserCode));
                proxy.setPassword(Latin1(SocksPassword));
            }
        } else if (SocksLevel == "4") {
            UseSocks4 = true;
        } else {
            throw ESocketError(QStringLiteral("connect: unsupported SOCKS level '%1'").arg(Latin1(SocksLevel)));
        }
    }

    QHostAddress numeric;
    const bool isNumeric = numeric.setAddress(Latin1(Addr));
    if (UseSocks4 && isNumeric && numeric.protocol() != QAbstractSocket::IPv4Protocol)
        throw ESocketError(QStringLiteral("connect: SOCKS 4 carries only IPv4 addresses, not %1").arg(Latin1(Addr)));

    Used = true;
    Error = TSocketError::None;
    ErrorText.clear();

    Socket = new QTcpSocket(this);
    Socket->setProxy(proxy);
    Socket->setReadBufferSize(ReadBufferLimit);
    connect(Socket, &QTcpSocket::connected, this, &TAsyncSocket::SocketConnected);
    connect(Socket, &QTcpSocket::readyRead, this, &TAsyncSocket::SocketReadyRead);
    connect(Socket, &QTcpSocket::errorOccurred, this, &TAsyncSocket::SocketError);
    connect(Socket, &QTcpSocket::stateChanged, this, &TAsyncSocket::SocketStateChanged);

    if (UseSocks4) {
        if (isNumeric) {
            SetState(Connecting);
            StartSocket(Latin1(SocksServer), ParsePortText(SocksPort));
            return;
        }
        // SOCKS 4 needs the address itself: look the name up here, without blocking.
        SetState(Resolving);
        LookupId = QHostInfo::lookupHost(Latin1(Addr), this, &TAsyncSocket::Socks4LookedUp);
        return;
    }
    SetState(isNumeric || proxy.type() != QNetworkProxy::NoProxy ? Connecting : Resolving);
    StartSocket(Latin1(Addr), TargetPort);
}

void TAsyncSocket::StartSocket(const QString& host, quint16 port)
{
    // May report a failure (for example a refused loopback port) before it returns; the
    // handlers only post, so the owner still hears of it later.
    Socket->connectToHost(host, port);
}

void TAsyncSocket::Socks4LookedUp(const QHostInfo& info)
{
    LookupId = -1;
    if (SocketState != Resolving)
        return;
    QHostAddress target;
    for (const QHostAddress& a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            target = a;
            break;
        }
    }
    if (info.error() != QHostInfo::NoError || target.isNull()) {
        Fail(TSocketError::HostNotFound,
             info.error() != QHostInfo::NoError
                 ? QStringLiteral("host not found: %1 (%2)").arg(Latin1(Addr), info.errorString())
                 : QStringLiteral("host not found: %1 has no IPv4 address").arg(Latin1(Addr)));
        return;
    }
    Addr = target.toString().toLatin1();
    SetState(Connecting);
    StartSocket(Latin1(SocksServer), ParsePortText(SocksPort));
}

void TAsyncSocket::SocketConnected()
{
    if (SocketState != Connecting && SocketState != Resolving)
        return;
    if (!UseSocks4) {
        SessionUp();
        return;
    }
    QHostAddress target(Latin1(Addr));
    const quint32 ip = target.toIPv4Address();
    QByteArray request;
    request += char(4); // version
    request += char(1); // CONNECT
    request += char(TargetPort >> 8);
    request += char(TargetPort & 0xFF);
    request += char(ip >> 24);
    request += char((ip >> 16) & 0xFF);
    request += char((ip >> 8) & 0xFF);
    request += char(ip & 0xFF);
    request += SocksUserCode;
    request += char(0);
    SetState(SocksHandshake);
    Socket->write(request);
}

void TAsyncSocket::SessionUp()
{
    SetState(Connected);
    Post([this] {
        if (OnSessionConnected)
            OnSessionConnected(0);
    });
    if (BytesWaiting() > 0)
        PostDataAvailable();
}

void TAsyncSocket::TakeReceived(const QByteArray& bytes)
{
    if (ReceivedOffset == Received.size()) {
        Received = bytes;
        ReceivedOffset = 0;
    } else {
        Received += bytes;
    }
}

void TAsyncSocket::SocketReadyRead()
{
    if (!Socket)
        return;
    // A working session's bytes stay in the socket until the owner takes them, so that the
    // socket's bounded buffer, not ours, decides how much is read ahead.
    if (SocketState == Connected) {
        if (Socket->bytesAvailable() > 0)
            PostDataAvailable();
        return;
    }
    const QByteArray bytes = Socket->readAll();
    if (bytes.isEmpty())
        return;
    TakeReceived(bytes);
    if (SocketState == SocksHandshake) {
        const TSocks4Reply reply = ParseSocks4Reply(Received.constData() + ReceivedOffset, BytesWaiting());
        if (reply.Kind == TSocks4Reply::NeedMore)
            return;
        ReceivedOffset += reply.Length;
        if (reply.Kind != TSocks4Reply::Granted) {
            Fail(TSocketError::ProxyFailed,
                 QStringLiteral("SOCKS 4 request refused by the proxy (code %1)").arg(reply.Code));
            return;
        }
        SessionUp();
        return;
    }
    if (SocketState == Connected)
        PostDataAvailable();
}

void TAsyncSocket::SocketError()
{
    if (!Socket)
        return;
    const QAbstractSocket::SocketError qtError = Socket->error();
    TSocketError kind = ErrorKind(qtError);
    const QString text =
        qtError == QAbstractSocket::UnknownSocketError ? QStringLiteral("connection attempt ended") : Socket->errorString();
    if (SocketState == SocksHandshake && kind == TSocketError::RemoteClosed)
        kind = TSocketError::ProxyFailed;
    if (SocketState == Connected) {
        // The session ends with the socket's move to unconnected; keep the first cause.
        if (Error == TSocketError::None && !ClosedHere) {
            Error = kind;
            ErrorText = text;
        }
        return;
    }
    Fail(kind, text);
}

void TAsyncSocket::SocketStateChanged()
{
    if (!Socket)
        return;
    if (Socket->state() == QAbstractSocket::ConnectingState && SocketState == Resolving)
        SetState(Connecting);
    if (Socket->state() != QAbstractSocket::UnconnectedState)
        return;
    if (SocketState == Connected) {
        // Keep what arrived with the end of the session: the owner may still take it.
        const QByteArray rest = Socket->readAll();
        if (!rest.isEmpty()) {
            TakeReceived(rest);
            PostDataAvailable();
        }
        if (Error != TSocketError::None)
            Fail(Error, ErrorText);
        else if (ClosedHere)
            Fail(TSocketError::None, QString());
        else
            Fail(TSocketError::RemoteClosed, QStringLiteral("The remote host closed the connection"));
        return;
    }
    if (SocketState == Connecting || SocketState == SocksHandshake || SocketState == Resolving) {
        // Qt may announce the end of a failed attempt before its error signal; the error is
        // already recorded on the socket by then.
        SocketError();
    }
}

void TAsyncSocket::Send(const QByteArray& data)
{
    if (SocketState != Connected || !Socket || data.isEmpty())
        return;
    Socket->write(data);
}

qint64 TAsyncSocket::BytesWaiting() const
{
    const qint64 inSocket = Socket && SocketState == Connected ? Socket->bytesAvailable() : 0;
    return Received.size() - ReceivedOffset + inSocket;
}

qint64 TAsyncSocket::Receive(char* buffer, qint64 maxCount)
{
    if (maxCount <= 0)
        return 0;
    // What came with the handshake or with the end of the session first, then the socket's.
    qint64 count = qMin(maxCount, qint64(Received.size() - ReceivedOffset));
    if (count > 0) {
        memcpy(buffer, Received.constData() + ReceivedOffset, size_t(count));
        ReceivedOffset += count;
        if (ReceivedOffset == Received.size()) {
            Received.clear();
            ReceivedOffset = 0;
        } else if (ReceivedOffset >= CompactThreshold && ReceivedOffset * 2 >= Received.size()) {
            Received.remove(0, ReceivedOffset);
            ReceivedOffset = 0;
        }
    }
    if (count < maxCount && Socket && SocketState == Connected && Socket->bytesAvailable() > 0) {
        const qint64 n = Socket->read(buffer + count, maxCount - count);
        if (n > 0)
            count += n;
    }
    return count;
}

void TAsyncSocket::Close()
{
    switch (SocketState) {
    case Closed:
        return;
    case Connected:
        // Graceful: what was queued is written before the socket closes; its move to
        // unconnected ends the session.
        ClosedHere = true;
        Socket->disconnectFromHost();
        return;
    default:
        Fail(TSocketError::Aborted, QStringLiteral("connection attempt abandoned"));
        return;
    }
}
