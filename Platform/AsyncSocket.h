#pragma once
// An asynchronous TCP client socket whose notifications all arrive through the event loop.
//
// Connect returns at once: bad settings raise ESocketError there and then; everything else
// (name lookup, the connection, a proxy handshake, success or failure) is told later by the
// notifications, never from inside the call that started it. Names are looked up without
// blocking the GUI thread.
//
// Proxies:
//  - SOCKS 5, with or without user-name/password authentication, through Qt's own SOCKS 5
//    client. The target name is handed to the proxy, which looks it up.
//  - SOCKS 4 with our own handshake. SOCKS 4 carries only a 4-byte IPv4 address, so the target
//    name is looked up here first (asynchronously) and its first IPv4 address is sent; the
//    user code goes into the request's user-id field. (SOCKS 4a, where the proxy looks the
//    name up, is not used: not every proxy supports it.)
//
// A failed name lookup, whether ours, Qt's or the SOCKS 5 proxy's, ends with the error kind
// HostNotFound, so an owner can say it was a name problem.

#include "Platform/VeskError.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QTcpSocket;
class QHostInfo;

VESK_DECLARE_ERROR(ESocketError, EVeskError);

// The error code of the notifications; 0 is success.
enum class TSocketError : int {
    None = 0,
    HostNotFound = 1,       // a name (the server's or the proxy's) could not be looked up
    ConnectionRefused = 2,  // nothing listens there, or the proxy says so
    Timeout = 3,
    ProxyFailed = 4,        // the proxy refused, broke off or spoke nonsense
    ProxyAuthentication = 5,
    RemoteClosed = 6,       // the peer ended a working session
    Network = 7,
    Aborted = 8,            // Close before the session was up
    Other = 9,
};

class TAsyncSocket : public QObject {
    Q_OBJECT
public:
    enum TSocketState { Closed, Resolving, Connecting, SocksHandshake, Connected };
    enum class TSocksAuthentication { None, UserCode };

    explicit TAsyncSocket(QObject* parent = nullptr);
    // Detaches from everything: no notification is delivered after this.
    ~TAsyncSocket() override;

    // The remote end: a host name or a numeric address, and the port as decimal text.
    QByteArray Addr;
    QByteArray Port;

    // SOCKS is used when SocksServer is not empty; SocksLevel is "4" or "5".
    QByteArray SocksServer;
    QByteArray SocksPort;
    QByteArray SocksUserCode;
    QByteArray SocksPassword;
    QByteArray SocksLevel;
    TSocksAuthentication SocksAuthentication = TSocksAuthentication::None;

    // Notifications; empty means unassigned. Each one arrives through the event loop.
    // One attempt gives one OnSessionConnected: 0 when the session is up, otherwise the
    // error, followed at once by OnSessionClosed. A working session ends with
    // OnSessionClosed only.
    std::function<void(int error)> OnSessionConnected;
    std::function<void(int error)> OnSessionClosed;
    std::function<void()> OnDataAvailable;
    std::function<void(TSocketState oldState, TSocketState newState)> OnChangeState;

    // Starts the attempt. Raises ESocketError at once for settings that cannot work (no
    // address, a port that is not a number from 1 to 65535, an unknown SOCKS level, a
    // second Connect).
    void Connect();
    // Queues bytes for sending. Bytes sent when no session is up go nowhere: a session that
    // ended may not have told its owner yet.
    void Send(const QByteArray& data);
    // Up to maxCount received bytes into buffer; the count, or 0 when nothing is waiting.
    qint64 Receive(char* buffer, qint64 maxCount);
    // Ends the session (queued output is written first) or abandons the attempt.
    // OnSessionClosed follows through the event loop.
    void Close();

    TSocketState State() const { return SocketState; }
    TSocketError LastError() const { return Error; }
    const QString& LastErrorText() const { return ErrorText; }
    // Bytes received and not yet taken by Receive.
    qint64 BytesWaiting() const;

private:
    void SetState(TSocketState state);
    void Post(std::function<void()> call);
    void PostDataAvailable();
    void Fail(TSocketError error, const QString& text);
    void DetachSocket();
    void StartSocket(const QString& host, quint16 port);
    void Socks4LookedUp(const QHostInfo& info);
    void SocketConnected();
    void SocketReadyRead();
    void SocketError();
    void SocketStateChanged();
    void SessionUp();
    void TakeReceived(const QByteArray& bytes);

    QTcpSocket* Socket = nullptr;
    int LookupId = -1;
    bool Used = false;
    bool UseSocks4 = false;
    quint16 TargetPort = 0;
    TSocketState SocketState = Closed;
    TSocketError Error = TSocketError::None;
    QString ErrorText;
    QByteArray Received;
    qsizetype ReceivedOffset = 0;
    bool DataNotificationPending = false;
    bool ClosedHere = false; // Close ended a working session: not an error
};

// The SOCKS 4 proxy's answer to CONNECT: 8 bytes (a zero, the result code, port and
// address). NeedMore until all 8 have arrived; Length is then 8 and whatever follows is the
// session's own data.
struct TSocks4Reply {
    enum TKind { NeedMore, Granted, Refused };
    TKind Kind = NeedMore;
    int Code = 0; // the result code, 0 to 255 (90 is granted)
    qsizetype Length = 0;
};
TSocks4Reply ParseSocks4Reply(const char* data, qsizetype size);
