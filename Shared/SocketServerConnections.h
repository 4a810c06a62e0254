#pragma once
// The direct TCP connection to the alerts server, optionally through a SOCKS proxy.

#include "Shared/GenericServerConnection.h"

#include <memory>

class TAsyncSocket;

// The port used when a server address has no ":".
inline constexpr const char* DefaultServerPort = "8888";

// Splits a server address at its first ":" into host (before) and port (after). Without ":"
// the whole text is the host and the port is "8888"; "host:" gives an empty port.
void SplitServerAddress(const QByteArray& address, QByteArray& host, QByteArray& port);

class TSocketServerConnection : public TGenericServerConnection {
    Q_OBJECT
public:
    enum : quint8 { StateConnecting = 0, StateConnected = 1, StateClosed = 2 };

    TSocketServerConnection(const QByteArray& host, const QByteArray& port, QObject* parent = nullptr);
    // Raises OnSessionClosed first when the session has not been seen to end, so the owner
    // always learns of the end.
    ~TSocketServerConnection() override;

    // False when the attempt failed at once; ErrorMessage says why and OnSessionClosed has
    // been raised. A name that cannot be looked up is only known later (the lookup does not
    // block): ErrorMessage then becomes "DNS error" before OnSessionClosed is raised.
    bool Connect() override;
    void Send(const QByteArray& data) override;
    void Close() override;
    QByteArray Receive() override;

    const QByteArray& GetHost() const { return Host; }
    const QByteArray& GetPort() const { return PortText; }
    quint8 GetConnectionState() const { return ConnectionState; }
    // For tests: the socket, once Connect has made it.
    TAsyncSocket* GetSocket() const { return WSocket1.get(); }

private:
    void WSocket1SessionConnected(int error);
    void WSocket1SessionClosed(int error);
    void WSocket1DataAvailable();
    void WSocket1ChangeState();
    void DetachSocket();

    QByteArray Host;
    QByteArray PortText;
    std::unique_ptr<TAsyncSocket> WSocket1;
    quint8 ConnectionState = StateConnecting;
};
