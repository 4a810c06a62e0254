#include "Shared/SocketServerConnections.h"

#include "Platform/AsyncSocket.h"
#include "Shared/MiscDebugWindows.h"

void SplitServerAddress(const QByteArray& address, QByteArray& host, QByteArray& port)
{
    const qsizetype colon = address.indexOf(':');
    if (colon < 0) {
        host = address;
        port = DefaultServerPort;
        return;
    }
    host = address.left(colon);
    port = address.mid(colon + 1);
}

TSocketServerConnection::TSocketServerConnection(const QByteArray& host, const QByteArray& port, QObject* parent)
    : TGenericServerConnection(parent), Host(host), PortText(port)
{
}

TSocketServerConnection::~TSocketServerConnection()
{
    if (ConnectionState != StateClosed) {
        // A destructor cannot let an owner's error through; report it instead.
        try {
            RaiseSessionClosed();
        } catch (const std::exception& e) {
            ReportException(e, QStringLiteral("SocketServerConnections, TSocketServerConnection.Destroy"));
        }
    }
    DetachSocket();
}

void TSocketServerConnection::DetachSocket()
{
    if (!WSocket1)
        return;
    WSocket1->OnSessionConnected = nullptr;
    WSocket1->OnSessionClosed = nullptr;
    WSocket1->OnDataAvailable = nullptr;
    WSocket1->OnChangeState = nullptr;
    WSocket1.reset();
}

bool TSocketServerConnection::Connect()
{
    // One connection object is one attempt; the owner makes a new one to retry.
    VESK_ASSERT(!WSocket1);
    WSocket1 = std::make_unique<TAsyncSocket>();
    WSocket1->Addr = Host;
    WSocket1->Port = PortText;
    if (!SocksServer.isEmpty() && !SocksPort.isEmpty() && !SocksLevel.isEmpty()) {
        WSocket1->SocksServer = SocksServer;
        WSocket1->SocksPort = SocksPort;
        WSocket1->SocksUserCode = SocksUserCode;
        WSocket1->SocksPassword = SocksPassword;
        WSocket1->SocksLevel = SocksLevel;
        if (!SocksUserCode.isEmpty())
            WSocket1->SocksAuthentication = TAsyncSocket::TSocksAuthentication::UserCode;
    }
    WSocket1->OnSessionClosed = [this](int error) { WSocket1SessionClosed(error); };
    WSocket1->OnSessionConnected = [this](int error) { WSocket1SessionConnected(error); };
    WSocket1->OnDataAvailable = [this] { WSocket1DataAvailable(); };
    WSocket1->OnChangeState = [this](TAsyncSocket::TSocketState, TAsyncSocket::TSocketState) { WSocket1ChangeState(); };

    try {
        WSocket1->Connect();
        return true;
    } catch (const EVeskError& e) {
        ErrorMessage = "TSocketServerConnection.Connect, " + QByteArray(e.ClassName()) + ", " +
                       e.GetMessage().toLatin1();
        RaiseSessionClosed();
        return false;
    }
}

void TSocketServerConnection::WSocket1SessionConnected(int error)
{
    if (error != 0) {
        // The name is looked up after Connect has returned, so its failure can only be told
        // here; the owner reads ErrorMessage when the session-closed event follows.
        if (error == int(TSocketError::HostNotFound))
            ErrorMessage = "DNS error";
        return;
    }
    if (ConnectionState != StateConnecting)
        return;
    ConnectionState = StateConnected;
    RaiseSessionConnected();
}

void TSocketServerConnection::WSocket1SessionClosed(int)
{
    ConnectionState = StateClosed;
    RaiseSessionClosed();
}

void TSocketServerConnection::WSocket1DataAvailable() { RaiseDataAvailable(); }

void TSocketServerConnection::WSocket1ChangeState() {}

void TSocketServerConnection::Send(const QByteArray& data)
{
    // Sending before the session was ever up is the owner's mistake, not a network event.
    VESK_ASSERT(ConnectionState != StateConnecting);
    if (ConnectionState == StateConnected)
        WSocket1->Send(data);
}

void TSocketServerConnection::Close()
{
    if (WSocket1 && ConnectionState != StateClosed)
        WSocket1->Close();
}

QByteArray TSocketServerConnection::Receive()
{
    // Drain everything in one call, so a burst reaches the owner as one piece, in a buffer of
    // just what the socket says is waiting (the socket itself holds a bounded amount).
    QByteArray result;
    qsizetype fill = 0;
    if (WSocket1) {
        for (;;) {
            const qint64 waiting = WSocket1->BytesWaiting();
            if (waiting <= 0)
                break;
            if (result.isEmpty())
                result = QByteArray(waiting, Qt::Uninitialized); // exactly that: no room to spare
            else if (fill + waiting > result.size())
                result.resize(fill + waiting);
            const qint64 n = WSocket1->Receive(result.data() + fill, result.size() - fill);
            if (n <= 0)
                break;
            fill += n;
        }
    }
    result.truncate(fill);
    return result;
}
